#include "kit/HttpClient.h"

#include "platform/ThreadPools.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QNetworkProxy>
#include <QPair>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <zlib.h>

#include <atomic>
#include <optional>

namespace {

// How often a waiting request looks at its clock and its cancelled flag.
constexpr int kPollMs = 20;
// Taken from the socket at a time; the socket itself holds no more unread.
constexpr qint64 kReadPiece = 16 * 1024;
constexpr qint64 kSocketBuffer = 64 * 1024;

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 305 || status == 307 || status == 308;
}

QString hostForHeader(const QUrl &url)
{
    const QString host = url.host(QUrl::FullyEncoded);
    return host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
}

// Decodes a gzip or zlib body as it arrives, so only the decoded bytes count
// against the body's limit and no compressed copy is kept.
class Inflater
{
public:
    Inflater() { m_ready = inflateInit2(&m_stream, MAX_WBITS + 32) == Z_OK; }
    ~Inflater()
    {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    // False on data that is no such stream or when `sink` says stop.
    template <typename Sink> bool feed(const char *data, qsizetype size, Sink sink)
    {
        if (!m_ready)
            return false;
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        m_stream.avail_in = uInt(size);
        char out[16 * 1024];
        while (m_stream.avail_in > 0) {
            if (m_ended) {
                // Another gzip member follows.
                inflateReset(&m_stream);
                m_ended = false;
            }
            m_stream.next_out = reinterpret_cast<Bytef *>(out);
            m_stream.avail_out = sizeof out;
            const int result = inflate(&m_stream, Z_NO_FLUSH);
            if (result == Z_STREAM_END)
                m_ended = true;
            else if (result != Z_OK && result != Z_BUF_ERROR)
                return false;
            const qsizetype produced = qsizetype(sizeof out - m_stream.avail_out);
            if (produced > 0 && !sink(out, produced))
                return false;
            if (produced == 0 && result == Z_BUF_ERROR)
                break;
        }
        return true;
    }
    bool ended() const { return m_ended; }

private:
    z_stream m_stream{};
    bool m_ready = false;
    bool m_ended = false;
};

} // namespace

struct HttpClient::Connection {
    std::unique_ptr<QTcpSocket> socket;
    QString key;               // where it leads, and how
    bool absoluteForm = false; // requests to a plain proxy name the whole address
    QByteArray proxyAuthorization;
};

