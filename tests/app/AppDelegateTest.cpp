#include "AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/KTWelcomeWindow.h"
#include "design/KTTemplate.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "kit/VLKitUtils.h"
#include "kit/VLLongProcess.h"
#include "kit/VLLongProcessPanel.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Document.h"
#include "platform/ui/DocumentController.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <atomic>
#include <thread>

using namespace platform;
using namespace apptest;

namespace {

// Each test starts with settings of its own and no documents left over.
class AppDelegateFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UserDefaults &d = UserDefaults::standard();
        for (const QString &key : AppDelegate::factoryDefaults().keys())
            d.removeObject(key);
        for (const char *key : {AppDelegate::kAdminKey, AppDelegate::kTemplateNamesKey, "Launches-SubscribeToNewsletter"})
            d.removeObject(QString::fromLatin1(key));
        VLKitUtils::forgetCountedFeatures();
        setLogSink([this](const QString &line) { logged.append(line); });
        oldResources = qgetenv("KANTELO_RESOURCES");
    }
    void TearDown() override
    {
        setLogSink(nullptr);
        qputenv("KANTELO_RESOURCES", oldResources);
        if (auto *controller = DocumentController::sharedDocumentController(false))
            controller->closeAllDocuments();
        QCoreApplication::processEvents();
        // Closed documents go now, with the work they still run in the background.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QStringList logged;
    QByteArray oldResources;
};

QByteArray whiteColorArchive(char white)
{
    QByteArray expected("\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x07NSColor\x00\x84\x84\x08NSObject\x00\x85"
                        "\x84\x01" "c\x03\x84\x02" "ff", 52);
    expected.append(white);
    expected.append('\x01');
    expected.append('\x86');
    return expected;
}

} // namespace

TEST_F(AppDelegateFixture, RegistersTheTwentyOneFactoryValuesUnderStoredOnes)
{
    const QVariantMap values = AppDelegate::factoryDefaults();
    EXPECT_EQ(values.size(), 21);
    const QVariantMap expected{
        {"OutputImageQuality", 90}, {"OutputImageSizeCombo", 0}, {"OutputImageFormat", 1},
        {"ExportSizeModification", 0}, {"ExportFilenameModification", 0}, {"ExportFixHeight", 600},
        {"ExportFixWidth", 800}, {"ExportFixHeight2", 600}, {"ExportFixWidth2", 800},
        {"AspectRatioMenuItemIndex", 0},
    };
    for (auto it = expected.begin(); it != expected.end(); ++it)
        EXPECT_EQ(values.value(it.key()).toInt(), it.value().toInt()) << it.key().toStdString();
    EXPECT_TRUE(values.value("LibraryCheckAtStartup").toBool());
    EXPECT_TRUE(values.value("ShowWelcomeWindow").toBool());
    for (const char *off : {"SubscribedToNewsletter", "IncludeImageInTemplate", "ImportedInitialFrames"})
        EXPECT_FALSE(values.value(off).toBool()) << off;
    EXPECT_EQ(values.value("ExportFilenamePrependText").toString(), "framed_");
    EXPECT_EQ(values.value("ExportFilenameAppendText").toString(), "_framed");
    EXPECT_DOUBLE_EQ(values.value("BackgroundColorSliderPosition").toDouble(), 214.0 / 255.0);
    EXPECT_DOUBLE_EQ(values.value("DesignViewZoomLevel").toDouble(), 0.9);
    EXPECT_EQ(values.value("LeftBackgroundColor").toByteArray(), whiteColorArchive(0));
    EXPECT_EQ(values.value("RightBackgroundColor").toByteArray(), whiteColorArchive(1));

    AppDelegate delegate; // registers on the standard defaults
    UserDefaults &d = UserDefaults::standard();
    EXPECT_EQ(d.integerForKey("OutputImageQuality"), 90);
    d.setInteger("OutputImageQuality", 70);
    EXPECT_EQ(d.integerForKey("OutputImageQuality"), 70) << "a stored value wins over the factory value";
}

