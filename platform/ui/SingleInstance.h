#pragma once

#include "platform/handoff/Handoff.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <list>
#include <utility>

class QLocalServer;
class QLocalSocket;

namespace platform {

// One running application per user: a later start hands its files to the
// running one over a local socket and exits, as opening a file with a
// running application does.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // The per-user server name the application listens on.
    static QString defaultServerName();

    explicit SingleInstance(const QString &serverName = defaultServerName(), QObject *parent = nullptr);
    ~SingleInstance() override;

    QString serverName() const { return m_serverName; }

    // Hands the paths (made absolute) to a running instance. Answers false
    // when none answers.
    bool sendToRunningInstance(const QStringList &paths, int timeoutMs = 3000);
    // The same with a saved design to put on those files.
    bool sendRequestToRunningInstance(const Handoff::Request &request, int timeoutMs = 3000);
    // Becomes the running instance; a stale socket left by a crash is removed.
    bool listen();
    bool isListening() const;

    // The wire form of a message (platform/handoff), bounded on read.
    static QByteArray encodeMessage(const QStringList &paths);
    static Result<QStringList> decodeMessage(const QByteArray &data);
    static constexpr qint64 kMaximumMessageSize = Handoff::kMaximumMessageSize;

    // A start sends its message at once: a connection still open this long
    // after it came is someone else, and is dropped, trickling or not; past
    // this many at a time, the oldest makes room for the newcomer.
    static constexpr int kMaximumConnections = 16;
    static constexpr int kDefaultIdleTimeoutMs = 5000;
    void setIdleTimeoutMs(int ms) { m_idleTimeoutMs = ms; }
    int openConnections() const { return m_connections; }

signals:
    // `designName`, when not empty, names the saved design for these files only.
    void filesReceived(const QStringList &paths, const QString &designName);

private:
    void readConnection();

    QString m_serverName;
    QLocalServer *m_server = nullptr;
    int m_idleTimeoutMs = kDefaultIdleTimeoutMs;
    int m_connections = 0;
    // The open connections, oldest first, each with what drops it.
    std::list<std::pair<QLocalSocket *, std::function<void()>>> m_open;
};

} // namespace platform
