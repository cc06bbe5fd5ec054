#pragma once

#include "platform/FileIdentity.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace platform {

// A file's bytes, read into memory of the caller's own. Pictures are read
// so, never mapped: a mapped file that another program shortens while it is
// decoded (a sync tool, a copy still being written) ends this one with a bus
// error, where a read one gives a file that ends too soon, which is an error.
class FileBytes
{
public:
    // The whole file, or its first `atMost` bytes (at least 0). An error
    // when it can't be opened or read, or when it ends before the size it had
    // when it was opened (it was cut short while it was read).
    // `read`, when given, gets which file was read, as it was when opened.
    static Result<QByteArray> read(const QString &path, qint64 atMost = -1, FileIdentity *read = nullptr);
    static constexpr const char *kCutShort = "the file became shorter while it was read";
    static constexpr int kCutShortCode = 2; // the error's code then

    // Called on the reading thread once a file is open and its size taken,
    // before its bytes are read; tests change the file there. Empty for none.
    static void setOpenedHook(std::function<void(const QString &path)> hook);
};

} // namespace platform
