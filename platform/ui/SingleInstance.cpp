#include "platform/ui/SingleInstance.h"

#include "platform/Log.h"
#include "platform/handoff/Handoff.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace platform {

QString SingleInstance::defaultServerName()
{
    return Handoff::serverName();
}

SingleInstance::SingleInstance(const QString &serverName, QObject *parent)
    : QObject(parent)
    , m_serverName(serverName)
{
}

SingleInstance::~SingleInstance() = default;

QByteArray SingleInstance::encodeMessage(const QStringList &paths)
{
    return Handoff::encodeMessage(paths);
}

Result<QStringList> SingleInstance::decodeMessage(const QByteArray &data)
{
    return Handoff::decodeMessage(data);
}

bool SingleInstance::sendToRunningInstance(const QStringList &paths, int timeoutMs)
{
    return Handoff::sendToRunningInstance(m_serverName, paths, timeoutMs);
}

bool SingleInstance::sendRequestToRunningInstance(const Handoff::Request &request, int timeoutMs)
{
    return Handoff::sendRequestToRunningInstance(m_serverName, request, timeoutMs);
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
        // A start is over in moments: with every slot held, the connection
        // held longest goes, so slow talkers cannot keep a start's message out.
        if (m_connections >= kMaximumConnections && !m_open.empty()) {
            const std::function<void()> dropOldest = std::move(m_open.front().second);
            m_open.pop_front();
            dropOldest();
        }
        ++m_connections;
        // The buffer lives as long as the connection's handlers, which go
        // with the socket; a dropped connection gives it back at once.
        auto buffer = std::make_shared<QByteArray>();
        auto ended = std::make_shared<bool>(false);
        auto end = [this, socket, buffer, ended] {
            if (*ended)
                return false;
            *ended = true;
            --m_connections;
            std::erase_if(m_open, [socket](const auto &open) { return open.first == socket; });
            socket->deleteLater();
            return true;
        };
        auto drop = [socket, buffer, end] {
            if (!end())
                return;
            buffer->clear();
            buffer->squeeze();
            socket->abort();
        };
        m_open.emplace_back(socket, drop);
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, drop);
        idle->start(m_idleTimeoutMs);
        connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer, drop] {
            buffer->append(socket->readAll());
            if (buffer->size() > kMaximumMessageSize)
                drop();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, buffer, end] {
            if (!end())
                return;
            buffer->append(socket->readAll());
            const Result<Handoff::Request> request = Handoff::decodeRequest(*buffer);
            buffer->clear();
            if (!request) {
                logLine(QStringLiteral("Warning: Ignored a message from another start: %1")
                            .arg(request.error().description));
                return;
            }
            emit filesReceived(request.value().paths, request.value().designName);
        });
    }
}

} // namespace platform