TEST_F(AppDelegateFixture, LaunchRunsItsStepsInOrder)
{
    // No first-run frame library: these launches test the steps, not an import.
    qputenv("KANTELO_RESOURCES", freshDir().toLocal8Bit());
    UserDefaults &d = UserDefaults::standard();
    d.setObject("Admin", QStringLiteral("YES"));
    VLKitUtils::setLaunchesForFeature(2, "SubscribeToNewsletter", d); // this launch is the third

    QStringList steps;
    AppDelegate::Services services;
    services.createAdminMenu = [&] { steps << "admin"; };
    services.purgeStaleBatchProcessingPreviews = [&] { steps << "purge"; };
    services.checkForLibraryUpdates = [&] { steps << "library check"; };
    services.subscribeToNewsletter = [&] { steps << "newsletter"; };
    services.namesOfAllVariations = [&](ManagedObjectContext *) {
        steps << "template names";
        return std::optional<QStringList>(QStringList{"Gold", "Oak"});
    };
    Store templates(freshDir() + "/templates.db");
    services.templatesContext = [&] { return templates.context.get(); };

    AppDelegate delegate(services);
    delegate.setDelayScale(0.01);
    delegate.applicationWillFinishLaunching();
    EXPECT_TRUE(DocumentController::sharedDocumentController(false)) << "the document controller is installed first";
    delegate.applicationDidFinishLaunching();

    EXPECT_TRUE(delegate.colorPanelShowsAlpha());
    EXPECT_EQ(steps, (QStringList{"admin", "purge"})) << "the delayed steps wait";
    ASSERT_TRUE(delegate.welcomeWindow());
    EXPECT_TRUE(delegate.welcomeWindow()->window()->isVisible());

    ASSERT_TRUE(testsupport::waitUntil([&] { return steps.size() == 5; }));
    // Template names after 1 s, the library check and the newsletter after
    // 5 s, each counted from its own step.
    EXPECT_EQ(steps.mid(0, 2), (QStringList{"admin", "purge"}));
    QStringList delayed = steps.mid(2);
    delayed.sort();
    EXPECT_EQ(delayed, (QStringList{"library check", "newsletter", "template names"}));
    EXPECT_EQ(d.arrayForKey("TemplateNames"), (QVariantList{"Gold", "Oak"}));
}

TEST_F(AppDelegateFixture, OnceLaunchedLongWorkShowsItsProgressPanel)
{
    qputenv("KANTELO_RESOURCES", freshDir().toLocal8Bit());
    VLLongProcessPanel::setFactory(nullptr); // as the program starts
    Store templates(freshDir() + "/templates.db");
    AppDelegate::Services services;
    services.templatesContext = [&] { return templates.context.get(); };
    AppDelegate delegate(services);
    delegate.applicationWillFinishLaunching();

    QWidget document;
    document.show();
    document.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&document, testsupport::kHangGuardMs));
    VLLongProcess process;
    process.setWindowTitle("Saving image");
    process.setProgressStringFormat("Progress: %d%%");
    process.setWindowPopUpDelay(0.01);
    QSemaphore release;
    process.runInBackground([&] {
        process.setProgressCount(42);
        release.acquire();
    });
    const auto panel = []() -> QWidget * {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->objectName() == "VLLongProcessPanel" && window->isVisible())
                return window;
        }
        return nullptr;
    };
    const bool shown = testsupport::waitUntil([&] {
        QLabel *label = panel() ? panel()->findChild<QLabel *>("progressLabel") : nullptr;
        return label && label->text() == "Progress: 42%";
    });
    const QString title = panel() ? panel()->windowTitle() : QString();
    // Above the window worked in, so a click there does not bury it.
    const bool floats = panel() && panel()->windowHandle()->transientParent() == document.windowHandle();
    release.release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return process.isFinished(); }));
    EXPECT_TRUE(shown);
    EXPECT_EQ(title, "Saving image");
    EXPECT_TRUE(floats);
    EXPECT_FALSE(panel()) << "closed when the work ended";
}

