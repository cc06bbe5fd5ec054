#include "app/KTMainMenu.h"

#include "app/AppDelegate.h"
#include "app/KTAlertsViewController.h"
#include "app/KTBottomBarViewController.h"
#include "app/KTDesignBrowserInterface.h"
#include "app/KTDocumentController.h"
#include "app/KTLayersPaletteInterface.h"
#include "app/KTMainLayoutViewController.h"
#include "app/KTMainSplitViewController.h"
#include "app/KTViewState.h"
#include "app/XSDocument.h"
#include "app/XSDocumentWindowController.h"
#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "platform/objectstore/UndoManager.h"
#include "platform/ui/Application.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QUndoStack>

namespace {

XSDocument *documentOf(XSDocumentWindowController *controller)
{
    return controller ? qobject_cast<XSDocument *>(controller->document()) : nullptr;
}

KTMainLayoutViewController *layoutOf(XSDocumentWindowController *controller)
{
    return controller ? controller->mainLayoutViewController() : nullptr;
}

std::shared_ptr<KTViewState> viewStateOf(XSDocumentWindowController *controller)
{
    KTMainLayoutViewController *layout = layoutOf(controller);
    return layout ? layout->viewState() : nullptr;
}

KTLayersPaletteInterface *paletteOf(XSDocument *doc)
{
    return doc ? dynamic_cast<KTLayersPaletteInterface *>(doc->layersPaletteController()) : nullptr;
}

// The layer Edit > Delete would remove: the selected one, never the photo.
std::shared_ptr<KTLayer> deletableLayerOf(XSDocument *doc)
{
    KTLayersPaletteInterface *palette = paletteOf(doc);
    std::shared_ptr<KTLayer> layer = palette ? palette->selectedRepresentedObject() : nullptr;
    return layer && !qobject_cast<KTImageLayer *>(layer.get()) ? layer : nullptr;
}

// The undo of the part that has the focus, when it has one of its own (the
// templates browser's list): its keys undo there, and so does the menu.
platform::UndoManager *focusedPartUndoOf(XSDocumentWindowController *controller, const QWidget *focus)
{
    KTMainLayoutViewController *layout = layoutOf(controller);
    KTMainSplitViewController *split = layout ? layout->mainSplitViewController() : nullptr;
    auto *browser = split ? dynamic_cast<KTDesignBrowserInterface *>(split->templatesViewController()) : nullptr;
    return browser ? browser->undoManagerForFocus(focus) : nullptr;
}

struct ExtraMenu {
    QString title;
    QString objectName;
    std::function<void(QMenu *)> fill;
};

QList<ExtraMenu> &extraMenus()
{
    static QList<ExtraMenu> menus;
    return menus;
}

void quitApplication()
{
    if (platform::Application *application = platform::Application::shared())
        application->terminate();
}

void openDocument()
{
    KTDocumentController::sharedDocumentController()->openDocument();
}

// The key every Linux desktop uses for a command first, then the platform
// theme's others (some themes bind Close to Ctrl+F4 alone, Quit to nothing).
QList<QKeySequence> keysFor(QKeySequence::StandardKey standard, const QKeySequence &common)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(standard);
    keys.removeAll(common);
    keys.prepend(common);
    return keys;
}

} // namespace

void KTMainMenu::installForDocumentWindows()
{
    XSDocumentWindowController::setWindowDidLoadHook([](XSDocumentWindowController *controller) { install(controller); });
}

KTMainMenu *KTMainMenu::install(XSDocumentWindowController *controller)
{
    auto *window = controller ? qobject_cast<QMainWindow *>(controller->window()) : nullptr;
    if (!window)
        return nullptr;
    if (auto *existing = window->findChild<KTMainMenu *>(QString(), Qt::FindDirectChildrenOnly)) {
        existing->validateCommands();
        return existing;
    }
    auto *menu = new KTMainMenu(controller, window, true);
    menu->build();
    menu->validateCommands();
    return menu;
}

KTMainMenu *KTMainMenu::installForWindow(QMainWindow *window)
{
    if (!window)
        return nullptr;
    if (auto *existing = window->findChild<KTMainMenu *>(QString(), Qt::FindDirectChildrenOnly)) {
        existing->validateCommands();
        return existing;
    }
    auto *menu = new KTMainMenu(nullptr, window, false);
    menu->build();
    menu->validateCommands();
    return menu;
}

