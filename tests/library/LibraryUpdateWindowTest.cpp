#include "LibraryServiceTestServer.h"

#include "library/LibraryUpdateEngine.h"
#include "library/LibraryUpdateService.h"
#include "library/LibraryUpdateWindowController.h"
#include "library/LibraryUpdates.h"
#include "platform/Alert.h"
#include "stores/FrameCollection.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

struct UpdateWindowFixture : ::testing::Test {
    librarytest::ShellDouble shell;
    LibraryStore library{&shell, librarytest::freshFolder()};
    LibraryServiceTestServer server;
    int saves = 0;
    LibraryUpdates updates{&library, [this] { ++saves; }};
    QList<platform::AlertRequest> alerts;
    int choice = 1;

    void SetUp() override
    {
        LibraryUpdateEngine *engine = updates.windowController()->setupUpdateEngine();
        engine->setServiceURL(QUrl(server.url()));
        engine->setApplicationVersion("1.0");
        platform::setAlertPresenter([this](const platform::AlertRequest &request) {
            alerts << request;
            return choice;
        });
    }
    void TearDown() override { platform::setAlertPresenter(nullptr); }

    void check(bool fromMenu)
    {
        bool ended = false;
        auto c = QObject::connect(&updates, &LibraryUpdates::checkEnded, [&] { ended = true; });
        updates.checkForLibraryUpdates(fromMenu);
        EXPECT_TRUE(testsupport::waitUntil([&] { return ended; }));
        QObject::disconnect(c);
    }
};

TEST_F(UpdateWindowFixture, ChecksSayWhatIsPendingOnlyWhenAsked)
{
    server.faults([](auto &f) { f.countAnswer = "0 0"; });
    check(false);
    EXPECT_TRUE(alerts.isEmpty());
    check(true);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].messageText, "No updates available");

    // No answer: said only when asked.
    server.faults([](auto &f) { f.countAnswer = "not counted"; });
    check(false);
    EXPECT_EQ(alerts.size(), 1);
    check(true);
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[1].messageText, "Couldn't check for library updates");

    server.faults([](auto &f) { f.countAnswer = "0 12"; });
    check(false);
    ASSERT_EQ(alerts.size(), 3);
    EXPECT_EQ(alerts[2].messageText, "Frame library has updates available");
    EXPECT_EQ(alerts[2].informativeText,
              "The Standard library has 0 updated items\rThe Pro library has 12 updated items");
    EXPECT_FALSE(updates.isUpdating());
}

// A head without end, from the service or a proxy in its place, fails the
// check as soon as it passes its limit, not at the deadline.
TEST_F(UpdateWindowFixture, EndlessHeadsFailTheCheck)
{
    for (const QByteArray kind : {"lines", "line", "chunk"}) {
        SCOPED_TRACE(kind.constData());
        server.faults([&](auto &f) { f.endlessHead = kind; });
        alerts.clear();
        check(true);
        ASSERT_EQ(alerts.size(), 1);
        EXPECT_EQ(alerts[0].messageText, "Couldn't check for library updates");
    }
}

// "Update library now" shows the window and runs the update to its end;
// every log line carries its moment.
TEST_F(UpdateWindowFixture, UpdateNowRunsInTheWindowAndLogsEachLine)
{
    server.collection("std", "20240101-000000-c", "c", "Woods");
    server.faults([](auto &f) { f.countAnswer = "1 0"; });
    choice = 0;
    check(false);
    LibraryUpdateWindowController *window = updates.windowController();
    EXPECT_TRUE(window->window()->isVisible());
    EXPECT_TRUE(updates.isUpdating());
    EXPECT_TRUE(window->cancelButton()->isEnabled());
    // A second start while running starts nothing new.
    updates.updateLibrary();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !updates.isUpdating(); }));
    EXPECT_EQ(server.countRequests("/check_version/"), 1);
    EXPECT_EQ(window->nowDoingLabel()->text(), "Finished library update");
    EXPECT_FALSE(window->cancelButton()->isEnabled());
    EXPECT_TRUE(FrameCollection::frameCollectionWithGUID("c", library.managedObjectContext()));

    const QStringList lines = window->logTextView()->toPlainText().split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3);
    const QRegularExpression form(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000: (.*)$)");
    for (const QString &line : lines)
        EXPECT_TRUE(form.match(line).hasMatch()) << line.toStdString();
    EXPECT_TRUE(lines.first().endsWith(": Starting library update"));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString &l) { return l.endsWith(": Updated collection Woods"); }))
        << lines.join("\n").toStdString();
    EXPECT_TRUE(lines.last().endsWith(": Finished library update"));

    // The log button grows the window downwards and back.
    const QRect first = window->window()->geometry();
    window->showLogButton()->click();
    EXPECT_EQ(window->window()->height(), LibraryUpdateWindowController::kHeightWithLog);
    EXPECT_EQ(window->window()->geometry().top(), first.top());
    window->showLogButton()->click();
    EXPECT_EQ(window->window()->geometry(), first);
    window->close();
}

// Quitting cancels a running update and goes on only once it has ended.
TEST_F(UpdateWindowFixture, CancellingReturnsOnceTheUpdateHasEnded)
{
    server.collection("std", "20240101-000000-c", "c", "Woods");
    server.faults([](auto &f) {
        f.countAnswer = "1 0";
        f.hold.insert("/std/Collections/20240101-000000-c");
    });
    choice = 0;
    check(false);
    ASSERT_TRUE(updates.isUpdating());
    ASSERT_TRUE(testsupport::waitUntil([&] { return server.countRequests("/std/Collections/") == 1; }));
    updates.cancelLibraryUpdate();
    EXPECT_FALSE(updates.isUpdating());
    EXPECT_EQ(updates.windowController()->nowDoingLabel()->text(), LibraryUpdateWindowController::kCancelled);
    EXPECT_FALSE(FrameCollection::frameCollectionWithGUID("c", library.managedObjectContext()));
    updates.cancelLibraryUpdate(); // nothing running: returns at once
    updates.windowController()->close();
}

TEST_F(UpdateWindowFixture, ResetForgetsBothLibrariesAndTheDates)
{
    auto *c = FrameCollection::insertInManagedObjectContext(library.managedObjectContext());
    c->setLastUpdated(QDateTime::currentDateTimeUtc());
    library.setValueForLibraryMetadataKey(QDateTime::currentDateTimeUtc(), "lastUpdateDate");
    library.setValueForLibraryMetadataKey("YES", "proUpdated");
    updates.resetLibraryUpdates();
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(c->lastUpdated(), LibraryUpdateService::distantPast());
    EXPECT_FALSE(library.valueForLibraryMetadataKey("lastUpdateDate").isValid());

    server.faults([](auto &f) { f.countAnswer = "0 0"; });
    check(false);
    EXPECT_EQ(server.countRequests("/count_updates/00010101-000000/"), 2);
}

} // namespace
