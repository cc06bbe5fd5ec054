#include "LibraryServiceTestServer.h"

#include "library/LibraryUpdateEngine.h"
#include "library/LibraryUpdateService.h"
#include "platform/Alert.h"
#include "platform/ThreadPools.h"
#include "platform/objectstore/PersistentStore.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryModel.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

struct ReporterDouble : LibraryUpdateReporter {
    QStringList statuses, texts, log;
    int ended = 0, cancelled = 0, closed = 0;
    void setStatus(const QString &s) override { statuses << s; }
    void setProgressIndicatorText(const QString &t) override { texts << t; }
    void addLineToLog(const QString &l) override { log << l; }
    void setProgress(int, int) override {}
    void updateEnded() override { ++ended; }
    void updateCancelled() override { ++cancelled; }
    void closeWindow() override { ++closed; }
};

QDateTime utc(const char *stamp)
{
    return *LibraryUpdateService::dateFromFilename(QString::fromLatin1(stamp));
}

// A fresh library store, the service and an engine between them.
struct UpdateFixture : ::testing::Test {
    librarytest::ShellDouble shell;
    QString graphics = librarytest::freshFolder();
    LibraryStore library{&shell, librarytest::freshFolder()};
    LibraryServiceTestServer server;
    ReporterDouble reporter;
    LibraryUpdateEngine engine{&reporter, &library, graphics};
    int alerts = 0;
    int alertChoice = 1;

    void SetUp() override
    {
        librarytest::sharedLibrary();
        auto *type = FrameType::insertInManagedObjectContext(library.managedObjectContext());
        type->setName("Full frame");
        engine.setServiceURL(QUrl(server.url()));
        engine.setAccountSegment("me/you");
        engine.setApplicationVersion("3.10");
        engine.setTimeoutMs(10000);
        platform::setAlertPresenter([this](const platform::AlertRequest &) {
            ++alerts;
            return alertChoice;
        });
    }
    void TearDown() override { platform::setAlertPresenter(nullptr); }

    // Runs an update to its end; answers whether it was cancelled.
    bool runUpdate()
    {
        std::optional<bool> result;
        auto c = QObject::connect(&engine, &LibraryUpdateEngine::runEnded, [&](bool cancelled) {
            result = cancelled;
            // What a kill right now would leave: the file, read afresh.
            auto store = platform::PersistentStore::openSQLite(library.libraryDatabasePath(), LibraryModel::shared());
            platform::ManagedObjectContext fresh(LibraryModel::shared());
            framesOnDiskAtEnd = store && fresh.attachStore(store) ? fresh.fetchObjects<Frame>().size() : -1;
        });
        engine.startUpdate();
        EXPECT_TRUE(testsupport::waitUntil([&] { return result.has_value(); }));
        QObject::disconnect(c);
        return result.value_or(true);
    }
    qsizetype framesOnDiskAtEnd = -1;
    platform::ManagedObjectContext *moc() { return library.managedObjectContext(); }
    QVariant metadata(const char *key) { return library.valueForLibraryMetadataKey(QString::fromLatin1(key)); }
};