void KTMainMenu::addMenuToEveryWindow(const QString &title, const QString &objectName,
                                      std::function<void(QMenu *)> fill)
{
    extraMenus().append({title, objectName, fill});
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *menu = window->findChild<KTMainMenu *>(QString(), Qt::FindDirectChildrenOnly))
            menu->appendMenu(title, objectName, fill);
    }
}

void KTMainMenu::appendMenu(const QString &title, const QString &objectName, const std::function<void(QMenu *)> &fill)
{
    if (!m_menuBar || m_menuBar->findChild<QMenu *>(objectName))
        return;
    QMenu *menu = m_menuBar->addMenu(title);
    menu->setObjectName(objectName);
    if (fill)
        fill(menu);
}

KTMainMenu::KTMainMenu(XSDocumentWindowController *controller, QMainWindow *window, bool documentWindow)
    : QObject(window)
    , m_controller(controller)
    , m_window(window)
    , m_documentWindow(documentWindow)
{
    setObjectName(QStringLiteral("mainMenu"));
}

QAction *KTMainMenu::action(const QString &name) const
{
    return m_menuBar ? m_menuBar->findChild<QAction *>(name) : nullptr;
}

QAction *KTMainMenu::add(QMenu *menu, const QString &title, const char *name, std::function<void()> run,
                         const QKeySequence &shortcut)
{
    QAction *action = menu->addAction(title);
    action->setObjectName(QString::fromLatin1(name));
    action->setParent(menu);
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    if (run) {
        // Queued: the command runs after the menu has closed.
        connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); }, Qt::QueuedConnection);
    } else {
        action->setEnabled(false);
        action->setToolTip(tr(kNotAvailableTip));
        action->setProperty("kantelo.unavailable", true);
    }
    return action;
}

void KTMainMenu::build()
{
    m_menuBar = m_window->menuBar();
    QList<QMenu *> menus;
    if (m_documentWindow) {
        m_menuBar->clear();
        menus = {buildFileMenu(), buildEditMenu(), buildViewMenu(), buildWindowMenu(), buildHelpMenu()};
    } else {
        // The window's own menus stay between File and Window.
        const QList<QAction *> own = m_menuBar->actions();
        QMenu *file = buildFileMenu();
        if (!own.isEmpty()) {
            m_menuBar->removeAction(file->menuAction());
            m_menuBar->insertMenu(own.first(), file);
        }
        menus = {file, buildWindowMenu(), buildHelpMenu()};
    }
    for (QMenu *menu : menus)
        connect(menu, &QMenu::aboutToShow, this, &KTMainMenu::validateCommands);
    for (const ExtraMenu &extra : extraMenus())
        appendMenu(extra.title, extra.objectName, extra.fill);
    // A menu bar opened from the keyboard takes the focus: remember where it was.
    auto noteFocus = [this](QWidget *now) {
        if (now && m_window && m_window->isAncestorOf(now) && !qobject_cast<QMenuBar *>(now)
            && !qobject_cast<QMenu *>(now))
            m_commandFocus = now;
    };
    noteFocus(QApplication::focusWidget());
    connect(qApp, &QApplication::focusChanged, this, [noteFocus](QWidget *, QWidget *now) { noteFocus(now); });
    // Shortcuts work with the menus closed: keep the states current.
    if (XSDocument *doc = documentOf(m_controller); doc && doc->hasUndoManager()) {
        connect(doc->undoManager(), &QUndoStack::indexChanged, this, &KTMainMenu::validateCommands);
        connect(doc->undoManager(), &QUndoStack::cleanChanged, this, &KTMainMenu::validateCommands);
    }
    if (auto state = viewStateOf(m_controller))
        connect(state.get(), &KTViewState::viewStateChanged, this, &KTMainMenu::validateCommands);
}

