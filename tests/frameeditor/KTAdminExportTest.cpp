#include "library/LibraryServiceTestServer.h"

#include "frameeditor/KTAdminController.h"
#include "frameeditor/KTLibraryExporterForWeb.h"
#include "library/LibraryUpdateEngine.h"
#include "library/LibraryUpdateService.h"
#include "platform/Error.h"
#include "platform/UserDefaults.h"
#include "platform/ui/FilePanels.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryItemDictionary.h"
#include "support/TestSupport.h"

#include <QDirIterator>
#include <QImage>

#include <gtest/gtest.h>

namespace LID = LibraryItemDictionary;

namespace {

QDateTime utc(const char *stamp)
{
    return *LibraryUpdateService::dateFromFilename(QString::fromLatin1(stamp));
}

struct QuietReporter : LibraryUpdateReporter {
    void setStatus(const QString &) override {}
    void setProgressIndicatorText(const QString &) override {}
    void addLineToLog(const QString &) override {}
    void setProgress(int, int) override {}
    void updateEnded() override {}
    void updateCancelled() override {}
    void closeWindow() override {}
};

// A library of real stores with one changed collection, set and two frames
// (graphics shared between them), and one collection left unchanged.
struct AdminFixture : ::testing::Test {
    librarytest::ShellDouble shell;
    LibraryStore source{&shell, librarytest::freshFolder()};
    std::unique_ptr<KTAdminController> admin;
    QDateTime now = utc("20250301-120000");
    QStringList errors, opened;
    FrameCollection *woods = nullptr;
    Frame *wide = nullptr;

    static void insertType(platform::ManagedObjectContext *moc)
    {
        FrameType::insertInManagedObjectContext(moc)->setName("Full frame");
    }
    FrameImage *graphic(const QString &guid, const QByteArray &bytes)
    {
        QDir().mkpath(source.framesGraphicsFolder());
        QFile file(source.framesGraphicsFolder() + '/' + guid);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return FrameImage::insertFrameImageWithGUIDAndDisplayName(guid, guid + ".png", moc());
    }
    void SetUp() override
    {
        librarytest::sharedLibrary();
        platform::UserDefaults::standard().setObject(KTAdminController::kSinceDateKey, utc("20230601-000000"));
        platform::setErrorPresenter([this](const platform::Error &e) { errors << e.description; });
        insertType(moc());
        auto *type = FrameType::frameTypeWithName("Full frame", moc());
        FrameImage *icon = graphic("g-icon", "ICON");
        FrameImage *land = graphic("g-land", "LAND");
        FrameImage *port = graphic("g-port", "PORT");
        woods = FrameCollection::insertInManagedObjectContext(moc());
        woods->setName("Woods");
        woods->setUrl("https://example.org/woods");
        woods->setAdescription("Timber");
        woods->setIcon(icon);
        auto *oak = FrameSet::insertInManagedObjectContext(moc());
        oak->setName("Oak");
        oak->setIcon(icon);
        woods->addFramesetsObject(oak);
        for (const char *name : {"Oak wide", "Oak thin"}) {
            Frame *frame = Frame::insertInManagedObjectContext(moc());
            frame->setName(name);
            frame->setAuthor("Ann");
            frame->setCatalogRef("C-1");
            frame->setFrametype(type);
            frame->frameAttributeWithName("Landscape Image")->setImageVal(land);
            frame->frameAttributeWithName("Portrait Image")->setImageVal(port);
            frame->frameAttributeWithName("Act as mask")->setBoolVal(true);
            oak->addFramesObject(frame);
            frame->setLastModified(utc("20240101-000000"));
            wide = wide ? wide : frame;
        }
        auto *old = FrameCollection::insertInManagedObjectContext(moc());
        old->setName("Alder");
        old->setLastModified(utc("20230101-000000"));
        woods->setLastModified(utc("20240101-000000"));
        oak->setLastModified(utc("20240101-000000"));
        ASSERT_TRUE(moc()->save());
        admin = std::make_unique<KTAdminController>(&source);
        admin->setClock([this] { return now; });
        admin->setOpenFolder([this](const QString &f) { opened << f; });
    }
    void TearDown() override { platform::setErrorPresenter(nullptr); }
    platform::ManagedObjectContext *moc() { return source.managedObjectContext(); }
    QDateTime sinceDefault()
    {
        return platform::UserDefaults::standard().objectForKey(KTAdminController::kSinceDateKey).toDateTime();
    }
    bool exportTo(const QString &folder)
    {
        admin->exportDatabaseUpdates();
        admin->pathTextField()->setText(folder);
        return admin->startExport();
    }
};

TEST_F(AdminFixture, ExportServedToTheUpdateEngineRebuildsTheLibraryInAnotherStore)
{
    LibraryServiceTestServer server;
    QDir().mkpath(server.root + "/std");
    ASSERT_TRUE(exportTo(server.root + "/std"));
    // Only the changed collection is chosen: one collection, one set, two frames.
    EXPECT_EQ(admin->countsOfItems(), (QList<qint64>{0, 4}));
    EXPECT_EQ(errors, QStringList());
    EXPECT_EQ(opened, QStringList{server.root + "/std"});
    EXPECT_EQ(sinceDefault(), now);
    // Dates count back from the export, one second an item, in writing order.
    QStringList names;
    for (const char *folder : {"Collections", "Sets", "Frames"})
        names += QDir(server.root + "/std/" + folder).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 4);
    EXPECT_EQ(names.first(), "20250301-115957-" + woods->guid());
    EXPECT_TRUE(names.last().startsWith("20250301-120000-"));
    // Publishing puts the graphics beside the library folders.
    ASSERT_TRUE(QDir().rename(server.root + "/std/graphics", server.root + "/graphics"));

