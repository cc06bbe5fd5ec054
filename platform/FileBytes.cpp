#include "platform/FileBytes.h"

#include "platform/GlobalHook.h"

#include <QFile>

#include <cstdint>
#include <new>

#include <sys/mman.h>
#include <sys/stat.h>

namespace platform {

namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
constexpr qint64 kLargeRead = qint64(16) << 20;

GlobalHook<void(const QString &)> &openedHook()
{
    static GlobalHook<void(const QString &)> hook;
    return hook;
}

} // namespace

void FileBytes::setOpenedHook(std::function<void(const QString &path)> hook)
{
    openedHook().set(std::move(hook));
}

Result<QByteArray> FileBytes::read(const QString &path, qint64 atMost, FileIdentity *read)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return describedError(file.errorString());
    const qint64 size = file.size();
    struct stat st {};
    if (read)
        *read = ::fstat(file.handle(), &st) == 0 ? FileIdentity::of(st) : FileIdentity();
    if (const auto hook = openedHook().get())
        hook(path);
    // A file that tells no size (a pipe, a file of /proc) is read to its end.
    if (size <= 0)
        return atMost < 0 ? file.readAll() : file.read(atMost);
    const qint64 wanted = atMost < 0 ? size : std::min(size, atMost);
    QByteArray data;
    try {
        data.resize(qsizetype(wanted));
    } catch (const std::bad_alloc &) {
        return describedError(QStringLiteral("there is not enough memory to read the file"));
    }
#ifdef MADV_HUGEPAGE
    // Fresh memory is dear to fault in a page at a time: a large file is
    // read into huge pages where the system has them.
    if (wanted >= kLargeRead) {
        const auto from = (reinterpret_cast<std::uintptr_t>(data.data()) + kHugePage - 1) & ~(kHugePage - 1);
        const auto to = (reinterpret_cast<std::uintptr_t>(data.data()) + std::uintptr_t(wanted)) & ~(kHugePage - 1);
        if (to > from)
            madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
    }
#endif
    qint64 got = 0;
    while (got < wanted) {
        const qint64 n = file.read(data.data() + got, wanted - got);
        if (n < 0)
            return describedError(file.errorString());
        if (n == 0)
            return describedError(QString::fromLatin1(kCutShort), kCutShortCode);
        got += n;
    }
    return data;
}

} // namespace platform
