#include "AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/KTWelcomeWindow.h"
#include "kit/VLKitUtils.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/ui/DocumentController.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

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

TEST_F(AppDelegateFixture, LaunchLeavesOutWhatTheSettingsTurnOff)
{
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

// Stands in for the frames store: on a first run (no store file, or the
// import never finished) it queues the import, as the store does.
struct FirstRun {
    QString folder = freshDir();
    QString storePath = folder + "/KTLibrary.db";
    QString resources = freshDir();
    std::unique_ptr<Store> store;
    int imports = 0;
    int templateImports = 0;
    bool failImport = false;

    AppDelegate::Services services(AppDelegate *&delegateRef)
    {
        AppDelegate::Services s;
        s.framesGraphicsFolder = [this] { return folder + "/Frames"; };
        s.framesContext = [this, &delegateRef] {
            const bool existed = QFileInfo::exists(storePath);
            store = std::make_unique<Store>(storePath);
            if (!existed || !UserDefaults::standard().boolForKey("ImportedInitialFrames")) {
                AppDelegate *delegate = delegateRef;
                delegate->setNeedToImportInitialTemplates(true);
                QMetaObject::invokeMethod(delegate, [delegate] { delegate->importInitialFrames(); }, Qt::QueuedConnection);
            }
            return store->context.get();
        };
        // Imports from a thread of its own into the main context, reporting
        // as the library importer does.
        s.startFrameImport = [this](const QUrl &archive, const QUrl &graphics, ManagedObjectContext *context,
                                    AppDelegate *delegate) {
            ++imports;
            EXPECT_TRUE(QFileInfo(archive.toLocalFile()).isFile());
            EXPECT_TRUE(QFileInfo(graphics.toLocalFile()).isDir());
            const bool fail = failImport;
            std::thread([delegate, context, fail] {
                delegate->importerProgress(0.2);
                delegate->importerProgress(0.6);
                if (fail) {
                    delegate->importerFailedWithError(Error{"Kantelo Domain", 1, "damaged archive", {}, {}});
                    return;
                }
                context->performAndWait([context] { context->insert<storetest::Shelf>()->setName("Initial"); });
                delegate->importerProgress(1.0);
                delegate->importerDidFinish();
            }).detach();
            return true;
        };
        s.importInitialTemplates = [this] { ++templateImports; };
        return s;
    }

    void shipArchive()
    {
        QFile archive(resources + "/InitialFrames.ktframes");
        archive.open(QIODevice::WriteOnly);
        archive.write("PK");
        qputenv("KANTELO_RESOURCES", resources.toUtf8());
    }
};

} // namespace

TEST_F(AppDelegateFixture, FirstRunImportsTheLibraryAndDesignsOnceWithProgressInTheWelcomeWindow)
{
    FirstRun run;
    run.shipArchive();
    UserDefaults::standard().setBool("ShowWelcomeWindow", false);
    {
        AppDelegate *ref = nullptr;
        AppDelegate delegate;
        ref = &delegate;
        delegate.services() = run.services(ref);
        bool ended = false, succeeded = false;
        QList<int> shownProgress;
        QObject::connect(&delegate, &AppDelegate::initialFramesImportEnded, [&](bool ok) {
            ended = true;
            succeeded = ok;
        });
        delegate.applicationWillFinishLaunching();
        delegate.applicationDidFinishLaunching();
        ASSERT_TRUE(testsupport::waitUntil([&] {
            if (delegate.welcomeWindow() && delegate.welcomeWindow()->activityProgressIndicator()
                && delegate.welcomeWindow()->activityProgressIndicator()->isVisible())
                shownProgress << delegate.welcomeWindow()->activityProgressIndicator()->value();
            return ended;
        }));
        EXPECT_TRUE(succeeded);
        ASSERT_TRUE(delegate.welcomeWindow()) << "the first run shows the welcome window whatever the setting";
        EXPECT_TRUE(delegate.welcomeWindow()->window()->isVisible());
        QCoreApplication::processEvents();
        EXPECT_EQ(delegate.welcomeWindow()->activityLabel()->text(), "Initializing frames");
        EXPECT_FALSE(delegate.welcomeWindow()->activityLabel()->isVisible()) << "the activity ends with the import";
        EXPECT_FALSE(delegate.welcomeWindow()->activityProgressIndicator()->isVisible());
        EXPECT_FALSE(shownProgress.isEmpty());
        EXPECT_TRUE(QFileInfo(run.folder + "/Frames").isDir());
        EXPECT_EQ(run.imports, 1);
        EXPECT_EQ(run.templateImports, 1);
        EXPECT_TRUE(UserDefaults::standard().boolForKey("ImportedInitialFrames"));
        EXPECT_EQ(run.store->shelvesOnDisk(), 1) << "the flag goes up only with the library on disk";
    }
    // The second start finds the store and the flag: nothing is imported.
    AppDelegate *ref = nullptr;
    AppDelegate again;
    ref = &again;
    again.services() = run.services(ref);
    again.applicationWillFinishLaunching();
    again.applicationDidFinishLaunching();
    bool later = false;
    QTimer::singleShot(100, [&] { later = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return later; }));
    EXPECT_EQ(run.imports, 1);
    EXPECT_EQ(run.templateImports, 1);
    EXPECT_FALSE(again.welcomeWindow());
}

