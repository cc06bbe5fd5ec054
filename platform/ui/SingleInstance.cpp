#include "platform/ui/SingleInstance.h"

#include "platform/Bundle.h"
#include "platform/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace platform {

QString SingleInstance::defaultServerName()
{
    // The runtime folder is the user's own; without one the name carries the uid.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString name = Bundle::identifier() + QStringLiteral("-%1").arg(getuid());
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return QDir(runtime).filePath(name);
    return name;
}

SingleInstance::SingleInstance(const QString &serverName, QObject *parent)
    : QObject(parent)
    , m_serverName(serverName)
{
}

SingleInstance::~SingleInstance() = default;

QByteArray SingleInstance::encodeMessage(const QStringList &paths)
{
    return QJsonDocument(QJsonArray::fromStringList(paths)).toJson(QJsonDocument::Compact);
}

QStringList SingleInstance::decodeMessage(const QByteArray &data, bool *ok)
{
    if (ok)
        *ok = false;
    if (data.size() > kMaximumMessageSize)
        return {};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return {};
    QStringList out;
    for (const QJsonValue &value : doc.array()) {
        if (!value.isString())
            return {};
        out.append(value.toString());
    }
    if (ok)
        *ok = true;
    return out;
}

bool SingleInstance::sendToRunningInstance(const QStringList &paths, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QStringList absolute;
    for (const QString &path : paths)
        absolute.append(QFileInfo(path).absoluteFilePath());
    socket.write(encodeMessage(absolute));
    socket.flush();
    bool sent = true;
    while (socket.bytesToWrite() > 0 && sent)
        sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return sent;
}

bool SingleInstance::listen()
{
    if (m_server)
        return m_server->isListening();
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        // Nobody answered before us, so a socket file left here is stale.
        QLocalServer::removeServer(m_serverName);
        if (!m_server->listen(m_serverName)) {
            logLine(QStringLiteral("Warning: Couldn't listen for files opened later: %1").arg(m_server->errorString()));
            return false;
        }
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::readConnection);
    return true;
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

void SingleInstance::readConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->size() > kMaximumMessageSize)
                socket->abort();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            socket->deleteLater();
            bool ok = false;
            const QStringList paths = decodeMessage(*buffer, &ok);
            if (!ok) {
                logLine(QStringLiteral("Warning: Ignored a malformed message from another start"));
                return;
            }
            emit filesReceived(paths);
        });
    }
}

} // namespace platform
