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

namespace {

std::optional<QVariantMap> readItemFile(const QString &path, bool quiet)
{
    auto warn = [&](const QString &line) {
        if (!quiet)
            platform::logLine(line);
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        warn(QString("Warning: couldn't read library item %1").arg(path));
        return std::nullopt;
    }
    if (file.size() > kMaxItemFileSize) {
        warn(QString("Warning: library item %1 is too large").arg(path));
        return std::nullopt;
    }
    platform::Error error;
    const QVariant value = platform::PropertyList::read(file.readAll(), &error);
    if (value.metaType().id() != QMetaType::QVariantMap) {
        warn(QString("Warning: library item %1 is not a dictionary%2")
                 .arg(path, error.description.isEmpty() ? QString() : ": " + error.description));
        return std::nullopt;
    }
    return value.toMap();
}

// Files the library writes itself get 0666 less the process's umask.
mode_t libraryFileMode()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(0666 & ~mask);
            }
        }
    }
    return 0644;
}

} // namespace

std::optional<QVariantMap> readItem(const QString &path)
{
    return readItemFile(path, false);
}

QSet<QString> referencedGraphics(const QString &unpackedFolder)
{
    QSet<QString> images;
    for (const QString &path : itemFiles(unpackedFolder, kImages))
        images.insert(QFileInfo(path).fileName());
    QSet<QString> referenced;
    auto take = [&](const QVariant &value) {
        if (value.typeId() == QMetaType::QString && images.contains(value.toString()))
            referenced.insert(value.toString());
    };
    // The items are read again when they are applied; only then are they logged.
    for (const char *folder : {kCollections, kSets}) {
        for (const QString &path : itemFiles(unpackedFolder, folder))
            if (const auto item = readItemFile(path, true))
                take(item->value(QString::fromLatin1(LibraryItemDictionary::kIconGUID)));
    }
    for (const QString &path : itemFiles(unpackedFolder, kFrames)) {
        if (const auto item = readItemFile(path, true)) {
            const QVariantMap attributes = item->value(QString::fromLatin1(LibraryItemDictionary::kAttributes)).toMap();
            for (const QVariant &value : attributes)
                take(value);
        }
    }
    return referenced;
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
    const QSet<QString> referenced = referencedGraphics(unpackedFolder);
    const mode_t mode = libraryFileMode();
    int moved = 0;
    for (const QString &path : itemFiles(unpackedFolder, kGraphics)) {
        const QString name = QFileInfo(path).fileName();
        if (!LibraryItemDictionary::isUsableGUID(name) || !referenced.contains(name))
            continue;
        // The archive's permission bits are not the library's.
        ::chmod(QFile::encodeName(path).constData(), mode);
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
