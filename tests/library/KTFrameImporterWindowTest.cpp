#include "../app/AppTestSupport.h"

#include "kit/ZCZipArchive.h"
#include "library/KTFrameImporterWindowController.h"
#include "platform/Alert.h"
#include "platform/NotificationCenter.h"
#include "platform/objectstore/SqliteDatabase.h"
#include "platform/ui/FilePanels.h"
#include "stores/Frame.h"
#include "stores/LibraryTestSupport.h"
#include "support/TestSupport.h"

#include <QPointer>

#include <gtest/gtest.h>

namespace {

struct ImporterWindowFixture : ::testing::Test {
    librarytest::ShellDouble shell;
    LibraryStore library{&shell, librarytest::freshFolder()};
    QList<LibraryItem *> shown;
    QString archive = apptest::frameArchive();

    KTFrameImporterWindowController::Services services()
    {
        return {[this] { return library.managedObjectContext(); }, [this] { return library.framesGraphicsFolder(); },
                [this](LibraryItem *item) { shown << item; }};
    }
    // Imports the archive in a window of its own, which stays open.
    KTFrameImporterWindowController *import()
    {
        auto *controller = KTFrameImporterWindowController::openArchive(QUrl::fromLocalFile(archive), services());
        int ended = 0;
        QObject::connect(controller, &KTFrameImporterWindowController::importEnded, [&](bool ok) { ended += ok ? 1 : 100; });
        controller->defaultButton()->click();
        controller->defaultButtonPressed();
        EXPECT_TRUE(testsupport::waitUntil([&] { return ended != 0; }));
        // Nothing else arrives: the second press started nothing.
        EXPECT_TRUE(testsupport::waitPastTimersDue(50));
        EXPECT_EQ(ended, 1);
        return controller;
    }
};

TEST_F(ImporterWindowFixture, ListsWhatTheImportAddedAndNothingOnAReimport)
{
    ASSERT_FALSE(archive.isEmpty());
    KTFrameImporterWindowController *first = import();
    EXPECT_EQ(first->state(), KTFrameImporterWindowController::Done);
    EXPECT_EQ(first->filePathLabel()->text(), "Woods");
    EXPECT_EQ(first->defaultButton()->text(), "Close");
    EXPECT_FALSE(first->cancelButton()->isVisible());
    // Heading, collection, heading, set, heading, two frames.
    ASSERT_EQ(first->numberOfRows(), 7);
    EXPECT_EQ(first->tableView()->rowCount(), 7);
    EXPECT_EQ(first->headingForRow(0), "Collections");
    EXPECT_EQ(first->headingForRow(2), "Sets");
    EXPECT_EQ(first->headingForRow(4), "Frames");
    EXPECT_EQ(first->titleForRow(1), "Woods (1)");
    EXPECT_EQ(first->titleForRow(3), "Oak (2)");
    EXPECT_EQ(first->titleForRow(5), "Oak full");
    EXPECT_EQ(first->tableView()->rowHeight(4), 21);
    EXPECT_EQ(first->tableView()->rowHeight(5), 50);
    EXPECT_EQ(first->summaryLabel()->text(), "“Woods” added 1 collection, 1 set and 2 frames to your library.");
    first->iconPreviewPressed(4);
    EXPECT_TRUE(shown.isEmpty());
    first->tableView()->cellWidget(6, 0)->findChild<QPushButton *>("showInLibraryButton")->click();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0]->name(), "Oak wide");
    EXPECT_TRUE(dynamic_cast<Frame *>(shown[0]));

    // A zip that holds no frames at all is not "everything the library has".
    archive = apptest::freshDir() + "/Notes.ktframes";
    ZCZipArchive notes(archive);
    ASSERT_TRUE(notes.open() && notes.writeData("only words", "readme.txt", QString()) && notes.close());
    KTFrameImporterWindowController *empty = import();
    EXPECT_EQ(empty->summaryLabel()->text(),
              "“Notes.ktframes” holds no frames to import. Choose another frame archive.");
    empty->close();
    archive = apptest::frameArchive();

    KTFrameImporterWindowController *second = import();
    EXPECT_EQ(second->numberOfRows(), 0);
    EXPECT_EQ(second->summaryLabel()->text(), "Your library already has everything in “Woods”.");
    EXPECT_EQ(library.managedObjectContext()->fetchObjects<Frame>().size(), 2);

    // A frame changed in the library since: the archive's version is back, and listed.
    Frame *wide = librarytest::findNamed<Frame>(library.managedObjectContext(), QStringLiteral("Oak wide"));
    const QString author = wide->author();
    wide->setAuthor(QStringLiteral("Someone else"));
    ASSERT_TRUE(library.managedObjectContext()->save());
    KTFrameImporterWindowController *third = import();
    EXPECT_EQ(third->summaryLabel()->text(), "“Woods” updated 0 collections, 0 sets and 1 frame in your library.");
    ASSERT_EQ(third->numberOfRows(), 2);
    EXPECT_EQ(third->titleForRow(1), "Oak wide");
    EXPECT_EQ(wide->author(), author);
    third->close();

    QPointer<KTFrameImporterWindowController> gone(first);
    first->close();
    second->close();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !gone; }));
}

