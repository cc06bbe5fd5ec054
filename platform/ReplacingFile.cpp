#include "platform/ReplacingFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr qint64 kBufferBytes = 256 * 1024;

// Short whatever the file's own name: ".kantelo-" and eight letters.
QByteArray hiddenName()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name(".kantelo-");
    for (int i = 0; i < 8; ++i)
        name.append(letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))]);
    return name;
}

bool ownedByMe(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && st.st_uid == ::geteuid();
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

ReplacingFile::~ReplacingFile()
{
    discard();
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
    const QString folder = QFileInfo(m_target.isEmpty() ? m_path : m_target).absolutePath();
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
        if (m_step == Step::File)
            return ownedByMe(m_target)
                       ? QStringLiteral("the file is read-only. Make it writable, or save to another file.")
                       : QStringLiteral("you have no permission to change the file. Save to another file.");
        if (m_step == Step::Folder)
            return ownedByMe(folder)
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
    QFileInfo info(m_path);
    int depth = 64;
    while (info.isSymLink() && --depth > 0)
        info.setFile(info.symLinkTarget());
    m_target = info.absoluteFilePath();
    if (depth == 0)
        return fail(Step::File, ELOOP);
    m_folder = QFile::encodeName(info.absolutePath());
    const QByteArray target = QFile::encodeName(m_target);

    struct stat st;
    m_existed = ::stat(target.constData(), &st) == 0;
    if (m_existed) {
        if (S_ISDIR(st.st_mode))
            return fail(Step::File, EISDIR);
        if (!S_ISREG(st.st_mode))
            return fail(Step::File, ENODEV);
        // A read-only file stays as it is, though its folder would let it be replaced.
        if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
            return fail(Step::File, errno);
    } else if (errno != ENOENT) {
        return fail(errno == ENAMETOOLONG ? Step::File : Step::Folder, errno);
    }

    // Private until it takes the old file's mode; a new file is made as any other.
    const mode_t creation = m_existed ? 0600 : 0666;
    m_fd = ::open(m_folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, creation);
    m_unnamed = m_fd >= 0;
    if (m_fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return fail(Step::Folder, errno);
    for (int attempt = 0; m_fd < 0 && attempt < 100; ++attempt) {
        const QByteArray name = hiddenName();
        m_fd = ::open((m_folder + '/' + name).constData(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, creation);
        if (m_fd >= 0)
            m_linkedName = name;
        else if (errno != EEXIST)
            return fail(Step::Folder, errno);
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

void ReplacingFile::keepAttributesOf(const QByteArray &original)
{
    struct stat st;
    if (::stat(original.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        // Gone meanwhile: the new file is the user's own, as any new file.
        return;
    }
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

bool ReplacingFile::commit()
{
    if (!isOpen() || m_fd < 0)
        return false;
    if (!flushBuffer()) {
        discard();
        return false;
    }
    const QByteArray target = QFile::encodeName(m_target);
    keepAttributesOf(target);
    // Whole on the disk before it takes the old file's place.
    if (::fsync(m_fd) != 0 && errno != EINVAL) {
        fail(Step::Write, errno);
        discard();
        return false;
    }
    if (m_unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
        const auto linkAs = [&](const QByteArray &path) {
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) == 0)
                return true;
            // Without /proc, as one who may open any file by its handle.
            return errno == ENOENT && ::linkat(m_fd, "", AT_FDCWD, path.constData(), AT_EMPTY_PATH) == 0;
        };
        // A new file takes its name at once, with nothing to replace.
        if (!m_existed && linkAs(target)) {
            m_unnamed = false;
            ::close(m_fd);
            m_fd = -1;
            QIODevice::close();
            return true;
        }
        for (int attempt = 0; m_unnamed && attempt < 100; ++attempt) {
            const QByteArray name = hiddenName();
            if (linkAs(m_folder + '/' + name)) {
                m_unnamed = false;
                m_linkedName = name;
            } else if (errno != EEXIST) {
                fail(Step::Folder, errno);
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
    if (::rename((m_folder + '/' + m_linkedName).constData(), target.constData()) != 0) {
        fail(Step::Replace, errno);
        discard();
        return false;
    }
    m_linkedName.clear();
    ::close(m_fd);
    m_fd = -1;
    // The rename itself reaches the disk; a folder that can't be synced still has it.
    const int folder = ::open(m_folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    QIODevice::close();
    return true;
}

void ReplacingFile::discard()
{
    if (!m_linkedName.isEmpty()) {
        ::unlink((m_folder + '/' + m_linkedName).constData());
        m_linkedName.clear();
    }
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
