#include "app/AppDelegate.h"
#include "app/KTApplicationIcon.h"
#include "app/KTApplicationShortcuts.h"
#include "app/KTDocumentController.h"
#include "app/KTMainMenu.h"
#include "batch/KTBatchProcessingCoordinator.h"
#include "batch/ui/KTBatchProcessingWindowController.h"
#include "commandline/KTCommandLineRun.h"
#include "frameeditor/KTAdminController.h"
#include "frameeditor/KTFEWindowController.h"
#include "kit/VLKitUtils.h"
#include "kit/VLProcessArguments.h"
#include "library/KTFrameImporterWindowController.h"
#include "library/LibraryUpdates.h"
#include "platform/TemporaryNames.h"
#include "platform/TimingLog.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/EnglishPlurals.h"
#include "platform/ui/Application.h"
#include "platform/ui/GuardedApplication.h"
#include "platform/ui/MessageBoxPresenter.h"
#include "platform/ui/SingleInstance.h"
#include "programs/kantelo/WindowControllers.h"

#include <QApplication>
#include <QFileInfo>
#include <QWidget>
#include <QUrl>

#include <csignal>
#include <memory>
#include <cstdio>

namespace {

// The files named on the command line (options are left out).
QStringList fileArguments(const QStringList &arguments)
{
    QStringList files;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (!arguments.at(i).startsWith(QLatin1Char('-')))
            files.append(arguments.at(i));
    }
    return files;
}

constexpr const char *kUsage =
    "Usage: kantelo [FILE...]\n"
    "       kantelo -template=NAME -process PHOTO\n"
    "\n"
    "Puts picture frames around photographs.\n"
    "\n"
    "  FILE             a photo (JPEG, PNG, TIFF, HEIC, PSD, PDF...), a design (.KTTemplate)\n"
    "                   or a frame archive (.ktframes) to open; a Kantelo already\n"
    "                   running opens it\n"
    "  -template=NAME   puts the saved design NAME around the photo\n"
    "  -process         with -template: writes the framed photo over its file and quits;\n"
    "                   needs no display (a terminal, cron, ssh or a container will do)\n"
    "  -h, --help       prints this text\n"
    "  --version        prints the version\n";

