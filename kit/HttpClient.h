#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QObject;

// Plain GET and POST requests over HTTP/1.1 for answers from servers we don't trust,
// made on the calling thread, which spins a local event loop while it waits.
// Qt's own HTTP stack holds a response head of any length in memory, so a
// hostile server (or proxy) could grow the process without bound; here the
// head, every line of it and every chunk-size line have a limit, and so do
// the body, the silence and the whole request. The system's proxy settings
// are honoured, https goes through QSslSocket (through a CONNECT tunnel
// behind an HTTP proxy), redirects are followed unless they go from https
// to http (a POST goes on as a GET unless the answer is 307 or 308, as Qt's
// own requests do), gzip and deflate bodies are decoded, and the connection is kept
// for the next request to the same place.
class HttpClient
{
public:
    static constexpr qsizetype kMaxHead = 64 * 1024;
    static constexpr qsizetype kMaxLine = 8 * 1024;
    static constexpr int kMaxRedirects = 50;

    struct Limits {
        qint64 maxBody = 1024 * 1024; // decoded bytes
        int idleTimeoutMs = 30000;    // silence allowed within an answer
        int deadlineMs = 180000;      // the whole request, redirects included
    };

    enum class Failure {
        None,
        Transfer, // no HTTP answer: connection, TLS, proxy or protocol error
        HeadTooLong,
        BodyTooLong,
        Late, // the deadline passed first
        Cancelled,
    };

    struct Request {
        QUrl url;
        QByteArray method = "GET"; // or "POST", which sends the body
        QByteArray contentType;
        QByteArray body;
        QByteArray userAgent = "Mozilla/5.0";
    };

    struct Response {
        Failure failure = Failure::None;
        QString error; // why, when failure is not None
        int status = 0;
        QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
        QUrl url;                                     // where the answer came from
        QByteArray body;
    };

    // `cancelled` is asked often while waiting; true ends the request at once.
    explicit HttpClient(std::function<bool()> cancelled = {});
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    // Any status is an answer; only http and https addresses are asked.
    Response send(const Request &request, const Limits &limits);
    Response get(const QUrl &url, const Limits &limits)
    {
        Request request;
        request.url = url;
        return send(request, limits);
    }

    // Sends on a background thread of its own, so the caller's thread goes
    // on; `done` gets the answer on the main thread. When `context` goes
    // first, or the program quits, the request ends early and `done` is
    // never called.
    static void sendInBackground(Request request, const Limits &limits, QObject *context,
                                 std::function<void(Response)> done);

private:
    struct Connection;
    class Exchange;
    std::function<bool()> m_cancelled;
    std::unique_ptr<Connection> m_connection; // kept alive between requests
};
