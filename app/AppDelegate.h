#pragma once

#include "platform/Error.h"
#include "platform/ui/ApplicationDelegate.h"
#include "stores/AppDelegateServices.h"
#include "stores/KTFrameLibraryImporter.h"
#include "stores/LibraryStore.h"
#include "design/TemplatesStore.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

#include "design/KTPreferenceKeys.h"
#include "app/KTStartupState.h"
#include "app/KTAlertsViewController.h"
#include "app/KTWebAddresses.h"
#include "app/KTWelcomeWindow.h"

class Frame;
class LibraryItem;
class KTAlertsViewController;
class VLNewsletterSubscribeWindowController;
class VLMASReviewWindowController;

namespace platform {
class Debouncer;
class ManagedObjectContext;
class UserDefaults;
}

// The application's delegate: factory defaults, the launch steps, the
// delayed saves of the stores, the first-run import of the frame library
// and the decision whether the application may quit. It owns the frame
// library store, which calls back up through AppDelegateServices.
class AppDelegate : public QObject,
                    public platform::ApplicationDelegate,
                    public AppDelegateServices,
                    public KTFrameLibraryImporterDelegate,
                    public KTPreferenceKeys,
                    public KTStartupState
{
    Q_OBJECT
    Q_PROPERTY(bool canOpenFramesEditor READ canOpenFramesEditor CONSTANT)
public:
    // The registered defaults (their keys are KTPreferenceKeys).
    static constexpr const char *kImportedInitialFramesKey = ::kImportedInitialFramesKey;
    // Written or read here, not registered.
    static constexpr const char *kTemplateNamesKey = "TemplateNames";
    static constexpr const char *kAdminKey = "Admin";
    static constexpr const char *kNewsletterFeature = "SubscribeToNewsletter";

    static constexpr const char *kInitialFramesResource = "InitialFrames";
    static constexpr const char *kInitialFramesExtension = "ktframes";
    static constexpr const char *kInitializingFramesActivity = "Initializing frames";

    static constexpr double kFramesSaveDelay = 5.0;
    static constexpr double kTemplateNamesSaveDelay = 3.0;
    static constexpr double kTemplateNamesLaunchDelay = 1.0;
    static constexpr double kLibraryCheckDelay = 5.0;
    static constexpr double kNewsletterDelay = 5.0;

    // The neighbours of later windows the delegate drives. Each is optional:
    // a missing one leaves its step out. The stores are not among them: the
    // delegate owns its LibraryStore and TemplatesStore; the first three stand
    // in for the templates store where a test wants its own.
    struct Services {
        std::function<platform::ManagedObjectContext *()> templatesContext;
        // Answers whether the built-in designs were saved.
        std::function<bool()> importInitialTemplates;
        std::function<std::optional<QStringList>(platform::ManagedObjectContext *)> namesOfAllVariations;
        std::function<bool()> isLibraryUpdating;
        std::function<void()> checkForLibraryUpdates;
        // Stops a running library update and returns once it has stopped.
        std::function<void()> cancelLibraryUpdate;
        // The menu's check says so when nothing is pending; the reset forgets what was updated.
        std::function<void()> checkForLibraryUpdatesFromMenu;
        std::function<void()> resetLibraryUpdates;
        std::function<void()> createAdminMenu;
        std::function<void()> subscribeToNewsletter;
        std::function<void()> purgeStaleBatchProcessingPreviews;
        std::function<void()> cleanupBeforeTermination;
        // The windows of later features; a command without one is disabled.
        std::function<void()> openFramesEditor;
        // Shows a library item in the frame editor (opened before).
        std::function<void(LibraryItem *)> displayInFramesEditor;
        std::function<void()> startBatchProcessing;
        // A batch run going on; stopping it skips the files not yet begun,
        // finishes those being written, then calls back (also when none runs).
        std::function<bool()> isBatchProcessing;
        std::function<void(std::function<void()> stopped)> stopBatchProcessing;
        // Opens a web page or file with the desktop's handler (tests record it).
        std::function<bool(const QUrl &)> openURL;
    };

    static constexpr const char *kNewsletterListId = "kantelo";
    static constexpr const char *kNewsletterTitle = "Subscribe to Kantelo newsletter";
    static constexpr const char *kManualResource = "Kantelo_Manual";
    static constexpr const char *kUpdatesMessage = "Updates come from your system's package manager";
    static constexpr const char *kUpdatesText =
        "Kantelo is updated with the rest of your system: use your distribution's software updater or package manager.";

    // The 21 factory values and their registration (once per process).
    static QVariantMap factoryDefaults();
    static void initialize();
    static void initialize(platform::UserDefaults &defaults);

    // An empty `supportFolder` is the user's data folder + "Kantelo".
    explicit AppDelegate(Services services = {}, const QString &supportFolder = QString(),
                         QObject *parent = nullptr);
    ~AppDelegate() override;

    static AppDelegate *shared();

    Services &services() { return m_services; }
    // Scales every delay (tests run the timings fast; 1 in the program).
    void setDelayScale(double scale) { m_delayScale = scale; }

    void applicationWillFinishLaunching() override;
    void applicationDidFinishLaunching() override;
    TerminateReply applicationShouldTerminate() override;
    void applicationWillTerminate() override;

    // The frame library store, made on first use; it is the shared one.
    LibraryStore *libraryStore();
    platform::ManagedObjectContext *managedObjectContext();
    platform::ManagedObjectContext *templatesManagedObjectContext() override;
    platform::ManagedObjectContext *variationsManagedObjectContext();
    // The templates store, made on first use; it is the shared one.
    TemplatesStore *templatesStore();
    // The design packages among the resources go into the saved designs;
    // false when they could not be saved.
    bool importInitialTemplates();
    QString applicationSupportFolder();
    QString framesGraphicsFolder();
    QVariant valueForLibraryMetadataKey(const QString &key);
    void setValueForLibraryMetadataKey(const QVariant &value, const QString &key);

    bool needToImportInitialTemplates() const { return m_needToImportInitialTemplates; }
    void setNeedToImportInitialTemplates(bool need) override { m_needToImportInitialTemplates = need; }
    bool shouldMoveDamagedStoreAside(const QString &path, const platform::Error &error) override;

    // Saves the frames context on a later pass of the main loop when it has changes.
    void saveFramesDatabase(platform::ManagedObjectContext *context);
    void saveTemplateNamesToDefaults();
    // The Save menu command: saves the frames context now.
    void saveAction();

    // First-run import of the frame library, and the importer's reports
    // (taken from any thread).
    void importInitialFrames() override;
    void importerProgress(KTFrameLibraryImporter *importer, double progress) override;
    void importerDidFinish(KTFrameLibraryImporter *importer) override;
    void importerFailedWithError(KTFrameLibraryImporter *importer, const platform::Error &error) override;

    // The first-run import of the frame library (and the built-in designs
    // after it) is under way; initialFramesImportEnded tells its end.
    // From the moment the store asks for the import, not only once it runs:
    // a design looked up before would miss the frames on their way.
    bool isImportingInitialFrames() const override
    {
        return m_importingInitialFrames || (m_libraryStore && m_libraryStore->isImportingInitialFrames());
    }
    void whenInitialFramesImportEnds(QObject *receiver, std::function<void()> then) override;

    KTWelcomeWindow *welcomeWindow() const { return m_welcomeWindow.data(); }
    void welcomeToKantelo();

    // The one warnings list; a warning may come from any thread.
    KTAlertsViewController *alertsViewController() const { return m_alertsViewController; }
    void postWarning(const QString &warning);

    // The application's menu commands.
    bool openURL(const QUrl &url);
    // False when the program ships no manual.
    bool hasManual() const;
    void openManual();
    void openTutorialFromHelp();
    void gotoHomepageURL();
    void openKanteloFacebookPage();
    void openVelmoorSoftwareTwitterURL();
    // No store sells the program here: the review window leads to its own web page.
    void showMASReviewDialog();
    VLMASReviewWindowController *reviewWindowController() const;
    Q_INVOKABLE void openFramePacksPage();
    void subscribeToNewsletter();
    void sendFeedback();
    void checkUpdates();
    void openDatabaseFolder();
    // Opens a document when none is, and shows the frame in its library panel.
    void showFrameInLibrary(Frame *frame);
    // The same for a collection, set or frame, each at its own level.
    void showItemInLibrary(LibraryItem *item);
    Q_INVOKABLE void openFramesEditor();
    // The library item with this URI (of the frames context) in the frame
    // editor; an item gone meanwhile shows nothing.
    Q_INVOKABLE void displayInFramesEditor(const QString &objectURI);
    bool canOpenFramesEditor() const { return bool(m_services.openFramesEditor); }
    void startBatchProcessing();
    void showPreferences();

    bool colorPanelShowsAlpha() const { return m_colorPanelShowsAlpha; }
    // The administration tool was enabled at launch ("Admin" is "YES").
    bool hasAdminController() const { return m_hasAdminController; }

signals:
    void framesDatabaseSaved();
    void initialFramesImportEnded(bool succeeded);

private:
    // The welcome window shown by the launch and the first-run import:
    // behind the photos opened with the program.
    void welcomeAtLaunch();
    KTWelcomeWindow *makeWelcomeWindow();
    void finishInitialFramesImport();
    // Saves a context at quit; false when the quit must stop.
    bool saveContextForQuit(platform::ManagedObjectContext *context);
    double delay(double seconds) const { return seconds * m_delayScale; }

    Services m_services;
    QString m_supportFolder;
    std::unique_ptr<LibraryStore> m_libraryStore;
    std::unique_ptr<TemplatesStore> m_templatesStore;
    double m_delayScale = 1.0;
    bool m_needToImportInitialTemplates = false;
    bool m_colorPanelShowsAlpha = false;
    bool m_hasAdminController = false;
    bool m_importingInitialFrames = false;
    platform::ManagedObjectContext *m_templatesContext = nullptr;
    bool m_templatesContextAsked = false;
    std::unique_ptr<platform::Debouncer> m_framesSave;
    std::unique_ptr<platform::Debouncer> m_templateNamesSave;
    std::unique_ptr<platform::Debouncer> m_templatesSave;
    QPointer<KTWelcomeWindow> m_welcomeWindow;
    QPointer<VLNewsletterSubscribeWindowController> m_newsletterWindow;
    QPointer<VLMASReviewWindowController> m_reviewWindow;
    QPointer<KTAlertsViewController> m_alertsViewController;
};
