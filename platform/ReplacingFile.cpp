#include "platform/ReplacingFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QStorageInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr qint64 kBufferBytes = 256 * 1024;

std::atomic<bool> g_unnamedAllowed{true};
thread_local const ReplacingFile::Original *t_original = nullptr;

QMutex g_standInLock;
QHash<QString, QByteArray> &standIns()
{
    static QHash<QString, QByteArray> names;
    return names;
}

QString cleaned(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool ownedByMe(int folder, const char *name)
{
    struct stat st;
    return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_uid == ::geteuid();
}

// The file's attributes that forbid any change, its owner's or root's.
unsigned fileFlags(int folder, const char *name)
{
    const int fd = ::openat(folder, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0)
        flags = 0;
    ::close(fd);
    return unsigned(flags);
}

// The attributes a system keeps about these very contents, false of new ones.
bool describesOldContents(const char *name)
{
    return std::strcmp(name, "security.ima") == 0 || std::strcmp(name, "security.evm") == 0;
}

QByteArray listAttributes(const char *path)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::listxattr(path, nullptr, 0);
        if (size <= 0)
            return {};
        QByteArray names(qsizetype(size), '\0');
        const ssize_t got = ::listxattr(path, names.data(), size_t(names.size()));
        if (got >= 0) {
            names.truncate(qsizetype(got));
            return names;
        }
        if (errno != ERANGE)
            return {};
    }
    return {};
}

} // namespace

ReplacingFile::ReplacingFile(const QString &path)
    : m_path(path)
{
}

ReplacingFile::ReplacingFile(const QByteArray &nativePath)
    : m_path(QFile::decodeName(nativePath))
    , m_native(nativePath)
{
}

ReplacingFile::~ReplacingFile()
{
    discard();
}

void ReplacingFile::replaceOnlyWhatWasRead(const FileIdentity &read)
{
    m_read = read;
}

ReplacingFile::Original::Original(const QString &path, const FileIdentity &read)
    : m_previous(t_original)
    , m_path(cleaned(path))
    , m_read(read)
{
    t_original = this;
}

ReplacingFile::Original::~Original()
{
    t_original = m_previous;
}

void ReplacingFile::standIn(const QString &path, const QByteArray &nativePath)
{
    const QMutexLocker locked(&g_standInLock);
    standIns().insert(cleaned(path), nativePath);
}

void ReplacingFile::withdrawStandIn(const QString &path)
{
    const QMutexLocker locked(&g_standInLock);
    standIns().remove(cleaned(path));
}

void ReplacingFile::allowUnnamedFiles(bool allowed)
{
    g_unnamedAllowed = allowed;
}

bool ReplacingFile::fail(Step step, int errnum)
{
    if (m_errno == 0) {
        m_step = step;
        m_errno = errnum ? errnum : EIO;
        setErrorString(failure());
    }
    return false;
}

