#include "platform/handoff/Handoff.h"

#include "platform/Bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace platform {
namespace Handoff {

QString serverName()
{
    // The runtime folder is the user's own; without one the name carries the uid.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString name = Bundle::identifier() + QStringLiteral("-%1").arg(getuid());
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return QDir(runtime).filePath(name);
    return name;
}

QByteArray encodeMessage(const QStringList &paths)
{
    return QJsonDocument(QJsonArray::fromStringList(paths)).toJson(QJsonDocument::Compact);
}

QStringList decodeMessage(const QByteArray &data, bool *ok)
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

QByteArray encodeRequest(const Request &request)
{
    if (request.designName.isEmpty())
        return encodeMessage(request.paths);
    const QJsonObject object{{QStringLiteral("paths"), QJsonArray::fromStringList(request.paths)},
                             {QStringLiteral("template"), request.designName}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Request decodeRequest(const QByteArray &data, bool *ok)
{
    if (ok)
        *ok = false;
    if (data.size() > kMaximumMessageSize)
        return {};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        return {};
    if (doc.isArray())
        return {decodeMessage(data, ok), {}};
    if (!doc.isObject())
        return {};
    const QJsonObject object = doc.object();
    const QJsonValue paths = object.value(QStringLiteral("paths"));
    const QJsonValue design = object.value(QStringLiteral("template"));
    if (!paths.isArray() || !design.isString() || object.size() != 2)
        return {};
    Request request;
    request.designName = design.toString();
    for (const QJsonValue &value : paths.toArray()) {
        if (!value.isString())
            return {};
        request.paths.append(value.toString());
    }
    if (ok)
        *ok = true;
    return request;
}

bool sendToRunningInstance(const QString &server, const QStringList &paths, int timeoutMs)
{
    return sendRequestToRunningInstance(server, Request{paths, {}}, timeoutMs);
}

bool sendRequestToRunningInstance(const QString &server, const Request &request, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(server);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    Request absolute{{}, request.designName};
    for (const QString &path : request.paths)
        absolute.paths.append(QFileInfo(path).absoluteFilePath());
    socket.write(encodeRequest(absolute));
    socket.flush();
    bool sent = true;
    while (socket.bytesToWrite() > 0 && sent)
        sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return sent;
}

QString applicationProgram()
{
    const QString name = QStringLiteral("kantelo");
    if (QCoreApplication::instance()) {
        const QFileInfo beside(QDir(QCoreApplication::applicationDirPath()).filePath(name));
        if (beside.isFile() && beside.isExecutable())
            return beside.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(name);
}

bool openFilesWithApplication(const QStringList &paths, Error *error)
{
    QStringList absolute;
    for (const QString &path : paths)
        absolute.append(QFileInfo(path).absoluteFilePath());
    if (sendToRunningInstance(serverName(), absolute))
        return true;
    const QString program = applicationProgram();
    if (program.isEmpty()) {
        setError(error,
                 QStringLiteral(
                     "Kantelo isn't installed: the program “kantelo” was found neither beside this one nor on PATH."));
        return false;
    }
    // Started on its own, so it outlives this program; it keeps none of our
    // input and output, which a calling script may be waiting on.
    QProcess launcher;
    launcher.setProgram(program);
    launcher.setArguments(absolute);
    launcher.setStandardInputFile(QProcess::nullDevice());
    launcher.setStandardOutputFile(QProcess::nullDevice());
    if (!launcher.startDetached()) {
        setError(error, QStringLiteral("Couldn't start “%1”.").arg(program));
        return false;
    }
    return true;
}

} // namespace Handoff
} // namespace platform
