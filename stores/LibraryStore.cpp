#include "stores/LibraryStore.h"

#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/objectstore/UndoManager.h"
#include "stores/AppDelegateServices.h"
#include "stores/Frame.h"
#include "stores/FrameImage.h"
#include "stores/FrameType.h"
#include "stores/LibraryModel.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

#include <atomic>
#include <mutex>

using namespace platform;

namespace {

const char *const kSupportFolderName = "Kantelo";
const char *const kStoreFileName = "KTLibrary.db";
const char *const kGraphicsFolderName = "Frames";
// Another process's first-run import takes seconds; a lock held longer than
// this belongs to a process that hangs.
constexpr int kImportLockWaitMs = 120000;

std::atomic<LibraryStore *> g_shared = nullptr;

QString defaultSupportFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return QDir(base).filePath(kSupportFolderName);
}

} // namespace

LibraryStore::LibraryStore(AppDelegateServices *services, const QString &supportFolder, QObject *parent)
    : QObject(parent), m_services(services), m_supportFolder(supportFolder), m_fixedFolder(!supportFolder.isEmpty())
{
}

LibraryStore::~LibraryStore()
{
    releaseImportLock();
    LibraryStore *self = this;
    g_shared.compare_exchange_strong(self, nullptr);
}

LibraryStore *LibraryStore::shared()
{
    return g_shared.load();
}

ManagedObjectContext *LibraryStore::sharedContext()
{
    LibraryStore *store = g_shared.load();
    return store ? store->managedObjectContext() : nullptr;
}

void LibraryStore::setShared(LibraryStore *store)
{
    g_shared.store(store);
}

bool LibraryStore::moveOldSupportFolder(const QString &oldPath, const QString &newPath)
{
    if (!QFileInfo::exists(oldPath) || QFileInfo::exists(newPath))
        return false;
    if (!QDir().rename(oldPath, newPath)) {
        logLine(QStringLiteral("Couldn't move Kantelo3 to Kantelo in %1: %2")
                    .arg(QFileInfo(newPath).absolutePath(), QStringLiteral("cannot rename %1 to %2").arg(oldPath, newPath)));
        return false;
    }
    return true;
}

QString LibraryStore::applicationSupportFolder()
{
    if (m_fixedFolder)
        return m_supportFolder;
    const QString folder = defaultSupportFolder();
    static std::once_flag once;
    std::call_once(once, [&folder] { moveOldSupportFolder(folder + '3', folder); });
    return folder;
}

QString LibraryStore::framesGraphicsFolder()
{
    return QDir(applicationSupportFolder()).filePath(kGraphicsFolderName);
}

std::shared_ptr<const ManagedObjectModel> LibraryStore::managedObjectModel() const
{
    return LibraryModel::shared();
}

QString LibraryStore::libraryDatabasePath()
{
    return QDir(applicationSupportFolder()).filePath(kStoreFileName);
}

QUrl LibraryStore::libraryDatabaseURL()
{
    return QUrl::fromLocalFile(libraryDatabasePath());
}

QString LibraryStore::moveStoreAside(const QString &path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    if (!QFile::rename(path, target))
        return QString();
    for (const char *suffix : {"-wal", "-shm"}) {
        if (QFileInfo::exists(path + suffix))
            QFile::rename(path + suffix, target + suffix);
    }
    return target;
}

