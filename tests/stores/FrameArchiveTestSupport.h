#pragma once

// A small library to exchange: real store files, real graphics files in the
// process's graphics folder, and helpers to run the importer and exporter to
// their end on the offscreen event loop.

#include "LibraryTestSupport.h"

#include "platform/Dispatch.h"
#include "platform/archive/Archiver.h"
#include "platform/archive/Color.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/KTFrameLibraryExporter.h"
#include "stores/KTFrameLibraryImporter.h"
#include "stores/LibraryItemDictionary.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QUuid>

namespace archivetest {

// A colour as the old-style archiver writes it.
inline QByteArray archivedColour(double red, double green, double blue)
{
    return platform::Archiver::archivedDataWithRootObject(QVariant::fromValue(platform::Color::rgb(red, green, blue)));
}

inline void seedFrameTypes(platform::ManagedObjectContext *moc)
{
    const auto &table = Frame::frameTypeTable();
    for (auto it = table.constBegin(); it != table.constEnd(); ++it)
        if (!FrameType::frameTypeWithName(it.key(), moc))
            FrameType::insertInManagedObjectContext(moc)->setName(it.key());
}

// A FrameImage with a real PNG in the graphics folder.
inline FrameImage *makeImage(platform::ManagedObjectContext *moc, const QColor &colour, const QString &filename)
{
    const QString guid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + ".png";
    QImage picture(12, 8, QImage::Format_ARGB32);
    picture.fill(colour);
    picture.save(librarytest::imagesFolder() + '/' + guid, "PNG");
    return FrameImage::insertFrameImageWithGUIDAndDisplayName(guid, filename, moc);
}

inline Frame *makeFrame(platform::ManagedObjectContext *moc, FrameSet *set, const QString &name, const QString &type)
{
    Frame *frame = Frame::insertInManagedObjectContext(moc);
    frame->setName(name);
    frame->setFrameset(set);
    frame->setFrametype(FrameType::frameTypeWithName(type, moc));
    return frame;
}

using testsupport::run;

// Each item of a kind in the context as the archive writes it, by GUID.
template <class T> QMap<QString, QVariantMap> dictionariesOf(platform::ManagedObjectContext *moc)
{
    QMap<QString, QVariantMap> out;
    for (T *item : moc->fetchObjects<T>())
        out.insert(item->guid(), LibraryItemDictionary::asDictionary(*item));
    return out;
}

// Records what the importer tells, checking each call is on the main thread.
struct ImportRecorder : KTFrameLibraryImporterDelegate {
    QList<double> progress;
    bool finished = false;
    bool failed = false;
    platform::Error error;
    bool offMainThread = false;
    void importerDidFinish(KTFrameLibraryImporter *) override
    {
        offMainThread |= !platform::isMainThread();
        finished = true;
    }
    void importerFailedWithError(KTFrameLibraryImporter *, const platform::Error &e) override
    {
        offMainThread |= !platform::isMainThread();
        failed = true;
        error = e;
    }
    void importerProgress(KTFrameLibraryImporter *, double value) override
    {
        offMainThread |= !platform::isMainThread();
        progress << value;
    }
    bool done() const { return finished || failed; }
};

struct ExportRecorder : KTFrameLibraryExporterDelegate {
    QList<KTFrameLibraryExportProgress> progress;
    std::optional<bool> result;
    bool offMainThread = false;
    void progressUpdated(const KTFrameLibraryExportProgress &p) override
    {
        offMainThread |= !platform::isMainThread();
        progress << p;
    }
    void exportFinished(bool succeeded) override
    {
        offMainThread |= !platform::isMainThread();
        result = succeeded;
    }
};

// Exports and waits for the end; answers the result.
inline bool exportItems(const QList<platform::ManagedObject *> &items, const QList<platform::ManagedObject *> &parents,
                        const QString &path, quint64 count, ExportRecorder *recorder)
{
    auto exporter = std::make_shared<KTFrameLibraryExporter>(items, parents, QUrl::fromLocalFile(path));
    exporter->setCountOfItems(count);
    exporter->startExportWithDelegate(recorder);
    exporter.reset(); // the running export keeps itself
    testsupport::waitUntil([&] { return recorder->result.has_value(); });
    return recorder->result.value_or(false);
}

// Imports and waits for the end; answers the importer.
inline std::shared_ptr<KTFrameLibraryImporter> importArchive(const QString &path, platform::ManagedObjectContext *moc,
                                                             ImportRecorder *recorder)
{
    auto importer = std::make_shared<KTFrameLibraryImporter>(QUrl::fromLocalFile(path),
                                                             QUrl::fromLocalFile(librarytest::imagesFolder()), moc);
    importer->setDelegate(recorder);
    importer->startImport();
    testsupport::waitUntil([&] { return recorder->done(); });
    // Let the queued clean-up run.
    testsupport::waitUntil([] { return false; }, 50);
    return importer;
}

} // namespace archivetest
