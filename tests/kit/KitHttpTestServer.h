#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include "platform/ThreadPools.h"
#include "support/EndlessAnswer.h"
#include "support/TestSupport.h"

#include <QCoreApplication>

// Waits until every request on its way has ended (answered, failed or
// cancelled), then lets whatever their ends queued run, so a test can check
// that a late answer went nowhere instead of sleeping.
inline bool waitForRequestsToEnd()
{
    if (!testsupport::waitUntil([] { return platform::isPoolIdle(platform::Pool::Background); }))
        return false;
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    return true;
}

// A small HTTP server on 127.0.0.1 for the network tests. It reads each
// request whole (headers and a Content-Length body), records it, and answers
// with the status and body set, or closes the connection without answering.
class KitHttpTestServer
{
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers; // names lower-cased
        QByteArray body;
    };

    int status = 200;
    QByteArray reason = "OK";
    QByteArray answer = "ok";
    bool closeWithoutAnswer = false;
    // Answers with header lines that never end, as a hostile server might.
    bool endlessHead = false;
    qint64 endlessWritten = 0;
    // Holds answers back until released (replies that come late).
    bool holdAnswers = false;
    QList<Request> requests;

    KitHttpTestServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    buffer->append(socket->readAll());
                    tryAnswer(socket, *buffer);
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QString url(const QString &path = QStringLiteral("/")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }

    void releaseHeld()
    {
        holdAnswers = false;
        for (const auto &socket : std::as_const(m_held)) {
            if (socket)
                respond(socket);
        }
        m_held.clear();
    }

private:
    void tryAnswer(QTcpSocket *socket, QByteArray &buffer)
    {
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        Request request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.clear();
        requests.append(request);
        if (closeWithoutAnswer) {
            socket->abort();
            return;
        }
        if (endlessHead) {
            testsupport::answerEndlessly(socket, "HTTP/1.1 200 OK\r\n", "X-Pad: " + QByteArray(1000, 'a') + "\r\n",
                                         &endlessWritten);
            return;
        }
        if (holdAnswers) {
            m_held.append(socket);
            return;
        }
        respond(socket);
    }

    void respond(QTcpSocket *socket)
    {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + " " + reason + "\r\n";
        out += "Content-Type: text/plain; charset=utf-8\r\n";
        out += "Content-Length: " + QByteArray::number(answer.size()) + "\r\n";
        out += "Connection: close\r\n\r\n";
        out += answer;
        socket->write(out);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_held;
};