// Answers --help and --version without a display and without asking a
// running instance; true when the program should end.
bool answeredInformationOption(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray option(argv[i]);
        if (option == "--help" || option == "-h" || option == "-help") {
            std::fputs(kUsage, stdout);
            return true;
        }
        if (option == "--version") {
            std::printf("Kantelo %s\n", VLKitUtils::shortVersionString().toUtf8().constData());
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (answeredInformationOption(argc, argv))
        return 0;

    // A file-size limit (ulimit -f) fails the write, which is reported, instead
    // of ending the program without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    // A run ended by TERM, Ctrl+C or a closed terminal leaves nothing
    // half-written beside the user's files.
    platform::TemporaryNames::removeHeldAtTermination();

    platform::TimingLog::mark("main");
    // Framing one photo and quitting needs no window system.
    if (KTCommandLineRun::isProcessRun(argc, argv))
        return KTCommandLineRun::exec(argc, argv);

    platform::GuardedApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Kantelo"));
    app.setApplicationName(QStringLiteral("Kantelo"));
    app.setApplicationVersion(VLKitUtils::shortVersionString());
    app.setDesktopFileName(QString::fromLatin1(KTApplicationIcon::kName));
    app.setWindowIcon(KTApplicationIcon::icon());
    platform::EnglishPlurals::install();

    const QStringList files = fileArguments(app.arguments());
    platform::SingleInstance instance;
    // A design named here goes with these files, to a running instance too.
    const VLProcessArguments options;
    const QString designName = options.value(QString::fromLatin1(VLProcessArguments::kTemplateKey));
    if (instance.sendRequestToRunningInstance({files, designName}))
        return 0;
    instance.listen();

    platform::installMessageBoxPresenters();
    platform::ImageDecoder::raiseAllocationLimit();
    VLKitUtils::load();
    AppDelegate::initialize();
    kantelo::registerWindowControllers();
    KTMainMenu::installForDocumentWindows();

    AppDelegate delegate;
    delegate.services().purgeStaleBatchProcessingPreviews = &KTBatchProcessingCoordinator::purgeStaleBatchProcessingPreviews;
    // The batch window has no menu bar: Quit and Open reach it as they do the welcome window.
    delegate.services().startBatchProcessing = [] {
        KTApplicationShortcuts::install(KTBatchProcessingWindowController::showShared());
    };
    delegate.services().isBatchProcessing = &KTBatchProcessingWindowController::isSharedWindowProcessing;
    delegate.services().stopBatchProcessing = &KTBatchProcessingWindowController::stopSharedRunAfterCurrentFiles;
    delegate.services().subscribeToNewsletter = [&delegate] { delegate.subscribeToNewsletter(); };
    platform::Application application(&delegate);
    // Quitting cancels a running update through the delegate before the stores
    // are saved; it is destroyed before the delegate.
    LibraryUpdates libraryUpdates(nullptr, [&delegate] { delegate.saveFramesDatabase(delegate.managedObjectContext()); });
    delegate.services().checkForLibraryUpdates = [&libraryUpdates] { libraryUpdates.checkForLibraryUpdates(false); };
    delegate.services().checkForLibraryUpdatesFromMenu = [&libraryUpdates] { libraryUpdates.checkForLibraryUpdates(true); };
    delegate.services().resetLibraryUpdates = [&libraryUpdates] { libraryUpdates.resetLibraryUpdates(); };
    delegate.services().isLibraryUpdating = [&libraryUpdates] { return libraryUpdates.isUpdating(); };
    delegate.services().cancelLibraryUpdate = [&libraryUpdates] { libraryUpdates.cancelLibraryUpdate(); };
    // The frame editor: made once, on first use, and kept until the end.
    std::unique_ptr<KTFEWindowController> frameEditor;
    delegate.services().openFramesEditor = [&delegate, &frameEditor] {
        if (!frameEditor) {
            frameEditor = std::make_unique<KTFEWindowController>(delegate.managedObjectContext());
            frameEditor->setTemplatesContext(delegate.templatesManagedObjectContext());
        }
        frameEditor->showWindow();
    };
    delegate.services().displayInFramesEditor = [&frameEditor](LibraryItem *item) {
        if (frameEditor)
            frameEditor->displayObject(item);
    };
    delegate.services().cleanupBeforeTermination = [&frameEditor] {
        if (frameEditor)
            frameEditor->cleanupBeforeTermination();
    };
    // The maker's administration tool, when "Admin" is "YES" at launch.
    std::unique_ptr<KTAdminController> adminController;
    delegate.services().createAdminMenu = [&adminController, &delegate] {
        adminController = std::make_unique<KTAdminController>(delegate.libraryStore());
        adminController->createAdminMenu();
    };
    // Frame archives opened with the program each get an import window.
    KTDocumentController::sharedDocumentController()->setFrameArchiveRoute(
        [](const QUrl &url, platform::Document *) -> platform::Document * {
            KTFrameImporterWindowController::openArchive(url);
            return nullptr;
        });

    QObject::connect(&instance, &platform::SingleInstance::filesReceived, &app,
                     [&application](const QStringList &paths, const QString &design) {
                         // Files opened while a quit waits for work to end call the quit
                         // off, so they are not closed by it as soon as they show.
                         application.replyToApplicationShouldTerminate(false);
                         QList<QUrl> urls;
                         for (const QString &path : paths)
                             urls.append(QUrl::fromLocalFile(path));
                         KTDocumentController::sharedDocumentController()->applyDesignWhenOpened(urls, design);
                         KTDocumentController::sharedDocumentController()->openDocumentsWithURLs(urls);
                     });
    // Without a menu bar to quit from, closing the last window is the quit.
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &application, [&application] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->isVisible())
                return;
        }
        application.terminate();
    });

    QList<QUrl> urls;
    for (const QString &file : files)
        urls.append(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
    KTDocumentController::sharedDocumentController()->applyDesignWhenOpened(urls, designName);
    application.finishLaunching(files);
    const int status = app.exec();
    platform::TimingLog::mark("exit");
    return status;
}