TEST_F(AppDelegateFixture, APhotoOpenedWithTheLaunchHasTheWelcomeWindowInFrontWholeOnTheScreen)
{
    qputenv("KANTELO_RESOURCES", freshDir().toLocal8Bit());
    const QString path = freshDir() + "/photo.png";
    QImage photo(90, 60, QImage::Format_RGB32);
    photo.fill(Qt::darkRed);
    ASSERT_TRUE(photo.save(path));
    AppDelegate delegate;
    delegate.applicationWillFinishLaunching();
    DocumentController::sharedDocumentController()->openDocumentsWithURLs({QUrl::fromLocalFile(path)});
    ASSERT_EQ(DocumentController::sharedDocumentController()->documents().size(), 1);
    QWidget *photoWindow = DocumentController::sharedDocumentController()->documents().first()->windowForSheet();
    ASSERT_TRUE(photoWindow);
    delegate.applicationDidFinishLaunching();

    ASSERT_TRUE(delegate.welcomeWindow());
    QWidget *welcome = delegate.welcomeWindow()->window();
    EXPECT_TRUE(welcome->isVisible());
    ASSERT_TRUE(testsupport::waitUntil([&] { return QApplication::activeWindow() == welcome; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), welcome);
    EXPECT_TRUE(welcome->screen()->availableGeometry().contains(welcome->frameGeometry()));
    EXPECT_FALSE(welcome->windowHandle()->transientParent()) << "a window of its own: the photo can come in front";
}

// A window a file opened with the program brought up (a frame archive's
// import) stays in front of the welcome window until the user does anything.
TEST_F(AppDelegateFixture, AWindowOpenedWithTheLaunchStaysInFrontOfTheWelcomeWindow)
{
    qputenv("KANTELO_RESOURCES", freshDir().toLocal8Bit());
    QWidget import;
    import.show();
    AppDelegate delegate;
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(delegate.welcomeWindow());
    QWidget *welcome = delegate.welcomeWindow()->window();
    EXPECT_TRUE(welcome->isVisible());
    EXPECT_TRUE(testsupport::waitUntil([&] { return QApplication::activeWindow() == &import; }));
    // The window system handing the focus back while the launch settles.
    welcome->activateWindow();
    EXPECT_TRUE(testsupport::waitUntil([&] { return QApplication::activeWindow() == welcome; }));
    EXPECT_TRUE(testsupport::waitUntil([&] { return QApplication::activeWindow() == &import; }));

    QKeyEvent press(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
    QCoreApplication::sendEvent(welcome, &press);
    welcome->activateWindow();
    EXPECT_TRUE(testsupport::waitUntil([&] { return QApplication::activeWindow() == welcome; }));
    EXPECT_TRUE(testsupport::waitPastTimersDue(500));
    EXPECT_EQ(QApplication::activeWindow(), welcome) << "the user's choice from then on";
}

TEST_F(AppDelegateFixture, LaunchLeavesOutWhatTheSettingsTurnOff)
{
    // No first-run frame library: these launches test the steps, not an import.
    qputenv("KANTELO_RESOURCES", freshDir().toLocal8Bit());
    UserDefaults &d = UserDefaults::standard();
    d.setBool("Admin", true); // a boolean, not the string "YES"
    d.setBool("LibraryCheckAtStartup", false);
    d.setBool("ShowWelcomeWindow", false);
    d.setBool("SubscribedToNewsletter", true);
    VLKitUtils::setLaunchesForFeature(2, "SubscribeToNewsletter", d);

    QStringList steps;
    AppDelegate::Services services;
    services.createAdminMenu = [&] { steps << "admin"; };
    services.checkForLibraryUpdates = [&] { steps << "library check"; };
    services.subscribeToNewsletter = [&] { steps << "newsletter"; };
    services.purgeStaleBatchProcessingPreviews = [&] { steps << "purge"; };
    AppDelegate delegate(services);
    delegate.setDelayScale(0.01);
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    EXPECT_FALSE(delegate.welcomeWindow());
    // Wait past the longest delay by letting a later step mark the time.
    bool later = false;
    QTimer::singleShot(200, [&] { later = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return later; }));
    EXPECT_EQ(steps, QStringList{"purge"});
}

namespace {

// A first run: an empty support folder, and resources holding (or not) the
// initial frame archive.
struct FirstRun {
    QString support = freshDir();
    QString resources = freshDir();
    int templateImports = 0;
    bool templatesSaved = true;
    // Whether the first run was recorded when the designs went in.
    QList<bool> recordedBeforeDesigns;

    AppDelegate::Services services()
    {
        AppDelegate::Services s;
        s.importInitialTemplates = [this] {
            ++templateImports;
            recordedBeforeDesigns << UserDefaults::standard().boolForKey("ImportedInitialFrames");
            return templatesSaved;
        };
        return s;
    }
    void shipArchive(const QString &archive)
    {
        QFile::remove(resources + "/InitialFrames.ktframes");
        ASSERT_TRUE(QFile::copy(archive, resources + "/InitialFrames.ktframes"));
        qputenv("KANTELO_RESOURCES", resources.toUtf8());
    }
    void shipDamagedArchive()
    {
        QFile archive(resources + "/InitialFrames.ktframes");
        archive.open(QIODevice::WriteOnly);
        archive.write("PK\x03\x04 not a zip at all");
        qputenv("KANTELO_RESOURCES", resources.toUtf8());
    }
    // One built-in design, "Gallery" with the GUID "GUID-GALLERY".
    void shipGalleryDesign()
    {
        QDir().mkpath(resources + "/Templates");
        auto design = std::make_shared<KTTemplate>();
        design->setName("Gallery");
        ASSERT_TRUE(design->saveToURL(QUrl::fromLocalFile(resources + "/Templates/Gallery.KTTemplate"), {},
                                      "GUID-GALLERY", false));
    }
    QString storePath() const { return support + "/KTLibrary.db"; }
};

// Launches the delegate and answers whether a first-run import ended (and
// how) within the wait.
std::optional<bool> launchAndWaitForImport(AppDelegate &delegate, int waitMs = 20000)
{
    std::optional<bool> result;
    QObject::connect(&delegate, &AppDelegate::initialFramesImportEnded, [&](bool ok) { result = ok; });
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    testsupport::waitUntil([&] { return result.has_value(); }, waitMs);
    QCoreApplication::processEvents();
    return result;
}

} // namespace

TEST_F(AppDelegateFixture, FirstRunImportsTheLibraryAndDesignsOnceWithProgressInTheWelcomeWindow)
{
    const QString archive = frameArchive();
    ASSERT_FALSE(archive.isEmpty());
    FirstRun run;
    run.shipArchive(archive);
    UserDefaults::standard().setBool("ShowWelcomeWindow", false);
    {
        AppDelegate delegate(run.services(), run.support);
        QList<int> shownProgress;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (delegate.welcomeWindow() && delegate.welcomeWindow()->activityProgressIndicator()
                && delegate.welcomeWindow()->activityProgressIndicator()->isVisible())
                shownProgress << delegate.welcomeWindow()->activityProgressIndicator()->value();
        });
        watch.start(0);
        const std::optional<bool> ended = launchAndWaitForImport(delegate);
        watch.stop();
        ASSERT_TRUE(ended.has_value());
        EXPECT_TRUE(*ended);
        ASSERT_TRUE(delegate.welcomeWindow()) << "the first run shows the welcome window whatever the setting";
        EXPECT_TRUE(delegate.welcomeWindow()->window()->isVisible());
        EXPECT_EQ(delegate.welcomeWindow()->activityLabel()->text(), "Initializing frames");
        EXPECT_FALSE(delegate.welcomeWindow()->activityLabel()->isVisible()) << "the activity ends with the import";
        EXPECT_FALSE(delegate.welcomeWindow()->activityProgressIndicator()->isVisible());
        EXPECT_FALSE(shownProgress.isEmpty());

        // The library is in the context, its graphics in the folder, and
        // the flag went up only with the library on disk.
        QStringList frames;
        for (Frame *frame : delegate.managedObjectContext()->fetchObjects<Frame>())
            frames << frame->name();
        frames.sort();
        EXPECT_EQ(frames, (QStringList{"Oak full", "Oak wide"}));
        EXPECT_EQ(QDir(run.support + "/Frames").entryList(QDir::Files).size(), 1);
        EXPECT_EQ(collectionNamesOnDisk(run.storePath()), QStringList{"Woods"});
        EXPECT_TRUE(UserDefaults::standard().boolForKey("ImportedInitialFrames"));
        EXPECT_EQ(run.templateImports, 1);
    }
    // The second start finds the store and the flag: nothing is imported.
    AppDelegate again(run.services(), run.support);
    EXPECT_FALSE(launchAndWaitForImport(again, 300).has_value());
    EXPECT_EQ(run.templateImports, 1);
    EXPECT_FALSE(again.welcomeWindow());
    EXPECT_EQ(again.managedObjectContext()->fetchObjects<Frame>().size(), 2) << "nothing was imported twice";
}

