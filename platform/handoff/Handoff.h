#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Opening a file with Kantelo: a running instance takes it over a per-user
// local socket (the message is a JSON array of absolute paths); when none
// answers, the program is started with the file.
namespace Handoff {

// The per-user server name the running application listens on.
QString serverName();

QByteArray encodeMessage(const QStringList &paths);
// Bounded and strict: anything but an array of strings is refused.
QStringList decodeMessage(const QByteArray &data, bool *ok = nullptr);
inline constexpr qint64 kMaximumMessageSize = 1 << 20;

// Hands the paths (made absolute) to the instance listening on `server`.
// Answers false when none answers.
bool sendToRunningInstance(const QString &server, const QStringList &paths, int timeoutMs = 3000);

// The application program: "kantelo" beside the calling program (build tree
// or install prefix), else the one on PATH; empty when there is none.
QString applicationProgram();

// Opens the file with the application: a running instance gets it, else a
// new one is started with it. False with a reason when neither worked.
bool openFileWithApplication(const QString &path, QString *failure = nullptr);

} // namespace Handoff
} // namespace platform
