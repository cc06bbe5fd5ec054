#include "stores/FrameArchiveFolder.h"

#include "platform/Log.h"
#include "platform/archive/PropertyList.h"
#include "stores/LibraryItemDictionary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace FrameArchiveFolder {

QStringList itemFiles(const QString &unpackedFolder, const char *folder)
{
    QStringList files;
    const QString path = unpackedFolder + '/' + QString::fromLatin1(folder);
    struct stat st;
    // A folder that is really a link (a hostile archive) is not followed.
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return files;
    const QDir dir(path);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted)) {
        if (name.startsWith('.'))
            continue;
        const QString full = dir.filePath(name);
        if (::lstat(QFile::encodeName(full).constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        files << full;
    }
    return files;
}

std::optional<QVariantMap> readItem(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        platform::logLine(QString("Warning: couldn't read library item %1").arg(path));
        return std::nullopt;
    }
    if (file.size() > kMaxItemFileSize) {
        platform::logLine(QString("Warning: library item %1 is too large").arg(path));
        return std::nullopt;
    }
    QString error;
    const QVariant value = platform::PropertyList::read(file.readAll(), &error);
    if (value.metaType().id() != QMetaType::QVariantMap) {
        platform::logLine(QString("Warning: library item %1 is not a dictionary%2")
                              .arg(path, error.isEmpty() ? QString() : ": " + error));
        return std::nullopt;
    }
    return value.toMap();
}

namespace {

// Places `source` at `target` unless something is there already: a hard link
// then unlink on the same volume, a copy across volumes.
bool moveWithoutReplacing(const QString &source, const QString &target)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(target);
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return true;
    }
    if (errno == EEXIST)
        return false;
    // Different volume, or links not supported: copy (QFile::copy never
    // replaces an existing file).
    if (!QFile::copy(source, target))
        return false;
    QFile::remove(source);
    return true;
}

} // namespace

int moveGraphics(const QString &unpackedFolder, const QString &framesFolder)
{
    int moved = 0;
    for (const QString &path : itemFiles(unpackedFolder, kGraphics)) {
        const QString name = QFileInfo(path).fileName();
        if (!LibraryItemDictionary::isUsableGUID(name))
            continue;
        if (moveWithoutReplacing(path, framesFolder + '/' + name))
            ++moved;
    }
    return moved;
}

QString entryName(const char *folder, const QString &guid)
{
    return QString::fromLatin1(folder) + '/' + guid;
}

} // namespace FrameArchiveFolder
