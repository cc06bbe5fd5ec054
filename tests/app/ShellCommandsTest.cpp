#include "AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/KTAlertsViewController.h"
#include "app/KTBottomBarViewController.h"
#include "design/KTFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/Variation.h"
#include "design/ui/KTReportView.h"
#include "app/KTDocumentController.h"
#include "app/KTMainLayoutViewController.h"
#include "app/KTMainMenu.h"
#include "app/KTPreferencesController.h"
#include "app/KTViewState.h"
#include "app/KTWelcomeWindow.h"
#include "app/XSDocument.h"
#include "app/XSDocumentWindowController.h"
#include "kit/ui/StoreReviewWindowController.h"
#include "platform/Alert.h"
#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/MessageBoxPresenter.h"
#include "platform/ui/OpenWithDesktop.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QUndoCommand>
#include <QUndoStack>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSpinBox>
#include <QTest>
#include <QTextEdit>
#include <QWindow>

#include <thread>

#include <gtest/gtest.h>

using namespace platform;
using namespace apptest;

namespace {

class ShellCommands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KTMainMenu::installForDocumentWindows();
        setDesktopOpener([this](const QUrl &url) {
            opened << url;
            return desktopOpens;
        });
        delegate = std::make_unique<AppDelegate>(services, freshDir());
        documents = KTDocumentController::sharedDocumentController();
    }
    void TearDown() override
    {
        documents->closeAllDocuments();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        setOpenPanelPresenter(nullptr);
        setSavePanelPresenter(nullptr);
        KTReportView::setReportOpener(nullptr);
        setDesktopOpener(nullptr);
        setAlertPresenter(nullptr);
        delegate.reset();
    }
    XSDocument *openPhoto(const QString &name = "photo.png")
    {
        const QString path = freshDir() + '/' + name;
        QImage image(120, 80, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        image.save(path);
        XSDocument *opened = nullptr;
        bool done = false;
        documents->openDocumentWithContentsOfURL(QUrl::fromLocalFile(path), true, [&](Document *doc, bool, const Error &) {
            opened = qobject_cast<XSDocument *>(doc);
            done = true;
        });
        EXPECT_TRUE(testsupport::waitUntil([&] { return done; }));
        return opened;
    }
    static KTMainMenu *menuOf(XSDocument *doc)
    {
        auto *window = doc ? doc->windowForSheet() : nullptr;
        return window ? window->findChild<KTMainMenu *>() : nullptr;
    }
    // Triggers the command and lets its queued run happen.
    static void run(KTMainMenu *menu, const char *name)
    {
        QAction *action = menu->action(name);
        ASSERT_TRUE(action) << name;
        ASSERT_TRUE(action->isEnabled()) << name;
        action->trigger();
        QCoreApplication::processEvents();
    }

    AppDelegate::Services services;
    std::unique_ptr<AppDelegate> delegate;
    KTDocumentController *documents = nullptr;
    QList<QUrl> opened;
    bool desktopOpens = true;
};