// Closing the window under a running import: the import goes on into the
// library and its reports go nowhere.
TEST_F(ImporterWindowFixture, ClosingDuringTheImportIsSafe)
{
    bool saved = false;
    const auto observer = platform::NotificationCenter::defaultCenter().addObserver(
        KTFrameLibraryImporter::kFinishedImportingFramesNotification, nullptr,
        [&](const platform::Notification &) { saved = true; });
    QPointer<KTFrameImporterWindowController> controller =
        KTFrameImporterWindowController::openArchive(QUrl::fromLocalFile(archive), services());
    controller->defaultButton()->click();
    controller->close();
    // Waited for to its end, saved: the library goes with the test.
    EXPECT_TRUE(testsupport::waitUntil([&] { return !controller && saved; }));
    platform::NotificationCenter::defaultCenter().removeObserver(observer);
    EXPECT_EQ(library.managedObjectContext()->fetchObjects<Frame>().size(), 2);
    EXPECT_TRUE(testsupport::waitPastTimersDue(50));
}

TEST_F(ImporterWindowFixture, AFailedImportSaysWhyInPlainWordsAndOffersClose)
{
    archive = apptest::freshDir() + "/Broken.ktframes";
    QFile broken(archive);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("no zip at all");
    broken.close();
    int alerts = 0;
    platform::setErrorPresenter([&](const platform::Error &) { ++alerts; });
    auto *controller = KTFrameImporterWindowController::openArchive(QUrl::fromLocalFile(archive), services());
    int ended = 0;
    QObject::connect(controller, &KTFrameImporterWindowController::importEnded,
                     [&](bool ok) { ended += ok ? 100 : 1; });
    controller->defaultButton()->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return ended != 0; }));
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(controller->state(), KTFrameImporterWindowController::Failed);
    EXPECT_EQ(controller->failureLabel()->text(),
              "“Broken.ktframes” could not be read. It is not a frame archive, or it is damaged or incomplete.");
    EXPECT_FALSE(controller->progressIndicator()->isVisible());
    EXPECT_FALSE(controller->cancelButton()->isVisible());
    EXPECT_EQ(controller->defaultButton()->text(), "Close");
    EXPECT_EQ(alerts, 0) << "the window says it; no second message";
    platform::setErrorPresenter(nullptr);
    QPointer<KTFrameImporterWindowController> gone(controller);
    controller->defaultButton()->click();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !gone; }));
}