// One request with its redirects; the connection may outlive it.
class HttpClient::Exchange
{
public:
    Exchange(HttpClient &client, const Limits &limits)
        : m_client(client)
        , m_limits(limits)
    {
        m_started.start();
        m_idle.start();
        m_poll.setInterval(kPollMs);
        QObject::connect(&m_poll, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        m_poll.start();
    }

    Response run(Request request)
    {
        for (int redirects = 0;; ++redirects) {
            const QUrl url = request.url;
            if (!once(request))
                break;
            if (!isRedirect(m_response.status) || m_location.isEmpty())
                break;
            const QUrl next = url.resolved(QUrl::fromEncoded(m_location));
            if (redirects == kMaxRedirects) {
                fail(Failure::Transfer, QStringLiteral("Too many redirects"));
                break;
            }
            if (!next.isValid()
                || (next.scheme() != QLatin1String("http") && next.scheme() != QLatin1String("https"))) {
                fail(Failure::Transfer, QStringLiteral("Unsupported redirect"));
                break;
            }
            // An https answer is never handed over to plain http.
            if (url.scheme() == QLatin1String("https") && next.scheme() == QLatin1String("http")) {
                fail(Failure::Transfer, QStringLiteral("Insecure redirect"));
                break;
            }
            // Only 307 and 308 ask for the same request again; after any
            // other redirect a POST's body is not sent on.
            if (m_response.status != 307 && m_response.status != 308) {
                request.method = "GET";
                request.contentType.clear();
                request.body.clear();
            }
            request.url = next;
            m_response = Response();
        }
        if (m_response.failure != Failure::None) {
            m_client.m_connection.reset();
            m_response.status = 0;
            m_response.headers.clear();
            m_response.body = QByteArray();
        } else {
            m_response.url = request.url;
        }
        return std::move(m_response);
    }

private:
    QTcpSocket *socket() const { return m_client.m_connection->socket.get(); }

    bool fail(Failure failure, const QString &error)
    {
        if (m_response.failure == Failure::None) {
            m_response.failure = failure;
            m_response.error = error;
        }
        return false;
    }
    bool malformed() { return fail(Failure::Transfer, QStringLiteral("malformed answer")); }

    // Spins the loop once; false when the request must end.
    bool wait()
    {
        if (m_client.m_cancelled && m_client.m_cancelled())
            return fail(Failure::Cancelled, QStringLiteral("cancelled"));
        if (m_started.elapsed() >= m_limits.deadlineMs)
            return fail(Failure::Late, QStringLiteral("no full answer within %1 s").arg(m_limits.deadlineMs / 1000.0));
        if (m_idle.elapsed() >= m_limits.idleTimeoutMs)
            return fail(Failure::Transfer, QStringLiteral("no data for %1 s").arg(m_limits.idleTimeoutMs / 1000.0));
        m_loop.exec();
        return true;
    }

    void watch(QTcpSocket *s)
    {
        QObject::connect(s, &QIODevice::readyRead, &m_loop, &QEventLoop::quit);
        QObject::connect(s, &QAbstractSocket::stateChanged, &m_loop, &QEventLoop::quit);
        QObject::connect(s, &QAbstractSocket::errorOccurred, &m_loop, &QEventLoop::quit);
        if (auto *ssl = qobject_cast<QSslSocket *>(s))
            QObject::connect(ssl, &QSslSocket::encrypted, &m_loop, &QEventLoop::quit);
    }

    // --- Connecting ------------------------------------------------------

    bool open(const QUrl &url, bool mayReuse)
    {
        m_buffer.clear();
        m_pos = 0;
        m_reused = false;
        const bool https = url.scheme() == QLatin1String("https");
        const QString host = url.host(QUrl::FullyEncoded);
        const quint16 port = quint16(url.port(https ? 443 : 80));

        // The first proxy Qt's own requests would take for this address.
        std::optional<QNetworkProxy> chosen;
        bool plainProxy = false;
        for (const QNetworkProxy &p : QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url))) {
            const bool httpType = p.type() == QNetworkProxy::HttpProxy || p.type() == QNetworkProxy::HttpCachingProxy;
            if (!https && httpType && (p.capabilities() & QNetworkProxy::CachingCapability)) {
                chosen = p;
                plainProxy = true;
                break;
            }
            if (p.capabilities() & QNetworkProxy::TunnelingCapability) {
                chosen = p;
                break;
            }
        }
        if (!chosen)
            return fail(Failure::Transfer, QStringLiteral("No suitable proxy found"));
        const QNetworkProxy proxy = *chosen;
        const bool tunnel = https && proxy.type() == QNetworkProxy::HttpProxy;
        const QString key = QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                                .arg(url.scheme(), host)
                                .arg(port)
                                .arg(int(proxy.type()))
                                .arg(proxy.hostName())
                                .arg(proxy.port())
                                .arg(proxy.user());

        std::unique_ptr<Connection> &connection = m_client.m_connection;
        if (mayReuse && connection && connection->key == key
            && connection->socket->state() == QAbstractSocket::ConnectedState
            && connection->socket->bytesAvailable() == 0) {
            m_reused = true;
            watch(socket());
            return true;
        }
        connection.reset();
        if (https && !QSslSocket::supportsSsl())
            return fail(Failure::Transfer, QStringLiteral("TLS is not available"));