TEST_F(ShellCommands, EveryCommandIsEnabledExactlyWhenItCanActAndDoesWhatItSays)
{
    XSDocument *doc = openPhoto();
    ASSERT_TRUE(doc);
    KTMainMenu *menu = menuOf(doc);
    ASSERT_TRUE(menu) << "every document window has its menu bar";
    QStringList titles;
    for (QAction *each : menu->menuBar()->actions())
        titles << each->text();
    EXPECT_EQ(titles, (QStringList{"&File", "&Edit", "&View", "&Window", "&Help"}));

    for (const char *unbuilt : {"startBatchProcessingAction", "openFramesEditorAction", "showWarningsAction"})
        EXPECT_FALSE(menu->action(unbuilt)->isEnabled()) << unbuilt << " is shown, not silent";
    for (const auto &[name, keys] : std::initializer_list<std::pair<const char *, QKeySequence>>{
             {"openDocumentAction", QKeySequence::Open}, {"closeDocumentAction", QKeySequence(Qt::CTRL | Qt::Key_W)},
             {"quitAction", QKeySequence(Qt::CTRL | Qt::Key_Q)}, {"undoAction", QKeySequence::Undo},
             {"redoAction", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)}, {"zoomInAction", QKeySequence::ZoomIn},
             {"zoomOutAction", QKeySequence::ZoomOut}, {"openManualAction", QKeySequence::HelpContents}})
        EXPECT_EQ(menu->action(name)->shortcut(), keys) << name;

    // Undo and Redo follow the document's own stack.
    EXPECT_FALSE(menu->action("undoAction")->isEnabled());
    QUndoStack *stack = doc->undoManager();
    int value = 0;
    struct Step : QUndoCommand {
        int &v;
        explicit Step(int &value) : QUndoCommand("Step"), v(value) {}
        void redo() override { ++v; }
        void undo() override { --v; }
    };
    stack->push(new Step(value));
    EXPECT_TRUE(menu->action("undoAction")->isEnabled());
    EXPECT_EQ(menu->action("undoAction")->text(), "&Undo Step");
    EXPECT_FALSE(menu->action("redoAction")->isEnabled());
    run(menu, "undoAction");
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(menu->action("undoAction")->isEnabled());
    run(menu, "redoAction");
    EXPECT_EQ(value, 1);

    // Zoom steps within the view state's range, each end disabling its command.
    auto *window = qobject_cast<XSDocumentWindowController *>(doc->windowControllers().first());
    std::shared_ptr<KTViewState> state = window->mainLayoutViewController()->viewState();
    state->setZoom(KTViewState::kMaximumZoom);
    EXPECT_FALSE(menu->action("zoomInAction")->isEnabled());
    run(menu, "zoomOutAction");
    EXPECT_NEAR(state->zoom(), KTViewState::kMaximumZoom - KTMainMenu::kZoomStep, 1e-9);
    run(menu, "zoomInAction");
    EXPECT_NEAR(state->zoom(), KTViewState::kMaximumZoom, 1e-9);
    state->setZoom(KTViewState::kMinimumZoom);
    EXPECT_FALSE(menu->action("zoomOutAction")->isEnabled());
    EXPECT_TRUE(menu->action("zoomInAction")->isEnabled());

    // Web pages and the data folder go to the desktop's handlers; updates
    // come from the package manager.
    run(menu, "gotoHomepageAction");
    run(menu, "openDatabaseFolderAction");
    run(menu, "openVelmoorSoftwareTwitterAction");
    ASSERT_EQ(opened.size(), 3);
    EXPECT_EQ(opened.at(0).host(), QUrl(KTWebAddresses::kHomepageURL).host());
    EXPECT_TRUE(opened.at(0).query().startsWith("kt="));
    EXPECT_TRUE(opened.at(1).isLocalFile());
    EXPECT_EQ(opened.at(2), QUrl(KTWebAddresses::kTwitterURL));
    // The manual ships with the resources and opens in the desktop's viewer.
    run(menu, "openManualAction");
    ASSERT_EQ(opened.size(), 4);
    QFile manual(opened.at(3).toLocalFile());
    ASSERT_TRUE(manual.open(QIODevice::ReadOnly)) << "the build writes Kantelo_Manual.pdf";
    EXPECT_TRUE(manual.read(5).startsWith("%PDF-"));
    // The review window is made once and asks for a review on the program's page.
    run(menu, "showReviewDialogAction");
    QPointer<VLMASReviewWindowController> review = delegate->reviewWindowController();
    ASSERT_TRUE(review);
    EXPECT_TRUE(review->window()->isVisible());
    EXPECT_EQ(review->appURL(), KTWebAddresses::kReviewURL);
    review->close();
    run(menu, "showReviewDialogAction");
    EXPECT_EQ(delegate->reviewWindowController(), review.data());
    review->close();
    AlertAnswers alerts;
    alerts.install();
    run(menu, "checkUpdatesAction");
    ASSERT_EQ(alerts.asked.size(), 1);
    EXPECT_EQ(alerts.asked.first().messageText, AppDelegate::kUpdatesMessage);

    // Close goes through the document's close question.
    doc->updateChangeCount(Document::ChangeKind::Done);
    alerts.answers = {"Cancel"};
    run(menu, "closeDocumentAction");
    EXPECT_TRUE(documents->documents().contains(doc)) << "cancelled";
    alerts.answers = {"Don’t Save"};
    QPointer<XSDocument> gone(doc);
    run(menu, "closeDocumentAction");
    EXPECT_FALSE(documents->documents().contains(gone.data()));
}

