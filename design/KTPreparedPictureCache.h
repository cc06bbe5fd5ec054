#pragma once

#include "platform/CurrentScope.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QRectF>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class VLImage;

namespace platform {
class ColorMatch;
}

// Pictures prepared for one render: a picture turned, cropped, scaled to the
// device pixels of a rect, run through its colour filters and matched to the
// colour space drawn in. An export draws
// every picture with the cache skipped, so a moulding side of many tiles, or
// the same side drawn again for its shadow, would prepare the same picture
// over and over; this cache prepares each (picture, size, rotation, crop,
// filters) once for the render that owns it.
//
// Thread-safe: several threads drawing rows of one render share it; a
// rendering asked for by two threads at once is made once, the second waits.
// Preparing never writes to the picture it is given (it works on a private
// copy), so pictures shared read-only between threads stay untouched.
class KTPreparedPictureCache
{
public:
    // Renderings beyond this many bytes are handed out but not kept.
    static constexpr qint64 kDefaultByteLimit = qint64(512) * 1024 * 1024;

    explicit KTPreparedPictureCache(qint64 byteLimit = kDefaultByteLimit);
    ~KTPreparedPictureCache();

    KTPreparedPictureCache(const KTPreparedPictureCache &) = delete;
    KTPreparedPictureCache &operator=(const KTPreparedPictureCache &) = delete;

    // Makes a cache the current one of the calling thread while it lives
    // (scopes nest; the innermost wins).
    using Scope = platform::CurrentScope<KTPreparedPictureCache>;
    static KTPreparedPictureCache *current() { return Scope::current(); }

    // What image.drawInRect(rect, true) would draw, in the current drawing
    // context's device pixels; null when the picture gives nothing there.
    QImage preparedPicture(const VLImage &image, const QRectF &rect);
    // Prepares, as preparedPicture() would, several pictures at once on
    // several threads (those from PDF pages one after the other), so that the
    // drawing that follows finds them ready.
    void preparePictures(const std::vector<std::pair<const VLImage *, QRectF>> &pictures);
    // Draws the picture into the rect (y-up) of the current drawing context
    // with its opacity, as image.drawInRect(rect, true) does.
    void drawImageInRect(const VLImage &image, const QRectF &rect);

    int renderCount() const { return m_renders.load(); }
    int hitCount() const { return m_hits.load(); }
    qint64 bytes() const;
    void clear();

    // What decides the rendering of `image` for `rect` in the current
    // drawing context matched by `match`.
    static QByteArray keyFor(const VLImage &image, const QRectF &rect, const platform::ColorMatch *match);

private:
    struct Entry {
        std::mutex mutex;
        bool done = false;
        QImage image;
    };
    // The entry for a key, rendered from a private copy of the picture at
    // `pixels` device pixels (and matched) if it is not yet. Unless `wait`,
    // a key another thread is rendering is left to it: answers false.
    QImage prepare(const QByteArray &key, const VLImage &image, const QSizeF &pixels,
                   const platform::ColorMatch *match);
    bool prepare(const QByteArray &key, const VLImage &image, const QSizeF &pixels, const platform::ColorMatch *match,
                 bool wait, QImage *prepared);

    mutable std::mutex m_mutex;
    QHash<QByteArray, std::shared_ptr<Entry>> m_entries;
    qint64 m_bytes = 0;
    qint64 m_byteLimit;
    std::atomic<int> m_renders{0};
    std::atomic<int> m_hits{0};
};
