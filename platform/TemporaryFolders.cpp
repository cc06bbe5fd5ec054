#include "platform/TemporaryFolders.h"

#include "platform/Error.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::TemporaryFolders {

namespace {

const QLatin1String kRunPrefix("run-");
const QLatin1String kLockSuffix(".lock");

struct Run {
    std::mutex mutex;
    QString folder;                  // this run's folder, once made
    std::unique_ptr<QLockFile> lock; // held while the run lasts
    bool cleanupRegistered = false;
};

Run &run()
{
    static Run state;
    return state;
}

QString systemError(const QString &path)
{
    return QStringLiteral("“%1” can't be used for temporary files: %2")
        .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno)));
}

// A folder only this user can enter: made 0700, or found as a real folder
// (no link) that this user owns, its mode then narrowed to 0700.
bool makePrivateFolder(const QString &path, QString *why)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        *why = systemError(path);
        return false;
    }
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0) {
        *why = systemError(path);
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
        *why = QStringLiteral("“%1” belongs to someone else.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if ((info.st_mode & 0777) != 0700 && ::chmod(native.constData(), 0700) != 0) {
        *why = systemError(path);
        return false;
    }
    return true;
}

QString userRoot()
{
    return QDir(QDir::tempPath()).filePath(QStringLiteral("kantelo-%1").arg(::getuid()));
}

QString randomName()
{
    return QString::number(QRandomGenerator::global()->generate64(), 36);
}

void removeAtExit()
{
    removeRunFolder();
}

} // namespace

QString rootPath()
{
    return userRoot();
}

QString makeFolder(Error *error)
{
    Run &state = run();
    std::lock_guard guard(state.mutex);
    QString why;
    // Checked each time: a folder opened to others since is closed again.
    const QString root = userRoot();
    if (!makePrivateFolder(root, &why)) {
        setError(error, why);
        return {};
    }
    if (state.folder.isEmpty()) {
        // The lock comes first: a sweep never takes a folder whose run is alive.
        for (int attempt = 0; attempt < 8 && state.folder.isEmpty(); ++attempt) {
            const QString folder = QDir(root).filePath(kRunPrefix + randomName());
            auto lock = std::make_unique<QLockFile>(folder + kLockSuffix);
            lock->setStaleLockTime(0); // a live run's lock never grows stale
            if (!lock->tryLock(0))
                continue;
            if (!makePrivateFolder(folder, &why) || !QDir(folder).isEmpty()) {
                lock->unlock();
                continue;
            }
            state.folder = folder;
            state.lock = std::move(lock);
        }
        if (state.folder.isEmpty()) {
            setError(error, why.isEmpty() ? systemError(root) : why);
            return {};
        }
        if (!state.cleanupRegistered) {
            state.cleanupRegistered = true;
            qAddPostRoutine(removeAtExit);
        }
    }
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString folder = QDir(state.folder).filePath(randomName());
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) == 0)
            return folder;
        if (errno != EEXIST)
            break;
    }
    setError(error, systemError(state.folder));
    return {};
}

void removeRunFolder()
{
    Run &state = run();
    std::lock_guard guard(state.mutex);
    if (state.folder.isEmpty())
        return;
    QDir(state.folder).removeRecursively();
    state.lock->unlock();
    state.lock.reset();
    state.folder.clear();
}

void removeStaleFolders()
{
    const QString root = userRoot();
    QString why;
    // Nothing of ours can be in a folder that is not ours.
    if (!QFileInfo::exists(root) || !makePrivateFolder(root, &why))
        return;
    const QDir dir(root);
    QStringList names = dir.entryList({kRunPrefix + QLatin1Char('*')},
                                      QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    for (QString &name : names) {
        if (name.endsWith(kLockSuffix))
            name.chop(kLockSuffix.size());
    }
    names.removeDuplicates();
    for (const QString &name : std::as_const(names)) {
        QLockFile lock(dir.filePath(name + kLockSuffix));
        lock.setStaleLockTime(0);
        // Taken only when its run has ended (or there never was one).
        if (!lock.tryLock(0))
            continue;
        if (!QDir(dir.filePath(name)).removeRecursively())
            logLine(QStringLiteral("Warning: the temporary folder %1 could not be removed").arg(dir.filePath(name)));
        lock.unlock();
    }
}

} // namespace platform::TemporaryFolders