QString ReplacingFile::failure() const
{
    if (m_errno == 0)
        return QString();
    const QString folder = m_location.isValid() ? QFile::decodeName(m_location.folderPath())
                                                : QFileInfo(m_target.isEmpty() ? m_path : m_target).absolutePath();
    const int at = m_location.folder();
    const QByteArray name = m_location.name();
    if (m_step == Step::Changed)
        return m_errno == ENOENT
                   ? QStringLiteral("it was moved or deleted after it was read. Nothing was written in its place.")
                   : QStringLiteral("another program replaced or changed it after it was read. The file is left as "
                                    "that program made it.");
    if (m_step == Step::Link)
        return QStringLiteral("it is reached through a symbolic link that another user made in the shared folder "
                              "“%1”, which is not followed. Name the file itself.")
            .arg(QFileInfo(QFile::decodeName(m_refusedLink)).absolutePath());
    switch (m_errno) {
    case ENOSPC:
        return QStringLiteral("the disk is full");
    case EDQUOT:
        return QStringLiteral("your disk quota is used up");
    case EROFS: {
        const QStorageInfo disk(folder);
        return QStringLiteral("the disk it is on (“%1”) is read-only. Save to another disk.")
            .arg(QDir::toNativeSeparators(disk.isValid() ? disk.rootPath() : folder));
    }
    case ENAMETOOLONG:
        return QStringLiteral("its name is too long for the disk");
    case EFBIG:
        return QStringLiteral("the file is too large for the disk");
    case EISDIR:
        return QStringLiteral("it is a folder");
    case ELOOP:
        return QStringLiteral("its symbolic links lead round in a circle");
    case ENODEV:
        if (m_step == Step::File)
            return QStringLiteral("it is not a file but a device, pipe or socket");
        break;
    case ENOENT:
    case ENOTDIR:
        if (m_step == Step::Folder)
            return QStringLiteral("its folder doesn't exist");
        break;
    case EACCES:
    case EPERM:
        if (!m_location.isValid() && m_step == Step::Folder)
            return QStringLiteral("you have no permission to open the folder “%1”").arg(m_target);
        if (m_step == Step::File || m_step == Step::Replace) {
            const unsigned flags = at >= 0 ? fileFlags(at, name.constData()) : 0;
            if (flags & FS_IMMUTABLE_FL)
                return QStringLiteral("the file is marked immutable, so no one may change it. Remove the mark "
                                      "(chattr -i), or save to another file.");
            if (flags & FS_APPEND_FL)
                return QStringLiteral("the file is marked append-only, so no one may replace it. Remove the mark "
                                      "(chattr -a), or save to another file.");
        }
        if (m_step == Step::File) {
            struct stat st {};
            if (at >= 0 && ::fstatat(at, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_uid == ::geteuid()
                && (st.st_mode & 0777) == 0)
                return QStringLiteral("its permissions let no one read or change it. Make it readable and "
                                      "writable, or save to another file.");
            return at >= 0 && ownedByMe(at, name.constData())
                       ? QStringLiteral("the file is read-only. Make it writable, or save to another file.")
                       : QStringLiteral("you have no permission to change the file. Save to another file.");
        }
        if (m_step == Step::Folder)
            return at >= 0 && ownedByMe(at, ".")
                       ? QStringLiteral("its folder is read-only. Choose another folder, or make it writable.")
                       : QStringLiteral("you have no permission to write in its folder. Choose another folder.");
        if (m_step == Step::Replace)
            return QStringLiteral("its folder lets only the file's owner replace it. Save to another file.");
        break;
    default:
        break;
    }
    return QString::fromLocal8Bit(std::strerror(m_errno));
}

bool ReplacingFile::open(OpenMode mode)
{
    if (isOpen() || !(mode & WriteOnly))
        return false;
    m_errno = 0;
    m_step = Step::None;
    m_at = m_end = 0;
    m_buffer.clear();
    QByteArray native = m_native;
    if (native.isEmpty()) {
        const QMutexLocker locked(&g_standInLock);
        native = standIns().value(cleaned(m_path), QFile::encodeName(m_path));
    }
    if (m_read.isNull()) {
        for (const Original *original = t_original; original; original = original->m_previous) {
            if (original->m_path == cleaned(m_path)) {
                m_read = original->m_read;
                break;
            }
        }
    }
    m_location = FileLocation::of(native);
    if (!m_location.isValid()) {
        m_target = QFile::decodeName(m_location.failedAt());
        m_refusedLink = m_location.refusedLinkPath();
        if (m_location.refusedLink())
            return fail(Step::Link, EACCES);
        const int error = m_location.error();
        return fail(error == ELOOP || error == ENAMETOOLONG ? Step::File : Step::Folder, error);
    }
    m_target = QFile::decodeName(m_location.path());
    const int folder = m_location.folder();
    const QByteArray &name = m_location.name();
    TemporaryNames::clearLeftoversIn(folder);

    struct stat st;
    m_existed = m_location.status(&st);
    if (m_existed) {
        if (S_ISDIR(st.st_mode))
            return fail(Step::File, EISDIR);
        if (!S_ISREG(st.st_mode))
            return fail(Step::File, ENODEV);
        // A read-only file stays as it is, though its folder would let it be replaced.
        if (::faccessat(folder, name.constData(), W_OK, AT_EACCESS) != 0)
            return fail(Step::File, errno);
        // Changed already: no use writing the new file.
        if (!m_read.isNull() && !(FileIdentity::of(st) == m_read))
            return fail(Step::Changed, ESTALE);
    } else if (errno != ENOENT) {
        return fail(errno == ENAMETOOLONG ? Step::File : Step::Folder, errno);
    } else if (!m_read.isNull()) {
        return fail(Step::Changed, ENOENT);
    }

    // Private until it takes the old file's mode; a new file is made as any other.
    const mode_t creation = m_existed ? 0600 : 0666;
    m_fd = g_unnamedAllowed ? ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, creation) : -1;
    m_unnamed = m_fd >= 0;
    if (g_unnamedAllowed && m_fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return fail(Step::Folder, errno);
    for (int attempt = 0; m_fd < 0 && attempt < 100; ++attempt) {
        const QByteArray hidden = TemporaryNames::make();
        // Held before it is made: a signal in between finds it all the same.
        m_held.reset(folder, hidden);
        m_fd = ::openat(folder, hidden.constData(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, creation);
        if (m_fd >= 0) {
            m_linkedName = hidden;
        } else {
            m_held.reset();
            if (errno != EEXIST)
                return fail(Step::Folder, errno);
        }
    }
    if (m_fd < 0)
        return fail(Step::Folder, EEXIST);
    return QIODevice::open(mode | Unbuffered);
}

bool ReplacingFile::writeOut(const char *data, qint64 size, qint64 at)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(m_fd, data, size_t(std::min<qint64>(size, qint64(1) << 30)), off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(Step::Write, n < 0 ? errno : ENOSPC);
        data += n;
        size -= n;
        at += n;
    }
    return true;
}

bool ReplacingFile::flushBuffer()
{
    if (m_buffer.isEmpty())
        return m_errno == 0;
    const bool ok = m_errno == 0 && writeOut(m_buffer.constData(), m_buffer.size(), m_bufferAt);
    m_buffer.clear();
    return ok;
}

qint64 ReplacingFile::writeData(const char *data, qint64 size)
{
    if (m_fd < 0 || m_errno)
        return -1;
    const bool follows = m_at == m_bufferAt + m_buffer.size();
    if (!m_buffer.isEmpty() && (!follows || m_buffer.size() + size > kBufferBytes) && !flushBuffer())
        return -1;
    if (size >= kBufferBytes) {
        if (!writeOut(data, size, m_at))
            return -1;
    } else {
        if (m_buffer.isEmpty())
            m_bufferAt = m_at;
        m_buffer.append(data, qsizetype(size));
    }
    m_at += size;
    m_end = std::max(m_end, m_at);
    return size;
}

qint64 ReplacingFile::readData(char *data, qint64 maxSize)
{
    if (m_fd < 0 || !flushBuffer())
        return -1;
    ssize_t n;
    do {
        n = ::pread(m_fd, data, size_t(maxSize), off_t(m_at));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        fail(Step::Write, errno);
        return -1;
    }
    m_at += n;
    return n;
}

bool ReplacingFile::seek(qint64 pos)
{
    if (m_fd < 0 || pos < 0 || !QIODevice::seek(pos))
        return false;
    m_at = pos;
    return true;
}

qint64 ReplacingFile::size() const
{
    return m_end;
}

bool ReplacingFile::flush()
{
    return m_fd >= 0 && flushBuffer();
}

void ReplacingFile::keepAttributesOf()
{
    struct stat st;
    if (!m_location.status(&st) || !S_ISREG(st.st_mode)) {
        // Gone meanwhile: the new file is the user's own, as any new file.
        return;
    }
    const QByteArray original = m_location.pathThroughFolder();
    // As root the owner's; otherwise the group, where the user is one of it.
    if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(m_fd, st.st_uid, st.st_gid) != 0)
        (void)!::fchown(m_fd, uid_t(-1), st.st_gid);
    // After the owner, which clears some of them; before the mode, which
    // sets an access list's mask as the old file's is.
    const QByteArray names = listAttributes(original.constData());
    QByteArray value;
    for (qsizetype at = 0; at < names.size();) {
        const char *name = names.constData() + at;
        at += qsizetype(std::strlen(name)) + 1;
        if (describesOldContents(name))
            continue;
        const ssize_t size = ::getxattr(original.constData(), name, nullptr, 0);
        if (size < 0)
            continue;
        value.resize(qsizetype(size));
        const ssize_t got = ::getxattr(original.constData(), name, value.data(), size_t(value.size()));
        // Kept where the disk and the user's rights allow; none of them is the photo.
        if (got >= 0)
            (void)::fsetxattr(m_fd, name, value.constData(), size_t(got), 0);
    }
    (void)::fchmod(m_fd, st.st_mode & 07777);
}

