#include "platform/Log.h"

#include "platform/GlobalHook.h"

#include <cstdio>

namespace platform {

namespace {
// Lines are written under the hook's lock, so they never interleave.
GlobalHook<void(const QString &)> &sinkHook()
{
    static GlobalHook<void(const QString &)> hook;
    return hook;
}
} // namespace

void logLine(const QString &line)
{
    sinkHook().withLocked([&line](const LogSink &sink) {
        if (sink) {
            sink(line);
            return;
        }
        const QByteArray bytes = diagnosticLine(line).toLocal8Bit();
        std::fprintf(stderr, "%s\n", bytes.constData());
        std::fflush(stderr);
    });
}

QString diagnosticLine(const QString &line)
{
    if (line.startsWith(QLatin1String("ERROR: ")) || line.startsWith(QLatin1String("Warning: ")))
        return line;
    return QStringLiteral("Warning: ") + line;
}

void setLogSink(LogSink sink)
{
    sinkHook().set(std::move(sink));
}

} // namespace platform
