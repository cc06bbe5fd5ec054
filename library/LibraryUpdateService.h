#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include "kit/HttpClient.h"
#include "platform/Result.h"
#include "stores/FrameArchiveFolder.h"

#include <atomic>
#include <memory>
#include <optional>

// The client side of the library update service: synchronous GET requests
// made on the calling thread, which owns the network manager, and the
// readers of the service's answers. Every answer is untrusted text.
class LibraryUpdateService
{
public:
    // Silence allowed within an answer, and the whole time one may take.
    static constexpr int kDefaultTimeoutMs = 30000;
    static constexpr int kDefaultDeadlineMs = 180000;

    // The most an answer can be: a count, a version, an address or an item
    // name; a list of item names; an item's property list; a graphics file.
    // Anything longer is no answer, and reading stops as soon as it passes.
    static constexpr qint64 kMaxTextAnswer = 16 * 1024;
    static constexpr qint64 kMaxListAnswer = 1024 * 1024;
    static constexpr qint64 kMaxItemAnswer = FrameArchiveFolder::kMaxItemFileSize;
    static constexpr qint64 kMaxGraphicsAnswer = 64 * 1024 * 1024;

    // `cancelled` ends a request at once when it turns true (may be null).
    explicit LibraryUpdateService(std::shared_ptr<std::atomic_bool> cancelled = {},
                                  int timeoutMs = kDefaultTimeoutMs, int deadlineMs = kDefaultDeadlineMs);
    ~LibraryUpdateService();

    // A text answer: status 200, decoded as UTF-8 and trimmed; an error
    // saying why on any other status, a transfer error, a timeout, an
    // answer longer than `maxBytes` or a cancellation.
    platform::Result<QString> stringFromURL(const QUrl &url, qint64 maxBytes = kMaxTextAnswer);
    // A graphics file: status 200 and a body that is not empty.
    platform::Result<QByteArray> dataFromURL(const QUrl &url, qint64 maxBytes = kMaxGraphicsAnswer);

    // Also true on a background thread the application asks to stop (quit);
    // the run's `cancelled` then turns true too.
    bool isCancelled() const;

    // --- Readers and writers of the wire forms ---------------------------

    // A list answer: one name per line, lines trimmed, empty ones dropped.
    static QStringList listFromAnswer(const QString &answer);
    // The item dictionary of a property-list answer; none when it is not one.
    static std::optional<QVariantMap> dictionaryFromPropertyListString(const QString &text);
    // The publication date of an item name "yyyyMMdd-HHmmss-GUID" (UTC).
    static std::optional<QDateTime> dateFromFilename(const QString &name);
    // "yyyyMMdd-HHmmss" in UTC.
    static QString sinceDateString(const QDateTime &date);
    // The earliest date the library writes: 1 January of the year 1, UTC.
    static QDateTime distantPast();
    // Version texts compared number by number ("3.10" is newer than "3.9").
    static bool isVersionOlder(const QString &own, const QString &other);
    // An announced base address: http or https only, without query, and
    // ending in "/" so relative paths land beneath it.
    static std::optional<QUrl> baseURLFromText(const QString &text);
    // Server text used as one path component or file name: no separators,
    // no "." or "..", no control characters.
    static bool isSafeComponent(const QString &text);
    // `base` (ending in "/") followed by the path segments, each percent-encoded.
    static QUrl urlWithSegments(const QUrl &base, const QStringList &segments);

private:
    struct Answer {
        bool transferred = false;
        int status = 0;
        QByteArray body;
        platform::Error error; // why it is no answer of status 200
    };
    Answer get(const QUrl &url, qint64 maxBytes);

    std::shared_ptr<std::atomic_bool> m_cancelled;
    int m_timeoutMs;
    int m_deadlineMs;
    HttpClient m_client;
};
