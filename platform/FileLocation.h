#pragma once

#include <QByteArray>

#include <sys/stat.h>

namespace platform {

// Where a path leads once its symbolic links are followed: the folder that
// holds the file, open, and the file's name in it, as bytes (a name need not
// be UTF-8). The path is walked a name at a time, each folder opened from
// the one before, and a link is followed as the kernel's protection of
// shared folders has it whether or not the system turns it on: a link in a
// sticky folder everyone may write in (/tmp) is followed only when it is
// the follower's own or the folder owner's, so a link another user left
// there can't send a write to a file of the follower's.
class FileLocation
{
public:
    FileLocation() = default;
    ~FileLocation();
    FileLocation(FileLocation &&other) noexcept;
    FileLocation &operator=(FileLocation &&other) noexcept;
    FileLocation(const FileLocation &) = delete;
    FileLocation &operator=(const FileLocation &) = delete;

    // A relative path starts from the working folder. The last name need
    // not exist: it is where a new file would go.
    static FileLocation of(const QByteArray &path);

    bool isValid() const { return m_folder >= 0; }
    // Why not: ENOENT or ENOTDIR (a folder on the way is missing), EACCES (a
    // folder on the way can't be searched, or the link was not followed),
    // ELOOP, ENAMETOOLONG.
    int error() const { return m_error; }
    // The link not followed, in its shared folder, when that was why.
    bool refusedLink() const { return !m_refusedLink.isEmpty(); }
    const QByteArray &refusedLinkPath() const { return m_refusedLink; }
    // Where the walk stopped when it failed: the folder it looked in.
    const QByteArray &failedAt() const { return m_failedAt; }

    // The folder, open for *at calls only (O_PATH).
    int folder() const { return m_folder; }
    const QByteArray &name() const { return m_name; }
    // The folder's path as the system names it now.
    QByteArray folderPath() const;
    QByteArray path() const;
    // A path that reaches the file through the open folder, wherever the
    // folder moved since: for calls that take no folder.
    QByteArray pathThroughFolder() const;
    // The file's own status, the last name not followed; false when it is
    // not there (errno set).
    bool status(struct stat *st) const;

private:
    int m_folder = -1;
    QByteArray m_name;
    QByteArray m_walked; // the folder's path as the walk spelled it
    int m_error = 0;
    QByteArray m_refusedLink;
    QByteArray m_failedAt;
};

} // namespace platform
