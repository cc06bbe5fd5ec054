#pragma once

#include <QObject>
#include <QTcpSocket>

namespace testsupport {

// What a hostile server sends: `prefix`, then `block` over and over as the
// client reads, until it goes or 256 MiB are out on this connection. What
// was sent is added to `written` where given.
inline void answerEndlessly(QTcpSocket *socket, const QByteArray &prefix, const QByteArray &block,
                            qint64 *written = nullptr)
{
    socket->write(prefix);
    auto more = [socket, block, written, sent = qint64(0)]() mutable {
        while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 4 * block.size()
               && sent < (qint64(256) << 20)) {
            socket->write(block);
            sent += block.size();
            if (written)
                *written += block.size();
        }
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}

} // namespace testsupport