TEST_F(AppDelegateFixture, AFailedFirstRunImportIsTriedAgainAtTheNextStart)
{
    FirstRun run;
    run.shipDamagedArchive();
    for (int start = 0; start < 2; ++start) {
        AppDelegate delegate(run.services(), run.support);
        const std::optional<bool> ended = launchAndWaitForImport(delegate);
        ASSERT_TRUE(ended.has_value()) << "start " << start;
        EXPECT_FALSE(*ended);
        EXPECT_FALSE(UserDefaults::standard().boolForKey("ImportedInitialFrames"));
        EXPECT_FALSE(delegate.welcomeWindow()->activityProgressIndicator()->isVisible());
        EXPECT_EQ(run.templateImports, 0);
    }
    EXPECT_EQ(logged.filter("ERROR: Initial library import failed with ").size(), 2) << logged.join('\n').toStdString();

    // With a good archive the third start completes the first run.
    run.shipArchive(frameArchive());
    AppDelegate third(run.services(), run.support);
    EXPECT_EQ(launchAndWaitForImport(third), std::optional<bool>(true));
    EXPECT_TRUE(UserDefaults::standard().boolForKey("ImportedInitialFrames"));
    EXPECT_EQ(run.templateImports, 1);
}

// A first run cut short before its built-in designs were saved (a crash,
// a full disk) is not recorded, so the next start completes it. A library
// file emptied later is new again, and waited for from the start.
TEST_F(AppDelegateFixture, AFirstRunCutShortOrALibraryEmptiedLaterIsCompletedAtTheNextStart)
{
    FirstRun run;
    run.shipArchive(frameArchive());
    for (const bool saved : {false, true}) {
        run.templatesSaved = saved;
        AppDelegate delegate(run.services(), run.support);
        EXPECT_EQ(launchAndWaitForImport(delegate), std::optional<bool>(saved));
        EXPECT_EQ(UserDefaults::standard().boolForKey("ImportedInitialFrames"), saved);
    }
    EXPECT_EQ(run.recordedBeforeDesigns, (QList<bool>{false, false}));

    ASSERT_TRUE(QFile::resize(run.storePath(), 0));
    AppDelegate again(run.services(), run.support);
    again.applicationWillFinishLaunching();
    ASSERT_TRUE(again.isImportingInitialFrames()) << "before the queued import has begun";
    bool ended = false;
    again.whenInitialFramesImportEnds(&again, [&] { ended = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return ended; }));
    EXPECT_EQ(again.managedObjectContext()->fetchObjects<Frame>().size(), 2);
}

