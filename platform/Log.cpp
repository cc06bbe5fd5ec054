#include "platform/Log.h"

#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

namespace platform {

namespace {
QMutex &logMutex()
{
    static QMutex mutex;
    return mutex;
}
LogSink &currentSink()
{
    static LogSink sink;
    return sink;
}
} // namespace

void logLine(const QString &line)
{
    QMutexLocker lock(&logMutex());
    if (currentSink()) {
        currentSink()(line);
        return;
    }
    const QByteArray bytes = line.toLocal8Bit();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

void setLogSink(LogSink sink)
{
    QMutexLocker lock(&logMutex());
    currentSink() = std::move(sink);
}

} // namespace platform
