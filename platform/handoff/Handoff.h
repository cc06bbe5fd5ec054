#pragma once

#include "platform/Error.h"
#include "platform/Result.h"

#include <QString>
#include <QStringList>

namespace platform {

// Opening files with Kantelo: a running instance takes them over a per-user
// local socket (the message is a JSON array of absolute paths, or an object
// {"paths": [...], "template": NAME} when a saved design goes on them); when
// none answers, the program is started with them.
namespace Handoff {

// What one start hands over: the files, and the saved design to put on
// those files only (empty for none).
struct Request {
    QStringList paths;
    QString designName;
    bool operator==(const Request &) const = default;
};

// The per-user server name the running application listens on.
QString serverName();

QByteArray encodeMessage(const QStringList &paths);
// Bounded and strict: anything but an array of strings is refused.
Result<QStringList> decodeMessage(const QByteArray &data);
inline constexpr qint64 kMaximumMessageSize = 1 << 20;
// A request without a design is the plain array, as older starts send it.
QByteArray encodeRequest(const Request &request);
// Either form; bounded and strict like decodeMessage.
Result<Request> decodeRequest(const QByteArray &data);

// Hands the paths (made absolute) to the instance listening on `server`.
// Answers false when none answers.
bool sendToRunningInstance(const QString &server, const QStringList &paths, int timeoutMs = 3000);
bool sendRequestToRunningInstance(const QString &server, const Request &request, int timeoutMs = 3000);

// The application program: "kantelo" beside the calling program (build tree
// or install prefix), else the one on PATH; empty when there is none.
QString applicationProgram();

// Opens the files with the application, in one message or one start (a
// start per file would race to become the running instance): a running
// instance gets them, else a new one is started with them. False, with
// the reason in `error`, when neither worked.
bool openFilesWithApplication(const QStringList &paths, Error *error = nullptr);
inline bool openFileWithApplication(const QString &path, Error *error = nullptr)
{
    return openFilesWithApplication({path}, error);
}

} // namespace Handoff
} // namespace platform