TEST_F(AppDelegateFixture, AMissingArchiveIsLoggedAndNothingIsImported)
{
    FirstRun run;
    qputenv("KANTELO_RESOURCES", run.resources.toUtf8()); // no archive there
    AppDelegate delegate(run.services(), run.support);
    delegate.applicationWillFinishLaunching();
    ASSERT_TRUE(testsupport::waitUntil([&] { return logged.contains("ERROR: Can't find Initial Frames in bundle"); }));
    EXPECT_TRUE(QFileInfo(run.support + "/Frames").isDir()) << "the graphics folder is made first";
    EXPECT_FALSE(UserDefaults::standard().boolForKey("ImportedInitialFrames"));
    EXPECT_TRUE(delegate.managedObjectContext()->fetchObjects<Frame>().isEmpty());
}

TEST_F(AppDelegateFixture, ABurstOfLibraryChangesSavesOnceAfterTheLast)
{
    EXPECT_EQ(AppDelegate::kFramesSaveDelay, 5.0);
    FirstRun run;
    qputenv("KANTELO_RESOURCES", run.resources.toUtf8());
    AppDelegate delegate({}, run.support);
    delegate.setDelayScale(0.02); // 5 s become 0.1 s
    int saves = 0;
    QObject::connect(&delegate, &AppDelegate::framesDatabaseSaved, [&] { ++saves; });
    delegate.applicationWillFinishLaunching();
    ManagedObjectContext *frames = delegate.managedObjectContext();
    int didSave = 0;
    QObject::connect(frames, &ManagedObjectContext::didSave, [&] { ++didSave; });

    for (int i = 0; i < 10; ++i) {
        FrameCollection::insertInManagedObjectContext(frames)->setName(QString::number(i));
        frames->processPendingChanges();
    }
    EXPECT_EQ(didSave, 0) << "nothing is saved during the burst";
    ASSERT_TRUE(testsupport::waitUntil([&] { return saves > 0; }));
    bool later = false;
    QTimer::singleShot(300, [&] { later = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return later; }));
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(didSave, 1);
    EXPECT_FALSE(frames->hasChanges());
    EXPECT_EQ(collectionNamesOnDisk(run.storePath()).size(), 10);
}