// "Added" is only said once the frames are in the library's file: a kill
// right after must not lose them. A save that fails is the import's failure.
TEST_F(ImporterWindowFixture, TheFramesAreInTheFileWhenTheWindowSaysAdded)
{
    const QString path = library.libraryDatabasePath();
    ASSERT_TRUE(library.managedObjectContext());
    auto framesOnDisk = [&] {
        auto store = platform::PersistentStore::openSQLite(path, LibraryModel::shared());
        platform::ManagedObjectContext fresh(LibraryModel::shared());
        return store && fresh.attachStore(store) ? fresh.fetchObjects<Frame>().size() : qsizetype(-1);
    };
    auto importAndCount = [&](qsizetype *onDisk) {
        auto *controller = KTFrameImporterWindowController::openArchive(QUrl::fromLocalFile(archive), services());
        int ended = 0;
        QObject::connect(controller, &KTFrameImporterWindowController::importEnded, [&](bool ok) {
            ended = ok ? 1 : 2;
            *onDisk = framesOnDisk();
        });
        controller->defaultButton()->click();
        EXPECT_TRUE(testsupport::waitUntil([&] { return ended != 0; }));
        return controller;
    };

    platform::SqliteDatabase db;
    ASSERT_TRUE(db.open(path, false));
    ASSERT_TRUE(db.exec("CREATE TRIGGER refuse BEFORE INSERT ON Frame BEGIN SELECT RAISE(ABORT, 'full'); END"));
    qsizetype onDisk = -2;
    KTFrameImporterWindowController *refused = importAndCount(&onDisk);
    EXPECT_EQ(refused->state(), KTFrameImporterWindowController::Failed);
    EXPECT_TRUE(refused->failureLabel()->text().contains("could not be saved")) << refused->failureLabel()->text().toStdString();
    EXPECT_EQ(onDisk, 0);
    refused->close();

    ASSERT_TRUE(db.exec("DROP TRIGGER refuse"));
    db.close();
    KTFrameImporterWindowController *saved = importAndCount(&onDisk);
    EXPECT_EQ(saved->state(), KTFrameImporterWindowController::Done);
    EXPECT_EQ(onDisk, 2);
    saved->close();
}

// An archive that would unpack beyond the limits is hostile or damaged: no
// advice about room on the disk.
TEST_F(ImporterWindowFixture, AnArchiveThatExpandsTooFarIsCalledDamaged)
{
    const ZCZipArchive::Limits saved = ZCZipArchive::limits();
    ZCZipArchive::setLimits({saved.totalBytes, 64, saved.entries});
    auto *controller = KTFrameImporterWindowController::openArchive(QUrl::fromLocalFile(archive), services());
    bool ended = false;
    QObject::connect(controller, &KTFrameImporterWindowController::importEnded, [&] { ended = true; });
    controller->defaultButton()->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return ended; }));
    ZCZipArchive::setLimits(saved);
    EXPECT_EQ(controller->failureLabel()->text().toStdString(),
              "“Woods.ktframes” could not be read. It is not a frame archive, or it is damaged or incomplete.");
    controller->close();
}

TEST_F(ImporterWindowFixture, AMissingArchiveAsksForAnotherWithoutImporting)
{
    int alerts = 0;
    int answer = 1;
    platform::setAlertPresenter([&](const platform::AlertRequest &request) {
        ++alerts;
        EXPECT_EQ(request.messageText, "The selected file cannot be found");
        EXPECT_EQ(request.informativeText, "Do you want to choose another file? ");
        return answer;
    });
    int panels = 0;
    platform::setOpenPanelPresenter([&](const platform::OpenPanelRequest &request) {
        ++panels;
        EXPECT_EQ(request.title, "Choose a new frames archive to import");
        return QList<QUrl>{QUrl::fromLocalFile(archive)};
    });
    auto *controller =
        KTFrameImporterWindowController::openArchive(QUrl::fromLocalFile(archive + ".gone.ktframes"), services());
    controller->defaultButton()->click();
    EXPECT_EQ(alerts, 1);
    EXPECT_TRUE(testsupport::waitPastTimersDue(20));
    EXPECT_EQ(panels, 0);

    answer = 0;
    controller->defaultButton()->click();
    EXPECT_TRUE(testsupport::waitUntil([&] { return panels == 1; }));
    EXPECT_EQ(controller->url(), QUrl::fromLocalFile(archive));
    EXPECT_EQ(controller->filePathLabel()->text(), "Woods");
    EXPECT_EQ(controller->state(), KTFrameImporterWindowController::Ready);
    platform::setAlertPresenter(nullptr);
    platform::setOpenPanelPresenter(nullptr);
    controller->close();
}

} // namespace
