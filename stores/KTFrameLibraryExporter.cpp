#include "stores/KTFrameLibraryExporter.h"

#include "kit/ZCZipArchive.h"
#include "platform/Assert.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/archive/PropertyList.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "stores/Frame.h"
#include "stores/FrameArchiveFolder.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/LibraryItemDictionary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QUuid>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

struct KTFrameLibraryExporter::Run {
    std::unique_ptr<platform::ManagedObjectContext> child;
    QString partialPath;
};

KTFrameLibraryExporter::KTFrameLibraryExporter(const QList<platform::ManagedObject *> &items,
                                               const QList<platform::ManagedObject *> &parentObjects,
                                               const QUrl &url)
    : m_url(url)
{
    KT_ASSERT(!items.isEmpty(), "An export needs at least one item");
    for (platform::ManagedObject *item : items)
        m_itemIDs.append(item->objectID());
    for (platform::ManagedObject *parent : parentObjects)
        m_missingParentIDs.append(parent->objectID());
    m_originalMOC = items.first()->managedObjectContext();
}

KTFrameLibraryExporter::~KTFrameLibraryExporter() = default;

platform::Error KTFrameLibraryExporter::error() const
{
    QMutexLocker lock(&m_mutex);
    return m_error;
}

void KTFrameLibraryExporter::noteFailure(const QString &description)
{
    if (m_failure.isEmpty())
        m_failure = description;
}

quint64 KTFrameLibraryExporter::progressStepForCount(quint64 countOfItems)
{
    return quint64(std::floor(double(countOfItems) / 50.0 + 0.5));
}

void KTFrameLibraryExporter::startExportWithDelegate(KTFrameLibraryExporterDelegate *delegate)
{
    KT_ASSERT(!m_started, "An exporter runs only once");
    KT_ASSERT(!weak_from_this().expired(), "An exporter is made with std::make_shared");
    m_started = true;
    {
        QMutexLocker lock(&m_mutex);
        m_delegate = delegate;
        m_delegateLiveness = delegate ? std::weak_ptr<char>(delegate->m_liveness) : std::weak_ptr<char>();
    }
    auto run = std::make_shared<Run>();
    run->child = m_originalMOC->newChildContext();
    platform::ManagedObjectContext *child = run->child.get();
    std::shared_ptr<KTFrameLibraryExporter> self = shared_from_this();
    child->perform([self, run] { self->exportInChildContext(run); });
}

void KTFrameLibraryExporter::report(std::function<void(KTFrameLibraryExporterDelegate *)> call)
{
    std::shared_ptr<KTFrameLibraryExporter> self = shared_from_this();
    platform::runOnMainThread([self, call = std::move(call)] {
        KTFrameLibraryExporterDelegate *d = nullptr;
        {
            QMutexLocker lock(&self->m_mutex);
            if (!self->m_delegateLiveness.expired())
                d = self->m_delegate;
        }
        if (d)
            call(d);
    }, false);
}

void KTFrameLibraryExporter::finish(std::shared_ptr<Run> run, bool succeeded)
{
    if (!run->partialPath.isEmpty() && !succeeded)
        QFile::remove(run->partialPath);
    if (!succeeded) {
        QMutexLocker lock(&m_mutex);
        m_error = platform::describedError(m_failure.isEmpty() ? QStringLiteral("The frames couldn't be exported.")
                                                               : m_failure);
    }
    if (succeeded) {
        KTFrameLibraryExportProgress snapshot;
        {
            QMutexLocker lock(&m_mutex);
            m_progress.completedUnitCount = m_progress.totalUnitCount;
            snapshot = m_progress;
        }
        report([snapshot](KTFrameLibraryExporterDelegate *d) { d->progressUpdated(snapshot); });
    }
    report([succeeded](KTFrameLibraryExporterDelegate *d) { d->exportFinished(succeeded); });
    // The child belongs to the main thread that made it.
    platform::runOnMainThread([run] { run->child.reset(); }, false);
}