TEST_F(ShellCommands, TheOpenPanelOffersImagesDesignsArchivesAndAllFiles)
{
    const QString dir = freshDir();
    for (const char *name : {"a.jpg", "b.jpeg", "c.heic", "d.png", "e.tif", "notes.txt", "library.ktframes"})
        QFile(dir + '/' + name).open(QIODevice::WriteOnly);
    OpenPanelRequest asked;
    setOpenPanelPresenter([&](const OpenPanelRequest &request) {
        asked = request;
        return QList<QUrl>{};
    });
    documents->openDocument();
    ASSERT_EQ(asked.nameFilters.size(), 4);
    EXPECT_TRUE(asked.nameFilters.at(0).startsWith("Images ("));
    EXPECT_EQ(QDir(dir).entryList(patternsOfNameFilter(asked.nameFilters.at(0)), QDir::Files),
              (QStringList{"a.jpg", "b.jpeg", "c.heic", "d.png", "e.tif"}));
    EXPECT_EQ(asked.nameFilters.at(1), "Designs (*.KTTemplate)");
    EXPECT_EQ(QDir(dir).entryList(patternsOfNameFilter(asked.nameFilters.at(2)), QDir::Files),
              QStringList{"library.ktframes"});
    EXPECT_EQ(asked.nameFilters.at(3), "All files (*)");
    // The one filter made from the types now names the image types too.
    EXPECT_TRUE(fileDialogFilter({QString::fromLatin1(TypeTable::kImage)}).contains("*.heic"));
}

TEST_F(ShellCommands, TheWelcomeWindowStaysAboveTheStartUpPictureNotAboveAPhotoAndItsButtonsLeadSomewhere)
{
    delegate->welcomeToKantelo();
    KTWelcomeWindow *welcome = delegate->welcomeWindow();
    ASSERT_TRUE(welcome);
    QWidget *welcomeWindow = welcome->window();
    Error error;
    auto *startup = qobject_cast<XSDocument *>(documents->openUntitledDocumentAndDisplay(true, &error));
    ASSERT_TRUE(startup);
    QWidget *startupWindow = startup->windowForSheet();
    auto belongsTo = [&](QWidget *owner) {
        QWindow *handle = welcomeWindow->windowHandle();
        return handle && handle->transientParent() == (owner ? owner->windowHandle() : nullptr);
    };
    ASSERT_TRUE(testsupport::waitUntil([&] { return belongsTo(startupWindow); }))
        << "the welcome window stays above the start-up picture";

    // A photo handed over goes into that window, which comes in front.
    XSDocument *doc = openPhoto();
    ASSERT_EQ(doc, startup);
    ASSERT_TRUE(testsupport::waitUntil([&] { return belongsTo(nullptr) && QApplication::activeWindow() == startupWindow; }));
    EXPECT_TRUE(welcomeWindow->isVisible());
    XSDocument *second = openPhoto();
    ASSERT_TRUE(second && second != startup);
    QCoreApplication::processEvents();
    EXPECT_TRUE(belongsTo(nullptr)) << "nor does it cover a photo opened later";

    EXPECT_FALSE(welcome->window()->findChild<QPushButton *>("batchProcessingButton")->isEnabled())
        << "no batch window in this build";
    int newsletters = 0;
    QObject::connect(welcome, &KTWelcomeWindow::newsletterRequested, [&] { ++newsletters; });
    welcome->window()->findChild<QPushButton *>("tutorialButton")->click();
    EXPECT_FALSE(welcome->window()->isVisible());
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first().query(), "origin=welcome");
    delegate->welcomeToKantelo();
    welcome->window()->findChild<QPushButton *>("newsletterButton")->click();
    EXPECT_EQ(newsletters, 1);
    EXPECT_FALSE(welcome->window()->isVisible());
    EXPECT_EQ(welcome->window()->findChildren<QPushButton *>().size(), 10);

    // Its check box is the start-up choice; the import's rows take room only
    // while an import runs.
    const QString showKey = "ShowWelcomeWindow";
    ASSERT_TRUE(welcome->showAtLaunchCheckBox()->isChecked());
    welcome->showAtLaunchCheckBox()->click();
    EXPECT_FALSE(UserDefaults::standard().boolForKey(showKey));
    welcome->showAtLaunchCheckBox()->click();
    EXPECT_TRUE(UserDefaults::standard().boolForKey(showKey));
    delegate->welcomeToKantelo();
    ASSERT_TRUE(testsupport::waitUntil([&] { return welcomeWindow->isVisible(); }));
    const int idle = welcomeWindow->height();
    welcome->startActivity("Initializing frames");
    EXPECT_TRUE(testsupport::waitUntil([&] { return welcomeWindow->height() > idle; }));
    welcome->endActivity();
    EXPECT_TRUE(testsupport::waitUntil([&] { return welcomeWindow->height() == idle; }));
}