TEST_F(AppDelegateFixture, AFailedFirstRunImportIsTriedAgainAtTheNextStart)
{
    FirstRun run;
    run.shipArchive();
    run.failImport = true;
    for (int start = 0; start < 2; ++start) {
        AppDelegate *ref = nullptr;
        AppDelegate delegate;
        ref = &delegate;
        delegate.services() = run.services(ref);
        bool ended = false;
        QObject::connect(&delegate, &AppDelegate::initialFramesImportEnded, [&](bool) { ended = true; });
        delegate.applicationWillFinishLaunching();
        delegate.applicationDidFinishLaunching();
        ASSERT_TRUE(testsupport::waitUntil([&] { return ended; }));
        QCoreApplication::processEvents();
        EXPECT_FALSE(UserDefaults::standard().boolForKey("ImportedInitialFrames"));
        EXPECT_FALSE(delegate.welcomeWindow()->activityProgressIndicator()->isVisible());
        EXPECT_EQ(run.templateImports, 0);
    }
    EXPECT_EQ(run.imports, 2);
    EXPECT_TRUE(logged.contains("ERROR: Initial library import failed with damaged archive"));
}

TEST_F(AppDelegateFixture, AMissingArchiveIsLoggedAndNothingIsImported)
{
    FirstRun run;
    qputenv("KANTELO_RESOURCES", run.resources.toUtf8()); // no archive there
    AppDelegate *ref = nullptr;
    AppDelegate delegate;
    ref = &delegate;
    delegate.services() = run.services(ref);
    delegate.applicationWillFinishLaunching();
    ASSERT_TRUE(testsupport::waitUntil([&] { return logged.contains("ERROR: Can't find Initial Frames in bundle"); }));
    EXPECT_EQ(run.imports, 0);
    EXPECT_FALSE(UserDefaults::standard().boolForKey("ImportedInitialFrames"));
}

TEST_F(AppDelegateFixture, ABurstOfLibraryChangesSavesOnceAfterTheLast)
{
    EXPECT_EQ(AppDelegate::kFramesSaveDelay, 5.0);
    Store frames(freshDir() + "/KTLibrary.db");
    AppDelegate::Services services;
    services.framesContext = [&] { return frames.context.get(); };
    AppDelegate delegate(services);
    delegate.setDelayScale(0.02); // 5 s become 0.1 s
    int saves = 0;
    QObject::connect(&delegate, &AppDelegate::framesDatabaseSaved, [&] { ++saves; });
    int didSave = 0;
    QObject::connect(frames.context.get(), &ManagedObjectContext::didSave, [&] { ++didSave; });
    delegate.applicationWillFinishLaunching();

    for (int i = 0; i < 10; ++i) {
        frames.context->insert<storetest::Shelf>()->setName(QString::number(i));
        frames.context->processPendingChanges();
    }
    EXPECT_EQ(didSave, 0) << "nothing is saved during the burst";
    ASSERT_TRUE(testsupport::waitUntil([&] { return saves > 0; }));
    bool later = false;
    QTimer::singleShot(300, [&] { later = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return later; }));
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(didSave, 1);
    EXPECT_FALSE(frames.context->hasChanges());
    EXPECT_EQ(frames.shelvesOnDisk(), 10);
}

TEST_F(AppDelegateFixture, AFailedBackgroundSaveIsLoggedPresentedAndKeptForTheNextTry)
{
    Store frames(freshDir() + "/KTLibrary.db");
    frames.refuseShelves();
    AlertAnswers answers;
    answers.install();
    AppDelegate::Services services;
    services.framesContext = [&] { return frames.context.get(); };
    AppDelegate delegate(services);
    delegate.applicationWillFinishLaunching();
    frames.context->insert<storetest::Shelf>()->setName("kept");
    delegate.saveFramesDatabase(frames.context.get());
    EXPECT_TRUE(answers.errors.isEmpty()) << "the save runs on a later pass, never inside its caller";
    ASSERT_TRUE(testsupport::waitUntil([&] { return !answers.errors.isEmpty(); }));
    EXPECT_TRUE(logged.first().startsWith("Kantelo frame database save error: ")) << logged.join('\n').toStdString();
    EXPECT_TRUE(frames.context->hasChanges());
}

TEST_F(AppDelegateFixture, QuitSavesBothStoresOrAsksWhenASaveFails)
{
    Store frames(freshDir() + "/KTLibrary.db");
    Store templates(freshDir() + "/KTTemplates.db");
    AppDelegate::Services services;
    services.framesContext = [&] { return frames.context.get(); };
    services.templatesContext = [&] { return templates.context.get(); };
    AppDelegate delegate(services);
    delegate.applicationWillFinishLaunching();

    frames.context->insert<storetest::Shelf>()->setName("frames");
    templates.context->insert<storetest::Shelf>()->setName("templates");
    {
        AlertAnswers answers;
        answers.install();
        EXPECT_EQ(delegate.applicationShouldTerminate(), ApplicationDelegate::TerminateReply::Now);
        EXPECT_TRUE(answers.asked.isEmpty());
    }
    EXPECT_EQ(frames.shelvesOnDisk(), 1);
    EXPECT_EQ(templates.shelvesOnDisk(), 1);

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
    Store frames(freshDir() + "/KTLibrary.db");
    AppDelegate::Services services;
    services.framesContext = [&] { return frames.context.get(); };
    services.isLibraryUpdating = [] { return true; };
    AppDelegate delegate(services);
    delegate.applicationWillFinishLaunching();
    frames.context->insert<storetest::Shelf>();

    AlertAnswers answers;
    answers.answers = {"Don't quit"};
    answers.install();
    EXPECT_EQ(delegate.applicationShouldTerminate(), ApplicationDelegate::TerminateReply::Cancel);
    ASSERT_EQ(answers.asked.size(), 1);
    EXPECT_EQ(answers.asked[0].informativeText, "Your frames library is currently updating. Quit anyway?");
    EXPECT_TRUE(frames.context->hasChanges()) << "the contexts are left untouched";
    EXPECT_EQ(frames.shelvesOnDisk(), 0);
}