bool ReplacingFile::stillWhatWasRead(bool *gone) const
{
    struct stat st;
    *gone = !m_location.status(&st);
    return !*gone && FileIdentity::of(st) == m_read;
}

// The new file, under its hidden name, takes the old one's. Where only what
// was read may go, the two trade places and what came out is looked at: not
// what was read, they trade back, and the other program's file stays.
bool ReplacingFile::replaceOld()
{
    const int folder = m_location.folder();
    const char *hidden = m_linkedName.constData();
    const char *name = m_location.name().constData();
    if (!m_existed) {
        // A file another program made there meanwhile is its own.
        if (::renameat2(folder, hidden, folder, name, RENAME_NOREPLACE) == 0)
            return true;
        if (errno == EEXIST)
            return fail(Step::Changed, ESTALE);
        if (errno != EINVAL && errno != ENOSYS)
            return fail(Step::Replace, errno);
    } else if (!m_read.isNull()) {
        bool gone = false;
        if (!stillWhatWasRead(&gone))
            return fail(Step::Changed, gone ? ENOENT : ESTALE);
        // Not removed by a signal while it may hold another program's file.
        m_held.reset();
        if (::renameat2(folder, hidden, folder, name, RENAME_EXCHANGE) == 0) {
            struct stat out;
            if (::fstatat(folder, hidden, &out, AT_SYMLINK_NOFOLLOW) == 0
                && FileIdentity::of(out).sameContentsAs(m_read)) {
                ::unlinkat(folder, hidden, 0);
                return true;
            }
            // Traded back, the hidden name holds the new file again.
            if (::renameat2(folder, hidden, folder, name, RENAME_EXCHANGE) == 0)
                m_held.reset(folder, m_linkedName);
            else
                m_linkedName.clear(); // another program's file: left where it is
            return fail(Step::Changed, ESTALE);
        }
        const int error = errno;
        m_held.reset(folder, m_linkedName);
        if (error != EINVAL && error != ENOSYS)
            return fail(Step::Replace, error);
    }
    // A disk that can't trade names: as close as a plain rename comes.
    bool gone = false;
    if (!m_read.isNull() && !stillWhatWasRead(&gone))
        return fail(Step::Changed, gone ? ENOENT : ESTALE);
    if (::renameat(folder, hidden, folder, name) != 0)
        return fail(Step::Replace, errno);
    return true;
}