TEST_F(AppDelegateFixture, AFailedBackgroundSaveIsLoggedPresentedAndKeptForTheNextTry)
{
    FirstRun run;
    qputenv("KANTELO_RESOURCES", run.resources.toUtf8());
    AlertAnswers answers;
    answers.install();
    AppDelegate delegate({}, run.support);
    delegate.applicationWillFinishLaunching();
    ManagedObjectContext *frames = delegate.managedObjectContext();
    refuseCollections(run.storePath());
    FrameCollection::insertInManagedObjectContext(frames)->setName("kept");
    logged.clear();
    delegate.saveFramesDatabase(frames);
    EXPECT_TRUE(answers.errors.isEmpty()) << "the save runs on a later pass, never inside its caller";
    ASSERT_TRUE(testsupport::waitUntil([&] { return !answers.errors.isEmpty(); }));
    ASSERT_FALSE(logged.filter("Kantelo frame database save error: ").isEmpty()) << logged.join('\n').toStdString();
    EXPECT_TRUE(frames->hasChanges());
}

TEST_F(AppDelegateFixture, DesignEditsReachTheFileShortlyWithoutAQuit)
{
    FirstRun run;
    qputenv("KANTELO_RESOURCES", run.resources.toUtf8());
    Store templates(freshDir() + "/KTTemplates.db");
    AppDelegate::Services services;
    services.templatesContext = [&] { return templates.context.get(); };
    AppDelegate delegate(services, run.support);
    delegate.setDelayScale(0.01);
    delegate.applicationWillFinishLaunching();
    templates.context->insert<storetest::Shelf>()->setName("renamed");
    EXPECT_TRUE(testsupport::waitUntil([&] { return templates.shelvesOnDisk() == 1; }));
}

TEST_F(AppDelegateFixture, QuitSavesBothStoresOrAsksWhenASaveFails)
{
    FirstRun run;
    qputenv("KANTELO_RESOURCES", run.resources.toUtf8());
    Store templates(freshDir() + "/KTTemplates.db");
    AppDelegate::Services services;
    services.templatesContext = [&] { return templates.context.get(); };
    AppDelegate delegate(services, run.support);
    delegate.applicationWillFinishLaunching();
    ManagedObjectContext *frames = delegate.managedObjectContext();

    FrameCollection::insertInManagedObjectContext(frames)->setName("frames");
    templates.context->insert<storetest::Shelf>()->setName("templates");
    {
        AlertAnswers answers;
        answers.install();
        EXPECT_EQ(delegate.applicationShouldTerminate(), ApplicationDelegate::TerminateReply::Now);
        EXPECT_TRUE(answers.asked.isEmpty());
    }
    EXPECT_EQ(collectionNamesOnDisk(run.storePath()), QStringList{"frames"});
    EXPECT_EQ(templates.shelvesOnDisk(), 1);

    // A frames store that fails: "Don't quit" keeps everything unsaved in memory.
    refuseCollections(run.storePath());
    FrameCollection *unsaved = FrameCollection::insertInManagedObjectContext(frames);
    unsaved->setName("unsaved");
    {
        AlertAnswers answers;
        answers.answers = {"Don't quit"};
        answers.install();
        EXPECT_EQ(delegate.applicationShouldTerminate(), ApplicationDelegate::TerminateReply::Cancel);
        EXPECT_EQ(answers.errors.size(), 1);
        ASSERT_EQ(answers.asked.size(), 1);
        EXPECT_EQ(answers.asked[0].informativeText, "Could not save changes while quitting. Quit anyway?");
        EXPECT_TRUE(frames->hasChanges());
    }
    frames->deleteObject(unsaved);
    ASSERT_FALSE(frames->hasChanges());

    templates.refuseShelves();
    templates.context->insert<storetest::Shelf>()->setName("refused");
    {
        AlertAnswers answers;
        answers.answers = {"Don't quit"};
        answers.install();
        EXPECT_EQ(delegate.applicationShouldTerminate(), ApplicationDelegate::TerminateReply::Cancel);
        ASSERT_EQ(answers.errors.size(), 1) << "the store's error is shown first";
        ASSERT_EQ(answers.asked.size(), 1);
        EXPECT_EQ(answers.asked[0].messageText, "Are you sure?");
        EXPECT_EQ(answers.asked[0].informativeText, "Could not save changes while quitting. Quit anyway?");
        EXPECT_EQ(answers.asked[0].buttons, (QStringList{"Don't quit", "Quit anyway"}));
        EXPECT_TRUE(templates.context->hasChanges()) << "nothing is lost while the application stays";
    }
    {
        AlertAnswers answers;
        answers.answers = {"Quit anyway"};
        answers.install();
        EXPECT_EQ(delegate.applicationShouldTerminate(), ApplicationDelegate::TerminateReply::Now);
        EXPECT_EQ(answers.asked.size(), 1) << "no further question";
    }
}

