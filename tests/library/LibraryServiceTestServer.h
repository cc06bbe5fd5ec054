#pragma once

// The library update service on 127.0.0.1 for the update tests, on a thread
// of its own: it serves an export tree laid out as the administration export
// writes it ("std/" and "pro/" with Collections, Sets, Frames; "graphics/"
// with FrameImages), answers the service's routes from it, and has knobs
// for the faults a real service shows. Every request is logged.

#include "platform/SanitizerHandoff.h"
#include "platform/archive/PropertyList.h"
#include "stores/LibraryTestSupport.h"
#include "support/EndlessAnswer.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QPointer>
#include <QTimer>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

#include <future>
#include <memory>

class LibraryServiceTestServer : public QThread
{
public:
    // Knobs, read under the lock while answering.
    struct Faults {
        QMap<QByteArray, int> status;    // path -> HTTP status
        QSet<QByteArray> badPlist;       // path -> a text that is no property list
        QSet<QByteArray> drop;           // path -> connection closed without answer
        QSet<QByteArray> hold;           // path -> answered only on release()
        bool blankLines = false;         // lists padded with empty lines
        bool crlf = false;               // lists and texts end lines with CRLF
        bool baseWithoutSlash = false;   // announced bases lack their "/"
        QString version = QStringLiteral("1.0");
        QString countAnswer;             // when set, answers every count
        QMap<QByteArray, qint64> padded; // path -> chunked answer padded with spaces to this size
        QSet<QByteArray> trickle;        // path -> answer sent one byte every 20 ms
        QByteArray endlessHead;          // every answer a head without end: "lines", "line" or "chunk"
    };

    QString root = librarytest::freshFolder();

    LibraryServiceTestServer()
    {
        // Through the standard library, whose hand-over ThreadSanitizer sees.
        std::promise<void> ready;
        m_ready = &ready;
        start();
        ready.get_future().wait();
        m_ready = nullptr;
    }
    ~LibraryServiceTestServer() override
    {
        release();
        quit();
        wait();
        platform::takeOver(this);
    }

    QString url(const QString &path = QStringLiteral("/")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
    }

    template <typename F> void faults(F change)
    {
        QMutexLocker lock(&m_mutex);
        change(m_faults);
    }
    QList<QByteArray> requests() const
    {
        QMutexLocker lock(&m_mutex);
        return m_requests;
    }
    qsizetype countRequests(const QByteArray &prefix) const
    {
        qsizetype n = 0;
        for (const QByteArray &path : requests())
            n += path.startsWith(prefix);
        return n;
    }
    void clearRequests()
    {
        QMutexLocker lock(&m_mutex);
        m_requests.clear();
    }
    // Lets held answers go.
    void release()
    {
        QMutexLocker lock(&m_mutex);
        m_faults.hold.clear();
        m_releaseAll = true;
    }

    // --- The export tree ------------------------------------------------

    void writePlist(const QString &relative, const QVariantMap &dictionary)
    {
        const QString path = root + '/' + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        platform::PropertyList::writeFile(path, dictionary, platform::PropertyList::Format::XML);
    }
    // `library` is "std" or "pro"; `name` the item name ("stamp-GUID" or anything).
    void collection(const QString &library, const QString &name, const QString &guid, const QString &title,
                    const QString &iconGUID = {})
    {
        QVariantMap d{{"name", title}, {"guid", guid}};
        if (!iconGUID.isEmpty())
            d.insert("iconGUID", iconGUID);
        writePlist(library + "/Collections/" + name, d);
    }
    void set(const QString &library, const QString &name, const QString &guid, const QString &title,
             const QString &collectionGUID)
    {
        writePlist(library + "/Sets/" + name,
                   {{"name", title}, {"guid", guid}, {"framecollectionGUID", collectionGUID}});
    }
    // A "Full frame" with its two image attributes.
    void frame(const QString &library, const QString &name, const QString &guid, const QString &title,
               const QString &setGUID, const QString &landscape, const QString &portrait)
    {
        writePlist(library + "/Frames/" + name,
                   {{"name", title}, {"guid", guid}, {"framesetGUID", setGUID}, {"frametype", "Full frame"},
                    {"attributes", QVariantMap{{"Landscape Image", landscape}, {"Portrait Image", portrait}}},
                    {"attributeKinds", QVariantMap{{"Landscape Image", 1}, {"Portrait Image", 1}}}});
    }
    void image(const QString &guid, const QString &filename, const QByteArray &bytes)
    {
        writePlist("graphics/FrameImages/" + guid, {{"filename", filename}});
        QFile file(root + "/graphics/" + guid);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }

protected:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        m_port = server.serverPort();
        QList<QPointer<QTcpSocket>> held;
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer, &held] {
                    buffer->append(socket->readAll());
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    const QByteArray path = buffer->left(end).split('\n').value(0).split(' ').value(1);
                    buffer->clear();
                    answer(socket, path, held);
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        // Held answers go once released.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &server, [&] {
            QMutexLocker lock(&m_mutex);
            if (!m_releaseAll)
                return;
            m_releaseAll = false;
            const auto sockets = held;
            held.clear();
            lock.unlock();
            for (const auto &socket : sockets) {
                if (socket)
                    respond(socket, socket->property("path").toByteArray());
            }
        });
        poll.start(10);
        m_ready->set_value();
        exec();
        // Qt's join in wait() is hidden from ThreadSanitizer.
        platform::handOff(this);
    }