TEST_F(ShellCommands, DocumentWindowsAreListedKeepTheirFrameAndComeForwardToBeAskedAboutAtQuit)
{
    Application application(nullptr);
    bool quit = false;
    application.setQuitHandler([&] { quit = true; });
    XSDocument *first = openPhoto("first.png");
    XSDocument *second = openPhoto("second.png");
    ASSERT_TRUE(first && second);
    first->updateChangeCount(Document::ChangeKind::Done);

    // The Window menu lists the open documents, this window's checked.
    QMenu *windowMenu = menuOf(second)->menuBar()->findChild<QMenu *>("windowMenu");
    emit windowMenu->aboutToShow();
    QStringList listed;
    for (QAction *entry : windowMenu->findChildren<QAction *>("documentWindowAction"))
        listed << (entry->isChecked() ? "*" : "") + entry->text();
    EXPECT_EQ(listed, (QStringList{"first.png (edited)", "*second.png"}));
    windowMenu->findChildren<QAction *>("documentWindowAction").first()->trigger();
    EXPECT_TRUE(testsupport::waitUntil([&] { return QApplication::activeWindow() == first->windowForSheet(); }));

    // Moving a window keeps its frame, without closing it.
    QWidget *moved = second->windowForSheet();
    moved->move(moved->pos() + QPoint(37, 23));
    const QString key = XSDocumentWindowController::frameAutosaveKey();
    EXPECT_TRUE(
        testsupport::waitUntil([&] { return UserDefaults::standard().dataForKey(key) == moved->saveGeometry(); }));

    // At quit the edited document's window is the one asked about.
    QWidget *edited = first->windowForSheet();
    QList<QWidget *> askedOver;
    setAlertPresenter([&](const AlertRequest &request) {
        askedOver << AlertWindowScope::current();
        return int(request.buttons.indexOf("Don’t Save"));
    });
    application.terminate();
    setAlertPresenter(nullptr);
    EXPECT_EQ(askedOver, QList<QWidget *>{edited});
    EXPECT_TRUE(quit);
}