// One of each item in both libraries, the frame with two graphics, served
// with CRLF lines, blank lines and bases announced without their "/".
TEST_F(UpdateFixture, FullStandardAndProRunInsertsEverythingAndRecordsTheNewestDate)
{
    server.image("img-icon", "icon.png", "PNGICON");
    server.image("img-l", "land.png", "LAND");
    server.image("img-p", "port.png", "PORT");
    server.collection("std", "20240101-100000-c1", "c1", "Woods", "img-icon");
    server.set("std", "20240101-100001-s1", "s1", "Oak", "c1");
    server.frame("std", "20240101-100002-f1", "f1", "Oak wide", "s1", "img-l", "img-p");
    server.collection("pro", "20230505-000000-pc", "pc", "Gallery");
    server.set("pro", "20230505-000001-ps", "ps", "Gold", "pc");
    server.frame("pro", "20230505-000002-pf", "pf", "Gold thin", "ps", "img-l", "img-p");
    server.faults([](auto &f) {
        f.crlf = true;
        f.blankLines = true;
        f.baseWithoutSlash = true;
    });

    // Never updated: two counts, both from the distant past.
    EXPECT_EQ(engine.updatesPending(), (QStringList{"3", "3"}));
    EXPECT_EQ(server.countRequests("/count_updates/00010101-000000/me%2Fyou"), 2);

    EXPECT_FALSE(runUpdate());
    EXPECT_EQ(reporter.ended, 1);
    EXPECT_EQ(alerts, 0);
    FrameCollection *woods = FrameCollection::frameCollectionWithGUID("c1", moc());
    ASSERT_TRUE(woods);
    EXPECT_EQ(woods->lastUpdated(), utc("20240101-100000"));
    EXPECT_EQ(woods->lastModified(), utc("20240101-100000"));
    ASSERT_TRUE(FrameSet::frameSetWithGUID("ps", moc()));
    Frame *oak = Frame::frameWithGUID("f1", moc());
    ASSERT_TRUE(oak);
    EXPECT_EQ(oak->frameset()->guid(), "s1");
    EXPECT_TRUE(Frame::frameWithGUID("pf", moc()));
    FrameImage *land = FrameImage::frameImageWithGUID("img-l", moc());
    ASSERT_TRUE(land);
    EXPECT_EQ(land->filename(), "land.png");
    QFile file(graphics + "/img-l");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "LAND");
    // Shared graphics come once.
    EXPECT_EQ(server.countRequests("/graphics/img-l"), 1);
    EXPECT_EQ(metadata("lastUpdateDate").toDateTime(), utc("20240101-100002"));
    EXPECT_EQ(framesOnDiskAtEnd, 2) << "the date is recorded only with the frames on disk";
    EXPECT_EQ(metadata("proUpdated").toString(), "YES");
    EXPECT_TRUE(reporter.log.contains("Number of Pro frames to update: 1"));
    EXPECT_TRUE(reporter.log.contains("Updated Frame Oak wide"));

    // Now one count request, since the newest date.
    server.clearRequests();
    EXPECT_EQ(engine.updatesPending(), (QStringList{"0", "0"}));
    EXPECT_EQ(server.requests(), (QList<QByteArray>{"/count_updates/20240101-100002/me%2Fyou"}));
}

TEST_F(UpdateFixture, CountAnswerWithOneFieldOrNoServiceIsNoAnswer)
{
    server.faults([](auto &f) { f.countAnswer = "5"; });
    EXPECT_FALSE(engine.updatesPending());
    server.faults([](auto &f) { f.drop.insert("/count_updates/00010101-000000/me%2Fyou"); });
    EXPECT_FALSE(engine.updatesPending());
}

// An answer longer than it can be is dropped as its excess arrives, one
// that trickles past the deadline is cut off: the check has no answer.
TEST_F(UpdateFixture, OverlongAndEndlessAnswersAreNoAnswers)
{
    LibraryUpdateService service;
    const auto overlong = service.stringFromURL(QUrl(server.url("/check_version")), 3);
    EXPECT_FALSE(overlong);
    EXPECT_TRUE(overlong.error().description.contains("longer than 3 bytes"));
    EXPECT_EQ(service.stringFromURL(QUrl(server.url("/check_version")), 4).valueOr({}), "1.0");

    const QByteArray count = "/count_updates/00010101-000000/me%2Fyou";
    server.faults([&](auto &f) {
        f.countAnswer = "0 0";
        f.padded.insert(count, qint64(256) << 20);
    });
    EXPECT_FALSE(engine.updatesPending());
    EXPECT_EQ(server.countRequests(count), 1);

    server.faults([&](auto &f) {
        f.padded.clear();
        f.trickle.insert(count);
        f.countAnswer = "0 0" + QString(100, ' ');
    });
    engine.setDeadlineMs(300);
    EXPECT_FALSE(engine.updatesPending());
}

// A set whose collection is older than the since-date: the collection is
// looked up by its GUID, fetched, and the set goes in after it.
TEST_F(UpdateFixture, MissingParentIsFetchedByItsGUID)
{
    library.setValueForLibraryMetadataKey(utc("20240101-000000"), "lastUpdateDate");
    library.setValueForLibraryMetadataKey("YES", "proUpdated");
    server.collection("std", "20231201-000000-old", "old", "Old");
    server.set("std", "20240202-000000-s2", "s2", "New set", "old");
    server.set("std", "20240202-000001-s3", "s3", "Orphan", "nowhere");

    EXPECT_FALSE(runUpdate());
    EXPECT_EQ(server.countRequests("/collection_with_id/old/me%2Fyou"), 1);
    EXPECT_EQ(server.countRequests("/std/Collections/20231201-000000-old"), 1);
    ASSERT_TRUE(FrameSet::frameSetWithGUID("s2", moc()));
    EXPECT_EQ(FrameSet::frameSetWithGUID("s2", moc())->framecollection()->guid(), "old");
    EXPECT_FALSE(FrameSet::frameSetWithGUID("s3", moc()));
    EXPECT_TRUE(reporter.log.contains("ERROR: Can't find missing collection with ID nowhere"));
    // The orphan is asked for again next time.
    EXPECT_EQ(metadata("lastUpdateDate").toDateTime(), utc("20240202-000000"));
}

