#include "stores/KTFrameLibraryImporter.h"

#include "kit/VLWAnalytics.h"
#include "kit/ZCZipArchive.h"
#include "platform/Bundle.h"
#include "platform/Assert.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/ThreadPools.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "stores/Frame.h"
#include "stores/FrameArchiveFolder.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/LibraryItemDictionary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>

struct KTFrameLibraryImporter::Run {
    std::unique_ptr<QTemporaryDir> temporaryFolder;
    std::unique_ptr<platform::ManagedObjectContext> child;
};

namespace {

constexpr const char *kImportFolderPrefix = ".ktframes-import-";

platform::Error importerError(const QString &description)
{
    platform::Error e;
    e.domain = KTFrameLibraryImporter::kErrorDomain;
    e.code = -1;
    e.description = description;
    return e;
}

// What an item holds as an archive carries it, a frame with its icon: an
// item the library had already was updated when this differs after the import.
QVariantMap contentOf(const LibraryItem *item)
{
    if (const auto *frame = dynamic_cast<const Frame *>(item)) {
        QVariantMap content = LibraryItemDictionary::asDictionary(*frame);
        content.insert(QStringLiteral("icon"), frame->iconImageData());
        return content;
    }
    if (const auto *set = dynamic_cast<const FrameSet *>(item))
        return LibraryItemDictionary::asDictionary(*set);
    if (const auto *collection = dynamic_cast<const FrameCollection *>(item))
        return LibraryItemDictionary::asDictionary(*collection);
    return {};
}

// Applies each item file of one kind; `record` hears of every item that
// resulted, whether the import inserted it, and whether its content changed.
template <class Item> void applyItemFiles(const QStringList &files, platform::ManagedObjectContext *moc,
                                          Item *(*find)(const QString &, platform::ManagedObjectContext *),
                                          Item *(*apply)(const QVariantMap &, platform::ManagedObjectContext *),
                                          const std::function<void(Item *, bool inserted, bool changed)> &record,
                                          const std::function<void()> &progress)
{
    for (const QString &path : files) {
        const QVariantMap dictionary = FrameArchiveFolder::readItem(path).value_or(QVariantMap());
        const std::optional<QString> guid = LibraryItemDictionary::guidForKey(dictionary, LibraryItemDictionary::kGUID);
        const QVariantMap before = contentOf(guid ? find(*guid, moc) : nullptr);
        if (Item *item = apply(dictionary, moc))
            record(item, item->isInserted(), !item->isInserted() && contentOf(item) != before);
        progress();
    }
}

} // namespace

KTFrameLibraryImporter::KTFrameLibraryImporter(const QUrl &url, const QUrl &framesFolder,
                                               platform::ManagedObjectContext *targetMOC)
    : m_url(url)
    , m_framesFolder(framesFolder)
    , m_targetMOC(targetMOC)
{
}

KTFrameLibraryImporter::~KTFrameLibraryImporter() = default;

void KTFrameLibraryImporter::setDelegate(KTFrameLibraryImporterDelegate *delegate)
{
    QMutexLocker lock(&m_mutex);
    m_delegate = delegate;
    m_delegateLiveness = delegate ? std::weak_ptr<char>(delegate->m_liveness) : std::weak_ptr<char>();
}

KTFrameLibraryImporterDelegate *KTFrameLibraryImporter::delegate() const
{
    QMutexLocker lock(&m_mutex);
    return m_delegateLiveness.expired() ? nullptr : m_delegate;
}

QList<platform::ObjectID> KTFrameLibraryImporter::importedCollectionIDs() const
{
    QMutexLocker lock(&m_mutex);
    return m_collectionIDs;
}

QList<platform::ObjectID> KTFrameLibraryImporter::importedSetIDs() const
{
    QMutexLocker lock(&m_mutex);
    return m_setIDs;
}

QList<platform::ObjectID> KTFrameLibraryImporter::importedFrameIDs() const
{
    QMutexLocker lock(&m_mutex);
    return m_framesIDs;
}

