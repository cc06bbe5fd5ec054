#include "FrameArchiveTestSupport.h"

#include "kit/ZCZipArchive.h"
#include "platform/Assert.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/archive/PropertyList.h"
#include "stores/FrameArchiveFolder.h"
#include "stores/LibraryItemDictionary.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace archivetest;
using namespace librarytest;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList archiveEntries(const QString &path)
{
    QString out;
    EXPECT_EQ(run(QFileInfo(path).absolutePath(), "unzip", {"-Z1", path}, &out), 0) << out.toStdString();
    QStringList names = out.split('\n', Qt::SkipEmptyParts);
    names.sort();
    return names;
}

// The library every exchange test starts from: one collection with an icon,
// two sets, four frames of all four types, shared graphics.
struct SourceLibrary {
    Library lib;
    FrameCollection *collection = nullptr;
    FrameSet *oak = nullptr;
    FrameSet *pine = nullptr;
    QList<FrameImage *> images;

    SourceLibrary()
    {
        sharedLibrary();
        platform::ManagedObjectContext *moc = lib.moc();
        seedFrameTypes(moc);
        for (int i = 0; i < 5; ++i)
            images << makeImage(moc, QColor::fromHsv(i * 60, 200, 200), QString("picture %1.png").arg(i));

        collection = FrameCollection::insertInManagedObjectContext(moc);
        collection->setName("Woods");
        collection->setAdescription("Frames of wood");
        collection->setUrl("https://example.org/woods");
        collection->setIcon(images[0]);
        oak = FrameSet::insertInManagedObjectContext(moc);
        oak->setName("Oak");
        oak->setFramecollection(collection);
        oak->setIcon(images[1]);
        pine = FrameSet::insertInManagedObjectContext(moc);
        pine->setName("Pine");
        pine->setFramecollection(collection);

        Frame *moulding = makeFrame(moc, oak, "Oak moulding", "Moulding");
        moulding->setAuthor("Ada");
        moulding->setCatalogRef("OAK-1");
        for (const char *side : {"Top Image", "Bottom Image"})
            moulding->frameAttributeWithName(side)->setImageVal(images[2]);
        for (const char *side : {"Left Image", "Right Image"})
            moulding->frameAttributeWithName(side)->setImageVal(images[3]);
        moulding->frameAttributeWithName("Act as mask")->setBoolVal(true);
        moulding->frameAttributeWithName("Mirror images")->setBoolVal(false);

        Frame *gilt = makeFrame(moc, oak, "Gilt", "Full frame");
        gilt->frameAttributeWithName("Landscape Image")->setImageVal(images[4]);
        gilt->frameAttributeWithName("Portrait Image")->setImageVal(images[4]);

        Frame *mat = makeFrame(moc, pine, "Cream mat", "Color Mat");
        mat->frameAttributeWithName("Mat color")->setColorVal(archivedColour(0.95, 0.9, 0.8));

        Frame *corners = makeFrame(moc, pine, "Corners", "Moulding with corners");
        corners->frameAttributeWithName("Top-Left corner")->setImageVal(images[1]);
        corners->setAdescription("Only one corner");

        platform::Error error;
        EXPECT_TRUE(moc->save(&error)) << error.description.toStdString();
    }
};

} // namespace