        auto made = std::make_unique<Connection>();
        made->key = key;
        made->absoluteForm = plainProxy;
        if (!proxy.user().isEmpty())
            made->proxyAuthorization =
                "Basic " + (proxy.user() + QLatin1Char(':') + proxy.password()).toUtf8().toBase64();
        if (https)
            made->socket = std::make_unique<QSslSocket>();
        else
            made->socket = std::make_unique<QTcpSocket>();
        connection = std::move(made);
        QTcpSocket *s = socket();
        s->setReadBufferSize(kSocketBuffer);
        watch(s);
        m_idle.restart();

        if (plainProxy || tunnel) {
            // We speak to an HTTP proxy ourselves: Qt's tunnel reads its answer without a bound.
            s->setProxy(QNetworkProxy::NoProxy);
            s->connectToHost(proxy.hostName(), proxy.port());
            if (!waitConnected())
                return false;
            if (!tunnel)
                return true;
            if (!openTunnel(url, port))
                return false;
            auto *ssl = static_cast<QSslSocket *>(s);
            ssl->setPeerVerifyName(url.host());
            ssl->startClientEncryption();
            return waitEncrypted();
        }
        s->setProxy(proxy.type() == QNetworkProxy::Socks5Proxy ? proxy : QNetworkProxy(QNetworkProxy::NoProxy));
        if (!https) {
            s->connectToHost(host, port);
            return waitConnected();
        }
        static_cast<QSslSocket *>(s)->connectToHostEncrypted(host, port);
        return waitEncrypted();
    }

    bool waitConnected()
    {
        while (socket()->state() != QAbstractSocket::ConnectedState) {
            if (socket()->state() == QAbstractSocket::UnconnectedState)
                return fail(Failure::Transfer, socket()->errorString());
            if (!wait())
                return false;
        }
        m_idle.restart();
        return true;
    }

    bool waitEncrypted()
    {
        auto *ssl = static_cast<QSslSocket *>(socket());
        while (!ssl->isEncrypted()) {
            if (ssl->state() == QAbstractSocket::UnconnectedState)
                return fail(Failure::Transfer, ssl->error() == QAbstractSocket::SslHandshakeFailedError
                                                   ? QStringLiteral("SSL handshake failed: ") + ssl->errorString()
                                                   : ssl->errorString());
            if (!wait())
                return false;
        }
        m_idle.restart();
        return true;
    }

    bool openTunnel(const QUrl &url, quint16 port)
    {
        const QByteArray authority = (hostForHeader(url) + QLatin1Char(':') + QString::number(port)).toLatin1();
        QByteArray request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
        if (!m_client.m_connection->proxyAuthorization.isEmpty())
            request += "Proxy-Authorization: " + m_client.m_connection->proxyAuthorization + "\r\n";
        socket()->write(request + "\r\n");
        qsizetype used = 0;
        if (!readHead(&used))
            return false;
        if (m_status == 407)
            return fail(Failure::Transfer, QStringLiteral("Proxy requires authentication"));
        if (m_status < 200 || m_status > 299)
            return fail(Failure::Transfer, QStringLiteral("Proxy denied connection (HTTP status %1)").arg(m_status));
        // Whatever came after the proxy's answer would be taken for the server's.
        if (m_pos != m_buffer.size() || socket()->bytesAvailable() > 0)
            return malformed();
        return true;
    }

    // --- Reading ---------------------------------------------------------

    enum class Fill { Data, End, Failed };

    // Takes the next piece the socket has into the buffer, waiting for it.
    Fill fill()
    {
        if (m_pos > 0) {
            m_buffer.remove(0, m_pos);
            m_pos = 0;
        }
        for (;;) {
            QTcpSocket *s = socket();
            if (s->bytesAvailable() > 0) {
                m_buffer += s->read(kReadPiece);
                m_idle.restart();
                m_gotByte = true;
                return Fill::Data;
            }
            if (s->state() != QAbstractSocket::ConnectedState && s->state() != QAbstractSocket::ClosingState) {
                if (s->error() == QAbstractSocket::RemoteHostClosedError)
                    return Fill::End;
                fail(Failure::Transfer, s->errorString());
                return Fill::Failed;
            }
            if (!wait())
                return Fill::Failed;
        }
    }

    bool closedEarly() { return fail(Failure::Transfer, QStringLiteral("Connection closed")); }

    // The next line without its end; `tooLong` says why when it passes `max`.
    // `used`, when given, counts the bytes it took.
    bool readLine(qsizetype max, QByteArray *line, const QString &tooLong, qsizetype *used = nullptr)
    {
        for (;;) {
            const qsizetype end = m_buffer.indexOf('\n', m_pos);
            const qsizetype length = (end >= 0 ? end : m_buffer.size()) - m_pos;
            if (length >= max)
                return fail(Failure::HeadTooLong, tooLong);
            if (end >= 0) {
                *line = m_buffer.mid(m_pos, length);
                if (line->endsWith('\r'))
                    line->chop(1);
                m_pos = end + 1;
                if (used)
                    *used += length + 1;
                return true;
            }
            switch (fill()) {
            case Fill::Data:
                break;
            case Fill::End:
                return closedEarly();
            case Fill::Failed:
                return false;
            }
        }
    }

    // The status line and the fields; `used` counts the head's bytes.
    bool readHead(qsizetype *used)
    {
        m_fields.clear();
        QByteArray line;
        const QString tooLong = QStringLiteral("the answer's head is longer than %1 bytes").arg(kMaxHead);
        bool first = true;
        for (;;) {
            if (!readLine(std::min(kMaxLine, kMaxHead - *used), &line, tooLong, used))
                return false;
            if (first) {
                // "HTTP/1.x NNN reason"
                if (!line.startsWith("HTTP/1.") || line.size() < 12 || line.at(8) != ' ')
                    return malformed();
                bool number = false;
                m_status = line.mid(9, 3).toInt(&number);
                if (!number || m_status < 100 || (line.size() > 12 && line.at(12) != ' '))
                    return malformed();
                m_http11 = line.at(7) != '0';
                first = false;
                continue;
            }
            if (line.isEmpty())
                return true;
            if ((line.at(0) == ' ' || line.at(0) == '\t') && !m_fields.isEmpty()) {
                m_fields.last().second += ' ' + line.trimmed();
                continue;
            }
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            m_fields.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
        }
    }

    QList<QByteArray> fieldValues(const QByteArray &name) const
    {
        QList<QByteArray> values;
        for (const auto &field : m_fields) {
            if (field.first == name)
                values.append(field.second);
        }
        return values;
    }

    bool send(const Request &request)
    {
        const QUrl &url = request.url;
        QUrl target = url;
        if (target.path().isEmpty())
            target.setPath(QStringLiteral("/"));
        const Connection &connection = *m_client.m_connection;
        const QByteArray path =
            connection.absoluteForm
                ? target.toEncoded(QUrl::RemoveUserInfo | QUrl::RemoveFragment)
                : target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
        QByteArray host = hostForHeader(url).toLatin1();
        if (url.port() != -1)
            host += ':' + QByteArray::number(url.port());
        QByteArray head = request.method + ' ' + path + " HTTP/1.1\r\nHost: " + host
                          + "\r\nConnection: keep-alive\r\nAccept-Encoding: gzip, deflate\r\nUser-Agent: "
                          + request.userAgent + "\r\n";
        if (connection.absoluteForm && !connection.proxyAuthorization.isEmpty())
            head += "Proxy-Authorization: " + connection.proxyAuthorization + "\r\n";
        const bool withBody = request.method == "POST";
        if (withBody && !request.contentType.isEmpty())
            head += "Content-Type: " + request.contentType + "\r\n";
        if (withBody)
            head += "Content-Length: " + QByteArray::number(request.body.size()) + "\r\n";
        m_gotByte = false;
        return socket()->write(head + "\r\n" + request.body) > 0 || fail(Failure::Transfer, socket()->errorString());
    }

    bool readResponse()
    {
        qsizetype used = 0;
        do {
            if (!readHead(&used))
                return false;
        } while (m_status < 200 && m_status != 101);
        if (m_status == 101)
            return malformed();
        m_response.status = m_status;
        m_response.headers = m_fields;
        m_location.clear();
        if (isRedirect(m_status)) {
            const QList<QByteArray> locations = fieldValues("location");
            if (!locations.isEmpty() && !locations.first().isEmpty()) {
                // The redirect's own body is of no use; neither is its connection.
                m_location = locations.first();
                m_client.m_connection.reset();
                return true;
            }
        }
        return readBody();
    }

    // Decoded bytes into the body, which may not pass its limit.
    bool keep(const char *data, qsizetype size)
    {
        if (m_response.body.size() + size > m_limits.maxBody) {
            m_response.body = QByteArray();
            return fail(Failure::BodyTooLong,
                        QStringLiteral("the answer is longer than %1 bytes").arg(m_limits.maxBody));
        }
        m_response.body.append(data, size);
        return true;
    }

    bool take(qsizetype size)
    {
        const char *data = m_buffer.constData() + m_pos;
        m_pos += size;
        if (!m_inflater)
            return keep(data, size);
        m_compressed = true;
        if (m_inflater->feed(data, size, [this](const char *out, qsizetype n) { return keep(out, n); }))
            return true;
        return m_response.failure != Failure::None || fail(Failure::Transfer, QStringLiteral("bad compressed answer"));
    }

    // `length` bytes of body, or all until the connection ends when negative.
    bool readBytes(qint64 length)
    {
        while (length != 0) {
            const qsizetype ready = m_buffer.size() - m_pos;
            if (ready > 0) {
                const qsizetype n = length < 0 ? ready : qsizetype(std::min<qint64>(ready, length));
                if (!take(n))
                    return false;
                if (length > 0)
                    length -= n;
                continue;
            }
            switch (fill()) {
            case Fill::Data:
                break;
            case Fill::End:
                return length < 0 || closedEarly();
            case Fill::Failed:
                return false;
            }
        }
        return true;
    }

    bool readChunks()
    {
        const QString tooLong = QStringLiteral("a chunk size line is longer than %1 bytes").arg(kMaxLine);
        QByteArray line;
        for (;;) {
            if (!readLine(kMaxLine, &line, tooLong))
                return false;
            const qsizetype semicolon = line.indexOf(';');
            const QByteArray digits = (semicolon >= 0 ? line.left(semicolon) : line).trimmed();
            bool number = false;
            const qint64 size = digits.size() <= 15 ? digits.toLongLong(&number, 16) : -1;
            if (!number || size < 0 || digits.startsWith('-') || digits.startsWith('+'))
                return malformed();
            if (size == 0)
                break;
            if (!readBytes(size) || !readLine(kMaxLine, &line, tooLong))
                return false;
            if (!line.isEmpty())
                return malformed();
        }
        // Trailer fields, bounded like a head.
        qsizetype used = 0;
        do {
            if (!readLine(std::min(kMaxLine, kMaxHead - used), &line,
                          QStringLiteral("the answer's trailer is longer than %1 bytes").arg(kMaxHead), &used))
                return false;
        } while (!line.isEmpty());
        return true;
    }

    bool readBody()
    {
        bool keepAlive = m_http11;
        for (const QByteArray &value : fieldValues("connection")) {
            if (value.toLower().contains("close"))
                keepAlive = false;
        }
        const QList<QByteArray> encodings = fieldValues("content-encoding");
        const QByteArray encoding = encodings.isEmpty() ? QByteArray() : encodings.last().trimmed().toLower();
        if (encoding == "gzip" || encoding == "x-gzip" || encoding == "deflate")
            m_inflater = std::make_unique<Inflater>();
        else
            m_inflater.reset();

        m_compressed = false;
        bool ok = true;
        const QList<QByteArray> transfer = fieldValues("transfer-encoding");
        const QList<QByteArray> lengths = fieldValues("content-length");
        if (m_status == 204 || m_status == 304) {
            // No body.
        } else if (!transfer.isEmpty()) {
            if (transfer.last().trimmed().toLower().endsWith("chunked")) {
                ok = readChunks();
            } else {
                keepAlive = false;
                ok = readBytes(-1);
            }
        } else if (!lengths.isEmpty()) {
            bool number = false;
            const qint64 length = lengths.first().toLongLong(&number);
            for (const QByteArray &other : lengths) {
                if (other != lengths.first())
                    number = false;
            }
            if (!number || length < 0)
                return malformed();
            // Declared too long: not a byte of it is read.
            if (length > m_limits.maxBody)
                return fail(Failure::BodyTooLong,
                            QStringLiteral("the answer is longer than %1 bytes").arg(m_limits.maxBody));
            ok = readBytes(length);
        } else {
            keepAlive = false;
            ok = readBytes(-1);
        }
        if (!ok)
            return false;
        if (m_inflater && m_compressed && !m_inflater->ended())
            return fail(Failure::Transfer, QStringLiteral("the compressed answer is cut short"));
        m_inflater.reset();
        // Bytes beyond the answer would be taken for the next one's.
        if (!keepAlive || m_pos != m_buffer.size() || socket()->bytesAvailable() > 0
            || socket()->state() != QAbstractSocket::ConnectedState)
            m_client.m_connection.reset();
        return true;
    }

    // One request on a connection; a kept connection that turns out to be
    // closed before a byte came is replaced once.
    bool once(const Request &request)
    {
        for (bool mayReuse = true;; mayReuse = false) {
            if (!open(request.url, mayReuse))
                return false;
            const bool reused = m_reused;
            if (send(request) && readResponse())
                return true;
            if (!reused || m_gotByte || m_response.failure != Failure::Transfer)
                return false;
            m_response = Response();
        }
    }

    HttpClient &m_client;
    const Limits m_limits;
    QElapsedTimer m_started;
    QElapsedTimer m_idle;
    QEventLoop m_loop;
    QTimer m_poll;
    Response m_response;

    QByteArray m_buffer; // read from the socket, from m_pos on not yet used
    qsizetype m_pos = 0;
    bool m_reused = false;
    bool m_gotByte = false;
    int m_status = 0;
    bool m_http11 = true;
    QList<QPair<QByteArray, QByteArray>> m_fields;
    QByteArray m_location;
    std::unique_ptr<Inflater> m_inflater;
    bool m_compressed = false; // compressed bytes were fed to it
};

