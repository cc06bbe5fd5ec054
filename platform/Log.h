#pragma once

#include <QString>

#include <functional>

namespace platform {

// One diagnostic line ("ERROR: ...", "Warning: ..."), to stderr. Tests can
// capture lines with a sink.
void logLine(const QString &line);
// The line as stderr shows it: one that begins with neither "ERROR: " nor
// "Warning: " is a warning.
QString diagnosticLine(const QString &line);
using LogSink = std::function<void(const QString &)>;
void setLogSink(LogSink sink); // null restores stderr

} // namespace platform
