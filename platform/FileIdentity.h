#pragma once

#include <sys/stat.h>

namespace platform {

// Which file a name held when it was read, and in what state: the same file
// (device and inode) with the same contents (size, modification and change
// times). A program that moves another file over the name, or rewrites the
// file in place, changes it.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1; // -1: nothing was read
    timespec modified{};
    timespec changed{};

    static FileIdentity of(const struct stat &st)
    {
        return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    bool isNull() const { return size < 0; }
    // The same file with the same contents; the change time aside, which a
    // rename or another name given to the file moves on.
    bool sameContentsAs(const FileIdentity &other) const
    {
        return device == other.device && inode == other.inode && size == other.size
               && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
    bool operator==(const FileIdentity &other) const
    {
        return sameContentsAs(other) && changed.tv_sec == other.changed.tv_sec
               && changed.tv_nsec == other.changed.tv_nsec;
    }
};

} // namespace platform