PersistentStore *LibraryStore::persistentStoreCoordinator()
{
    if (m_coordinatorMade)
        return m_store.get();
    m_coordinatorMade = true;

    const QString support = applicationSupportFolder();
    if (!QFileInfo::exists(support))
        QDir().mkpath(support);
    const QString path = libraryDatabasePath();
    const bool imported = UserDefaults::standard().boolForKey(QString::fromLatin1(kImportedInitialFramesKey));

    m_importLock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    m_importLock->setStaleLockTime(0); // only a dead holder's lock is stale
    if (!m_importLock->tryLock(kImportLockWaitMs)) {
        // A folder it may not write to is told by the store's own failure.
        if (m_importLock->error() == QLockFile::LockFailedError)
            logLine(QStringLiteral("Warning: Another Kantelo still sets up the library at %1").arg(path));
        m_importLock.reset();
    }

    Error error;
    m_store = PersistentStore::openSQLite(path, managedObjectModel(), &error);
    if (!m_store) {
        // Reported once; a damaged file is only ever moved aside, never
        // replaced, and only when the user agrees.
        presentError(error);
        if (error.code == StoreDamaged && m_services && m_services->shouldMoveDamagedStoreAside(path, error)) {
            const QString aside = moveStoreAside(path);
            if (aside.isEmpty()) {
                logLine(QStringLiteral("ERROR: Couldn't move the damaged library %1 aside").arg(path));
            } else {
                logLine(QStringLiteral("Warning: The damaged library was moved to %1").arg(aside));
                Error again;
                m_store = PersistentStore::openSQLite(path, managedObjectModel(), &again);
                if (!m_store)
                    presentError(again);
            }
        }
    }

    // The store itself tells whether the built-in frames went into it, so a
    // lost settings file does not import them again over the user's edits,
    // and a new store gets them whatever the settings say.
    bool needImport = false;
    if (m_store && m_importLock && !m_store->metadata().value(kStoreImportedInitialFramesKey).toBool()) {
        if (imported && !m_store->wasCreated())
            m_store->setMetadataValue(true, kStoreImportedInitialFramesKey); // imported before stores kept it
        else
            needImport = true;
    }
    if (!needImport)
        releaseImportLock();
    if (needImport && m_services) {
        m_services->setNeedToImportInitialTemplates(true);
        AppDelegateServices *services = m_services;
        QMetaObject::invokeMethod(this, [services] { services->importInitialFrames(); }, Qt::QueuedConnection);
    }
    return m_store.get();
}

ManagedObjectContext *LibraryStore::managedObjectContext()
{
    if (m_context)
        return m_context.get();
    PersistentStore *store = persistentStoreCoordinator();
    auto context = std::make_unique<ManagedObjectContext>(managedObjectModel());
    context->setUserInfoValue(QString::fromLatin1(FrameImage::kImagesFolderKey), framesGraphicsFolder());
    if (store) {
        Error error;
        if (!context->attachStore(m_store, &error))
            presentError(error);
    }
    context->setUndoManager(new UndoManager(context.get()));

    // Without a store (reported already) nothing is seeded: every save of
    // the seed would fail and be reported again, at quit too.
    const QList<FrameType *> types = context->fetchObjects<FrameType>();
    if (types.isEmpty() && store) {
        // Seeded without undo: the user did not make these.
        UndoManager *undo = context->undoManager();
        undo->disableUndoRegistration();
        for (auto it = Frame::frameTypeTable().constBegin(); it != Frame::frameTypeTable().constEnd(); ++it)
            FrameType::insertInManagedObjectContext(context.get())->setName(it.key());
        undo->enableUndoRegistration();
    }
    m_context = std::move(context);
    return m_context.get();
}

QVariant LibraryStore::valueForLibraryMetadataKey(const QString &key)
{
    Error error;
    const auto metadata = PersistentStore::metadataForStoreAtPath(libraryDatabasePath(), &error);
    if (!metadata) {
        presentError(error);
        return QVariant();
    }
    return metadata->value(key);
}

void LibraryStore::setValueForLibraryMetadataKey(const QVariant &value, const QString &key)
{
    Error error;
    const QString path = libraryDatabasePath();
    if (!PersistentStore::metadataForStoreAtPath(path, &error)) {
        presentError(error);
        return;
    }
    if (!PersistentStore::setMetadataValueForStoreAtPath(value, key, path, &error))
        presentError(error);
}

bool LibraryStore::recordInitialFramesImported(Error *error)
{
    ManagedObjectContext *context = managedObjectContext();
    Error failure;
    if (!context->save(&failure)) {
        if (error)
            *error = failure;
        return false;
    }
    if (m_store && !m_store->setMetadataValue(true, kStoreImportedInitialFramesKey, &failure)) {
        if (error)
            *error = failure;
        return false;
    }
    UserDefaults::standard().setBool(QString::fromLatin1(kImportedInitialFramesKey), true);
    return true;
}

void LibraryStore::releaseImportLock()
{
    if (m_importLock) {
        m_importLock->unlock();
        m_importLock.reset();
    }
}