QList<platform::ObjectID> KTFrameLibraryImporter::updatedCollectionIDs() const
{
    QMutexLocker lock(&m_mutex);
    return m_updatedCollectionIDs;
}

QList<platform::ObjectID> KTFrameLibraryImporter::updatedSetIDs() const
{
    QMutexLocker lock(&m_mutex);
    return m_updatedSetIDs;
}

QList<platform::ObjectID> KTFrameLibraryImporter::updatedFrameIDs() const
{
    QMutexLocker lock(&m_mutex);
    return m_updatedFrameIDs;
}

qint64 KTFrameLibraryImporter::itemsInArchive() const
{
    QMutexLocker lock(&m_mutex);
    return m_itemsInArchive;
}

// Every delegate call goes to the main thread, and only reaches a delegate
// that still exists when it gets there.
static void toDelegate(const std::shared_ptr<KTFrameLibraryImporter> &self,
                       std::function<void(KTFrameLibraryImporterDelegate *)> call)
{
    platform::runOnMainThread([self, call = std::move(call)] {
        if (KTFrameLibraryImporterDelegate *d = self->delegate())
            call(d);
    }, false);
}

int KTFrameLibraryImporter::removeStaleImportFolders(const QString &supportFolder)
{
    const QDir parent(supportFolder);
    int removed = 0;
    const QString prefix = QString::fromLatin1(kImportFolderPrefix);
    for (const QString &name : parent.entryList({prefix + '*'}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString path = parent.filePath(name);
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        bool ok = false;
        const qint64 pid = name.mid(prefix.size()).section('-', 0, 0).toLongLong(&ok);
        if (ok && pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM))
            continue;
        if (QDir(path).removeRecursively())
            ++removed;
        else
            platform::logLine(QString("Warning: couldn't remove the import folder %1").arg(path));
    }
    return removed;
}

void KTFrameLibraryImporter::startImport()
{
    KT_ASSERT(!m_started, "An importer runs only once");
    KT_ASSERT(m_targetMOC, "Invalid parameter not satisfying: targetMOC");
    KT_ASSERT(!weak_from_this().expired(), "An importer is made with std::make_shared");
    m_started = true;
    std::shared_ptr<KTFrameLibraryImporter> self = shared_from_this();
    platform::runInBackground([self] { self->unzipAndContinue(); });
}

void KTFrameLibraryImporter::unzipAndContinue()
{
    {
        QMutexLocker lock(&m_mutex);
        m_lastProgressValue = 0;
    }
    const QString framesFolder = m_framesFolder.toLocalFile();
    if (framesFolder.isEmpty() || !QDir().mkpath(framesFolder)) {
        finishWithError(importerError(QString("The frame graphics folder \"%1\" can't be used.")
                                          .arg(m_framesFolder.toString())));
        return;
    }

    // Unpack beside the graphics folder so that moving the graphics is a
    // rename on the same volume.
    auto run = std::make_shared<Run>();
    const QString parent = QFileInfo(QDir::cleanPath(framesFolder)).absolutePath();
    // The folder is named after this process, so a later start can tell a
    // folder whose import still runs from one left behind.
    run->temporaryFolder = std::make_unique<QTemporaryDir>(
        QString("%1/%2%3-XXXXXX").arg(parent, kImportFolderPrefix).arg(QCoreApplication::applicationPid()));
    if (!run->temporaryFolder->isValid())
        run->temporaryFolder = std::make_unique<QTemporaryDir>();
    if (!run->temporaryFolder->isValid()) {
        finishWithError(importerError(QString("Couldn't create a temporary folder: %1")
                                          .arg(run->temporaryFolder->errorString())));
        return;
    }
    const QString folder = run->temporaryFolder->path();

    platform::Error unzipError;
    const bool unzipped = ZCZipArchive::unzipFileAtPath(
        m_url.toLocalFile(), folder,
        [this](const QString &, unz_file_info, qint64 done, qint64 total) {
            if (total > 0)
                setProgress(double(done) / double(total), 0);
        },
        [&unzipError](const QString &, bool, const platform::Error &error) { unzipError = error; });
    if (!unzipped) {
        if (unzipError.isNull())
            unzipError = importerError("The frame archive could not be read.");
        platform::logLine(QString("ERROR: Couldn't read frame archive %1: %2")
                              .arg(m_url.toLocalFile(), unzipError.description));
        finishWithError(unzipError);
        return;
    }

    FrameArchiveFolder::moveGraphics(folder, framesFolder);

    std::shared_ptr<KTFrameLibraryImporter> self = shared_from_this();
    platform::runOnMainThread([self, run] { self->importInChildContext(run); }, false);
}

