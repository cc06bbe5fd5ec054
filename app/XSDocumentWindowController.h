#pragma once

#include "platform/ui/WindowController.h"

#include "app/KTDesignDocumentInterface.h"
#include "app/KTMainLayoutViewController.h"

#include <QPointer>

#include <functional>

#include "stores/Frame.h"

class QTimer;

// The document window: builds the main layout for the document's design,
// tells the document when the window is ready, keeps the window's size
// limits and saved frame, and tells the window about modifier keys.
class XSDocumentWindowController : public platform::WindowController
{
    Q_OBJECT
public:
    static constexpr const char *kWindowNibName = "MyDocument";
    static constexpr const char *kFrameAutosaveName = "DocumentWindow";
    static constexpr const char *kFlagsChangedNotification = "flagsChangedNotification";
    static constexpr int kMinimumWidth = 790;
    static constexpr int kMinimumHeight = 740;
    static constexpr int kSaveFrameDelayMs = 400;

    explicit XSDocumentWindowController(QObject *parent = nullptr);
    ~XSDocumentWindowController() override;

    static XSDocumentWindowController *defaultController();

    KTMainLayoutViewController *mainLayoutViewController() const { return m_mainLayoutViewController; }
    // The window's layers palette controller: the editor's canvas makes it
    // and it registers itself here while the window's views are built.
    QObject *layersPaletteController() const { return m_layersPaletteController.data(); }
    void setLayersPaletteController(QObject *controller) { m_layersPaletteController = controller; }
    // Opens the library panel on the frame (the layers strip calls it by name).
    Q_INVOKABLE void showFrameInLibrary(Frame *frame);
    // A collection, set or frame, at its own level of the library panel.
    void showItemInLibrary(LibraryItem *item);
    // The document shown, seen through what the window needs of it.
    KTDesignDocumentInterface *designDocument() const;

    // Runs for every document window once it is built (the menu bar comes so).
    static void setWindowDidLoadHook(std::function<void(XSDocumentWindowController *)> hook);

    // The defaults key the window's frame is kept under. It is written when
    // the user moves or resizes a window, when one closes, and at quit.
    static QString frameAutosaveKey();
    void saveWindowFrame();

protected:
    QWidget *loadWindow() override;
    void windowDidLoad() override;
    void windowWillClose() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static std::function<void(XSDocumentWindowController *)> &windowDidLoadHook();
    QPointer<KTMainLayoutViewController> m_mainLayoutViewController;
    QPointer<QObject> m_layersPaletteController;
    QObject *m_modifierWatcher = nullptr;
    QTimer *m_saveFrameTimer = nullptr;
    bool m_shown = false;
};
