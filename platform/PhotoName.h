#pragma once

#include "platform/FileLocation.h"
#include "platform/TemporaryNames.h"

#include <QByteArray>
#include <QString>

namespace platform {

// A photo's path as the file system has it: bytes, which a QString holds
// only when they are UTF-8, its symbolic links followed as the kernel would
// (`FileLocation`). A photo whose path is not UTF-8 is read through other
// names: its folder through the folder opened, its own name through a
// second name (a hard link) in a hidden folder of the run's own beside it.
// The framed photo written to the second name replaces the photo under its
// own name (the second name stands in for it, `ReplacingFile::standIn`).
// The hidden folder goes when the PhotoName does, at a TERM, INT or HUP, or
// after a kill at the next run in the folder (`TemporaryNames`).
class PhotoName
{
public:
    enum class Kind {
        File,
        Folder,
        Other,
        Nothing,
        Loop,
        Unreachable, // a folder on the way can't be searched
        SharedLink,  // a link another user left in a shared folder
    };

    explicit PhotoName(const QByteArray &named);
    ~PhotoName();
    PhotoName(const PhotoName &) = delete;
    PhotoName &operator=(const PhotoName &) = delete;

    Kind kind() const { return m_kind; }
    // What the run reads and writes.
    const QString &path() const { return m_path; }
    // What messages name: the photo's own path.
    const QString &shown() const { return m_shown; }
    QString named(QString text) const { return m_path == m_shown ? text : text.replace(m_path, m_shown); }
    // Why the photo could not be named for the run; empty when it could.
    const QString &problem() const { return m_problem; }
    // The file itself, its links followed.
    const FileLocation &location() const { return m_location; }
    // The folder that can't be searched, or the shared folder of the link.
    const QString &blockedAt() const { return m_blockedAt; }

    // The name no longer than a name may be on the disk: a longer one loses
    // the end of its stem, keeping its extension (its type).
    static QString fitted(const QString &name);

private:
    void nameAgain();

    QByteArray m_bytes; // the photo's own path, absolute
    QString m_shown;
    QString m_path;
    Kind m_kind = Kind::Nothing;
    QString m_problem;
    QString m_blockedAt;
    FileLocation m_location;
    int m_hidden = -1;       // the hidden folder, while there is one
    QByteArray m_hiddenName; // its name
    QByteArray m_second;     // the second name there, while there is one
    TemporaryNames::Held m_heldFolder;
    TemporaryNames::Held m_heldSecond;
};

} // namespace platform