TEST_F(ShellCommands, WarningsFromAnyThreadAreCountedOnceAndShownFromTheBottomBar)
{
    XSDocument *doc = openPhoto();
    ASSERT_TRUE(doc);
    auto *window = qobject_cast<XSDocumentWindowController *>(doc->windowControllers().first());
    KTBottomBarViewController *bar = window->mainLayoutViewController()->bottomBarViewController();
    KTAlertsViewController *alerts = delegate->alertsViewController();
    ASSERT_TRUE(alerts);
    EXPECT_TRUE(bar->alertsButton()->isHidden());
    int added = 0;
    QObject::connect(alerts, &KTAlertsViewController::warningAdded, [&] { ++added; });

    std::thread worker([&] {
        delegate->postWarning("first");
        KTFrameLayer::postWarning(QString::fromLatin1(KTFrameLayer::kMissingFrameWarning).arg("Oak"));
    });
    worker.join();
    ASSERT_TRUE(testsupport::waitUntil([&] { return added == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(added, 2);
    EXPECT_EQ(alerts->newAlerts(), 2);
    EXPECT_EQ(alerts->text(), "\nfirst\nCouldn't find frame 'Oak' in the frame library\n");
    EXPECT_FALSE(bar->alertsButton()->isHidden());
    EXPECT_EQ(bar->alertsButton()->text(), "⚠ 2");
    EXPECT_TRUE(KTMainMenu::install(window)->action("showWarningsAction")->isEnabled());

    // Looking resets the count; the button stays while there is text.
    bar->alertsButtonPressed();
    ASSERT_TRUE(bar->alertsPopup());
    EXPECT_EQ(alerts->infoLabel()->text(), "2 new alerts");
    EXPECT_EQ(alerts->textView()->toPlainText(), alerts->text());
    bar->alertsPopup()->hide();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(alerts->newAlerts(), 0);
    EXPECT_FALSE(bar->alertsButton()->isHidden());
    EXPECT_EQ(bar->alertsButton()->text(), "⚠") << "read: no count left";

    delegate->postWarning("again");
    ASSERT_TRUE(testsupport::waitUntil([&] { return added == 3; }));
    EXPECT_TRUE(alerts->text().endsWith("library\n\nagain\n")) << "a new batch starts after an empty line";
    EXPECT_EQ(alerts->newAlerts(), 1);
    EXPECT_EQ(alerts->infoLabel()->text(), "1 new alert");

    // Cleared and closed: the button goes.
    bar->alertsButtonPressed();
    ASSERT_TRUE(bar->alertsPopup());
    alerts->clearPressed();
    bar->alertsPopup()->hide();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(bar->alertsButton()->isHidden());
}

TEST_F(ShellCommands, PreferencesShowTheDefaultsAndWriteWhatTheUserChanges)
{
    UserDefaults &defaults = UserDefaults::standard();
    const QStringList keys{KTPreferenceKeys::kOutputImageFormatKey, KTPreferenceKeys::kOutputImageQualityKey,
                           KTPreferenceKeys::kExportSizeModificationKey, KTPreferenceKeys::kExportFixWidthKey,
                           KTPreferenceKeys::kExportFilenameAppendTextKey, KTPreferenceKeys::kLibraryCheckAtStartupKey};
    defaults.registerDefaults(AppDelegate::factoryDefaults());
    defaults.setInteger(KTPreferenceKeys::kOutputImageFormatKey, 2);
    defaults.setObject(KTPreferenceKeys::kOutputImageQualityKey, QStringLiteral("abc")); // shown as the factory 90

    delegate->showPreferences();
    KTPreferencesController *prefs = KTPreferencesController::sharedPrefsWindowController();
    QWidget *window = prefs->window();
    ASSERT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Export");
    EXPECT_GT(window->y(), window->screen()->availableGeometry().top()) << "the first time, not in a corner";
    EXPECT_EQ(prefs->toolbarIdentifiers(), (QStringList{"Export", "Updates"}));
    auto *format = window->findChild<QComboBox *>("ExFileFormat");
    EXPECT_EQ(format->currentIndex(), 2) << "the pane shows the defaults";
    EXPECT_EQ(window->findChild<QSpinBox *>("ExQuality")->value(), 90);
    EXPECT_FALSE(window->findChild<QSpinBox *>("ExQuality")->isEnabled()) << "no quality for PNG";
    EXPECT_FALSE(window->findChild<QSpinBox *>("ExWidth")->isEnabled());

    format->setCurrentIndex(0);
    EXPECT_TRUE(window->findChild<QSpinBox *>("ExQuality")->isEnabled());
    window->findChild<QSpinBox *>("ExQuality")->setValue(55);
    window->findChild<QRadioButton *>("ExSize3")->click();
    window->findChild<QSpinBox *>("ExWidth")->setValue(1024);
    EXPECT_TRUE(window->findChild<QSpinBox *>("ExWidth")->isEnabled());
    EXPECT_FALSE(window->findChild<QSpinBox *>("ExHeight")->isEnabled());
    window->findChild<QRadioButton *>("ExFileName2")->click();
    auto *append = window->findChild<QLineEdit *>("ExAppendText");
    append->clear();
    QTest::keyClicks(append, "_copy");
    EXPECT_EQ(defaults.integerForKey(KTPreferenceKeys::kOutputImageFormatKey), 0);
    EXPECT_EQ(defaults.integerForKey(KTPreferenceKeys::kOutputImageQualityKey), 55);
    EXPECT_EQ(defaults.integerForKey(KTPreferenceKeys::kExportSizeModificationKey), 3);
    EXPECT_EQ(defaults.integerForKey(KTPreferenceKeys::kExportFixWidthKey), 1024);
    EXPECT_EQ(defaults.stringForKey(KTPreferenceKeys::kExportFilenameAppendTextKey), "_copy");

    prefs->toolbar()->actions().last()->trigger();
    EXPECT_EQ(window->windowTitle(), "Updates");
    window->findChild<QCheckBox *>("LibraryCheckAtStartup")->click();
    EXPECT_FALSE(defaults.boolForKey(KTPreferenceKeys::kLibraryCheckAtStartupKey));

    // Shown again: one toolbar of two items, back on "Export".
    prefs->showWindow();
    EXPECT_EQ(prefs->toolbar()->actions().size(), 2);
    EXPECT_EQ(window->windowTitle(), "Export");
    prefs->closePreferences();
    for (const QString &key : keys)
        defaults.removeObject(key);
}

TEST_F(ShellCommands, ANewWindowStartsWithTheSavedPresentation)
{
    XSDocument *first = openPhoto();
    ASSERT_TRUE(first);
    auto layoutOf = [](XSDocument *doc) {
        return qobject_cast<XSDocumentWindowController *>(doc->windowControllers().first())->mainLayoutViewController();
    };
    layoutOf(first)->viewState()->setZoom(0.5);
    layoutOf(first)->saveCurrentPresentationSettings();
    XSDocument *second = openPhoto();
    ASSERT_TRUE(second);
    EXPECT_NEAR(layoutOf(second)->viewState()->zoom(), 0.5, 1e-9);
    layoutOf(second)->resetToDefaultPresentationSettings();
    EXPECT_NEAR(layoutOf(second)->viewState()->zoom(), KTViewState::kInitialZoom, 1e-9);
}

TEST_F(ShellCommands, OpenRecentListsTheFilesThatStillExistOpensOneAndClears)
{
    documents->clearRecentDocuments();
    XSDocument *first = openPhoto();
    ASSERT_TRUE(first);
    const QString dir = freshDir();
    QImage image(60, 40, QImage::Format_RGB32);
    image.fill(Qt::darkRed);
    ASSERT_TRUE(image.save(dir + "/R&D.png"));
    documents->noteNewRecentDocumentURL(QUrl::fromLocalFile(dir + "/gone.png"));
    documents->noteNewRecentDocumentURL(QUrl::fromLocalFile(dir + "/R&D.png"));

    auto *recent = menuOf(first)->menuBar()->findChild<QMenu *>("openRecentMenu");
    ASSERT_TRUE(recent);
    emit recent->aboutToShow();
    QStringList titles;
    for (QAction *each : recent->actions())
        titles << each->text();
    EXPECT_EQ(titles, (QStringList{"R&&D.png", "photo.png", "", "Clear Menu"})) << "newest first, the missing file left out";
    EXPECT_EQ(recent->actions().first()->toolTip(), dir + "/R&D.png");

    recent->actions().first()->trigger();
    EXPECT_TRUE(testsupport::waitUntil([&] { return documents->documentForURL(QUrl::fromLocalFile(dir + "/R&D.png")); }));

    run(menuOf(first), "clearRecentDocumentsAction");
    EXPECT_TRUE(documents->recentDocumentURLs().isEmpty());
    emit recent->aboutToShow();
    ASSERT_EQ(recent->actions().size(), 2);
    EXPECT_FALSE(recent->actions().last()->isEnabled());
}

TEST(ShellBottomBar, ProportionsPrintAgainstTheChosenRatioAndLockTheDesign)
{
    const QString photo = freshDir() + "/photo.png";
    QImage(300, 200, QImage::Format_RGB32).save(photo);
    auto design = std::make_shared<KTTemplate>();
    ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(photo)));
    auto state = std::make_shared<KTViewState>();
    KTBottomBarViewController bar(KTBottomBarViewController::kNibName, nullptr);
    bar.setViewState(state);
    bar.view();
    bar.setTemplate(design);
    QComboBox *menu = bar.aspectRatioPopupButton();
    EXPECT_EQ(menu->itemText(menu->findData(KTBottomBarViewController::kOriginalAspectRatioTag)), "Same as Image — 3:2");

    // Against the nearest standard ratio.
    bar.aspectRatioSelectionChanged(menu->findData(KTBottomBarViewController::kCurrentAspectRatioTag));
    struct Case { QSizeF size; const char *shown; bool green; };
    for (const Case &c : {Case{{3000, 2000}, "3:2", true}, Case{{2000, 3000}, "2:3", true},
                          Case{{2000, 1000}, "2:1", true}, Case{{2500, 1000}, "2.5:1", false}}) {
        bar.updateImageSize(c.size);
        EXPECT_EQ(bar.imageRatioText(), c.shown);
        EXPECT_EQ(bar.isGoodAspectRatio(), c.green) << c.shown;
    }
    EXPECT_EQ(bar.imageSizeText(), "2500:1000");
    EXPECT_EQ(KTBottomBarViewController::aspectRatioArrayIndexForRatio(1.457), 5);
    EXPECT_EQ(KTBottomBarViewController::aspectRatioStringWithRatioSize(KTBottomBarViewController::humanAspectRatio(5, 1.457, false)),
              "1.46:1");
    bar.updateImageSize({2000, 3000});
    bar.setIsLockedAspectRatio(true);
    EXPECT_TRUE(design->isLockedAspectRatio());
    EXPECT_NEAR(design->lockedAspectRatio(), 2.0 / 3.0, 1e-9) << "a portrait design locks below 1";

    // A chosen ratio: 1.35 against 4:3 is within the band.
    bar.aspectRatioSelectionChanged(menu->findData(3));
    EXPECT_NEAR(design->lockedAspectRatio(), 4.0 / 3.0, 1e-9);
    bar.updateImageSize({1350, 1000});
    EXPECT_EQ(bar.imageRatioText(), "4.05:3");
    EXPECT_TRUE(bar.isGoodAspectRatio());

    // The zoom slider and the view state follow each other.
    state->setZoom(0.5);
    EXPECT_EQ(bar.zoomSlider()->value(), 50);
    bar.zoomSlider()->setValue(70);
    EXPECT_NEAR(state->zoom(), 0.7, 1e-9);
    UserDefaults::standard().removeObject(KTPreferenceKeys::kAspectRatioMenuItemIndexKey);
}

} // namespace