void KTFrameLibraryImporter::importInChildContext(std::shared_ptr<Run> run)
{
    if (!m_targetMOC) {
        finishWithError(importerError("The frame library was closed before the import could begin."));
        return;
    }
    // A child is a snapshot of its parent taken on the parent's thread.
    run->child = m_targetMOC->newChildContext();
    platform::ManagedObjectContext *child = run->child.get();
    std::shared_ptr<KTFrameLibraryImporter> self = shared_from_this();
    child->perform([self, run, child] {
        self->importFromFolder(run->temporaryFolder->path(), child);
        platform::Error saveError;
        if (child->save(&saveError))
            self->finishSuccessfully();
        else
            self->finishWithError(saveError);
        // The child and the unpacked files go once the work is done.
        platform::runOnMainThread([run] {
            run->child.reset();
            run->temporaryFolder.reset();
        }, false);
    });
}

void KTFrameLibraryImporter::importFromFolder(const QString &folder, platform::ManagedObjectContext *moc)
{
    calculateTotalForProgressWithURL(folder);
    importFrameImagesFromFolder(folder, moc);
    importCollectionsFromFolder(folder, moc);
    importSetsFromFolder(folder, moc);
    importFramesFromFolder(folder, moc);
}

void KTFrameLibraryImporter::calculateTotalForProgressWithURL(const QString &folder)
{
    using namespace FrameArchiveFolder;
    const qint64 listed =
        itemFiles(folder, kCollections).size() + itemFiles(folder, kSets).size() + itemFiles(folder, kFrames).size();
    const qint64 total = itemFiles(folder, kImages).size() + listed;
    QMutexLocker lock(&m_mutex);
    m_totalProgressValue = total;
    m_itemsInArchive = listed;
}

void KTFrameLibraryImporter::importFrameImagesFromFolder(const QString &folder, platform::ManagedObjectContext *moc)
{
    for (const QString &path : FrameArchiveFolder::itemFiles(folder, FrameArchiveFolder::kImages)) {
        const std::optional<QVariantMap> dictionary = FrameArchiveFolder::readItem(path);
        const QString guid = QFileInfo(path).fileName();
        if (!dictionary || !LibraryItemDictionary::isUsableGUID(guid))
            continue;
        LibraryItemDictionary::frameImageFromDictionary(guid, *dictionary, moc);
        increaseImportProgress();
    }
}

void KTFrameLibraryImporter::importCollectionsFromFolder(const QString &folder, platform::ManagedObjectContext *moc)
{
    applyItemFiles<FrameCollection>(
        FrameArchiveFolder::itemFiles(folder, FrameArchiveFolder::kCollections), moc,
        &FrameCollection::frameCollectionWithGUID, &LibraryItemDictionary::collectionFromDictionary,
        [this](FrameCollection *item, bool inserted, bool changed) {
            noteItem(item, inserted, changed, m_collectionIDs, m_updatedCollectionIDs);
        },
        [this] { increaseImportProgress(); });
}

void KTFrameLibraryImporter::importSetsFromFolder(const QString &folder, platform::ManagedObjectContext *moc)
{
    applyItemFiles<FrameSet>(
        FrameArchiveFolder::itemFiles(folder, FrameArchiveFolder::kSets), moc, &FrameSet::frameSetWithGUID,
        &LibraryItemDictionary::setFromDictionary,
        [this](FrameSet *item, bool inserted, bool changed) {
            noteItem(item, inserted, changed, m_setIDs, m_updatedSetIDs);
        },
        [this] { increaseImportProgress(); });
}