bool ReplacingFile::commit()
{
    if (!isOpen() || m_fd < 0)
        return false;
    if (!flushBuffer()) {
        discard();
        return false;
    }
    keepAttributesOf();
    // Whole on the disk before it takes the old file's place.
    if (::fsync(m_fd) != 0 && errno != EINVAL) {
        fail(Step::Write, errno);
        discard();
        return false;
    }
    const int folder = m_location.folder();
    if (m_unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
        const auto linkAs = [&](const QByteArray &name) {
            if (::linkat(AT_FDCWD, self.constData(), folder, name.constData(), AT_SYMLINK_FOLLOW) == 0)
                return true;
            // Without /proc, as one who may open any file by its handle.
            return errno == ENOENT && ::linkat(m_fd, "", folder, name.constData(), AT_EMPTY_PATH) == 0;
        };
        // A new file takes its name at once, with nothing to replace; a file
        // another program made there meanwhile is its own.
        if (!m_existed) {
            if (linkAs(m_location.name())) {
                m_unnamed = false;
                ::close(m_fd);
                m_fd = -1;
                QIODevice::close();
                return true;
            }
            fail(errno == EEXIST ? Step::Changed : Step::Folder, errno == EEXIST ? ESTALE : errno);
            discard();
            return false;
        }
        for (int attempt = 0; m_unnamed && attempt < 100; ++attempt) {
            const QByteArray hidden = TemporaryNames::make();
            m_held.reset(folder, hidden);
            if (linkAs(hidden)) {
                m_unnamed = false;
                m_linkedName = hidden;
                continue;
            }
            const int error = errno;
            m_held.reset();
            if (error != EEXIST) {
                fail(Step::Folder, error);
                discard();
                return false;
            }
        }
        if (m_unnamed) {
            fail(Step::Folder, EEXIST);
            discard();
            return false;
        }
    }
    if (!replaceOld()) {
        discard();
        return false;
    }
    m_held.reset();
    m_linkedName.clear();
    ::close(m_fd);
    m_fd = -1;
    // The rename itself reaches the disk; a folder that can't be synced still has it.
    const int synced = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (synced >= 0) {
        (void)::fsync(synced);
        ::close(synced);
    }
    QIODevice::close();
    return true;
}

void ReplacingFile::discard()
{
    if (!m_linkedName.isEmpty()) {
        ::unlinkat(m_location.folder(), m_linkedName.constData(), 0);
        m_linkedName.clear();
    }
    m_held.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_buffer.clear();
    if (isOpen())
        QIODevice::close();
}

void ReplacingFile::cancelWriting()
{
    discard();
}

void ReplacingFile::close()
{
    // Like a save file, closing is no commit.
    discard();
}

} // namespace platform