HttpClient::HttpClient(std::function<bool()> cancelled)
    : m_cancelled(std::move(cancelled))
{
}

HttpClient::~HttpClient() = default;

HttpClient::Response HttpClient::send(const Request &request, const Limits &limits)
{
    const QUrl &url = request.url;
    Response response;
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        response.failure = Failure::Transfer;
        response.error = QStringLiteral("not a web address");
        return response;
    }
    Exchange exchange(*this, limits);
    return exchange.run(request);
}

void HttpClient::sendInBackground(Request request, const Limits &limits, QObject *context,
                                  std::function<void(Response)> done)
{
    struct Pending {
        std::atomic_bool gone{false};
        std::function<void(Response)> done;
    };
    auto pending = std::make_shared<Pending>();
    pending->done = std::move(done);
    // Set on the context's own thread as it goes, read by the worker while it waits.
    QObject::connect(context, &QObject::destroyed, [pending] { pending->gone = true; });
    platform::runInBackground([pending, request = std::move(request), limits] {
        HttpClient client(
            [&pending] { return pending->gone.load() || QThread::currentThread()->isInterruptionRequested(); });
        Response response = client.send(request, limits);
        // Cancelled means gone or quitting: nobody waits for the answer then.
        QCoreApplication *app = QCoreApplication::instance();
        if (!app || pending->gone || response.failure == Failure::Cancelled)
            return;
        QMetaObject::invokeMethod(
            app,
            [pending, response = std::move(response)]() mutable {
                if (!pending->gone)
                    pending->done(std::move(response));
            },
            Qt::QueuedConnection);
    });
}