private:
    void answer(QTcpSocket *socket, const QByteArray &path, QList<QPointer<QTcpSocket>> &held)
    {
        QMutexLocker lock(&m_mutex);
        m_requests.append(path);
        if (m_faults.drop.contains(path)) {
            socket->abort();
            return;
        }
        if (m_faults.hold.contains(path)) {
            socket->setProperty("path", path);
            held.append(socket);
            return;
        }
        lock.unlock();
        respond(socket, path);
    }

    void respond(QTcpSocket *socket, const QByteArray &path)
    {
        int status = 200;
        QByteArray body = route(path, &status);
        QMutexLocker lock(&m_mutex);
        const qint64 padding = m_faults.padded.value(path, -1);
        const bool trickle = m_faults.trickle.contains(path);
        const QByteArray endless = m_faults.endlessHead;
        lock.unlock();
        if (!endless.isEmpty()) {
            // Until the client leaves, or 256 MiB.
            QByteArray block = endless == "lines" ? QByteArray() : QByteArray(0x10000, 'x');
            for (int i = 0; block.isEmpty() && i < 1000; ++i)
                block += "X-Pad: " + QByteArray(50, 'a') + "\r\n";
            const QByteArray prefix = endless == "lines"  ? "HTTP/1.1 200 X\r\n"
                                      : endless == "line" ? "HTTP/1.1 200 X\r\nX-Pad: "
                                                          : "HTTP/1.1 200 X\r\nTransfer-Encoding: chunked\r\n\r\n1;";
            testsupport::answerEndlessly(socket, prefix, block);
            return;
        }
        if (padding >= 0) {
            // No length announced: the client learns the size only by reading.
            socket->write("HTTP/1.1 200 X\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n");
            socket->write(QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n");
            const QByteArray spaces = "10000\r\n" + QByteArray(0x10000, ' ') + "\r\n";
            for (qint64 left = padding; left > 0 && socket->write(spaces) > 0; left -= 0x10000)
                socket->waitForBytesWritten(5000);
            socket->write("0\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        if (trickle) {
            socket->write("HTTP/1.1 200 X\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n");
            auto *timer = new QTimer(socket);
            QObject::connect(timer, &QTimer::timeout, socket, [socket, body, sent = qsizetype(0)]() mutable {
                if (sent < body.size())
                    socket->write(body.mid(sent++, 1));
                else
                    socket->disconnectFromHost();
            });
            timer->start(20);
            return;
        }
        QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: text/plain\r\nContent-Length: "
                         + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        socket->write(out);
        socket->disconnectFromHost();
    }

    QStringList names(const QString &folder, const QString &since) const
    {
        QStringList found;
        for (const QString &name : QDir(root + '/' + folder).entryList(QDir::Files, QDir::Name)) {
            if (name.size() < 15 || name.left(15) > since)
                found.append(name);
        }
        return found;
    }

    QByteArray route(const QByteArray &path, int *status)
    {
        QMutexLocker lock(&m_mutex);
        const Faults f = m_faults;
        lock.unlock();
        if (f.status.contains(path))
            *status = f.status.value(path);
        if (f.badPlist.contains(path))
            return "<plist><dict><key>name</key>";
        QStringList parts;
        for (const QByteArray &part : path.mid(1).split('/'))
            parts.append(QUrl::fromPercentEncoding(part));
        const QString eol = f.crlf ? "\r\n" : "\n";
        const QString slash = f.baseWithoutSlash ? "" : "/";
        auto text = [&](const QString &t) { return (t + eol).toUtf8(); };
        const QString first = parts.value(0);
        if (first == "check_version")
            return text(f.version);
        if (first == "standard_library_url")
            return text(url("/std") + slash);
        if (first == "pro_library_url")
            return text(url("/pro") + slash);
        if (first == "graphics_base_url")
            return text(url("/graphics") + slash);
        if (first == "count_updates" && parts.size() == 3) {
            if (!f.countAnswer.isEmpty())
                return text(f.countAnswer);
            qsizetype counts[2] = {0, 0};
            for (int i = 0; i < 2; ++i)
                for (const char *folder : {"/Collections", "/Sets", "/Frames"})
                    counts[i] += names(QLatin1String(i ? "pro" : "std") + folder, parts[1]).size();
            return text(QStringLiteral("%1 %2").arg(counts[0]).arg(counts[1]));
        }
        for (const char *kind : {"collections", "sets", "frames"}) {
            for (const bool pro : {false, true}) {
                if (first != (pro ? QStringLiteral("pro_") : QString()) + kind + "_since" || parts.size() != 3)
                    continue;
                QString folder = QString::fromLatin1(kind);
                folder[0] = folder[0].toUpper();
                QString list;
                for (const QString &name : names(QLatin1String(pro ? "pro/" : "std/") + folder, parts[1]))
                    list += (f.blankLines ? eol + "  " + eol : QString()) + name + eol;
                return (list + (f.blankLines ? eol : QString())).toUtf8();
            }
        }
        for (const char *kind : {"collection", "set"}) {
            for (const bool pro : {false, true}) {
                if (first != (pro ? QStringLiteral("pro_") : QString()) + kind + "_with_id" || parts.size() != 3)
                    continue;
                const QString folder = QLatin1String(pro ? "pro/" : "std/") + (kind[0] == 'c' ? "Collections" : "Sets");
                for (const QString &name : QDir(root + '/' + folder).entryList(QDir::Files))
                    if (name.endsWith('-' + parts[1]) || name == parts[1])
                        return text(name);
                *status = 404;
                return "not found";
            }
        }
        const QString relative = parts.join('/');
        QFile file(root + '/' + relative);
        if ((first == "std" || first == "pro" || first == "graphics") && !relative.contains("..")
            && file.open(QIODevice::ReadOnly))
            return file.readAll();
        *status = 404;
        return "not found";
    }

    mutable QMutex m_mutex;
    Faults m_faults;
    QList<QByteArray> m_requests;
    bool m_releaseAll = false;
    quint16 m_port = 0;
    std::promise<void> *m_ready = nullptr;
};
