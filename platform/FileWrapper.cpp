#include "platform/FileWrapper.h"

#include "platform/ReplacingFile.h"
#include "platform/TypeTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>
#include <climits>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

Error fileError(const QString &description)
{
    Error e;
    e.domain = QString::fromLatin1(kKanteloErrorDomain);
    e.code = 1;
    e.description = description;
    return e;
}

struct ReadBudget {
    qsizetype entries = 0;
    qint64 bytes = 0;
};

std::optional<FileWrapper> readItem(const QString &path, int depth, ReadBudget &budget, Error *error)
{
    const QFileInfo info(path);
    const auto fail = [&](const QString &text) -> std::optional<FileWrapper> {
        if (error)
            *error = fileError(text);
        return std::nullopt;
    };
    if (++budget.entries > FileWrapper::kMaxEntries)
        return fail(QStringLiteral("The folder \"%1\" holds too many items.").arg(path));
    if (info.isSymLink())
        return fail(QStringLiteral("\"%1\" is a symbolic link.").arg(path));
    if (info.isDir()) {
        if (depth >= FileWrapper::kMaxDepth)
            return fail(QStringLiteral("The folder \"%1\" is nested too deeply.").arg(path));
        FileWrapper folder = FileWrapper::directory();
        const QFileInfoList children = QDir(path).entryInfoList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &child : children) {
            // Links and special files are no part of a package.
            if (child.isSymLink() || (!child.isDir() && !child.isFile()))
                continue;
            std::optional<FileWrapper> item = readItem(child.filePath(), depth + 1, budget, error);
            if (!item)
                return std::nullopt;
            folder.addFileWrapper(child.fileName(), *item);
        }
        return folder;
    }
    if (!info.isFile())
        return fail(QStringLiteral("\"%1\" is neither a file nor a folder.").arg(path));
    budget.bytes += info.size();
    if (budget.bytes > FileWrapper::kMaxTotalBytes)
        return fail(QStringLiteral("\"%1\" is too large to read.").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("The file \"%1\" couldn't be read: %2").arg(path, file.errorString()));
    const QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("The file \"%1\" couldn't be read: %2").arg(path, file.errorString()));
    return FileWrapper::regularFile(contents);
}

bool writeItem(const FileWrapper &item, const QString &path, Error *error)
{
    if (item.isRegularFile()) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(item.regularFileContents()) != item.regularFileContents().size()
            || !file.flush()) {
            if (error)
                *error = fileError(QStringLiteral("The file \"%1\" couldn't be written: %2").arg(path, file.errorString()));
            return false;
        }
        return true;
    }
    if (!QDir().mkpath(path)) {
        if (error)
            *error = fileError(QStringLiteral("The folder \"%1\" couldn't be made.").arg(path));
        return false;
    }
    for (const QString &name : item.entryNames()) {
        if (!writeItem(*item.entry(name), path + QLatin1Char('/') + name, error))
            return false;
    }
    return true;
}

bool namesAreSafe(const FileWrapper &item)
{
    for (const QString &name : item.entryNames()) {
        if (!isSafeFileName(name) || !namesAreSafe(*item.entry(name)))
            return false;
    }
    return true;
}

// The item's name as the hidden names beside it carry it, cut where they
// would pass the longest name a folder holds: a dot each side, and a
// process id and six letters or "old." and six.
QString hiddenStem(const QString &fileName)
{
    constexpr qsizetype kRoom = NAME_MAX - 20;
    QString stem = fileName;
    while (QFile::encodeName(stem).size() > kRoom)
        stem.chop(stem.size() > 1 && stem.back().isLowSurrogate() ? 2 : 1);
    return stem;
}

QString stagingPrefix(const QString &fileName)
{
    return QStringLiteral(".") + hiddenStem(fileName) + QStringLiteral(".");
}

// A save killed midway leaves its staging folder beside the item. Only ours
// go: a real folder of this user, named for this item by a process that no
// longer runs. (The old item set aside during a replace is left alone: a
// kill between the two renames leaves it the only copy.)
void removeStaleStagingFolders(const QString &parent, const QString &fileName)
{
    static const QRegularExpression suffix(QStringLiteral("^([0-9]+)-[A-Za-z0-9]{6}$"));
    const QString prefix = stagingPrefix(fileName);
    const QDir folder(parent);
    for (const QString &name : folder.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        if (!name.startsWith(prefix))
            continue;
        const QRegularExpressionMatch match = suffix.match(name.mid(prefix.size()));
        if (!match.hasMatch())
            continue;
        const QString path = folder.filePath(name);
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            continue;
        bool ok = false;
        const qint64 pid = match.captured(1).toLongLong(&ok);
        if (!ok || pid <= 0 || ::kill(pid_t(pid), 0) == 0 || errno == EPERM)
            continue;
        QDir(path).removeRecursively();
    }
}

} // namespace