// One graphic of two fails: the frame is not inserted, the graphic that came
// stays, and the date stays before the frame; the next run finishes it
// without fetching the first graphic again.
TEST_F(UpdateFixture, FrameWithAFailingGraphicIsRetriedNextRun)
{
    library.setValueForLibraryMetadataKey("YES", "proUpdated");
    server.image("g-ok", "ok.png", "OK");
    server.image("g-bad", "bad.png", "BAD");
    server.collection("std", "20240301-000000-c", "c", "C");
    server.set("std", "20240301-000001-s", "s", "S", "c");
    server.frame("std", "20240301-000002-f", "f", "F", "s", "g-ok", "g-bad");
    server.frame("std", "20240301-000003-u", "u", "Unsafe", "s", "g-ok", "../escape");
    server.faults([](auto &f) { f.status.insert("/graphics/g-bad", 404); });

    EXPECT_FALSE(runUpdate());
    EXPECT_FALSE(Frame::frameWithGUID("f", moc()));
    EXPECT_FALSE(Frame::frameWithGUID("u", moc()));
    EXPECT_TRUE(FrameImage::frameImageWithGUID("g-ok", moc()));
    EXPECT_TRUE(QFileInfo::exists(graphics + "/g-ok"));
    EXPECT_FALSE(FrameImage::frameImageWithGUID("g-bad", moc()));
    EXPECT_FALSE(QFileInfo::exists(graphics + "/g-bad"));
    EXPECT_EQ(server.countRequests("/graphics/..%2Fescape"), 0);
    EXPECT_EQ(metadata("lastUpdateDate").toDateTime(), utc("20240301-000001"));

    server.faults([](auto &f) { f.status.clear(); });
    server.clearRequests();
    EXPECT_FALSE(runUpdate());
    EXPECT_TRUE(Frame::frameWithGUID("f", moc()));
    EXPECT_EQ(server.countRequests("/graphics/g-ok"), 0);
    EXPECT_EQ(server.countRequests("/graphics/g-bad"), 1);
}

// Names without a date go in stamped now, but never move the date; a list
// of blank lines asks for nothing; bad answers skip only their item.
TEST_F(UpdateFixture, DatelessNamesBlankListsAndBadAnswers)
{
    library.setValueForLibraryMetadataKey("YES", "proUpdated");
    server.collection("std", "short-c", "sc", "Short", "g-orphan");
    // A graphics file without its record is not trusted: it comes again.
    server.image("g-orphan", "orphan.png", "FRESH");
    {
        QFile stale(graphics + "/g-orphan");
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.write("STALE");
    }
    server.collection("std", "20240401-000000-bad", "bad", "Bad");
    server.faults([](auto &f) {
        f.badPlist.insert("/std/Collections/20240401-000000-bad");
        f.blankLines = true;
    });
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);

    EXPECT_FALSE(runUpdate());
    FrameCollection *shortOne = FrameCollection::frameCollectionWithGUID("sc", moc());
    ASSERT_TRUE(shortOne);
    EXPECT_GE(shortOne->lastUpdated(), before);
    EXPECT_EQ(server.countRequests("/graphics/g-orphan"), 1);
    QFile fresh(graphics + "/g-orphan");
    ASSERT_TRUE(fresh.open(QIODevice::ReadOnly));
    EXPECT_EQ(fresh.readAll(), "FRESH");
    EXPECT_FALSE(FrameCollection::frameCollectionWithGUID("bad", moc()));
    EXPECT_TRUE(reporter.log.contains("Number of sets to update: 0"));
    EXPECT_EQ(server.countRequests("/std/Sets/"), 0);
    EXPECT_EQ(metadata("lastUpdateDate").toDateTime(), LibraryUpdateService::distantPast());
}

