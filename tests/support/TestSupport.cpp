#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <vector>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

QString scratchDir()
{
    static QTemporaryDir dir(QDir::tempPath() + "/kantelo-test-XXXXXX");
    return dir.path();
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

bool waitPastTimersDue(int ms)
{
    bool fired = false;
    QTimer::singleShot(ms, Qt::PreciseTimer, [&fired] { fired = true; });
    const bool ok = waitUntil([&fired] { return fired; }, ms + kHangGuardMs);
    QCoreApplication::sendPostedEvents();
    return ok;
}

QString dataDir()
{
    return QString::fromUtf8(qgetenv("KANTELO_TEST_DATA"));
}

QString testFontName()
{
    static const bool loaded =
        QFontDatabase::addApplicationFont(dataDir() + QStringLiteral("/KanteloTestSans.ttf")) >= 0;
    return loaded ? QStringLiteral("KanteloTestSans") : QString();
}

QString python3()
{
    const QString system = QStringLiteral("/usr/bin/python3");
    return QFileInfo(system).isExecutable() ? system : QStringLiteral("python3");
}

int run(const QString &cwd, const QString &program, const QStringList &args, QString *out)
{
    const ProgramRun r = runProgram(program, args, cwd, kHangGuardMs, true);
    if (out)
        *out = QString::fromLocal8Bit(r.out);
    return r.exitCode;
}

ProgramRun runProgram(const QString &program, const QStringList &args, const QString &cwd, int timeoutMs,
                      bool mergeErrors)
{
    QList<QByteArray> command{QFile::encodeName(program)};
    for (const QString &arg : args)
        command.push_back(arg.toLocal8Bit());
    return runProgram(command, {}, cwd, timeoutMs, mergeErrors);
}

ProgramRun runProgram(const QList<QByteArray> &command, const QStringList &environment, const QString &cwd,
                      int timeoutMs, bool mergeErrors)
{
    ProgramRun r;
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return r;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return r;
    }
    QList<QByteArray> words = command;
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    QList<QByteArray> settings;
    for (const QString &setting : environment)
        settings.push_back(setting.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &setting : settings)
        envp.push_back(setting.data());
    envp.push_back(nullptr);
    const QByteArray folder = QFile::encodeName(cwd);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, mergeErrors ? out[1] : err[1], 2);
    if (!cwd.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    pid_t pid = -1;
    const int failed =
        posix_spawnp(&pid, argv.front(), &actions, nullptr, argv.data(), environment.isEmpty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    QByteArray *sinks[2] = {&r.out, &r.err};
    int open = failed ? 0 : 2;
    const QDeadlineTimer deadline(timeoutMs);
    while (open > 0) {
        const int ready = poll(fds, 2, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            char buffer[65536];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, got);
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd &fd : fds) {
        if (fd.fd >= 0)
            close(fd.fd);
    }
    if (failed)
        return r;
    // Still writing when the time ran out: it outran the timeout.
    if (open > 0)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (open == 0 && WIFEXITED(status))
        r.exitCode = WEXITSTATUS(status);
    return r;
}

} // namespace testsupport