FileWrapper FileWrapper::regularFile(const QByteArray &contents)
{
    FileWrapper w;
    w.m_kind = Kind::RegularFile;
    w.m_contents = contents;
    return w;
}

FileWrapper FileWrapper::directory()
{
    FileWrapper w;
    w.m_kind = Kind::Directory;
    return w;
}

void FileWrapper::addFileWrapper(const QString &name, const FileWrapper &wrapper)
{
    auto item = std::make_shared<FileWrapper>(wrapper);
    for (auto &entry : m_entries) {
        if (entry.first == name) {
            entry.second = std::move(item);
            return;
        }
    }
    m_entries.emplace_back(name, std::move(item));
}

void FileWrapper::addRegularFile(const QString &name, const QByteArray &contents)
{
    addFileWrapper(name, regularFile(contents));
}

const FileWrapper *FileWrapper::entry(const QString &name) const
{
    for (const auto &entry : m_entries) {
        if (entry.first == name)
            return entry.second.get();
    }
    return nullptr;
}

QStringList FileWrapper::entryNames() const
{
    QStringList names;
    for (const auto &entry : m_entries)
        names.append(entry.first);
    return names;
}

std::optional<FileWrapper> FileWrapper::readFromPath(const QString &path, Error *error)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        if (error)
            *error = fileError(QStringLiteral("The file \"%1\" doesn't exist.").arg(path));
        return std::nullopt;
    }
    ReadBudget budget;
    return readItem(path, 0, budget, error);
}

bool FileWrapper::writeToPath(const QString &path, Error *error) const
{
    if (!namesAreSafe(*this)) {
        if (error)
            *error = fileError(QStringLiteral("\"%1\" would hold an item with an unsafe name.").arg(path));
        return false;
    }
    const QFileInfo target(path);
    if (isRegularFile()) {
        if (target.isDir()) {
            if (error)
                *error = fileError(QStringLiteral("\"%1\" is a folder.").arg(path));
            return false;
        }
        ReplacingFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(m_contents) != m_contents.size() || !file.flush()
            || !file.commit()) {
            if (error)
                *error = fileError(QStringLiteral("The file \"%1\" couldn't be written: %2").arg(path, file.errorString()));
            return false;
        }
        return true;
    }

    const QString parent = target.absolutePath();
    removeStaleStagingFolders(parent, target.fileName());
    // Named after this process, so that a later save can tell a staging
    // folder a killed save left from one still being written.
    QTemporaryDir staging(QStringLiteral("%1/%2%3-XXXXXX")
                              .arg(parent, stagingPrefix(target.fileName()))
                              .arg(QCoreApplication::applicationPid()));
    if (!staging.isValid()) {
        if (error)
            *error = fileError(QStringLiteral("The folder \"%1\" couldn't be written: %2").arg(path, staging.errorString()));
        return false;
    }
    if (!writeItem(*this, staging.path(), error))
        return false;
    // A staging folder is private; the package gets a folder's usual rights.
    QFile::setPermissions(staging.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                              | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                              | QFileDevice::ReadOther | QFileDevice::ExeOther);

    // The old item steps aside until the new one is in place.
    QString aside;
    if (target.exists() || target.isSymLink()) {
        QTemporaryDir asideDir(parent + QStringLiteral("/.") + hiddenStem(target.fileName())
                               + QStringLiteral(".old.XXXXXX"));
        if (!asideDir.isValid()) {
            if (error)
                *error = fileError(QStringLiteral("\"%1\" couldn't be replaced.").arg(path));
            return false;
        }
        asideDir.setAutoRemove(false);
        aside = asideDir.path() + QStringLiteral("/old");
        if (!QDir().rename(target.absoluteFilePath(), aside)) {
            QDir(asideDir.path()).removeRecursively();
            if (error)
                *error = fileError(QStringLiteral("\"%1\" couldn't be replaced.").arg(path));
            return false;
        }
    }
    if (!QDir().rename(staging.path(), target.absoluteFilePath())) {
        if (!aside.isEmpty()) {
            QDir().rename(aside, target.absoluteFilePath());
            QDir(QFileInfo(aside).absolutePath()).removeRecursively();
        }
        if (error)
            *error = fileError(QStringLiteral("\"%1\" couldn't be written.").arg(path));
        return false;
    }
    staging.setAutoRemove(false);
    if (!aside.isEmpty())
        QDir(QFileInfo(aside).absolutePath()).removeRecursively();
    return true;
}

} // namespace platform
