#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace platform {

// A file or a folder of files held in memory, read at once and completely,
// written in one piece: the form in which folder documents (template
// packages) are built and read.
//
// Reading is for untrusted folders: symbolic links and special files are
// left out, and a folder deeper, larger or with more entries than the limits
// below is refused with an error. Writing refuses entry names that are not
// one safe path component.
class FileWrapper
{
public:
    enum class Kind { RegularFile, Directory };

    static constexpr int kMaxDepth = 16;
    static constexpr qsizetype kMaxEntries = 10000;
    static constexpr qint64 kMaxTotalBytes = qint64(1) << 30;

    static FileWrapper regularFile(const QByteArray &contents);
    static FileWrapper directory();

    Kind kind() const { return m_kind; }
    bool isRegularFile() const { return m_kind == Kind::RegularFile; }
    bool isDirectory() const { return m_kind == Kind::Directory; }
    const QByteArray &regularFileContents() const { return m_contents; }

    // Folder entries in the order they were added; adding a name again
    // replaces that entry.
    void addFileWrapper(const QString &name, const FileWrapper &wrapper);
    void addRegularFile(const QString &name, const QByteArray &contents);
    const FileWrapper *entry(const QString &name) const;
    QStringList entryNames() const;

    static std::optional<FileWrapper> readFromPath(const QString &path, Error *error = nullptr);
    // Atomically: the whole item is written beside the destination and then
    // takes its place, so a failure leaves an existing item as it was.
    bool writeToPath(const QString &path, Error *error = nullptr) const;

private:
    Kind m_kind = Kind::RegularFile;
    QByteArray m_contents;
    std::vector<std::pair<QString, std::shared_ptr<FileWrapper>>> m_entries;
};

} // namespace platform