TEST_F(ShellCommands, TheDesignCommandsWriteTemplatesReplaceTheDesignAndReportIt)
{
    XSDocument *doc = openPhoto();
    ASSERT_TRUE(doc);
    KTMainMenu *menu = menuOf(doc);
    ASSERT_TRUE(menu);
    const std::shared_ptr<KTTemplate> design = doc->docTemplate();
    design->setName("Gallery");

    // Save as template: the package goes where the panel says, with its extension.
    const QString dir = freshDir();
    SavePanelRequest saveAsked;
    setSavePanelPresenter([&](const SavePanelRequest &request) {
        saveAsked = request;
        return QUrl::fromLocalFile(dir + "/Gallery");
    });
    run(menu, "saveTemplateAction");
    EXPECT_EQ(saveAsked.nameFieldValue, "Gallery");
    EXPECT_TRUE(saveAsked.accessoryView) << "asks whether to include the photo";
    const QString package = dir + "/Gallery.KTTemplate";
    ASSERT_TRUE(QFileInfo(package).isDir());

    // Replace from that package: the design takes its name back; a file that
    // is no template changes nothing.
    QList<QUrl> chosen;
    OpenPanelRequest openAsked;
    setOpenPanelPresenter([&](const OpenPanelRequest &request) {
        openAsked = request;
        return chosen;
    });
    design->setName("Changed");
    chosen = {QUrl::fromLocalFile(dir + "/missing.KTTemplate")};
    run(menu, "replaceTemplateFromFileAction");
    EXPECT_TRUE(openAsked.choosesPackages);
    EXPECT_EQ(openAsked.allowedTypes, QStringList{TypeTable::kTemplate});
    EXPECT_EQ(design->name(), "Changed");
    chosen = {QUrl::fromLocalFile(package)};
    run(menu, "replaceTemplateFromFileAction");
    EXPECT_EQ(doc->docTemplate(), design) << "the document keeps its design object";
    EXPECT_EQ(design->name(), "Gallery");
    EXPECT_TRUE(design->imageLayer()) << "and its photo";

    // Replace Photo keeps the design around another picture; Cancel keeps the photo.
    const QString wide = dir + "/wide.png";
    QImage picture(200, 50, QImage::Format_RGB32);
    picture.fill(Qt::darkRed);
    ASSERT_TRUE(picture.save(wide));
    chosen = {};
    run(menu, "replaceImageAction");
    EXPECT_EQ(openAsked.allowedTypes, QStringList{TypeTable::kImage});
    EXPECT_EQ(design->originalImageSize(), QSizeF(120, 80));
    chosen = {QUrl::fromLocalFile(wide)};
    run(menu, "replaceImageAction");
    EXPECT_EQ(doc->docTemplate(), design);
    EXPECT_EQ(design->originalImageSize(), QSizeF(200, 50));
    EXPECT_EQ(design->name(), "Gallery");
    chosen = {QUrl::fromLocalFile(package)};

    // Import puts a saved design into the templates store, written at once.
    run(menu, "importTemplateAction");
    EXPECT_TRUE(openAsked.allowsMultipleSelection);
    ManagedObjectContext *templates = delegate->templatesManagedObjectContext();
    ASSERT_TRUE(Variation::variationWithName("Gallery", templates));
    EXPECT_FALSE(templates->hasChanges());

    // The report is a PDF handed to the viewer.
    QList<QUrl> shown;
    KTReportView::setReportOpener([&](const QUrl &url) { shown << url; });
    run(menu, "generateDesignReportAction");
    ASSERT_TRUE(testsupport::waitUntil([&] { return !shown.isEmpty(); }));
    const auto removeFolder =
        qScopeGuard([&] { QDir(QFileInfo(shown.first().toLocalFile()).absolutePath()).removeRecursively(); });
    QFile pdf(shown.first().toLocalFile());
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5).startsWith("%PDF-"));
}