TEST(FrameArchiveExchange, ExportThenImportIntoAFreshStoreGivesTheSameLibrary)
{
    SourceLibrary source;
    const QString archive = freshFolder() + "/Woods.ktframes";
    ExportRecorder exported;
    ASSERT_TRUE(exportItems({source.collection}, {}, archive, 7, &exported));
    EXPECT_FALSE(exported.offMainThread);
    ASSERT_FALSE(exported.progress.isEmpty());
    EXPECT_EQ(exported.progress.last().completedUnitCount, 7);

    // Info-ZIP agrees it is a sound archive, and each graphic is in it once.
    QString out;
    EXPECT_EQ(run(QFileInfo(archive).absolutePath(), "unzip", {"-t", archive}, &out), 0) << out.toStdString();
    const QStringList entries = archiveEntries(archive);
    EXPECT_EQ(entries.filter(QRegularExpression("^Collections/")).size(), 1);
    EXPECT_EQ(entries.filter(QRegularExpression("^Sets/")).size(), 2);
    EXPECT_EQ(entries.filter(QRegularExpression("^Frames/")).size(), 4);
    EXPECT_EQ(entries.filter(QRegularExpression("^Images/")).size(), 5);
    EXPECT_EQ(entries.filter(QRegularExpression("^Graphics/")).size(), 5);

    // The graphics leave the library folder; the import must bring them back.
    QMap<QString, QByteArray> graphics;
    for (FrameImage *image : source.images) {
        graphics.insert(image->guid(), readAll(image->imagePath()));
        QFile::remove(image->imagePath());
    }

    Library target;
    seedFrameTypes(target.moc());
    ASSERT_TRUE(target.moc()->save());
    int notifications = 0;
    const auto observer = platform::NotificationCenter::defaultCenter().addObserver(
        KTFrameLibraryImporter::kFinishedImportingFramesNotification, nullptr,
        [&](const platform::Notification &) { ++notifications; });
    ImportRecorder imported;
    auto importer = importArchive(archive, target.moc(), &imported);
    platform::NotificationCenter::defaultCenter().removeObserver(observer);
    ASSERT_TRUE(imported.finished);
    EXPECT_FALSE(imported.failed);
    EXPECT_FALSE(imported.offMainThread);
    EXPECT_EQ(notifications, 1);
    ASSERT_FALSE(imported.progress.isEmpty());
    EXPECT_EQ(imported.progress.last(), 1.0);
    EXPECT_EQ(importer->importedCollectionIDs().size(), 1);
    EXPECT_EQ(importer->importedSetIDs().size(), 2);
    EXPECT_EQ(importer->importedFrameIDs().size(), 4);

    // Saved to disk and read back, the new store holds the same library.
    ASSERT_TRUE(target.moc()->save());
    target.open();
    platform::ManagedObjectContext *a = source.lib.moc();
    platform::ManagedObjectContext *b = target.moc();
    EXPECT_EQ(dictionariesOf<FrameCollection>(b), dictionariesOf<FrameCollection>(a));
    EXPECT_EQ(dictionariesOf<FrameSet>(b), dictionariesOf<FrameSet>(a));
    EXPECT_EQ(dictionariesOf<Frame>(b), dictionariesOf<Frame>(a));
    QMap<QString, QString> namesA, namesB;
    for (FrameImage *image : a->fetchObjects<FrameImage>())
        namesA.insert(image->guid(), image->filename());
    for (FrameImage *image : b->fetchObjects<FrameImage>())
        namesB.insert(image->guid(), image->filename());
    EXPECT_EQ(namesB, namesA);
    for (auto it = graphics.constBegin(); it != graphics.constEnd(); ++it)
        EXPECT_EQ(readAll(librarytest::imagesFolder() + '/' + it.key()), it.value()) << it.key().toStdString();
    Frame *mat = nullptr;
    for (Frame *frame : b->fetchObjects<Frame>())
        if (frame->name() == "Cream mat")
            mat = frame;
    ASSERT_NE(mat, nullptr);
    EXPECT_EQ(mat->frameAttributeWithName("Mat color")->colorVal(), archivedColour(0.95, 0.9, 0.8));

    // Importing again updates by GUID: nothing is doubled.
    ImportRecorder again;
    importArchive(archive, b, &again);
    EXPECT_TRUE(again.finished);
    EXPECT_EQ(b->fetchObjects<FrameCollection>().size(), 1);
    EXPECT_EQ(b->fetchObjects<FrameSet>().size(), 2);
    EXPECT_EQ(b->fetchObjects<Frame>().size(), 4);
    EXPECT_EQ(b->fetchObjects<FrameImage>().size(), 5);

    // Nothing of the unpacked archive stays behind.
    const QDir support(QFileInfo(librarytest::imagesFolder()).absolutePath());
    EXPECT_TRUE(support.entryList({".ktframes-import-*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
}

TEST(FrameArchiveExchange, ImportProgressCountsItemFilesAndEndsAtOne)
{
    // One collection, one set, two frames, three images: seven item files.
    Library lib;
    sharedLibrary();
    platform::ManagedObjectContext *moc = lib.moc();
    seedFrameTypes(moc);
    FrameCollection *collection = FrameCollection::insertInManagedObjectContext(moc);
    collection->setIcon(makeImage(moc, Qt::red, "a.png"));
    FrameSet *set = FrameSet::insertInManagedObjectContext(moc);
    set->setFramecollection(collection);
    makeFrame(moc, set, "One", "Full frame")->frameAttributeWithName("Landscape Image")->setImageVal(makeImage(moc, Qt::green, "b.png"));
    makeFrame(moc, set, "Two", "Full frame")->frameAttributeWithName("Portrait Image")->setImageVal(makeImage(moc, Qt::blue, "c.png"));
    ASSERT_TRUE(moc->save());
    const QString archive = freshFolder() + "/seven.ktframes";
    ExportRecorder exported;
    ASSERT_TRUE(exportItems({collection}, {}, archive, 4, &exported));

    Library target;
    seedFrameTypes(target.moc());
    ImportRecorder imported;
    auto importer = importArchive(archive, target.moc(), &imported);
    ASSERT_TRUE(imported.finished);
    for (int k = 1; k <= 7; ++k) {
        const double expected = 0.2 + 0.8 * k / 7.0;
        bool seen = false;
        for (double v : imported.progress)
            seen |= qAbs(v - expected) < 1e-9;
        EXPECT_TRUE(seen) << "stage value for " << k;
    }
    EXPECT_EQ(imported.progress.last(), 1.0);
    for (int i = 1; i < imported.progress.size(); ++i)
        EXPECT_GE(imported.progress[i], imported.progress[i - 1]);
    EXPECT_EQ(importer->importedFrameIDs().size(), 2);
}

TEST(FrameArchiveExchange, UnreadableArchiveIsAFailure)
{
    sharedLibrary();
    Library target;
    seedFrameTypes(target.moc());
    const QString bogus = freshFolder() + "/bogus.ktframes";
    QFile f(bogus);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("PK\x03\x04 but nothing more");
    f.close();

    int notifications = 0;
    const auto observer = platform::NotificationCenter::defaultCenter().addObserver(
        KTFrameLibraryImporter::kFinishedImportingFramesNotification, nullptr,
        [&](const platform::Notification &) { ++notifications; });
    ImportRecorder imported;
    importArchive(bogus, target.moc(), &imported);
    platform::NotificationCenter::defaultCenter().removeObserver(observer);
    EXPECT_TRUE(imported.failed);
    EXPECT_FALSE(imported.finished);
    EXPECT_FALSE(imported.offMainThread);
    EXPECT_EQ(notifications, 0);
    EXPECT_EQ(imported.error.code, ZCZipArchive::FailedOpenZipFile);
    ASSERT_FALSE(imported.progress.isEmpty());
    EXPECT_EQ(imported.progress.last(), 1.0);
    EXPECT_FALSE(target.moc()->hasChanges() && !target.moc()->fetchObjects<FrameCollection>().isEmpty());
}

TEST(FrameArchiveExchange, ForeignArchiveWithRejectedItemsImportsTheRest)
{
    sharedLibrary();
    const QString dir = freshFolder();
    // Items in both property list forms, packed by Info-ZIP as another
    // program would.
    auto put = [&](const QString &folder, const QString &name, const QVariantMap &value,
                   platform::PropertyList::Format format = platform::PropertyList::Format::Binary) {
        QDir().mkpath(dir + "/src/" + folder);
        ASSERT_TRUE(platform::PropertyList::writeFile(dir + "/src/" + folder + "/" + name, value, format));
    };
    auto writeRaw = [&](const QString &path, const QByteArray &bytes) {
        QFile f(dir + "/src/" + path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    put("Images", "IMG-A.png", {{"filename", "a.png"}});
    put("Collections", "COL-1", {{"name", "Metals"}, {"guid", "COL-1"}}, platform::PropertyList::Format::XML);
    put("Sets", "SET-1", {{"name", "Gold"}, {"guid", "SET-1"}, {"framecollectionGUID", "COL-1"}});
    put("Sets", "SET-X", {{"name", "Orphan"}, {"guid", "SET-X"}, {"framecollectionGUID", "NOPE"}});
    put("Frames", "FR-1",
        {{"name", "Bright"}, {"guid", "FR-1"}, {"framesetGUID", "SET-1"}, {"frametype", "Moulding"},
         {"attributes", QVariantMap{{"Top Image", "IMG-A.png"}, {"Left Image", 42}, {"Act as mask", "YES"},
                                    {"Mirror images", QVariantList{1}}}},
         {"attributeKinds", QVariantMap{{"Top Image", 1}}}});
    put("Frames", "FR-2", {{"name", "Lost"}, {"guid", "FR-2"}, {"framesetGUID", "SET-X"}, {"frametype", "Moulding"}});
    put("Frames", "FR-3", {{"name", "Typeless"}, {"guid", "FR-3"}, {"framesetGUID", "SET-1"}, {"frametype", "Hexagon"}});
    writeRaw("Images/.hidden", "x");
    writeRaw("Images/BROKEN", "not a property list");
    QDir().mkpath(dir + "/src/Graphics");
    writeRaw("Graphics/IMG-A.png", "png bytes");
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", "-r", dir + "/foreign.ktframes", "."}), 0);

    QStringList log;
    platform::setLogSink([&](const QString &line) { log << line; });
    Library target;
    seedFrameTypes(target.moc());
    ImportRecorder imported;
    auto importer = importArchive(dir + "/foreign.ktframes", target.moc(), &imported);
    platform::setLogSink(nullptr);

    ASSERT_TRUE(imported.finished);
    EXPECT_EQ(imported.progress.last(), 1.0);
    EXPECT_EQ(importer->importedCollectionIDs().size(), 1);
    EXPECT_EQ(importer->importedSetIDs().size(), 1);
    EXPECT_EQ(importer->importedFrameIDs().size(), 1);
    EXPECT_TRUE(log.contains("Couldn't find frame collection with GUID NOPE"));
    EXPECT_TRUE(log.contains("Couldn't find frame set with GUID SET-X"));
    EXPECT_TRUE(log.contains("No frame type found with name Hexagon"));

    Frame *frame = Frame::frameWithGUID("FR-1", target.moc());
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->frameset()->name(), "Gold");
    ASSERT_NE(frame->frameAttributeWithName("Top Image")->imageVal(), nullptr);
    EXPECT_EQ(frame->frameAttributeWithName("Top Image")->imageVal()->filename(), "a.png");
    EXPECT_EQ(frame->frameAttributeWithName("Left Image")->imageVal(), nullptr);
    EXPECT_EQ(frame->frameAttributeWithName("Act as mask")->boolVal(), std::optional<bool>(true));
    EXPECT_FALSE(frame->frameAttributeWithName("Mirror images")->boolVal().has_value());
    EXPECT_EQ(readAll(librarytest::imagesFolder() + "/IMG-A.png"), "png bytes");
}

TEST(FrameArchiveExport, SharedGraphicIsWrittenOnce)
{
    sharedLibrary();
    Library lib;
    platform::ManagedObjectContext *moc = lib.moc();
    seedFrameTypes(moc);
    FrameSet *set = FrameSet::insertInManagedObjectContext(moc);
    Frame *frame = makeFrame(moc, set, "Twin", "Full frame");
    FrameImage *image = makeImage(moc, Qt::yellow, "twin.png");
    frame->frameAttributeWithName("Landscape Image")->setImageVal(image);
    frame->frameAttributeWithName("Portrait Image")->setImageVal(image);
    ASSERT_TRUE(moc->save());

    const QString archive = freshFolder() + "/twin.ktframes";
    ExportRecorder recorder;
    ASSERT_TRUE(exportItems({frame}, {}, archive, 1, &recorder));
    EXPECT_EQ(archiveEntries(archive),
              (QStringList{"Frames/" + frame->guid(), "Graphics/" + image->guid(), "Images/" + image->guid()}));
    ASSERT_FALSE(recorder.progress.isEmpty());
    EXPECT_EQ(recorder.progress.last().completedUnitCount, 1);
    EXPECT_EQ(recorder.progress.last().totalUnitCount, 1);
}

TEST(FrameArchiveExport, ParentsComeWithoutTheirOtherChildren)
{
    SourceLibrary source;
    const QString archive = freshFolder() + "/oak.ktframes";
    ExportRecorder recorder;
    ASSERT_TRUE(exportItems({source.oak}, {source.collection}, archive, 3, &recorder));
    const QStringList entries = archiveEntries(archive);
    EXPECT_TRUE(entries.contains("Collections/" + source.collection->guid()));
    EXPECT_TRUE(entries.contains("Images/" + source.images[0]->guid())); // the collection's icon
    EXPECT_TRUE(entries.contains("Sets/" + source.oak->guid()));
    EXPECT_FALSE(entries.contains("Sets/" + source.pine->guid()));
    EXPECT_EQ(entries.filter(QRegularExpression("^Frames/")).size(), 2);
    EXPECT_EQ(recorder.progress.last().completedUnitCount, 3);
}

TEST(FrameArchiveExport, FailureKeepsTheOlderFileAndSuccessReplacesIt)
{
    SourceLibrary source;
    const QString destination = freshFolder() + "/Library.ktframes";
    QFile older(destination);
    ASSERT_TRUE(older.open(QIODevice::WriteOnly));
    older.write("the user's older archive");
    older.close();

    // A graphics file gone missing fails the export; the older file stays.
    const QString missing = source.images[4]->imagePath();
    const QByteArray kept = readAll(missing);
    QFile::remove(missing);
    ExportRecorder failed;
    EXPECT_FALSE(exportItems({source.collection}, {}, destination, 7, &failed));
    EXPECT_FALSE(failed.offMainThread);
    EXPECT_EQ(readAll(destination), "the user's older archive");
    EXPECT_EQ(QDir(QFileInfo(destination).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "no partial archive left beside it";

    QFile restore(missing);
    ASSERT_TRUE(restore.open(QIODevice::WriteOnly));
    restore.write(kept);
    restore.close();
    ExportRecorder succeeded;
    EXPECT_TRUE(exportItems({source.collection}, {}, destination, 7, &succeeded));
    QString out;
    EXPECT_EQ(run(QFileInfo(destination).absolutePath(), "unzip", {"-t", destination}, &out), 0) << out.toStdString();
}

TEST(FrameArchiveExport, ProgressStepIsAFiftiethRoundedHalfUp)
{
    EXPECT_EQ(KTFrameLibraryExporter::progressStepForCount(100), 2u);
    EXPECT_EQ(KTFrameLibraryExporter::progressStepForCount(25), 1u);
    EXPECT_EQ(KTFrameLibraryExporter::progressStepForCount(24), 0u);
    EXPECT_EQ(KTFrameLibraryExporter::progressStepForCount(1000), 20u);
}

TEST(FrameArchiveExchange, MisuseIsAProgrammingError)
{
    sharedLibrary();
    Library target;
    KTFrameLibraryImporter onStack(QUrl::fromLocalFile("/nonexistent.ktframes"),
                                   QUrl::fromLocalFile(librarytest::imagesFolder()), target.moc());
    EXPECT_THROW(onStack.startImport(), platform::Exception);
    auto noContext = std::make_shared<KTFrameLibraryImporter>(
        QUrl::fromLocalFile("/nonexistent.ktframes"), QUrl::fromLocalFile(librarytest::imagesFolder()), nullptr);
    EXPECT_THROW(noContext->startImport(), platform::Exception);

    // No usable graphics folder: a failure, nothing written elsewhere.
    auto noFolder = std::make_shared<KTFrameLibraryImporter>(QUrl::fromLocalFile("/nonexistent.ktframes"), QUrl(),
                                                             target.moc());
    ImportRecorder recorder;
    noFolder->setDelegate(&recorder);
    noFolder->startImport();
    testsupport::waitUntil([&] { return recorder.done(); });
    EXPECT_TRUE(recorder.failed);
    EXPECT_FALSE(recorder.finished);
}