    LibraryStore target{&shell, librarytest::freshFolder()};
    insertType(target.managedObjectContext());
    QuietReporter reporter;
    LibraryUpdateEngine engine(&reporter, &target, target.framesGraphicsFolder());
    engine.setServiceURL(QUrl(server.url()));
    engine.setApplicationVersion("1.0");
    std::optional<bool> cancelled;
    QObject::connect(&engine, &LibraryUpdateEngine::runEnded, [&](bool c) { cancelled = c; });
    engine.startUpdate();
    ASSERT_TRUE(testsupport::waitUntil([&] { return cancelled.has_value(); }));
    EXPECT_FALSE(*cancelled);

    platform::ManagedObjectContext *copy = target.managedObjectContext();
    EXPECT_EQ(copy->fetchObjects<FrameCollection>().size(), 1);
    EXPECT_EQ(copy->fetchObjects<Frame>().size(), 2);
    for (FrameSet *set : woods->framesets()) {
        FrameSet *copied = FrameSet::frameSetWithGUID(set->guid(), copy);
        ASSERT_TRUE(copied);
        EXPECT_EQ(LID::asDictionary(*copied), LID::asDictionary(*set));
        for (Frame *frame : set->frames()) {
            Frame *copiedFrame = Frame::frameWithGUID(frame->guid(), copy);
            ASSERT_TRUE(copiedFrame);
            EXPECT_EQ(LID::asDictionary(*copiedFrame), LID::asDictionary(*frame));
        }
    }
    EXPECT_EQ(LID::asDictionary(*FrameCollection::frameCollectionWithGUID(woods->guid(), copy)), LID::asDictionary(*woods));
    for (const char *guid : {"g-icon", "g-land", "g-port"}) {
        FrameImage *image = FrameImage::frameImageWithGUID(guid, copy);
        ASSERT_TRUE(image);
        EXPECT_EQ(LID::asDictionary(*image), LID::asDictionary(*FrameImage::frameImageWithGUID(guid, moc())));
        QFile a(source.framesGraphicsFolder() + '/' + guid), b(target.framesGraphicsFolder() + '/' + guid);
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        EXPECT_EQ(a.readAll(), b.readAll());
    }
}

