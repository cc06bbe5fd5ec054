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
    static std::mutex lock;
    const std::lock_guard<std::mutex> guard(lock);
    if (FILE *file = std::fopen(logPath().constData(), "a")) {
        std::fprintf(file, "%s %.3f\n", name, ms);
        std::fclose(file);
    }
}

} // namespace platform::TimingLog