TEST_F(AppDelegateFixture, QuitDuringALibraryUpdateAsksFirst)
{
    FirstRun run;
    qputenv("KANTELO_RESOURCES", run.resources.toUtf8());
    AppDelegate::Services services;
    services.isLibraryUpdating = [] { return true; };
    AppDelegate delegate(services, run.support);
    delegate.applicationWillFinishLaunching();
    ManagedObjectContext *frames = delegate.managedObjectContext();
    FrameCollection::insertInManagedObjectContext(frames)->setName("pending");

    AlertAnswers answers;
    answers.answers = {"Don't quit"};
    answers.install();
    EXPECT_EQ(delegate.applicationShouldTerminate(), ApplicationDelegate::TerminateReply::Cancel);
    ASSERT_EQ(answers.asked.size(), 1);
    EXPECT_EQ(answers.asked[0].informativeText, "Your frames library is currently updating. Quit anyway?");
    EXPECT_TRUE(frames->hasChanges()) << "the contexts are left untouched";
    EXPECT_TRUE(collectionNamesOnDisk(run.storePath()).isEmpty());
}

TEST_F(AppDelegateFixture, QuittingAnywayStopsTheLibraryUpdateBeforeTheStoresAreSaved)
{
    FirstRun run;
    qputenv("KANTELO_RESOURCES", run.resources.toUtf8());
    bool updating = true;
    QStringList onDiskAtCancel{"not asked"};
    AppDelegate::Services services;
    services.isLibraryUpdating = [&] { return updating; };
    AppDelegate delegate(services, run.support);
    delegate.services().cancelLibraryUpdate = [&] {
        onDiskAtCancel = collectionNamesOnDisk(run.storePath());
        updating = false;
    };
    delegate.applicationWillFinishLaunching();
    FrameCollection::insertInManagedObjectContext(delegate.managedObjectContext())->setName("pending");

    AlertAnswers answers;
    answers.answers = {"Quit anyway"};
    answers.install();
    EXPECT_EQ(delegate.applicationShouldTerminate(), ApplicationDelegate::TerminateReply::Now);
    EXPECT_TRUE(onDiskAtCancel.isEmpty()) << "cancelled first, saved after";
    EXPECT_EQ(collectionNamesOnDisk(run.storePath()), QStringList{"pending"});
}

// Files a later start hands over while a quit waits for the batch call the
// quit off: the run still stops after whole files, and the program stays.
TEST_F(AppDelegateFixture, AQuitCalledOffWhileItWaitsForTheBatchIsNotTakenUpAgain)
{
    FirstRun run;
    std::function<void()> stopped;
    AppDelegate::Services services;
    services.isBatchProcessing = [&] { return !stopped; };
    services.stopBatchProcessing = [&](std::function<void()> done) { stopped = std::move(done); };
    AppDelegate delegate(services, run.support);
    platform::Application application(&delegate);
    int quits = 0;
    application.setQuitHandler([&] { ++quits; });
    AlertAnswers answers;
    answers.answers = {"Quit anyway"};
    answers.install();
    application.terminate();
    ASSERT_TRUE(application.isAwaitingTerminateReply() && stopped);
    application.replyToApplicationShouldTerminate(false);
    stopped();
    QCoreApplication::processEvents();
    EXPECT_EQ(quits, 0);
}

