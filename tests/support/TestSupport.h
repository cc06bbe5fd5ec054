#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

// Helpers shared by every test program.
namespace testsupport {

// A fresh folder for this test process, removed when the process ends.
QString scratchDir();

// How long a test waits for what must happen before calling it a hang. Only a
// guard: a busy machine may be many times slower than a quiet one, so tests
// wait for events, never for a time they expect things to take.
constexpr int kHangGuardMs = 180000;

// Runs the event loop until `done` answers true or `timeoutMs` passes;
// answers whether `done` became true.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = kHangGuardMs);

// Runs the event loop until a timer started now for `ms` has fired. Main-thread
// timers fire in the order they fall due, so every one due before it has run:
// an event to wait on for "nothing happened", however loaded the machine.
bool waitPastTimersDue(int ms);

// The folder of small files shipped with the tests.
QString dataDir();

// The name of the font shipped with the tests ("Kantelo Test Sans", the
// ASCII letters of DejaVu Sans), loaded on first use: text metrics then do not
// depend on which fonts the machine has.
QString testFontName();

// The python3 to run interop checks with: the system's own when present
// (quick to start), else the first on PATH.
QString python3();

// Runs a program in `cwd` (output and errors together in `out`); answers its
// exit code, -1 when it did not end within the hang guard.
int run(const QString &cwd, const QString &program, const QStringList &args, QString *out = nullptr);

struct ProgramRun {
    // -1 when the program did not start, crashed or outran the timeout.
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    bool succeeded() const { return exitCode == 0; }
};

// Runs a program (in `cwd` unless empty, input empty) and waits for it. Tests
// start every program through here, not through QProcess: Qt starts a child
// with a vfork-like clone in which ThreadSanitizer's hooks run on the
// parent's state and leave it wrong; glibc's spawn runs none of them.
ProgramRun runProgram(const QString &program, const QStringList &args, const QString &cwd = QString(),
                      int timeoutMs = kHangGuardMs, bool mergeErrors = false);
// The same with the whole command line as bytes (a file's name need not be
// UTF-8) and `environment` ("NAME=value") in place of the test's own.
ProgramRun runProgram(const QList<QByteArray> &command, const QStringList &environment, const QString &cwd = QString(),
                      int timeoutMs = kHangGuardMs, bool mergeErrors = false);

} // namespace testsupport
