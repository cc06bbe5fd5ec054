#include "kit/HttpClient.h"
#include "support/EndlessAnswer.h"

#include <QNetworkProxy>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <zlib.h>

#include <gtest/gtest.h>

namespace {

// A server on 127.0.0.1 that hands each request head to `answer`, which
// writes whatever bytes the case needs.
class RawServer
{
public:
    std::function<void(QTcpSocket *, const QByteArray &head)> answer;
    QList<QByteArray> heads;
    QList<QByteArray> bodies;
    int connections = 0;
    qint64 written = 0;

    RawServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    buffer->append(socket->readAll());
                    for (qsizetype end; (end = buffer->indexOf("\r\n\r\n")) >= 0;) {
                        static const QRegularExpression field("\r\ncontent-length: *(\\d+)",
                                                              QRegularExpression::CaseInsensitiveOption);
                        const qsizetype length = field.match(buffer->left(end)).captured(1).toLongLong();
                        if (buffer->size() < end + 4 + length)
                            break;
                        heads.append(buffer->left(end));
                        bodies.append(buffer->mid(end + 4, length));
                        buffer->remove(0, end + 4 + length);
                        answer(socket, heads.last());
                    }
                });
            }
        });
    }
    QString url(const char *path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    quint16 port() const { return m_server.serverPort(); }

    void endless(QTcpSocket *socket, const QByteArray &prefix, const QByteArray &block)
    {
        testsupport::answerEndlessly(socket, prefix, block, &written);
    }

private:
    QTcpServer m_server;
};

QByteArray gzip(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

QByteArray path(const QByteArray &head)
{
    return head.split('\n').value(0).split(' ').value(1);
}

const HttpClient::Limits kLimits{64 * 1024, 30000, 180000};

// Sets the proxy for the test's requests and puts the system's back after.
struct ProxyFor {
    bool system = QNetworkProxyFactory::usesSystemConfiguration();
    QNetworkProxy saved = QNetworkProxy::applicationProxy();
    explicit ProxyFor(quint16 port)
    {
        QNetworkProxy::setApplicationProxy({QNetworkProxy::HttpProxy, "127.0.0.1", port});
    }
    ~ProxyFor()
    {
        QNetworkProxy::setApplicationProxy(saved);
        QNetworkProxyFactory::setUseSystemConfiguration(system);
    }
};

} // namespace