TEST_F(AppDelegateFixture, ADamagedLibraryIsMovedAsideOnlyWhenTheUserAgrees)
{
    for (const char *answer : {"Continue Without Library", "Start New Library"}) {
        FirstRun run;
        qputenv("KANTELO_RESOURCES", run.resources.toUtf8());
        UserDefaults::standard().setBool("ImportedInitialFrames", true);
        QFile damaged(run.storePath());
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write(QByteArray(4096, 'x'));
        damaged.close();

        AlertAnswers answers;
        answers.answers = {answer};
        answers.install();
        AppDelegate delegate({}, run.support);
        delegate.applicationWillFinishLaunching();
        EXPECT_EQ(answers.errors.size(), 1) << "the store's error is shown";
        ASSERT_EQ(answers.asked.size(), 1);
        EXPECT_EQ(answers.asked[0].messageText, "The frame library could not be opened.");
        const QStringList aside = QDir(run.support).entryList({"KTLibrary.db.damaged-*"}, QDir::Files);
        if (QString(answer) == "Start New Library") {
            ASSERT_EQ(aside.size(), 1) << "kept beside, never deleted";
            QFile kept(run.support + '/' + aside.first());
            ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
            EXPECT_EQ(kept.readAll(), QByteArray(4096, 'x'));
            FrameCollection::insertInManagedObjectContext(delegate.managedObjectContext())->setName("new");
            EXPECT_TRUE(delegate.managedObjectContext()->save());
            EXPECT_EQ(collectionNamesOnDisk(run.storePath()), QStringList{"new"});
        } else {
            EXPECT_TRUE(aside.isEmpty());
            QFile untouched(run.storePath());
            ASSERT_TRUE(untouched.open(QIODevice::ReadOnly));
            EXPECT_EQ(untouched.readAll(), QByteArray(4096, 'x'));
        }
    }
}

TEST_F(AppDelegateFixture, FirstRunPutsTheBuiltInDesignsIntoTheSavedDesignsOnDisk)
{
    FirstRun run;
    run.shipArchive(frameArchive());
    run.shipGalleryDesign();
    {
        AppDelegate delegate({}, run.support);
        EXPECT_EQ(launchAndWaitForImport(delegate), std::optional<bool>(true));
        EXPECT_TRUE(Variation::variationWithGUID("GUID-GALLERY", delegate.templatesManagedObjectContext()));
    }
    // What the next start reads from the templates file.
    TemplatesStore reopened(run.support);
    Variation *gallery = Variation::variationWithGUID("GUID-GALLERY", reopened.templatesManagedObjectContext());
    ASSERT_TRUE(gallery) << "the built-in designs were saved";
    EXPECT_EQ(gallery->name(), "Gallery");
}

TEST_F(AppDelegateFixture, ADamagedOrEmptyDesignsFileStartsOverWithTheBuiltInDesigns)
{
    FirstRun run;
    run.shipArchive(frameArchive());
    run.shipGalleryDesign();
    {
        AppDelegate delegate({}, run.support);
        ASSERT_EQ(launchAndWaitForImport(delegate), std::optional<bool>(true));
    }
    const QString designs = run.support + "/KTTemplates.db";
    for (const QByteArray &content : {QByteArray(4096, 'x'), QByteArray()}) {
        QFile::remove(designs + "-wal");
        QFile::remove(designs + "-shm");
        QFile file(designs);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        AlertAnswers answers;
        answers.answers = {"Start New Designs File"};
        answers.install();
        AppDelegate delegate({}, run.support);
        delegate.applicationWillFinishLaunching();
        EXPECT_EQ(answers.asked.size(), content.isEmpty() ? 0 : 1) << "an empty file is simply new";
        EXPECT_TRUE(Variation::variationWithGUID("GUID-GALLERY", delegate.templatesManagedObjectContext()))
            << content.size();
    }
    const QStringList aside = QDir(run.support).entryList({"KTTemplates.db.damaged-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1) << "the damaged file is kept";
    EXPECT_EQ(QFileInfo(run.support + '/' + aside.first()).size(), 4096);
}
