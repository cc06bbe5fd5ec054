#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// The photo's path as the file system has it: bytes, which a QString holds
// only when they are UTF-8. A photo whose path is not is read and written
// through other names: its folder through the folder opened, its own name
// through a second name (a hard link) in a hidden folder of the run's own
// beside it, which takes the photo's name once the framed photo is written
// under it. A run cut short leaves at most that hidden folder; the photo
// itself is whole, as it was or framed.
class PhotoName
{
public:
    enum class Kind { File, Folder, Other, Nothing, Loop };

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

    // The framed photo written under the second name takes the photo's own;
    // false, with the reason, when it can't (the photo is left as it was).
    bool putBack(QString *why);

private:
    void nameAgain(const QByteArray &file);

    QByteArray m_bytes; // the photo's own path, absolute
    QString m_shown;
    QString m_path;
    Kind m_kind = Kind::Nothing;
    QString m_problem;
    int m_folder = -1;       // open when the path is not UTF-8
    QByteArray m_name;       // its own name there
    int m_hidden = -1;       // the hidden folder, while there is one
    QByteArray m_hiddenName; // its name
    QByteArray m_second;     // the second name there, while there is one
};

} // namespace platform
