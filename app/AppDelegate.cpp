#include "app/AppDelegate.h"

#include "app/DarkAppearance.h"
#include "app/KTAlertsViewController.h"
#include "app/KTPreferencesController.h"
#include "design/KTExportQuality.h"
#include "design/KTFrameLayer.h"
#include "app/KTDocumentController.h"
#include "app/KTWelcomeWindow.h"
#include "app/XSDocumentWindowController.h"
#include "kit/VLWAnalytics.h"
#include "kit/ui/PWFeedbackController.h"
#include "kit/ui/StoreReviewWindowController.h"
#include "kit/ui/VLNewsletterSubscribeWindowController.h"
#include "kit/ui/VLProgressPanel.h"
#include "platform/ui/Application.h"
#include "platform/ui/Document.h"
#include "platform/ui/OpenWithDesktop.h"
#include "platform/ui/WindowController.h"
#include "design/Variation.h"
#include "kit/VLKitUtils.h"
#include "platform/Alert.h"
#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/TemporaryFolders.h"
#include "platform/ThreadPools.h"
#include "platform/UserDefaults.h"
#include "platform/archive/TypedStreamColor.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "stores/KTFrameLibraryImporter.h"
#include "stores/LibraryItem.h"

#include <QApplication>
#include <QCoreApplication>
#include <QUrlQuery>
#include <QWindow>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <mutex>

using namespace platform;

namespace {

QPointer<AppDelegate> g_shared;

const char *const kAreYouSure = "Are you sure?";
const char *const kLibraryUpdatingText = "Your frames library is currently updating. Quit anyway?";
const char *const kBatchProcessingText = "Your photos are still being processed. Quit anyway? The photos being "
                                         "written now are finished first; the others are left as they are.";
const char *const kCouldNotSaveText = "Could not save changes while quitting. Quit anyway?";
const char *const kDontQuit = "Don't quit";
const char *const kQuitAnyway = "Quit anyway";
// A library file that cannot be opened is only ever moved aside, on request.
const char *const kDamagedLibraryMessage = "The frame library could not be opened.";
const char *const kDamagedLibraryText = "The file “%1” seems damaged. Kantelo can move it aside, keeping it, "
                                        "and start a new, empty library.";
const char *const kStartNewLibrary = "Start New Library";
const char *const kGoOnWithoutLibrary = "Continue Without Library";
const char *const kDamagedDesignsMessage = "The saved designs could not be opened.";
const char *const kDamagedDesignsText = "The file “%1” seems damaged. Kantelo can move it aside, keeping it, "
                                        "and start a new one with the built-in designs.";
const char *const kStartNewDesigns = "Start New Designs File";
const char *const kGoOnWithoutDesigns = "Continue Without Saved Designs";

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

// "Are you sure?" with the given text; true for "Quit anyway".
bool confirmQuitAnyway(const char *informative)
{
    AlertRequest request;
    request.messageText = key(kAreYouSure);
    request.informativeText = key(informative);
    request.buttons = {key(kDontQuit), key(kQuitAnyway)};
    return runAlert(request) == 1;
}

// A quit that waited for work to end asks again, so that nothing is skipped;
// one called off meanwhile (a later start's files came) stays off.
void terminateAgain()
{
    if (Application *application = Application::shared(); application && application->isAwaitingTerminateReply()) {
        application->replyToApplicationShouldTerminate(false);
        QMetaObject::invokeMethod(application, [application] { application->terminate(); }, Qt::QueuedConnection);
    }
}

} // namespace

QVariantMap AppDelegate::factoryDefaults()
{
    return {
        {key(kOutputImageQualityKey), KTExportQuality::kFactoryPercent},
        {key(kOutputImageSizeComboKey), 0},
        {key(kOutputImageFormatKey), 1},
        {key(kExportSizeModificationKey), 0},
        {key(kExportFilenameModificationKey), 0},
        {key(kExportFixHeightKey), 600},
        {key(kExportFixWidthKey), 800},
        {key(kExportFixHeight2Key), 600},
        {key(kExportFixWidth2Key), 800},
        {key(kLibraryCheckAtStartupKey), true},
        {key(kAspectRatioMenuItemIndexKey), 0},
        {key(kSubscribedToNewsletterKey), false},
        {key(kIncludeImageInTemplateKey), false},
        {key(kImportedInitialFramesKey), false},
        {key(kShowWelcomeWindowKey), true},
        {key(kExportFilenamePrependTextKey), QStringLiteral("framed_")},
        {key(kExportFilenameAppendTextKey), QStringLiteral("_framed")},
        {key(kLeftBackgroundColorKey), typedStreamDataForColor(Color::white(0.0))},
        {key(kRightBackgroundColorKey), typedStreamDataForColor(Color::white(1.0))},
        {key(kBackgroundColorSliderPositionKey), 214.0 / 255.0},
        {key(kDesignViewZoomLevelKey), 0.9},
    };
}