// Dates never go back: a second export that would reach back past the first
// is refused until the clock has moved on; a write error keeps the date.
TEST_F(AdminFixture, StampsNeverOverlapAndFailuresLeaveTheSinceDate)
{
    const QString folder = librarytest::freshFolder();
    ASSERT_TRUE(exportTo(folder));
    // Changed during the second the first export ended.
    wide->setLastModified(now.addMSecs(500));
    woods->setLastModified(now.addMSecs(500));
    now = now.addSecs(1);
    EXPECT_FALSE(exportTo(folder));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().contains("Export again in 1 second.")) << errors.first().toStdString();
    EXPECT_EQ(sinceDefault(), now.addSecs(-1));
    now = now.addSecs(1);
    ASSERT_TRUE(exportTo(folder));
    EXPECT_EQ(QDir(folder + "/Collections").entryList(QDir::Files, QDir::Name).last(),
              "20250301-120001-" + woods->guid());

    // A write that fails halfway takes back the files written before it; an
    // empty or missing folder is refused; the date stays each time.
    const QString blocked = librarytest::freshFolder();
    QDir().mkpath(blocked + "/graphics/FrameImages/g-icon");
    woods->setLastModified(now.addMSecs(500));
    now = now.addSecs(60);
    errors.clear();
    EXPECT_FALSE(exportTo(blocked));
    EXPECT_FALSE(exportTo(" "));
    EXPECT_FALSE(exportTo(blocked + "/missing"));
    EXPECT_EQ(errors.size(), 3);
    EXPECT_TRUE(QDir(blocked + "/Collections").exists());
    EXPECT_TRUE(QDir(blocked + "/Collections").entryList(QDir::Files).isEmpty());
    EXPECT_EQ(sinceDefault(), now.addSecs(-60));

    // A collection deleted while the tool is open is left out, not followed.
    admin->exportDatabaseUpdates();
    moc()->deleteObject(woods);
    admin->setDateSince(utc("20230601-000000"));
    EXPECT_EQ(admin->countsOfItems(), (QList<qint64>{0, 0}));
}

// Names are cleaned into one folder or file name each: nothing escapes.
TEST_F(AdminFixture, WebExportOfHostileNamesStaysInsideItsFolder)
{
    woods->setName("../../evil");
    woods->framesets().first()->setName("a/../../b");
    wide->setName("..");
    for (Frame *frame : woods->framesets().first()->frames())
        frame->setIconImageData({});
    QImage icon(8, 8, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    wide->setIconImage(icon);
    ASSERT_TRUE(moc()->save());
    const QString outer = librarytest::freshFolder();
    const QString chosen = outer + "/web";
    QDir().mkpath(chosen);
    platform::setOpenPanelPresenter([&](const platform::OpenPanelRequest &) { return QList<QUrl>{QUrl::fromLocalFile(chosen)}; });
    KTLibraryExporterForWeb exporter(&source);
    exporter.setOpenFolder([this](const QString &f) { opened << f; });
    std::optional<QStringList> ended;
    QObject::connect(&exporter, &KTLibraryExporterForWeb::exportEnded, [&](const QString &, const QStringList &e) { ended = e; });
    exporter.exportLibrary();
    platform::setOpenPanelPresenter(nullptr);
    ASSERT_TRUE(testsupport::waitUntil([&] { return ended.has_value(); }));
    EXPECT_EQ(*ended, QStringList());
    EXPECT_EQ(platform::UserDefaults::standard().stringForKey(KTAdminController::kExportPathKey), chosen);

    const QString root = chosen + '/' + KTLibraryExporterForWeb::rootFolderName();
    EXPECT_EQ(opened, QStringList{root});
    EXPECT_EQ(QDir(outer).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"web"});
    QStringList files;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        files << it.next().mid(root.size() + 1);
    files.sort();
    EXPECT_EQ(files, (QStringList{"__-..-evil/a-..-..-b/__-icon.png"}));
    EXPECT_TRUE(QDir(root + "/Alder").exists());
    EXPECT_EQ(QImage(root + '/' + files.value(0)).pixelColor(0, 0), QColor(Qt::red));
}

} // namespace
