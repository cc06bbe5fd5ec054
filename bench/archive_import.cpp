// Imports a frame archive of 2,000 frames (4 collections, 40 sets, 4,000
// graphics) into a fresh store: export first, then the timed import.
// --quick: 40 frames.
#include "bench/Quick.h"
#include "scenes/QuietShell.h"
#include "platform/Dispatch.h"
#include "platform/archive/Archiver.h"
#include "platform/archive/Color.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/PersistentStore.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/KTFrameLibraryExporter.h"
#include "stores/KTFrameLibraryImporter.h"
#include "stores/LibraryModel.h"
#include "stores/LibraryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

struct Exported : KTFrameLibraryExporterDelegate {
    std::optional<bool> result;
    void progressUpdated(const KTFrameLibraryExportProgress &) override {}
    void exportFinished(bool ok) override { result = ok; }
};

struct Imported : KTFrameLibraryImporterDelegate {
    bool done = false;
    bool ok = false;
    int reports = 0;
    void importerDidFinish(KTFrameLibraryImporter *) override { done = ok = true; }
    void importerFailedWithError(KTFrameLibraryImporter *, const platform::Error &e) override
    {
        std::printf("import failed: %s\n", qPrintable(e.description));
        done = true;
    }
    void importerProgress(KTFrameLibraryImporter *, double) override { ++reports; }
};

// A library context on its own store file; its pictures live in `graphics`,
// which its frame images find through the context.
std::unique_ptr<platform::ManagedObjectContext> openContext(const QString &path, const QString &graphics)
{
    auto store = platform::PersistentStore::openSQLite(path, LibraryModel::shared());
    auto context = std::make_unique<platform::ManagedObjectContext>(LibraryModel::shared());
    context->attachStore(store);
    context->setUserInfoValue(QString::fromLatin1(FrameImage::kImagesFolderKey), graphics);
    const auto &table = Frame::frameTypeTable();
    for (auto it = table.constBegin(); it != table.constEnd(); ++it)
        if (!FrameType::frameTypeWithName(it.key(), context.get()))
            FrameType::insertInManagedObjectContext(context.get())->setName(it.key());
    return context;
}

void spinUntil(const std::function<bool()> &done)
{
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
}

} // namespace

int main(int argc, char **argv)
{
    const bool quick = bench::takeQuickFlag(argc, argv);
    QCoreApplication app(argc, argv);
    const int setsPerCollection = quick ? 2 : 10;
    const int framesPerSet = quick ? 5 : 50;
    QTemporaryDir scratch;
    scenes::QuietShell shell;
    auto *library = new LibraryStore(&shell, scratch.path() + "/support");
    LibraryStore::setShared(library);
    const QString graphics = library->framesGraphicsFolder();
    QDir().mkpath(graphics);

    // The source library.
    auto source = openContext(scratch.path() + "/source.db", graphics);
    platform::ManagedObjectContext *moc = source.get();
    QImage picture(96, 24, QImage::Format_ARGB32);
    const QByteArray colour = platform::Archiver::archivedDataWithRootObject(
        QVariant::fromValue(platform::Color::rgb(0.9, 0.85, 0.7)));
    QList<platform::ManagedObject *> collections;
    const char *types[] = {"Moulding", "Full frame", "Moulding with corners", "Color Mat"};
    int frameCount = 0;
    for (int c = 0; c < 4; ++c) {
        auto *collection = FrameCollection::insertInManagedObjectContext(moc);
        collection->setName(QString("Collection %1").arg(c));
        collections << collection;
        for (int s = 0; s < setsPerCollection; ++s) {
            auto *set = FrameSet::insertInManagedObjectContext(moc);
            set->setName(QString("Set %1-%2").arg(c).arg(s));
            set->setFramecollection(collection);
            for (int f = 0; f < framesPerSet; ++f, ++frameCount) {
                auto *frame = Frame::insertInManagedObjectContext(moc);
                frame->setName(QString("Frame %1").arg(frameCount));
                frame->setFrameset(set);
                frame->setFrametype(FrameType::frameTypeWithName(types[frameCount % 4], moc));
                QList<FrameImage *> own;
                for (int i = 0; i < 2; ++i) {
                    picture.fill(QColor::fromHsv((frameCount * 7 + i * 90) % 360, 180, 200));
                    const QString guid = QString("IMG-%1-%2.png").arg(frameCount).arg(i);
                    picture.save(graphics + '/' + guid, "PNG");
                    own << FrameImage::insertFrameImageWithGUIDAndDisplayName(guid, guid, moc);
                }
                int n = 0;
                for (FrameAttribute *attribute : frame->attributes()) {
                    switch (attribute->kindValue()) {
                    case 1: attribute->setImageVal(own[n++ % 2]); break;
                    case 4: attribute->setBoolVal(frameCount % 3 == 0); break;
                    case 5: attribute->setColorVal(colour); break;
                    default: break;
                    }
                }
            }
        }
    }
    if (!moc->save()) {
        std::printf("source save failed\n");
        return 1;
    }

    const QString archive = scratch.path() + "/Library.ktframes";
    QElapsedTimer timer;
    timer.start();
    Exported exported;
    {
        auto exporter = std::make_shared<KTFrameLibraryExporter>(collections, QList<platform::ManagedObject *>(),
                                                                 QUrl::fromLocalFile(archive));
        exporter->setCountOfItems(frameCount + int(collections.size()) * (setsPerCollection + 1));
        exporter->startExportWithDelegate(&exported);
    }
    spinUntil([&] { return exported.result.has_value(); });
    const double exportSeconds = timer.nsecsElapsed() / 1e9;
    if (!*exported.result) {
        std::printf("export failed\n");
        return 1;
    }
    std::printf("frames: %d, archive: %.1f MB\n", frameCount, QFileInfo(archive).size() / 1e6);
    std::printf("export: %.2f s\n", exportSeconds);

    // The graphics leave the folder, so the import moves them all back.
    QDir(graphics).removeRecursively();
    QDir().mkpath(graphics);

    auto target = openContext(scratch.path() + "/target.db", graphics);
    target->save();
    Imported imported;
    timer.restart();
    {
        auto importer = std::make_shared<KTFrameLibraryImporter>(QUrl::fromLocalFile(archive),
                                                                 QUrl::fromLocalFile(graphics), target.get());
        importer->setDelegate(&imported);
        importer->startImport();
    }
    spinUntil([&] { return imported.done; });
    const double importSeconds = timer.nsecsElapsed() / 1e9;
    if (!imported.ok)
        return 1;
    timer.restart();
    platform::Error error;
    if (!target->save(&error)) {
        std::printf("the imported library could not be saved: %s\n", qPrintable(error.description));
        return 1;
    }
    const double saveSeconds = timer.nsecsElapsed() / 1e9;
    const qsizetype framesInStore = target->fetchObjects<Frame>().size();
    std::printf("import: %.2f s (%d progress reports), frames in store: %lld\n", importSeconds, imported.reports,
                (long long)framesInStore);
    if (framesInStore != frameCount) {
        std::printf("the import brought %lld of %d frames\n", (long long)framesInStore, frameCount);
        return 1;
    }
    std::printf("save of the main context afterwards: %.2f s\n", saveSeconds);
    std::printf("result: %.2f s\n", importSeconds);
    return 0;
}