void AppDelegate::initialize()
{
    static std::once_flag once;
    std::call_once(once, [] { initialize(UserDefaults::standard()); });
}

void AppDelegate::initialize(UserDefaults &defaults)
{
    defaults.registerDefaults(factoryDefaults());
}

AppDelegate::AppDelegate(Services services, const QString &supportFolder, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
    , m_supportFolder(supportFolder)
{
    initialize();
    g_shared = this;
    KTStartupState::setCurrent(this);
    m_alertsViewController = new KTAlertsViewController(this);
    KTAlertsViewController::setShared(m_alertsViewController);
    // A design naming frames the library lacks says so in the list.
    QPointer<KTAlertsViewController> alerts = m_alertsViewController;
    KTFrameLayer::setWarningPoster([alerts](const QString &message) {
        if (alerts)
            alerts->addWarning(message + QLatin1Char('\n'));
    });
    m_needToImportInitialTemplates = false;
    DarkAppearance::apply();
}

AppDelegate::~AppDelegate()
{
    if (g_shared == this)
        g_shared = nullptr;
    if (KTStartupState::current() == this)
        KTStartupState::setCurrent(nullptr);
    KTFrameLayer::setWarningPoster(nullptr);
}

LibraryStore *AppDelegate::libraryStore()
{
    if (!m_libraryStore) {
        m_libraryStore = std::make_unique<LibraryStore>(this, m_supportFolder);
        LibraryStore::setShared(m_libraryStore.get());
    }
    return m_libraryStore.get();
}

QString AppDelegate::applicationSupportFolder()
{
    return libraryStore()->applicationSupportFolder();
}

QVariant AppDelegate::valueForLibraryMetadataKey(const QString &metadataKey)
{
    return libraryStore()->valueForLibraryMetadataKey(metadataKey);
}

void AppDelegate::setValueForLibraryMetadataKey(const QVariant &value, const QString &metadataKey)
{
    libraryStore()->setValueForLibraryMetadataKey(value, metadataKey);
}

bool AppDelegate::shouldMoveDamagedStoreAside(const QString &path, const Error &)
{
    AlertRequest request;
    request.style = AlertRequest::Style::Warning;
    request.messageText = key(kDamagedLibraryMessage);
    request.informativeText = QString::fromUtf8(kDamagedLibraryText).arg(QFileInfo(path).fileName());
    request.buttons = {key(kStartNewLibrary), key(kGoOnWithoutLibrary)};
    return runAlert(request) == 0;
}

AppDelegate *AppDelegate::shared()
{
    return g_shared.data();
}

void AppDelegate::whenInitialFramesImportEnds(QObject *receiver, std::function<void()> then)
{
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(this, &AppDelegate::initialFramesImportEnded, receiver, [connection, then](bool) {
        QObject::disconnect(*connection);
        then();
    });
}

ManagedObjectContext *AppDelegate::managedObjectContext()
{
    return libraryStore()->managedObjectContext();
}

TemplatesStore *AppDelegate::templatesStore()
{
    if (!m_templatesStore) {
        m_templatesStore = std::make_unique<TemplatesStore>(m_supportFolder);
        TemplatesStore::setShared(m_templatesStore.get());
        // A missing templates file asks for the built-in designs too.
        m_templatesStore->setNeedToImportInitialTemplatesHandler([this](bool need) {
            if (need)
                m_needToImportInitialTemplates = true;
        });
        m_templatesStore->setDamagedStoreHandler([](const QString &path, const Error &) {
            AlertRequest request;
            request.style = AlertRequest::Style::Warning;
            request.messageText = key(kDamagedDesignsMessage);
            request.informativeText = QString::fromUtf8(kDamagedDesignsText).arg(QFileInfo(path).fileName());
            request.buttons = {key(kStartNewDesigns), key(kGoOnWithoutDesigns)};
            return runAlert(request) == 0;
        });
    }
    return m_templatesStore.get();
}

ManagedObjectContext *AppDelegate::templatesManagedObjectContext()
{
    if (!m_templatesContextAsked) {
        m_templatesContextAsked = true;
        m_templatesContext = m_services.templatesContext ? m_services.templatesContext()
                                                         : templatesStore()->templatesManagedObjectContext();
        // A new designs store gets the built-in designs now, unless a
        // first-run import of the frames runs: they follow it.
        if (!m_services.templatesContext && m_templatesContext && templatesStore()->needToImportInitialTemplates()
            && !libraryStore()->isImportingInitialFrames())
            importInitialTemplates();
    }
    return m_templatesContext;
}

ManagedObjectContext *AppDelegate::variationsManagedObjectContext()
{
    return templatesStore()->variationsManagedObjectContext();
}

bool AppDelegate::importInitialTemplates()
{
    if (m_services.importInitialTemplates) {
        const bool saved = m_services.importInitialTemplates();
        m_needToImportInitialTemplates = !saved;
        return saved;
    }
    TemplatesStore *store = templatesStore();
    const int added = store->importInitialTemplates(managedObjectContext());
    ManagedObjectContext *templates = templatesManagedObjectContext();
    // Saved at once: the built-in designs are not the user's to lose. A
    // designs store that could not be opened has nowhere to keep them.
    Error error;
    if (added > 0 && templates && templates->persistentStore() && templates->hasChanges() && !templates->save(&error)) {
        logLine(QStringLiteral("ERROR: Initial templates could not be saved: %1").arg(error.description));
        return false;
    }
    m_needToImportInitialTemplates = false;
    return true;
}

QString AppDelegate::framesGraphicsFolder()
{
    return libraryStore()->framesGraphicsFolder();
}

void AppDelegate::applicationWillFinishLaunching()
{
    KTDocumentController::sharedDocumentController();
    // Long work (a save, an import, pictures copied) shows its progress panel.
    VLProgressPanel::install();

    m_framesSave = std::make_unique<Debouncer>(delay(kFramesSaveDelay), [this] {
        saveFramesDatabase(managedObjectContext());
    });
    m_templateNamesSave = std::make_unique<Debouncer>(delay(kTemplateNamesSaveDelay), [this] {
        saveTemplateNamesToDefaults();
    });

    if (ManagedObjectContext *frames = managedObjectContext()) {
        connect(frames, &ManagedObjectContext::objectsDidChange, this, [this] { m_framesSave->schedule(); });
    }
    // Designs renamed, removed or kept as variations go to disk shortly after,
    // as frames do, not only at quit: a crash would take them otherwise.
    m_templatesSave = std::make_unique<Debouncer>(delay(kFramesSaveDelay), [this] {
        ManagedObjectContext *templates = templatesManagedObjectContext();
        Error error;
        if (!templates || !templates->persistentStore() || !templates->hasChanges() || templates->save(&error))
            return;
        logLine(QStringLiteral("Kantelo designs save error: %1").arg(error.description));
        presentError(error);
    });
    if (ManagedObjectContext *templates = templatesManagedObjectContext()) {
        connect(templates, &ManagedObjectContext::objectsDidChange, this, [this] {
            m_templateNamesSave->schedule();
            m_templatesSave->schedule();
        });
    }
}

void AppDelegate::applicationDidFinishLaunching()
{
    UserDefaults &defaults = UserDefaults::standard();

    // Colour dialogs opened from now on offer an alpha channel.
    m_colorPanelShowsAlpha = true;

    if (defaults.objectForKey(key(kAdminKey)).typeId() == QMetaType::QString
        && defaults.stringForKey(key(kAdminKey)) == QLatin1String("YES") && m_services.createAdminMenu) {
        m_services.createAdminMenu();
        m_hasAdminController = true;
    }

    if (defaults.boolForKey(key(kLibraryCheckAtStartupKey))) {
        runAfterDelay(delay(kLibraryCheckDelay), [this] {
            if (m_services.checkForLibraryUpdates)
                m_services.checkForLibraryUpdates();
        }, this);
    }

    if (VLKitUtils::launchesForFeature(key(kNewsletterFeature), defaults) == 3
        && !defaults.boolForKey(key(kSubscribedToNewsletterKey))) {
        runAfterDelay(delay(kNewsletterDelay), [this] {
            if (m_services.subscribeToNewsletter)
                m_services.subscribeToNewsletter();
        }, this);
    }

    if (m_services.purgeStaleBatchProcessingPreviews)
        m_services.purgeStaleBatchProcessingPreviews();
    // A kill or crash mid-import leaves its unpacked archive behind; such a
    // folder can hold very many files, so it goes off the main thread.
    runInBackground([folder = platform::applicationSupportFolder()] {
        KTFrameLibraryImporter::removeStaleImportFolders(folder);
        platform::TemporaryFolders::removeStaleFolders();
    });

    if (defaults.boolForKey(key(kShowWelcomeWindowKey)))
        welcomeAtLaunch();

    runAfterDelay(delay(kTemplateNamesLaunchDelay), [this] { saveTemplateNamesToDefaults(); }, this);
}

void AppDelegate::welcomeToKantelo()
{
    KTWelcomeWindow *welcome = makeWelcomeWindow();
    welcome->showWindow();
    welcome->keepInFront();
}

void AppDelegate::welcomeAtLaunch()
{
    makeWelcomeWindow()->showAtLaunch();
}

KTWelcomeWindow *AppDelegate::makeWelcomeWindow()
{
    if (m_welcomeWindow)
        return m_welcomeWindow;
    m_welcomeWindow = new KTWelcomeWindow(this);
    KTWelcomeWindow *welcome = m_welcomeWindow;
    welcome->setOpenURL([this](const QUrl &url) { return openURL(url); });
    connect(welcome, &KTWelcomeWindow::batchProcessingRequested, this, &AppDelegate::startBatchProcessing);
    connect(welcome, &KTWelcomeWindow::manualRequested, this, &AppDelegate::openManual);
    connect(welcome, &KTWelcomeWindow::supportRequested, this, &AppDelegate::sendFeedback);
    connect(welcome, &KTWelcomeWindow::newsletterRequested, this, &AppDelegate::subscribeToNewsletter);
    connect(welcome, &KTWelcomeWindow::facebookRequested, this, &AppDelegate::openKanteloFacebookPage);
    welcome->window();
    welcome->setBatchProcessingAvailable(bool(m_services.startBatchProcessing));
    welcome->setManualAvailable(hasManual());
    // The start-up document's window, opened after the welcome window, stays behind it.
    auto keep = [welcome] {
        QMetaObject::invokeMethod(welcome, [welcome] { welcome->keepInFront(); }, Qt::QueuedConnection);
    };
    if (DocumentController *documents = DocumentController::sharedDocumentController(false))
        connect(documents, &DocumentController::documentsChanged, welcome, keep);
    connect(qApp, &QGuiApplication::focusWindowChanged, welcome, keep);
    return welcome;
}

void AppDelegate::postWarning(const QString &warning)
{
    if (m_alertsViewController)
        m_alertsViewController->addWarning(warning + QLatin1Char('\n'));
}

bool AppDelegate::openURL(const QUrl &url)
{
    if (m_services.openURL)
        return m_services.openURL(url);
    return openWithDesktop(url);
}

bool AppDelegate::hasManual() const
{
    return !Bundle::pathForResource(QString::fromLatin1(kManualResource), QStringLiteral("pdf")).isEmpty();
}

void AppDelegate::openManual()
{
    const QString path = Bundle::pathForResource(QString::fromLatin1(kManualResource), QStringLiteral("pdf"));
    if (path.isEmpty())
        return;
    openURL(QUrl::fromLocalFile(path));
    VLWAnalytics::trackEventProperties(QStringLiteral("Help"), QVariantMap{{QStringLiteral("Action"), QStringLiteral("Opened Manual")}});
}

void AppDelegate::openTutorialFromHelp()
{
    QUrl url(QString::fromLatin1(KTWebAddresses::kTutorialURL));
    url.setQuery(QStringLiteral("origin=help"));
    openURL(url);
    VLWAnalytics::trackEventProperties(QStringLiteral("Help"), QVariantMap{{QStringLiteral("Action"), QStringLiteral("Tutorial")}});
}

void AppDelegate::gotoHomepageURL()
{
    VLWAnalytics::trackEventProperties(QStringLiteral("Marketing"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Opened Homepage")}});
    QUrl url(QString::fromLatin1(KTWebAddresses::kHomepageURL));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("kt"), VLKitUtils::shortVersionString());
    url.setQuery(query);
    openURL(url);
}

void AppDelegate::openKanteloFacebookPage()
{
    VLWAnalytics::trackEventProperties(QStringLiteral("Marketing"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Opened Facebook")}});
    openURL(QUrl(QString::fromLatin1(KTWebAddresses::kFacebookURL)));
}

void AppDelegate::openVelmoorSoftwareTwitterURL()
{
    VLWAnalytics::trackEventProperties(QStringLiteral("Marketing"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Opened VL Twitter")}});
    openURL(QUrl(QString::fromLatin1(KTWebAddresses::kTwitterURL)));
}

void AppDelegate::showMASReviewDialog()
{
    VLWAnalytics::trackEventProperties(QStringLiteral("Marketing"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Opened MAS Review Dialog")}});
    if (!m_reviewWindow)
        m_reviewWindow = new VLMASReviewWindowController(QString::fromLatin1(KTWebAddresses::kReviewURL), this);
    m_reviewWindow->showWindow();
}

VLMASReviewWindowController *AppDelegate::reviewWindowController() const
{
    return m_reviewWindow.data();
}

void AppDelegate::openFramePacksPage()
{
    VLWAnalytics::trackEventProperties(QStringLiteral("Marketing"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Opened Frame Packs")}});
    openURL(QUrl(QString::fromLatin1(KTWebAddresses::kFramePacksURL)));
}

void AppDelegate::subscribeToNewsletter()
{
    // A new window each time, replacing the one before.
    if (m_newsletterWindow)
        m_newsletterWindow->deleteLater();
    m_newsletterWindow = new VLNewsletterSubscribeWindowController(this);
    m_newsletterWindow->setListId(QString::fromLatin1(kNewsletterListId));
    m_newsletterWindow->setLargeTitleText(QString::fromLatin1(kNewsletterTitle));
    m_newsletterWindow->showWindow();
    VLWAnalytics::trackEventProperties(QStringLiteral("Marketing"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Opened Newsletter Dialog")}});
}

void AppDelegate::sendFeedback()
{
    VLWAnalytics::trackEventProperties(QStringLiteral("Usage"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Showed Feedback dialog")}});
    // The program's own address, unless the user's defaults name another.
    UserDefaults &defaults = UserDefaults::standard();
    const QString urlKey = QString::fromLatin1(PWFeedbackController::kFeedbackURLKey);
    if (!defaults.objectForKey(urlKey).isValid())
        defaults.registerDefaults({{urlKey, QString::fromLatin1(KTWebAddresses::kFeedbackURL)}});
    PWFeedbackController::showFeedback();
}

void AppDelegate::checkUpdates()
{
    AlertRequest request;
    request.style = AlertRequest::Style::Informational;
    request.messageText = tr(kUpdatesMessage);
    request.informativeText = tr(kUpdatesText);
    runAlert(request);
}

void AppDelegate::openDatabaseFolder()
{
    const QString folder = applicationSupportFolder();
    QDir().mkpath(folder);
    openURL(QUrl::fromLocalFile(folder));
}

void AppDelegate::showFrameInLibrary(Frame *frame)
{
    showItemInLibrary(frame);
}

void AppDelegate::showItemInLibrary(LibraryItem *item)
{
    auto *documents = KTDocumentController::sharedDocumentController();
    if (documents->documents().isEmpty()) {
        Error error;
        if (!documents->openUntitledDocumentAndDisplay(true, &error)) {
            QApplication::beep();
            return;
        }
    }
    Document *document = documents->documents().constFirst();
    const QList<WindowController *> controllers = document->windowControllers();
    if (controllers.isEmpty())
        return;
    controllers.constFirst()->showWindow();
    if (auto *window = qobject_cast<XSDocumentWindowController *>(controllers.constFirst()))
        window->showItemInLibrary(item);
}

void AppDelegate::openFramesEditor()
{
    if (!m_services.openFramesEditor)
        return;
    m_services.openFramesEditor();
    VLWAnalytics::trackEventProperties(QStringLiteral("Usage"), QVariantMap{{QStringLiteral("Action"), QStringLiteral("Frame Editor")}});
}

void AppDelegate::displayInFramesEditor(const QString &objectURI)
{
    platform::ManagedObjectContext *context = m_services.displayInFramesEditor ? managedObjectContext() : nullptr;
    if (auto *item = context ? dynamic_cast<LibraryItem *>(context->objectWithURI(objectURI)) : nullptr)
        m_services.displayInFramesEditor(item);
}

void AppDelegate::startBatchProcessing()
{
    VLWAnalytics::trackEventProperties(QStringLiteral("Batch"), QVariantMap{{QStringLiteral("Action"), QStringLiteral("Show")}});
    if (m_services.startBatchProcessing)
        m_services.startBatchProcessing();
}

void AppDelegate::showPreferences()
{
    VLWAnalytics::trackEventProperties(QStringLiteral("Usage"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Showed Preferences")}});
    KTPreferencesController::sharedPrefsWindowController()->showWindow();
}

void AppDelegate::saveFramesDatabase(ManagedObjectContext *context)
{
    QPointer<ManagedObjectContext> target(context);
    QPointer<AppDelegate> self(this);
    // Queued even from the main thread: a save never runs inside its caller.
    QMetaObject::invokeMethod(QCoreApplication::instance(), [target, self] {
        if (!target || !target->hasChanges())
            return;
        Error error;
        if (target->save(&error)) {
            if (self)
                emit self->framesDatabaseSaved();
            return;
        }
        logLine(QStringLiteral("Kantelo frame database save error: %1").arg(error.description));
        const QVariantList detailed = error.userInfo.value(QStringLiteral("NSDetailedErrors")).toList();
        for (const QVariant &each : detailed)
            logLine(QStringLiteral("Kantelo Save Error: %1").arg(each.toString()));
        presentError(error);
    }, Qt::QueuedConnection);
}

void AppDelegate::saveTemplateNamesToDefaults()
{
    ManagedObjectContext *templates = templatesManagedObjectContext();
    if (!templates)
        return;
    const std::optional<QStringList> names = m_services.namesOfAllVariations
        ? m_services.namesOfAllVariations(templates)
        : Variation::namesOfAllVariationsInMOC(templates);
    if (names)
        UserDefaults::standard().setObject(key(kTemplateNamesKey), *names);
}

void AppDelegate::saveAction()
{
    ManagedObjectContext *frames = managedObjectContext();
    if (!frames)
        return;
    Error error;
    if (!frames->save(&error))
        presentError(error);
}

void AppDelegate::importInitialFrames()
{
    welcomeAtLaunch();

    const QString folder = framesGraphicsFolder();
    if (!QFileInfo(folder).isDir()) {
        QDir parent = QFileInfo(folder).absoluteDir();
        if (!parent.mkdir(QFileInfo(folder).fileName()))
            logLine(QStringLiteral("Couldn't create frame graphics folder at %1: %2")
                        .arg(folder, QStringLiteral("the folder could not be made")));
    }

    const QString archive = Bundle::pathForResource(key(kInitialFramesResource), key(kInitialFramesExtension));
    if (archive.isEmpty()) {
        logLine(QStringLiteral("ERROR: Can't find Initial Frames in bundle"));
        libraryStore()->releaseImportLock();
        emit initialFramesImportEnded(false);
        return;
    }

    // Without a frames store there is nothing to import into.
    ManagedObjectContext *context = managedObjectContext();
    if (!context) {
        logLine(QStringLiteral("ERROR: No frames store to import the initial frames into"));
        libraryStore()->releaseImportLock();
        emit initialFramesImportEnded(false);
        return;
    }
    auto importer = std::make_shared<KTFrameLibraryImporter>(QUrl::fromLocalFile(archive), QUrl::fromLocalFile(folder),
                                                             context);
    importer->setDelegate(this);
    if (m_welcomeWindow)
        m_welcomeWindow->startActivity(key(kInitializingFramesActivity));
    UserDefaults::standard().setBool(key(kImportedInitialFramesKey), false);
    m_importingInitialFrames = true;
    importer->startImport(); // a running import keeps itself alive
}

void AppDelegate::importerProgress(KTFrameLibraryImporter *, double progress)
{
    // The welcome window takes its activity calls from any thread.
    if (KTWelcomeWindow *welcome = m_welcomeWindow.data())
        welcome->setActivityProgress(progress);
}

void AppDelegate::importerDidFinish(KTFrameLibraryImporter *)
{
    // The importer calls from its own queue; the store and the flag belong
    // to the main thread.
    QPointer<AppDelegate> self(this);
    runOnMainThread([self] {
        if (self)
            self->finishInitialFramesImport();
    }, false);
}

void AppDelegate::finishInitialFramesImport()
{
    if (m_welcomeWindow)
        m_welcomeWindow->endActivity();
    // The built-in designs are saved before the first run is recorded: a
    // first run cut short anywhere before is completed at the next start
    // (the frames and designs already there are not added twice).
    if (m_needToImportInitialTemplates && !importInitialTemplates()) {
        logLine(QStringLiteral("ERROR: Initial library import failed with %1")
                    .arg(QStringLiteral("the built-in designs could not be saved")));
        m_importingInitialFrames = false;
        libraryStore()->releaseImportLock();
        emit initialFramesImportEnded(false);
        return;
    }
    // The flag goes up only once the imported library is on disk, so an
    // interrupted first run imports again at the next start.
    Error error;
    if (!libraryStore()->recordInitialFramesImported(&error)) {
        logLine(QStringLiteral("ERROR: Initial library import failed with %1").arg(error.description));
        m_importingInitialFrames = false;
        libraryStore()->releaseImportLock();
        presentError(error);
        emit initialFramesImportEnded(false);
        return;
    }
    libraryStore()->releaseImportLock();
    m_importingInitialFrames = false;
    emit initialFramesImportEnded(true);
}

void AppDelegate::importerFailedWithError(KTFrameLibraryImporter *, const Error &error)
{
    const QString description = error.description;
    QPointer<AppDelegate> self(this);
    runOnMainThread([self, description] {
        logLine(QStringLiteral("ERROR: Initial library import failed with %1").arg(description));
        if (!self)
            return;
        self->m_importingInitialFrames = false;
        self->libraryStore()->releaseImportLock();
        // A bar left running would tell of work that stopped.
        if (self->m_welcomeWindow)
            self->m_welcomeWindow->endActivity();
        emit self->initialFramesImportEnded(false);
    }, false);
}

bool AppDelegate::saveContextForQuit(ManagedObjectContext *context)
{
    if (!context->hasChanges())
        return true;
    Error error;
    if (context->save(&error))
        return true;
    // No recovery is offered with a store error, so the question follows.
    presentError(error);
    return confirmQuitAnyway(kCouldNotSaveText);
}

ApplicationDelegate::TerminateReply AppDelegate::applicationShouldTerminate()
{
    // The first-run import works on threads of its own: quitting under it
    // would pull the store and its pictures away. The quit waits for its end
    // and then asks again, saving what it brought.
    if (m_importingInitialFrames) {
        connect(this, &AppDelegate::initialFramesImportEnded, this, [] { terminateAgain(); }, Qt::SingleShotConnection);
        return TerminateReply::Later;
    }
    // A batch's window can't close while it writes: the run stops after
    // whole files and the quit then asks again; the windows stay meanwhile.
    if (m_services.isBatchProcessing && m_services.isBatchProcessing() && m_services.stopBatchProcessing) {
        if (!confirmQuitAnyway(kBatchProcessingText))
            return TerminateReply::Cancel;
        QPointer<AppDelegate> self(this);
        m_services.stopBatchProcessing([self] {
            if (self)
                terminateAgain();
        });
        return TerminateReply::Later;
    }
    if (m_services.isLibraryUpdating && m_services.isLibraryUpdating()) {
        if (!confirmQuitAnyway(kLibraryUpdatingText))
            return TerminateReply::Cancel;
        // The update stops before the stores are saved, so none is saved half-changed.
        if (m_services.cancelLibraryUpdate)
            m_services.cancelLibraryUpdate();
    }
    // Only a store that was made; quitting builds none.
    if (m_libraryStore) {
        if (ManagedObjectContext *frames = m_libraryStore->managedObjectContext();
            frames && !saveContextForQuit(frames))
            return TerminateReply::Cancel;
    }
    if (!m_templatesContextAsked || !m_templatesContext)
        return TerminateReply::Now;
    if (!saveContextForQuit(m_templatesContext))
        return TerminateReply::Cancel;
    return TerminateReply::Now;
}

void AppDelegate::applicationWillTerminate()
{
    // The quit saved the stores itself; pending delayed saves have nothing left.
    if (m_framesSave)
        m_framesSave->cancel();
    if (m_templateNamesSave)
        m_templateNamesSave->cancel();
    if (m_services.cleanupBeforeTermination)
        m_services.cleanupBeforeTermination();
}