// With no browser or viewer, web pages and the report say so and offer the
// address, or the file's place, to copy.
TEST_F(ShellCommands, WhatTheDesktopCannotOpenIsSaidWithWhatStillHelps)
{
    KTMainMenu *menu = menuOf(openPhoto());
    ASSERT_TRUE(menu);
    desktopOpens = false;
    QList<AlertRequest> alerts;
    setAlertPresenter([&](const AlertRequest &request) {
        alerts << request;
        return 0;
    });
    run(menu, "openFramePacksPageAction");
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].messageText, "Couldn't open the web page");
    EXPECT_EQ(alerts[0].buttons.value(0), "Copy Address");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), opened.last().toString());

    run(menu, "generateDesignReportAction");
    ASSERT_TRUE(testsupport::waitUntil([&] { return alerts.size() == 2; }));
    const QFileInfo report(QGuiApplication::clipboard()->text());
    const auto removeFolder = qScopeGuard([&] { QDir(report.absolutePath()).removeRecursively(); });
    EXPECT_TRUE(report.isFile()) << "its path was copied";
    EXPECT_EQ(alerts[1].messageText, QString("Couldn't open “%1”").arg(report.fileName()));
    EXPECT_TRUE(alerts[1].informativeText.endsWith(report.absolutePath()));
}
