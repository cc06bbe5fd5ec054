#include "platform/FileLocation.h"

#include <QList>

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// As the kernel's link-following protection: a link in a sticky folder
// that everyone may write in leads on only for the link's owner, or when
// the folder's owner made the link.
bool mayFollow(int folder, const struct stat &link)
{
    if (link.st_uid == ::geteuid())
        return true;
    struct stat parent {};
    if (::fstat(folder, &parent) != 0)
        return false;
    const bool shared = (parent.st_mode & S_ISVTX) && (parent.st_mode & S_IWOTH);
    return !shared || parent.st_uid == link.st_uid;
}

// The names of `path`, last first: taken from the back as the walk goes.
void pushNames(QList<QByteArray> *pending, const QByteArray &path)
{
    // A path that ends in "/" names a folder.
    if (path.endsWith('/'))
        pending->append(".");
    const QList<QByteArray> names = path.split('/');
    for (qsizetype i = names.size() - 1; i >= 0; --i) {
        if (!names.at(i).isEmpty() && names.at(i) != ".")
            pending->append(names.at(i));
    }
}

QByteArray joined(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

} // namespace

FileLocation::~FileLocation()
{
    if (m_folder >= 0)
        ::close(m_folder);
}

FileLocation::FileLocation(FileLocation &&other) noexcept
{
    *this = std::move(other);
}

FileLocation &FileLocation::operator=(FileLocation &&other) noexcept
{
    if (this != &other) {
        if (m_folder >= 0)
            ::close(m_folder);
        m_folder = other.m_folder;
        other.m_folder = -1;
        m_name = std::move(other.m_name);
        m_walked = std::move(other.m_walked);
        m_error = other.m_error;
        m_refusedLink = std::move(other.m_refusedLink);
        m_failedAt = std::move(other.m_failedAt);
    }
    return *this;
}

FileLocation FileLocation::of(const QByteArray &path)
{
    FileLocation at;
    if (path.isEmpty()) {
        at.m_error = ENOENT;
        return at;
    }
    QByteArray walked = "/";
    if (!path.startsWith('/')) {
        char here[PATH_MAX];
        if (::getcwd(here, sizeof here))
            walked = QByteArray(here);
    }
    int folder = ::open(path.startsWith('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    QList<QByteArray> pending;
    pushNames(&pending, path);
    if (pending.isEmpty())
        pending.append(".");
    int links = 0;
    const auto stop = [&](int error) {
        at.m_error = error;
        at.m_failedAt = walked;
        if (folder >= 0)
            ::close(folder);
        return std::move(at);
    };
    if (folder < 0)
        return stop(errno);
    while (!pending.isEmpty()) {
        const QByteArray name = pending.takeLast();
        const bool last = pending.isEmpty();
        if (name.size() > NAME_MAX)
            return stop(ENAMETOOLONG);
        struct stat st {};
        if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && last) {
                at.m_name = name; // where a new file goes
                break;
            }
            return stop(errno);
        }
        if (S_ISLNK(st.st_mode)) {
            if (++links > 40)
                return stop(ELOOP);
            if (!mayFollow(folder, st)) {
                at.m_refusedLink = joined(walked, name);
                return stop(EACCES);
            }
            QByteArray target(qsizetype(st.st_size > 0 && st.st_size < PATH_MAX ? st.st_size : PATH_MAX), '\0');
            const ssize_t length = ::readlinkat(folder, name.constData(), target.data(), size_t(target.size()));
            if (length <= 0)
                return stop(length == 0 ? ENOENT : errno);
            target.truncate(qsizetype(length));
            if (target.startsWith('/')) {
                ::close(folder);
                folder = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
                walked = "/";
                if (folder < 0)
                    return stop(errno);
            }
            pushNames(&pending, target);
            if (pending.isEmpty())
                pending.append(".");
            continue;
        }
        if (last) {
            at.m_name = name;
            break;
        }
        if (!S_ISDIR(st.st_mode))
            return stop(ENOTDIR);
        const int next = ::openat(folder, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0)
            return stop(errno == ELOOP ? ENOTDIR : errno);
        ::close(folder);
        folder = next;
        if (name == "..") {
            const qsizetype slash = walked.lastIndexOf('/');
            walked = slash > 0 ? walked.left(slash) : QByteArray("/");
        } else {
            walked = joined(walked, name);
        }
    }
    at.m_folder = folder;
    at.m_walked = walked;
    return at;
}

QByteArray FileLocation::folderPath() const
{
    if (m_folder < 0)
        return {};
    char real[PATH_MAX];
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_folder);
    const ssize_t length = ::readlink(self.constData(), real, sizeof real);
    if (length > 0 && real[0] == '/')
        return QByteArray(real, qsizetype(length));
    return m_walked;
}

QByteArray FileLocation::path() const
{
    return m_folder < 0 ? QByteArray() : joined(folderPath(), m_name);
}

QByteArray FileLocation::pathThroughFolder() const
{
    if (m_folder < 0)
        return {};
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_folder);
    return ::access(self.constData(), F_OK) == 0 ? self + '/' + m_name : path();
}

bool FileLocation::status(struct stat *st) const
{
    if (m_folder < 0) {
        errno = m_error ? m_error : ENOENT;
        return false;
    }
    return ::fstatat(m_folder, m_name.constData(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace platform
