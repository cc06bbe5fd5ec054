#pragma once

#include "app/KTPanelManagerViewController.h"
#include "app/KTPanelViewController.h"
#include "kit/ui/XSViewController.h"

#include <QPointer>
#include <QSplitter>

#include <memory>

class Frame;
class LibraryItem;
class KTBottomBarViewController;
class KTViewState;

// The split of a document window: the browser panels "VARIATIONS",
// "TEMPLATES" and "LIBRARY" in a column on the left, the design canvas on the
// right. The column keeps its width when the window changes size; the user
// drags it between 250 and 500 points.
class KTMainSplitViewController : public XSViewController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "MainSplitView";
    static constexpr const char *kTemplatesPanelName = "TEMPLATES";
    static constexpr const char *kVariationsPanelName = "VARIATIONS";
    static constexpr const char *kLibraryPanelName = "LIBRARY";
    static constexpr int kMinimumColumnWidth = 250;
    static constexpr int kMaximumColumnWidth = 500;

    // The class names the window's upper controllers are registered under.
    static constexpr const char *kDesignViewControllerClass = "KTDesignViewController";
    static constexpr const char *kLibraryViewControllerClass = "KTLibraryViewController";
    static constexpr const char *kTemplatesViewControllerClass = "KTTemplatesViewController";
    static constexpr const char *kVariationsViewControllerClass = "KTVariationsViewController";

    KTMainSplitViewController(const QString &nibName, platform::WindowController *windowController,
                              QObject *parent = nullptr);
    ~KTMainSplitViewController() override;

    KTPanelManagerViewController *libraryPanelManagerViewController() const { return m_panelManager; }
    XSViewController *designViewController() const { return m_designViewController; }
    KTPanelViewController *templatesPanelViewController() const { return m_templatesPanel; }
    KTPanelViewController *variationsPanelViewController() const { return m_variationsPanel; }
    KTPanelViewController *libraryPanelViewController() const { return m_libraryPanel; }
    XSViewController *libraryViewController() const { return m_libraryViewController; }
    XSViewController *templatesViewController() const { return m_templatesViewController; }
    XSViewController *variationsViewController() const { return m_variationsViewController; }

    // What the enclosing layout hands over before the views are built: its
    // view state, the window's layers palette controller and the bottom bar.
    void setViewState(const std::shared_ptr<KTViewState> &viewState) { m_viewState = viewState; }
    void setLayersPaletteController(QObject *controller) { m_layersPaletteController = controller; }
    void setBottomBarViewController(KTBottomBarViewController *bar) { m_bottomBar = bar; }

    void stage2Setup();
    void openTemplatesPanel();
    void openLibraryPanel();
    void showFrameInLibrary(Frame *frame);
    void showItemInLibrary(LibraryItem *item);

    // The divider's limits for the user's drags.
    static int constrainMinCoordinate() { return kMinimumColumnWidth; }
    static int constrainMaxCoordinate() { return kMaximumColumnWidth; }
    QSplitter *splitView() const { return m_splitView; }
    int columnWidth() const;
    // Moves the divider as a drag would, within the limits.
    void moveDivider(int position);

protected:
    QWidget *loadView() override;

private:
    QPointer<KTPanelManagerViewController> m_panelManager;
    QPointer<XSViewController> m_designViewController;
    QPointer<KTPanelViewController> m_templatesPanel;
    QPointer<KTPanelViewController> m_variationsPanel;
    QPointer<KTPanelViewController> m_libraryPanel;
    QPointer<XSViewController> m_libraryViewController;
    QPointer<XSViewController> m_templatesViewController;
    QPointer<XSViewController> m_variationsViewController;
    QPointer<QSplitter> m_splitView;
    std::shared_ptr<KTViewState> m_viewState;
    QPointer<QObject> m_layersPaletteController;
    QPointer<KTBottomBarViewController> m_bottomBar;
};