TEST(HttpClient, ReadsEveryFramingDecodesGzipAndKeepsTheConnection)
{
    RawServer server;
    const QByteArray text(40000, 'k');
    server.answer = [&](QTcpSocket *s, const QByteArray &head) {
        const QByteArray p = path(head);
        if (p == "/length" || p == "/gone")
            s->write("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
        else if (p == "/chunked")
            s->write(
                "HTTP/1.1 404 No\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nabc\r\n2\r\nde\r\n0\r\nT: 1\r\n\r\n");
        else if (p == "/gzip")
            s->write("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: "
                     + QByteArray::number(gzip(text).size()) + "\r\n\r\n" + gzip(text));
        else if (p == "/bomb")
            s->write("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + gzip(QByteArray(1 << 20, '0')));
        else
            s->write("HTTP/1.0 200 OK\r\n\r\nto the end");
        if (p == "/close" || p == "/gone" || p == "/bomb")
            s->disconnectFromHost();
    };
    HttpClient client;
    auto get = [&](const char *path) { return client.get(QUrl(server.url(path)), kLimits); };
    EXPECT_EQ(get("/length").body, "hello");
    const HttpClient::Response chunked = get("/chunked");
    EXPECT_EQ(chunked.status, 404);
    EXPECT_EQ(chunked.body, "abcde");
    EXPECT_EQ(get("/gzip").body, text);
    EXPECT_EQ(server.connections, 1);
    EXPECT_EQ(get("/close").body, "to the end");
    EXPECT_EQ(server.connections, 1);
    EXPECT_TRUE(server.heads.last().contains("Accept-Encoding: gzip"));
    // A kept connection that the server closed is replaced.
    EXPECT_EQ(get("/gone").body, "hello");
    EXPECT_EQ(get("/length").body, "hello");
    EXPECT_EQ(server.connections, 3);

    // A small compressed answer counts by what it decodes to.
    const HttpClient::Response bomb = get("/bomb");
    EXPECT_EQ(bomb.failure, HttpClient::Failure::BodyTooLong);
    EXPECT_TRUE(bomb.body.isEmpty());
}

TEST(HttpClient, FollowsRedirectsAndGoesThroughTheProxy)
{
    RawServer server;
    server.answer = [&](QTcpSocket *s, const QByteArray &head) {
        if (head.startsWith("CONNECT"))
            s->write("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
        else if (path(head).endsWith("/old"))
            s->write("HTTP/1.1 302 Found\r\nLocation: new?q=1\r\nContent-Length: 3\r\n\r\nold");
        else
            s->write("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nnew");
    };
    HttpClient client;
    const HttpClient::Response moved = client.get(QUrl(server.url("/a/old")), kLimits);
    EXPECT_EQ(moved.body, "new");
    EXPECT_EQ(path(server.heads.last()), "/a/new?q=1");

    ProxyFor proxy(server.port());
    EXPECT_EQ(client.get(QUrl("http://service.invalid/a/old"), kLimits).body, "new");
    EXPECT_TRUE(
        server.heads.last().startsWith("GET http://service.invalid/a/new?q=1 HTTP/1.1\r\nHost: service.invalid\r\n"));
    const HttpClient::Response refused = client.get(QUrl("https://service.invalid/x"), kLimits);
    EXPECT_EQ(refused.failure, HttpClient::Failure::Transfer);
    EXPECT_TRUE(server.heads.last().startsWith("CONNECT service.invalid:443 HTTP/1.1\r\n"));
}

// A POST's body goes to the server; after a redirect it goes on as a GET
// without it, but as the same POST after a 307 or 308.
TEST(HttpClient, PostsItsBodyAndRedirectsIt)
{
    RawServer server;
    server.answer = [&](QTcpSocket *s, const QByteArray &head) {
        const QByteArray p = path(head);
        if (p == "/302" || p == "/307")
            s->write("HTTP/1.1 " + p.mid(1) + " Moved\r\nLocation: /to\r\nContent-Length: 0\r\n\r\n");
        else
            s->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    };
    HttpClient client;
    HttpClient::Request post;
    post.method = "POST";
    post.contentType = "multipart/form-data; boundary=b";
    post.body = QByteArray("a\0\r\n\r\nb", 7);
    for (const char *from : {"/302", "/307"}) {
        SCOPED_TRACE(from);
        post.url = QUrl(server.url(from));
        const HttpClient::Response response = client.send(post, kLimits);
        EXPECT_EQ(response.body, "ok");
        EXPECT_EQ(response.url.path(), "/to");
        ASSERT_GE(server.heads.size(), 2);
        const QByteArray first = server.heads[server.heads.size() - 2];
        EXPECT_TRUE(first.startsWith("POST " + QByteArray(from) + " HTTP/1.1\r\n"));
        EXPECT_TRUE(first.contains("\r\nContent-Type: multipart/form-data; boundary=b\r\n"));
        EXPECT_EQ(server.bodies[server.bodies.size() - 2], post.body);
        const bool same = QByteArray(from) == "/307";
        EXPECT_TRUE(server.heads.last().startsWith(same ? "POST /to " : "GET /to "));
        EXPECT_EQ(server.bodies.last(), same ? post.body : QByteArray());
    }
}

// Endless header lines, one endless line, an endless chunk-size line and a
// proxy that never ends its answer to CONNECT: each ends the request as soon
// as its limit passes, long before the deadline.
TEST(HttpClient, EndlessHeadsAreCutShort)
{
    RawServer server;
    QByteArray lines;
    for (int i = 0; i < 1000; ++i)
        lines += "X-Pad: " + QByteArray(50, 'a') + "\r\n";
    const QByteArray run(64 * 1024, 'x');
    const struct {
        const char *path;
        QByteArray prefix;
        QByteArray block;
    } cases[] = {{"/lines", "HTTP/1.1 200 OK\r\n", lines},
                 {"/line", "HTTP/1.1 200 OK\r\nX-Pad: ", run},
                 {"/chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1;", run},
                 {"/connect", "HTTP/1.1 200 Connection established\r\n", lines}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        server.written = 0;
        server.answer = [&](QTcpSocket *s, const QByteArray &) { server.endless(s, c.prefix, c.block); };
        HttpClient client;
        std::optional<ProxyFor> proxy;
        if (QByteArray(c.path) == "/connect")
            proxy.emplace(server.port());
        const HttpClient::Response response =
            client.get(QUrl(proxy ? QStringLiteral("https://service.invalid/") : server.url(c.path)), kLimits);
        EXPECT_EQ(response.failure, HttpClient::Failure::HeadTooLong);
        EXPECT_LT(server.written, qint64(64) << 20);
    }
}
