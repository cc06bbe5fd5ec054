#include "platform/TimingLog.h"

#include <QByteArray>

#include <cstdio>
#include <ctime>
#include <mutex>

namespace platform::TimingLog {

namespace {

const QByteArray &logPath()
{
    static const QByteArray path = qgetenv("KANTELO_TIMING_LOG");
    return path;
}

// The process's peak resident memory so far, in KiB; -1 when unknown.
long peakKb()
{
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmHWM: %ld", &kb) == 1)
            break;
    }
    std::fclose(status);
    return kb;
}

} // namespace

bool enabled()
{
    return !logPath().isEmpty();
}

void mark(const char *name)
{
    if (!enabled())
        return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double ms = double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    const long kb = peakKb();
    static std::mutex lock;
    const std::lock_guard<std::mutex> guard(lock);
    if (FILE *file = std::fopen(logPath().constData(), "a")) {
        std::fprintf(file, "%s %.3f %ld\n", name, ms, kb);
        std::fclose(file);
    }
}

} // namespace platform::TimingLog