TEST_F(UpdateFixture, CancelDuringAHeldReplyEndsAtOnceAndKeepsTheDate)
{
    server.collection("std", "20240501-000000-c", "c", "C");
    server.faults([](auto &f) { f.hold.insert("/std/Collections/20240501-000000-c"); });
    std::optional<bool> result;
    QObject::connect(&engine, &LibraryUpdateEngine::runEnded, [&](bool cancelled) { result = cancelled; });
    engine.startUpdate();
    ASSERT_TRUE(testsupport::waitUntil([&] { return server.countRequests("/std/Collections/") == 1; }));
    engine.cancelUpdate();
    ASSERT_TRUE(testsupport::waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(*result);
    EXPECT_EQ(reporter.cancelled, 1);
    EXPECT_EQ(reporter.ended, 0);
    EXPECT_FALSE(metadata("lastUpdateDate").isValid());
    EXPECT_FALSE(FrameCollection::frameCollectionWithGUID("c", moc()));
    EXPECT_FALSE(engine.isUpdating());
}

// Quitting asks background threads to stop and joins them: a run waiting on
// a held reply ends as cancelled, and the library keeps its date.
TEST_F(UpdateFixture, QuitDuringAHeldReplyJoinsTheRunAsCancelled)
{
    server.collection("std", "20240501-000000-c", "c", "C");
    server.faults([](auto &f) { f.hold.insert("/std/Collections/20240501-000000-c"); });
    std::optional<bool> result;
    QObject::connect(&engine, &LibraryUpdateEngine::runEnded, [&](bool cancelled) { result = cancelled; });
    engine.startUpdate();
    ASSERT_TRUE(testsupport::waitUntil([&] { return server.countRequests("/std/Collections/") == 1; }));
    platform::waitForBackgroundThreads();
    ASSERT_TRUE(testsupport::waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(*result);
    EXPECT_EQ(reporter.cancelled, 1);
    EXPECT_EQ(reporter.ended, 0);
    EXPECT_FALSE(metadata("lastUpdateDate").isValid());
}

// Versions compare number by number; the alert's stop choice ends the run
// before any list is asked for, "continue" goes on.
TEST_F(UpdateFixture, VersionAlertChoices)
{
    server.faults([](auto &f) { f.version = "3.9"; });
    EXPECT_FALSE(runUpdate());
    EXPECT_EQ(alerts, 0);

    server.faults([](auto &f) { f.version = "3.11"; });
    server.clearRequests();
    alertChoice = 2;
    EXPECT_TRUE(runUpdate());
    EXPECT_EQ(alerts, 1);
    EXPECT_EQ(reporter.closed, 1);
    EXPECT_EQ(server.countRequests("/collections_since"), 0);

    int applicationChecks = 0;
    engine.setApplicationUpdateCheck([&] { ++applicationChecks; });
    alertChoice = 0;
    EXPECT_TRUE(runUpdate());
    EXPECT_TRUE(testsupport::waitUntil([&] { return applicationChecks == 1; }));

    alertChoice = 1;
    EXPECT_FALSE(runUpdate());
    EXPECT_EQ(server.countRequests("/collections_since"), 1);
}

TEST(LibraryUpdateService, WireForms)
{
    EXPECT_TRUE(LibraryUpdateService::isVersionOlder("3.9", "3.10"));
    EXPECT_FALSE(LibraryUpdateService::isVersionOlder("3.10", "3.9"));
    EXPECT_FALSE(LibraryUpdateService::isVersionOlder("3.1", "3.1.0"));
    EXPECT_EQ(LibraryUpdateService::dateFromFilename("20240102-030405-GUID"),
              QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC));
    EXPECT_FALSE(LibraryUpdateService::dateFromFilename("2024010203"));
    EXPECT_EQ(LibraryUpdateService::sinceDateString(LibraryUpdateService::distantPast()), "00010101-000000");
    EXPECT_EQ(LibraryUpdateService::baseURLFromText(" http://h/x \r\n")->toString(), "http://h/x/");
    EXPECT_FALSE(LibraryUpdateService::baseURLFromText("file:///etc/"));
    EXPECT_EQ(LibraryUpdateService::urlWithSegments(QUrl("https://h/a/"), {"Frames", "a b/c"}).toEncoded(),
              "https://h/a/Frames/a%20b%2Fc");
    EXPECT_FALSE(LibraryUpdateService::isSafeComponent(".."));
    EXPECT_FALSE(LibraryUpdateService::isSafeComponent("a/b"));
}

} // namespace