namespace {

bool syncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

void KTFrameLibraryExporter::exportInChildContext(std::shared_ptr<Run> run)
{
    platform::ManagedObjectContext *moc = run->child.get();
    m_failure.clear();
    {
        QMutexLocker lock(&m_mutex);
        m_progress.totalUnitCount = qint64(m_countOfItems);
        m_progress.completedUnitCount = 0;
    }

    QList<platform::ManagedObject *> parents;
    for (const platform::ObjectID &id : m_missingParentIDs)
        if (platform::ManagedObject *object = moc->objectWithID(id))
            parents.append(object);
    QList<platform::ManagedObject *> items;
    for (const platform::ObjectID &id : m_itemIDs)
        if (platform::ManagedObject *object = moc->objectWithID(id))
            items.append(object);
    if (items.size() < m_itemIDs.size())
        platform::logLine(QString("Found only %1 items to export of %2 expected").arg(items.size()).arg(m_itemIDs.size()));

    // Built beside the destination, so the final move is one rename on the
    // same volume and the user's older file stays until then.
    const QString destination = m_url.toLocalFile();
    const QFileInfo destinationInfo(destination);
    const QString folder = destinationInfo.absolutePath();
    if (!QFileInfo(folder).isDir()) {
        platform::logLine("Couldn't create temporary directory to export frames");
        noteFailure(QString("The folder “%1” doesn't exist.").arg(folder));
        finish(run, false);
        return;
    }
    run->partialPath = folder + "/." + destinationInfo.fileName() + "."
                       + QUuid::createUuid().toString(QUuid::Id128).left(12) + ".part";

    ZCZipArchive archive(run->partialPath);
    if (!archive.open()) {
        noteFailure(QString("The archive couldn't be created in the folder “%1”.").arg(folder));
        run->partialPath.clear(); // nothing was made
        finish(run, false);
        return;
    }
    m_zipArchive = &archive;
    m_savedImageGUIDs.clear();
    setItemsProgress(0);

    bool ok = true;
    for (platform::ManagedObject *parent : parents) {
        if (auto *collection = dynamic_cast<FrameCollection *>(parent))
            ok = exportCollection(collection, false);
        else if (auto *set = dynamic_cast<FrameSet *>(parent))
            ok = exportSet(set, false);
        if (!ok)
            break;
    }
    for (platform::ManagedObject *item : ok ? items : QList<platform::ManagedObject *>()) {
        if (auto *collection = dynamic_cast<FrameCollection *>(item))
            ok = exportCollection(collection, true);
        else if (auto *set = dynamic_cast<FrameSet *>(item))
            ok = exportSet(set, true);
        else if (auto *frame = dynamic_cast<Frame *>(item))
            ok = exportFrame(frame);
        if (!ok)
            break;
    }
    const bool closed = archive.close();
    m_zipArchive = nullptr;
    if (!ok || !closed || !syncFile(run->partialPath)) {
        noteFailure(QString("The archive couldn't be written in the folder “%1”.").arg(folder));
        finish(run, false);
        return;
    }

    // One atomic step: the destination is either the older file or the new
    // archive, never nothing.
    if (std::rename(QFile::encodeName(run->partialPath).constData(), QFile::encodeName(destination).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        platform::logLine(QString("ERROR: Couldn't move the exported frames to %1: %2").arg(destination, reason));
        noteFailure(QString("The archive couldn't be saved as “%1”: %2.").arg(destination, reason));
        finish(run, false);
        return;
    }
    run->partialPath.clear();
    finish(run, true);
}

QByteArray KTFrameLibraryExporter::plistDataOf(const QVariantMap &dictionary)
{
    return platform::PropertyList::write(dictionary, platform::PropertyList::Format::Binary);
}

bool KTFrameLibraryExporter::writeItem(const char *folder, const QString &guid, const QVariantMap &dictionary)
{
    if (!LibraryItemDictionary::isUsableGUID(guid)) {
        platform::logLine(QString("ERROR: Can't export an item without a usable GUID (%1)").arg(guid));
        noteFailure(QString("An item with the unusable identifier “%1” can't be exported.").arg(guid));
        return false;
    }
    const QByteArray data = plistDataOf(dictionary);
    if (data.isEmpty())
        return false;
    return m_zipArchive->writeData(data, FrameArchiveFolder::entryName(folder, guid), QString());
}

bool KTFrameLibraryExporter::exportCollection(FrameCollection *collection, bool withChildren)
{
    if (!writeItem(FrameArchiveFolder::kCollections, collection->guid(), LibraryItemDictionary::asDictionary(*collection)))
        return false;
    if (FrameImage *icon = collection->icon())
        if (!exportImage(icon))
            return false;
    if (withChildren) {
        setItemsProgress(m_itemsProgress + 1);
        for (FrameSet *set : collection->framesets())
            if (!exportSet(set, true))
                return false;
    }
    return true;
}

bool KTFrameLibraryExporter::exportSet(FrameSet *set, bool withChildren)
{
    if (!writeItem(FrameArchiveFolder::kSets, set->guid(), LibraryItemDictionary::asDictionary(*set)))
        return false;
    if (FrameImage *icon = set->icon())
        if (!exportImage(icon))
            return false;
    if (withChildren) {
        setItemsProgress(m_itemsProgress + 1);
        for (Frame *frame : set->frames())
            if (!exportFrame(frame))
                return false;
    }
    return true;
}

bool KTFrameLibraryExporter::exportFrame(Frame *frame)
{
    if (!writeItem(FrameArchiveFolder::kFrames, frame->guid(), LibraryItemDictionary::asDictionary(*frame)))
        return false;
    for (FrameAttribute *attribute : frame->attributes())
        if (FrameImage *image = attribute->imageVal(); image && attribute->kindValue() == LibraryItemDictionary::KindImage)
            if (!exportImage(image))
                return false;
    setItemsProgress(m_itemsProgress + 1);
    return true;
}

bool KTFrameLibraryExporter::exportImage(FrameImage *image)
{
    const QString guid = image->guid();
    if (m_savedImageGUIDs.contains(guid))
        return true;
    m_savedImageGUIDs.insert(guid);
    if (!writeItem(FrameArchiveFolder::kImages, guid, LibraryItemDictionary::asDictionary(*image)))
        return false;
    const QString path = image->imagePath();
    const QString name = QFileInfo(path).fileName();
    if (!QFileInfo(path).isFile()) {
        platform::logLine(QString("ERROR: Missing graphics file %1 for export").arg(path));
        noteFailure(QString("The graphics file “%1” of “%2” is missing.").arg(path, image->filename()));
        return false;
    }
    return m_zipArchive->writeFileAtPath(path, FrameArchiveFolder::entryName(FrameArchiveFolder::kGraphics, name), QString());
}

void KTFrameLibraryExporter::setItemsProgress(quint64 itemsProgress)
{
    m_itemsProgress = itemsProgress;
    const quint64 step = progressStepForCount(m_countOfItems);
    KTFrameLibraryExportProgress snapshot;
    {
        QMutexLocker lock(&m_mutex);
        const qint64 n = qint64(itemsProgress);
        if (!(n - m_progress.completedUnitCount >= qint64(step) || n == m_progress.totalUnitCount))
            return;
        m_progress.completedUnitCount = n;
        snapshot = m_progress;
    }
    report([snapshot](KTFrameLibraryExporterDelegate *d) { d->progressUpdated(snapshot); });
}