void KTFrameLibraryImporter::importFramesFromFolder(const QString &folder, platform::ManagedObjectContext *moc)
{
    applyItemFiles<Frame>(
        FrameArchiveFolder::itemFiles(folder, FrameArchiveFolder::kFrames), moc, &Frame::frameWithGUID,
        &LibraryItemDictionary::frameFromDictionary,
        [this](Frame *item, bool inserted, bool changed) {
            noteItem(item, inserted, changed, m_framesIDs, m_updatedFrameIDs);
        },
        [this] { increaseImportProgress(); });
}

void KTFrameLibraryImporter::noteItem(const platform::ManagedObject *item, bool inserted, bool changed,
                                      QList<platform::ObjectID> &added, QList<platform::ObjectID> &updated)
{
    QMutexLocker lock(&m_mutex);
    if (inserted)
        added.append(item->objectID());
    else if (changed)
        updated.append(item->objectID());
}

void KTFrameLibraryImporter::increaseImportProgress()
{
    double fraction = 0;
    {
        QMutexLocker lock(&m_mutex);
        ++m_progressCount;
        fraction = m_totalProgressValue > 0 ? double(m_progressCount) / double(m_totalProgressValue) : 1.0;
    }
    setProgress(fraction, 1);
}

void KTFrameLibraryImporter::setProgress(double progress, int stage)
{
    const double value = stage == 0 ? progress * 0.2 : 0.2 + progress * 0.8;
    {
        QMutexLocker lock(&m_mutex);
        if (value != 1.0 && value - m_lastProgressValue < 0.01)
            return;
        m_lastProgressValue = value;
    }
    std::shared_ptr<KTFrameLibraryImporter> self = shared_from_this();
    toDelegate(self, [self, value](KTFrameLibraryImporterDelegate *d) { d->importerProgress(self.get(), value); });
}

void KTFrameLibraryImporter::finishWithError(const platform::Error &error)
{
    std::shared_ptr<KTFrameLibraryImporter> self = shared_from_this();
    toDelegate(self, [self, error](KTFrameLibraryImporterDelegate *d) {
        d->importerProgress(self.get(), 1.0);
        d->importerFailedWithError(self.get(), error);
    });
}

void KTFrameLibraryImporter::finishSuccessfully()
{
    bool needFinalReport = false;
    {
        QMutexLocker lock(&m_mutex);
        needFinalReport = m_lastProgressValue != 1.0;
        m_lastProgressValue = 1.0;
    }
    std::shared_ptr<KTFrameLibraryImporter> self = shared_from_this();
    platform::runOnMainThread([self, needFinalReport] {
        // Nothing is called added before it is in the store's file: a crash
        // after the report must not take the import with it.
        platform::Error saveError;
        platform::ManagedObjectContext *target = self->m_targetMOC.data();
        if (!target || (target->hasChanges() && !target->save(&saveError))) {
            platform::logLine(QString("ERROR: Couldn't save the frames imported from %1: %2")
                                  .arg(self->m_url.toLocalFile(), saveError.description));
            self->finishWithError(importerError(
                saveError.description.isEmpty()
                    ? QString("The frame library was closed before the frames could be saved.")
                    : QString("The frames could not be saved to the library: %1").arg(saveError.description)));
            return;
        }
        if (KTFrameLibraryImporterDelegate *d = self->delegate()) {
            if (needFinalReport)
                d->importerProgress(self.get(), 1.0);
            d->importerDidFinish(self.get());
        }
        // The first-run library among the application's resources is not
        // the user's doing.
        const QString archivePath = QFileInfo(self->m_url.toLocalFile()).absoluteFilePath();
        const QString resources = QDir::cleanPath(platform::Bundle::resourcePath());
        if (resources.isEmpty() || !archivePath.startsWith(resources + '/'))
            VLWAnalytics::trackEventProperties(kImportFramesEvent,
                                               QVariantMap{{kImportFramesEventFrames, self->importedFrameIDs().size()}});
        platform::NotificationCenter::defaultCenter().post(kFinishedImportingFramesNotification, self.get());
    }, false);
}
