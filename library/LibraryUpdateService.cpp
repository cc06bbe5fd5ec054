#include "library/LibraryUpdateService.h"

#include "platform/archive/PropertyList.h"

#include <QThread>
#include <QTimeZone>

namespace {

// An item name's date: "yyyyMMdd-HHmmss".
constexpr int kStampLength = 15;

} // namespace

LibraryUpdateService::LibraryUpdateService(std::shared_ptr<std::atomic_bool> cancelled, int timeoutMs, int deadlineMs)
    : m_cancelled(std::move(cancelled))
    , m_timeoutMs(timeoutMs)
    , m_deadlineMs(deadlineMs)
    , m_client([this] { return isCancelled(); })
{
}

LibraryUpdateService::~LibraryUpdateService() = default;

bool LibraryUpdateService::isCancelled() const
{
    if (QThread::currentThread()->isInterruptionRequested()) {
        if (m_cancelled)
            m_cancelled->store(true);
        return true;
    }
    return m_cancelled && m_cancelled->load();
}

LibraryUpdateService::Answer LibraryUpdateService::get(const QUrl &url, qint64 maxBytes)
{
    Answer answer;
    if (isCancelled()) {
        answer.error = platform::describedError(QStringLiteral("cancelled"));
        return answer;
    }
    // Every answer comes fresh from the service, its head and body bounded.
    HttpClient::Response response = m_client.get(url, {maxBytes, m_timeoutMs, m_deadlineMs});
    if (response.failure != HttpClient::Failure::None) {
        answer.error = platform::describedError(response.error);
        return answer;
    }
    // Any HTTP answer, whatever its status: the caller decides.
    answer.transferred = true;
    answer.status = response.status;
    answer.body = std::move(response.body);
    if (answer.status != 200)
        answer.error = platform::describedError(QStringLiteral("HTTP status %1").arg(answer.status));
    return answer;
}

platform::Result<QString> LibraryUpdateService::stringFromURL(const QUrl &url, qint64 maxBytes)
{
    const Answer answer = get(url, maxBytes);
    if (!answer.transferred || answer.status != 200)
        return answer.error;
    return QString::fromUtf8(answer.body).trimmed();
}

platform::Result<QByteArray> LibraryUpdateService::dataFromURL(const QUrl &url, qint64 maxBytes)
{
    Answer answer = get(url, maxBytes);
    if (!answer.transferred || answer.status != 200)
        return answer.error;
    // An error page is no graphics file.
    if (answer.body.isEmpty())
        return platform::describedError(QStringLiteral("empty answer"));
    return std::move(answer.body);
}

QStringList LibraryUpdateService::listFromAnswer(const QString &answer)
{
    QStringList names;
    for (const QString &line : answer.split(QLatin1Char('\n'))) {
        const QString name = line.trimmed();
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

std::optional<QVariantMap> LibraryUpdateService::dictionaryFromPropertyListString(const QString &text)
{
    const QVariant value = platform::PropertyList::read(text.toUtf8());
    if (value.metaType().id() != QMetaType::QVariantMap)
        return std::nullopt;
    return value.toMap();
}

std::optional<QDateTime> LibraryUpdateService::dateFromFilename(const QString &name)
{
    if (name.size() < kStampLength)
        return std::nullopt;
    QDateTime date = QDateTime::fromString(name.left(kStampLength), QStringLiteral("yyyyMMdd-HHmmss"));
    if (!date.isValid())
        return std::nullopt;
    date.setTimeSpec(Qt::UTC);
    return date;
}

QString LibraryUpdateService::sinceDateString(const QDateTime &date)
{
    const QDateTime utc = date.toUTC();
    return QStringLiteral("%1%2%3-%4%5%6")
        .arg(utc.date().year(), 4, 10, QLatin1Char('0'))
        .arg(utc.date().month(), 2, 10, QLatin1Char('0'))
        .arg(utc.date().day(), 2, 10, QLatin1Char('0'))
        .arg(utc.time().hour(), 2, 10, QLatin1Char('0'))
        .arg(utc.time().minute(), 2, 10, QLatin1Char('0'))
        .arg(utc.time().second(), 2, 10, QLatin1Char('0'));
}

QDateTime LibraryUpdateService::distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

bool LibraryUpdateService::isVersionOlder(const QString &own, const QString &other)
{
    const QStringList a = own.trimmed().split(QLatin1Char('.'));
    const QStringList b = other.trimmed().split(QLatin1Char('.'));
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        const QString x = a.value(i, QStringLiteral("0"));
        const QString y = b.value(i, QStringLiteral("0"));
        bool xNumber = false;
        bool yNumber = false;
        const qulonglong xn = x.toULongLong(&xNumber);
        const qulonglong yn = y.toULongLong(&yNumber);
        if (xNumber && yNumber) {
            if (xn != yn)
                return xn < yn;
        } else if (const int order = x.compare(y); order != 0) {
            return order < 0;
        }
    }
    return false;
}

std::optional<QUrl> LibraryUpdateService::baseURLFromText(const QString &text)
{
    QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return std::nullopt;
    url.setQuery(QString());
    url.setFragment(QString());
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url;
}

bool LibraryUpdateService::isSafeComponent(const QString &text)
{
    if (text.isEmpty() || text.size() > 255 || text == QLatin1String(".") || text == QLatin1String(".."))
        return false;
    for (const QChar c : text) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

QUrl LibraryUpdateService::urlWithSegments(const QUrl &base, const QStringList &segments)
{
    QByteArray encoded = base.toEncoded();
    if (!encoded.endsWith('/'))
        encoded += '/';
    for (qsizetype i = 0; i < segments.size(); ++i) {
        if (i)
            encoded += '/';
        encoded += QUrl::toPercentEncoding(segments.at(i));
    }
    return QUrl::fromEncoded(encoded, QUrl::StrictMode);
}