QMenu *KTMainMenu::buildFileMenu()
{
    QPointer<XSDocumentWindowController> controller = m_controller;
    QPointer<QMainWindow> window = m_window;
    auto document = [controller] { return documentOf(controller); };
    auto delegate = [] { return AppDelegate::shared(); };
    AppDelegate::Services none;
    const AppDelegate::Services &services = delegate() ? delegate()->services() : none;

    QMenu *file = m_menuBar->addMenu(tr("&File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    add(file, tr("&New"), "newDocumentAction", [] {
        platform::Error error;
        KTDocumentController::sharedDocumentController()->openUntitledDocumentAndDisplay(true, &error);
    }, QKeySequence::New);
    add(file, tr("&Open…"), "openDocumentAction", &openDocument, QKeySequence::Open);
    QMenu *recent = file->addMenu(tr("Open &Recent"));
    recent->setObjectName(QStringLiteral("openRecentMenu"));
    recent->setToolTipsVisible(true);
    connect(recent, &QMenu::aboutToShow, this, [this, recent] { fillOpenRecentMenu(recent); });
    fillOpenRecentMenu(recent);
    file->addSeparator();
    QAction *close = add(file, m_documentWindow ? tr("&Close") : tr("&Close Window"), "closeDocumentAction", [window] {
        if (window)
            window->close();
    });
    close->setShortcuts(keysFor(QKeySequence::Close, QKeySequence(Qt::CTRL | Qt::Key_W)));
    if (m_documentWindow) {
        add(file, tr("&Save"), "saveDocumentAction", [document] {
            if (XSDocument *doc = document())
                doc->saveDocumentFromMenu();
        }, QKeySequence::Save);
        add(file, tr("Save &As…"), "saveDocumentAsAction", [document] {
            if (XSDocument *doc = document())
                doc->saveDocumentAsFromMenu();
        }, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
        file->addSeparator();
        using DocumentCommand = void (XSDocument::*)();
        auto documentCommand = [&](const QString &title, const char *name, DocumentCommand run) {
            add(file, title, name, [document, run] {
                if (XSDocument *doc = document())
                    (doc->*run)();
            });
        };
        documentCommand(tr("Save Design as Template…"), "saveTemplateAction", &XSDocument::saveTemplate);
        documentCommand(tr("Replace Design from File…"), "replaceTemplateFromFileAction",
                        &XSDocument::replaceTemplateFromFile);
        add(file, tr("Replace &Photo…"), "replaceImageAction", [controller] {
            if (KTMainLayoutViewController *layout = layoutOf(controller))
                layout->replaceImage();
        });
        add(file, tr("Import Template…"), "importTemplateAction", [document, delegate] {
            if (XSDocument *doc = document(); doc && delegate())
                doc->importTemplate(delegate()->templatesManagedObjectContext());
        });
        documentCommand(tr("Generate Design Report"), "generateDesignReportAction", &XSDocument::generateDesignReport);
        file->addSeparator();
        add(file, tr("&Print…"), "printDocumentAction", [document] {
            if (XSDocument *doc = document())
                doc->printDocument();
        }, QKeySequence::Print);
    }
    file->addSeparator();
    add(file, tr("&Batch Processing…"), "startBatchProcessingAction",
        services.startBatchProcessing ? std::function<void()>([delegate] {
            if (delegate())
                delegate()->startBatchProcessing();
        }) : nullptr);
    add(file, tr("Frame &Editor"), "openFramesEditorAction",
        services.openFramesEditor ? std::function<void()>([delegate] {
            if (delegate())
                delegate()->openFramesEditor();
        }) : nullptr);
    add(file, tr("Pre&ferences…"), "showPreferencesAction", [delegate] {
        if (delegate())
            delegate()->showPreferences();
    }, QKeySequence(Qt::CTRL | Qt::Key_Comma));
    file->addSeparator();
    QAction *quit = add(file, tr("&Quit"), "quitAction", &quitApplication);
    quit->setShortcuts(keysFor(QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q)));
    quit->setMenuRole(QAction::QuitRole);
    return file;
}

void KTMainMenu::fillOpenRecentMenu(QMenu *menu)
{
    menu->clear();
    KTDocumentController *documents = KTDocumentController::sharedDocumentController();
    for (const QUrl &url : documents->recentDocumentURLs()) {
        // A file moved or deleted since is left out rather than failing when chosen.
        if (!url.isLocalFile() || !QFileInfo::exists(url.toLocalFile()))
            continue;
        const QString path = QDir::toNativeSeparators(url.toLocalFile());
        QString name = QFileInfo(url.toLocalFile()).fileName();
        QAction *entry = menu->addAction(name.replace(QLatin1Char('&'), QLatin1String("&&")));
        entry->setToolTip(path);
        entry->setStatusTip(path);
        // Queued, as every command: the file opens after the menu has closed.
        connect(entry, &QAction::triggered, this, [url] {
            KTDocumentController::sharedDocumentController()->openDocumentsWithURLs({url});
        }, Qt::QueuedConnection);
    }
    menu->addSeparator();
    QAction *clear = add(menu, tr("Clear Menu"), "clearRecentDocumentsAction", [] {
        KTDocumentController::sharedDocumentController()->clearRecentDocuments();
    });
    clear->setEnabled(!documents->recentDocumentURLs().isEmpty());
}

