#pragma once

#include "platform/CurrentScope.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QRect>
#include <QSet>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

// Shadows worked out once for a batch run. Every file of a batch is framed
// with one design, mostly at one size, so each band's shadows come out the
// same from file to file; only what they fall on differs. While a scope
// lives, shadow drawing on the calling thread looks here first, under a key
// its caller makes of everything that decides the shadow (what casts it, the
// transform, clip, band and the shadow's own settings).
//
// Thread-safe: one cache serves all of a run's workers; a mask two threads
// ask for at once is made once, the second waits (or draws without it, if
// it asks so). Masks beyond the byte
// limit are handed out but not kept; whole groups have a limit of their own,
// so that they never crowd out the masks.
class ShadowCache
{
public:
    static constexpr qint64 kDefaultByteLimit = qint64(64) << 20;
    static constexpr qint64 kDefaultGroupByteLimit = qint64(64) << 20;

    explicit ShadowCache(qint64 byteLimit = kDefaultByteLimit, qint64 groupByteLimit = kDefaultGroupByteLimit);
    ~ShadowCache();
    ShadowCache(const ShadowCache &) = delete;
    ShadowCache &operator=(const ShadowCache &) = delete;

    // Makes a cache the current one of the calling thread while it lives
    // (null for none; scopes nest, the innermost wins).
    using Scope = CurrentScope<ShadowCache>;
    static ShadowCache *current() { return Scope::current(); }

    // While one lives on a thread, obtain() there makes a key the first time
    // it is asked for: for drawing done only to work the shadows out.
    class MakeAtOnce
    {
    public:
        MakeAtOnce();
        ~MakeAtOnce();
        MakeAtOnce(const MakeAtOnce &) = delete;
        MakeAtOnce &operator=(const MakeAtOnce &) = delete;

    private:
        bool m_previous;
    };

    // The bands of its file whose shadows a worker works out before it draws
    // the file: every `count`th from `index`. The first files of a run are
    // begun together, one a worker, and reach each band at once: without
    // shares each would draw every band's shadows itself.
    struct Share {
        int index = 0;
        int count = 1;
    };
    using ShareScope = CurrentScope<const Share>;

    // One byte a pixel over `rect`, each row kept only from its first to its
    // last non-zero value.
    struct Mask {
        QRect rect;
        std::vector<int> from; // a row's kept columns, relative to rect.left()
        std::vector<int> to;
        std::vector<qsizetype> at; // where a row's kept values start in `values`
        std::vector<uchar> values;
        // The pixels a drawing of the mask leaves as they are, for the user
        // that works them out once with the mask.
        QRect untouched;
        int untouchedRowStart = 0;
        // A whole group kept instead of a mask: its finished pixels over rect.
        QImage group;
        // For a user that keeps what its drawing laid on the band instead of
        // the values (a reduced shadow enlarged): those pixels as laid over
        // transparent ones, in pieces of device pixels that hold any.
        struct Piece {
            QPoint at;
            QImage pixels;
        };
        std::vector<Piece> laid;
        bool isLaid = false;

        explicit Mask(const QRect &r);
        // Appends the next row: rect.width() values.
        void appendRow(const uchar *row);
        // Row `y` of rect (0 is its top): values at columns [*first, *end).
        const uchar *row(int y, int *first, int *end) const;
        qint64 bytes() const;
        qint64 laidBytes() const;
    };

    // The mask for `key`, made by `make` when there is none yet. A key asked
    // for the first time gets null without a making: the caller draws as it
    // would without a cache, and a batch whose files all differ in size
    // pays nothing for masks no other file would use. A key is made for
    // once: when that gives null, or a mask past the byte limit, later
    // callers get null too. Unless `wait`, a key another thread is making
    // right now gets null too, for a caller whose own drawing without the
    // mask costs no more than waiting for it.
    std::shared_ptr<const Mask> obtain(const QByteArray &key, const std::function<std::shared_ptr<const Mask>()> &make,
                                       bool wait = true);

    // Masks made (null ones not counted) and masks found; groups included.
    int madeCount() const { return m_made.load(); }
    int hitCount() const { return m_hits.load(); }
    // What the kept masks and groups take.
    qint64 bytes() const;

private:
    struct Entry {
        bool making = false;
        bool done = false;
        std::shared_ptr<const Mask> mask;
    };
    mutable std::mutex m_mutex; // guards the entries too
    std::condition_variable m_entryDone;
    QSet<size_t> m_asked; // hashes of the keys asked for once
    QHash<QByteArray, std::shared_ptr<Entry>> m_entries;
    qint64 m_bytes = 0;
    qint64 m_byteLimit;
    qint64 m_groupBytes = 0;
    qint64 m_groupByteLimit;
    std::atomic<int> m_made{0};
    std::atomic<int> m_hits{0};
};

} // namespace platform
