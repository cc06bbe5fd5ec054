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

namespace {

Error malformed(const QString &why)
{
    return describedError(QStringLiteral("The message from another start is malformed: %1.").arg(why));
}

Result<QJsonDocument> parseMessage(const QByteArray &data)
{
    if (data.size() > kMaximumMessageSize)
        return malformed(QStringLiteral("it is longer than %1 bytes").arg(kMaximumMessageSize));
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        return malformed(error.errorString());
    return doc;
}

Result<QStringList> stringsOf(const QJsonArray &array)
{
    QStringList out;
    for (const QJsonValue &value : array) {
        if (!value.isString())
            return malformed(QStringLiteral("a path is not a string"));
        out.append(value.toString());
    }
    return out;
}

} // namespace

Result<QStringList> decodeMessage(const QByteArray &data)
{
    Result<QJsonDocument> doc = parseMessage(data);
    if (!doc)
        return doc.error();
    if (!doc.value().isArray())
        return malformed(QStringLiteral("it is not a list of paths"));
    return stringsOf(doc.value().array());
}

QByteArray encodeRequest(const Request &request)
{
    if (request.designName.isEmpty())
        return encodeMessage(request.paths);
    const QJsonObject object{{QStringLiteral("paths"), QJsonArray::fromStringList(request.paths)},
                             {QStringLiteral("template"), request.designName}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Result<Request> decodeRequest(const QByteArray &data)
{
    Result<QJsonDocument> doc = parseMessage(data);
    if (!doc)
        return doc.error();
    if (doc.value().isArray()) {
        Result<QStringList> paths = stringsOf(doc.value().array());
        if (!paths)
            return paths.error();
        return Request{std::move(paths).value(), {}};
    }
    if (!doc.value().isObject())
        return malformed(QStringLiteral("it is neither a list of paths nor a request"));
    const QJsonObject object = doc.value().object();
    const QJsonValue paths = object.value(QStringLiteral("paths"));
    const QJsonValue design = object.value(QStringLiteral("template"));
    if (!paths.isArray() || !design.isString() || object.size() != 2)
        return malformed(QStringLiteral("a request holds exactly a list of paths and a design name"));
    Result<QStringList> list = stringsOf(paths.toArray());
    if (!list)
        return list.error();
    return Request{std::move(list).value(), design.toString()};
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
