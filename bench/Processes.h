#pragma once

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace bench {

// Runs a program to its end, its input read from `in` and its output written
// to `out` (/dev/null when not given), its errors the benchmark's own; answers
// its exit status, or -1 when it did not start or did not exit. posix_spawn,
// not QProcess: ThreadSanitizer's runtime follows a posix_spawn, while Qt's own
// start of a child through clone stops it with an internal check.
inline int runToEnd(const QStringList &command, const QString &in = QString(), const QString &out = QString())
{
    std::vector<QByteArray> words;
    for (const QString &word : command)
        words.push_back(QFile::encodeName(word));
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const QByteArray inPath = in.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(in);
    const QByteArray outPath = out.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(out);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.constData(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv.front(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace bench