QMenu *KTMainMenu::buildEditMenu()
{
    QPointer<XSDocumentWindowController> controller = m_controller;
    auto document = [controller] { return documentOf(controller); };
    QMenu *edit = m_menuBar->addMenu(tr("&Edit"));
    edit->setObjectName(QStringLiteral("editMenu"));
    // The focused part's own steps first, as its keys take them; else the document's.
    add(
        edit, tr("&Undo"), "undoAction",
        [this, controller, document] {
            if (platform::UndoManager *own = focusedPartUndoOf(controller, m_commandFocus); own && own->canUndo())
                own->undo();
            else if (XSDocument *doc = document(); doc && doc->hasUndoManager())
                doc->undoManager()->undo();
        },
        QKeySequence::Undo);
    add(
        edit, tr("&Redo"), "redoAction",
        [this, controller, document] {
            if (platform::UndoManager *own = focusedPartUndoOf(controller, m_commandFocus); own && own->canRedo())
                own->redo();
            else if (XSDocument *doc = document(); doc && doc->hasUndoManager())
                doc->undoManager()->redo();
        },
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    edit->addSeparator();
    // The strip takes the key itself; the menu only shows it, so that the
    // key still reaches text fields and the browsers' own lists.
    QAction *remove = add(edit, tr("&Delete"), "deleteLayerAction", [document] {
        XSDocument *doc = document();
        if (const std::shared_ptr<KTLayer> layer = deletableLayerOf(doc))
            paletteOf(doc)->removeLayer(layer.get());
    }, QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
    return edit;
}

QMenu *KTMainMenu::buildViewMenu()
{
    QPointer<XSDocumentWindowController> controller = m_controller;
    auto layout = [controller] { return layoutOf(controller); };
    QMenu *view = m_menuBar->addMenu(tr("&View"));
    view->setObjectName(QStringLiteral("viewMenu"));
    auto zoomBy = [controller](double step) {
        if (auto state = viewStateOf(controller))
            state->setZoom(state->zoom() + step);
    };
    add(view, tr("Zoom &In"), "zoomInAction", [zoomBy] { zoomBy(kZoomStep); }, QKeySequence::ZoomIn);
    add(view, tr("Zoom &Out"), "zoomOutAction", [zoomBy] { zoomBy(-kZoomStep); }, QKeySequence::ZoomOut);
    view->addSeparator();
    using Open = void (KTMainLayoutViewController::*)();
    auto panel = [&](const QString &title, const char *name, Open open) {
        add(view, title, name, [layout, open] {
            if (KTMainLayoutViewController *l = layout())
                (l->*open)();
        });
    };
    panel(tr("Variations"), "openVariationsPanelAction", &KTMainLayoutViewController::openVariationsPanel);
    panel(tr("Templates"), "openTemplatesPanelAction", &KTMainLayoutViewController::openTemplatesPanel);
    panel(tr("Library"), "openLibraryPanelAction", &KTMainLayoutViewController::openLibraryPanel);
    panel(tr("Design Settings"), "openDesignSettingsPanelAction", &KTMainLayoutViewController::openDesignSettingsPanel);
    panel(tr("Layer Settings"), "openLayerSettingsPanelAction", &KTMainLayoutViewController::openLayerSettingsPanel);
    panel(tr("Overlays"), "openOverlaysPanelAction", &KTMainLayoutViewController::openOverlaysPanel);
    panel(tr("Focus on Layers"), "focusOnLayersAction", &KTMainLayoutViewController::focusOnLayers);
    view->addSeparator();
    panel(tr("Save Presentation Settings"), "saveCurrentPresentationSettingsAction",
          &KTMainLayoutViewController::saveCurrentPresentationSettings);
    panel(tr("Load Saved Presentation Settings"), "loadPreviousPresentationSettingsAction",
          &KTMainLayoutViewController::loadPreviousPresentationSettings);
    panel(tr("Reset Presentation Settings"), "resetToDefaultPresentationSettingsAction",
          &KTMainLayoutViewController::resetToDefaultPresentationSettings);

    return view;
}

QMenu *KTMainMenu::buildWindowMenu()
{
    QPointer<XSDocumentWindowController> controller = m_controller;
    QPointer<QMainWindow> window = m_window;
    auto layout = [controller] { return layoutOf(controller); };
    auto delegate = [] { return AppDelegate::shared(); };
    QMenu *windowMenu = m_menuBar->addMenu(tr("&Window"));
    windowMenu->setObjectName(QStringLiteral("windowMenu"));
    add(windowMenu, tr("Minimi&ze"), "minimizeAction", [window] {
        if (window)
            window->showMinimized();
    }, QKeySequence(Qt::CTRL | Qt::Key_M));
    add(windowMenu, tr("&Welcome to Kantelo"), "welcomeToKanteloAction", [delegate] {
        if (delegate())
            delegate()->welcomeToKantelo();
    });
    if (m_documentWindow) {
        add(windowMenu, tr("Wa&rnings"), "showWarningsAction", [layout] {
            if (KTMainLayoutViewController *l = layout(); l && l->bottomBarViewController()) {
                if (QPushButton *button = l->bottomBarViewController()->alertsButton())
                    button->show();
                l->bottomBarViewController()->alertsButtonPressed();
            }
        });
    }
    connect(windowMenu, &QMenu::aboutToShow, this, [this, windowMenu] { fillDocumentList(windowMenu); });
    fillDocumentList(windowMenu);
    return windowMenu;
}

void KTMainMenu::fillDocumentList(QMenu *menu)
{
    for (QAction *entry : menu->actions()) {
        if (entry->property("kantelo.documentEntry").toBool())
            delete entry;
    }
    const QList<platform::Document *> documents = KTDocumentController::sharedDocumentController()->documents();
    if (documents.isEmpty())
        return;
    menu->addSeparator()->setProperty("kantelo.documentEntry", true);
    for (platform::Document *document : documents) {
        QString title = document->displayName().replace(QLatin1Char('&'), QLatin1String("&&"));
        if (document->isDocumentEdited())
            title = tr("%1 (edited)").arg(title);
        QAction *entry = menu->addAction(title);
        entry->setObjectName(QStringLiteral("documentWindowAction"));
        entry->setProperty("kantelo.documentEntry", true);
        entry->setCheckable(true);
        entry->setChecked(m_window && document->windowForSheet() == m_window.data());
        QPointer<platform::Document> target(document);
        connect(entry, &QAction::triggered, this, [target] {
            if (target)
                target->showWindows();
        }, Qt::QueuedConnection);
    }
}

QMenu *KTMainMenu::buildHelpMenu()
{
    auto delegate = [] { return AppDelegate::shared(); };
    AppDelegate::Services none;
    const AppDelegate::Services &services = delegate() ? delegate()->services() : none;
    QMenu *help = m_menuBar->addMenu(tr("&Help"));
    help->setObjectName(QStringLiteral("helpMenu"));
    auto command = [&](QMenu *menu, const QString &title, const char *name, void (AppDelegate::*run)(),
                       const QKeySequence &shortcut = {}) {
        return add(menu, title, name, [delegate, run] {
            if (AppDelegate *d = delegate())
                (d->*run)();
        }, shortcut);
    };
    command(help, tr("Kantelo &Manual"), "openManualAction", &AppDelegate::openManual, QKeySequence::HelpContents);
    command(help, tr("&Tutorial"), "openTutorialAction", &AppDelegate::openTutorialFromHelp);
    command(help, tr("Send &Feedback…"), "sendFeedbackAction", &AppDelegate::sendFeedback);
    command(help, tr("Subscribe to the &Newsletter…"), "subscribeToNewsletterAction", &AppDelegate::subscribeToNewsletter);
    help->addSeparator();
    command(help, tr("Kantelo &Web Site"), "gotoHomepageAction", &AppDelegate::gotoHomepageURL);
    command(help, tr("Frame &Packs"), "openFramePacksPageAction", &AppDelegate::openFramePacksPage);
    command(help, tr("Kantelo on Face&book"), "openFacebookPageAction", &AppDelegate::openKanteloFacebookPage);
    command(help, tr("Velmoor Software on &Twitter"), "openVelmoorSoftwareTwitterAction",
            &AppDelegate::openVelmoorSoftwareTwitterURL);
    command(help, tr("&Review Kantelo…"), "showReviewDialogAction", &AppDelegate::showMASReviewDialog);
    help->addSeparator();
    command(help, tr("Open &Data Folder"), "openDatabaseFolderAction", &AppDelegate::openDatabaseFolder);
    command(help, tr("Check for &Updates…"), "checkUpdatesAction", &AppDelegate::checkUpdates);
    add(help, tr("Check for &Library Updates…"), "checkForLibraryUpdatesAction",
        services.checkForLibraryUpdatesFromMenu ? std::function<void()>([delegate] {
            if (delegate() && delegate()->services().checkForLibraryUpdatesFromMenu)
                delegate()->services().checkForLibraryUpdatesFromMenu();
        }) : nullptr);
    add(help, tr("Reset Library Updates"), "resetLibraryUpdatesAction",
        services.resetLibraryUpdates ? std::function<void()>([delegate] {
            if (delegate() && delegate()->services().resetLibraryUpdates)
                delegate()->services().resetLibraryUpdates();
        }) : nullptr);
    return help;
}

void KTMainMenu::validateCommands()
{
    if (!m_menuBar)
        return;
    XSDocument *doc = documentOf(m_controller);
    KTMainLayoutViewController *layout = layoutOf(m_controller);
    auto state = viewStateOf(m_controller);
    AppDelegate *delegate = AppDelegate::shared();
    QUndoStack *undo = doc && doc->hasUndoManager() ? doc->undoManager() : nullptr;
    auto set = [this](const char *name, bool enabled) {
        if (QAction *a = action(QString::fromLatin1(name)); a && !a->property("kantelo.unavailable").toBool())
            a->setEnabled(enabled);
    };
    const bool hasDesign = doc && doc->docTemplate();
    set("closeDocumentAction", m_window);
    set("saveDocumentAction", hasDesign);
    set("saveDocumentAsAction", hasDesign);
    const bool hasPhoto = hasDesign && doc->docTemplate()->imageLayer();
    set("printDocumentAction", hasPhoto);
    set("saveTemplateAction", hasPhoto);
    set("generateDesignReportAction", hasPhoto);
    set("replaceTemplateFromFileAction", hasPhoto);
    set("replaceImageAction", layout && hasDesign);
    set("importTemplateAction", doc && delegate);
    // A window without a document keeps its own Edit menu up to date.
    if (m_documentWindow) {
        platform::UndoManager *own = focusedPartUndoOf(m_controller, m_commandFocus);
        const bool ownUndo = own && own->canUndo();
        const bool ownRedo = own && own->canRedo();
        const QString undoName = ownUndo                   ? own->undoActionName()
                                 : undo && undo->canUndo() ? undo->undoText()
                                                           : QString();
        const QString redoName = ownRedo                   ? own->redoActionName()
                                 : undo && undo->canRedo() ? undo->redoText()
                                                           : QString();
        set("undoAction", ownUndo || (undo && undo->canUndo()));
        set("redoAction", ownRedo || (undo && undo->canRedo()));
        set("deleteLayerAction", deletableLayerOf(doc) != nullptr);
        if (QAction *a = action(QStringLiteral("undoAction")))
            a->setText(undoName.isEmpty() ? tr("&Undo") : tr("&Undo %1").arg(undoName));
        if (QAction *a = action(QStringLiteral("redoAction")))
            a->setText(redoName.isEmpty() ? tr("&Redo") : tr("&Redo %1").arg(redoName));
    }
    set("zoomInAction", state && state->zoom() < KTViewState::kMaximumZoom - 1e-9);
    set("zoomOutAction", state && state->zoom() > KTViewState::kMinimumZoom + 1e-9);
    for (const char *name : {"openVariationsPanelAction", "openTemplatesPanelAction", "openLibraryPanelAction",
                             "openDesignSettingsPanelAction", "openLayerSettingsPanelAction", "openOverlaysPanelAction",
                             "focusOnLayersAction", "saveCurrentPresentationSettingsAction",
                             "resetToDefaultPresentationSettingsAction"})
        set(name, layout);
    set("loadPreviousPresentationSettingsAction", layout && layout->canLoadPreviousPresentationSettings());
    set("minimizeAction", m_window);
    set("showWarningsAction", layout && KTAlertsViewController::shared() && !KTAlertsViewController::shared()->text().isEmpty());
    for (const char *name : {"welcomeToKanteloAction", "showPreferencesAction", "openTutorialAction", "sendFeedbackAction",
                             "subscribeToNewsletterAction", "gotoHomepageAction", "openFramePacksPageAction",
                             "openFacebookPageAction", "openVelmoorSoftwareTwitterAction", "showReviewDialogAction",
                             "openDatabaseFolderAction", "checkUpdatesAction",
                             "checkForLibraryUpdatesAction", "resetLibraryUpdatesAction"})
        set(name, delegate);
    set("openManualAction", delegate && delegate->hasManual());
}
