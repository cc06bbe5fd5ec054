#include "app/KTMainSplitViewController.h"

#include "app/KTBottomBarViewController.h"
#include "app/KTControllerRegistry.h"
#include "app/KTDesignCanvasInterface.h"
#include "app/KTLayersPaletteClient.h"
#include "app/KTLibraryPanelInterface.h"
#include "app/KTPanelManagerViewController.h"
#include "app/KTPanelViewController.h"
#include "app/KTDesignPreviewView.h"
#include "app/KTViewState.h"
#include "app/KTDesignDocumentInterface.h"

#include <QCoreApplication>

namespace {

// The split view; moving the divider is a drag's move.
class KTMainSplitView : public QSplitter
{
public:
    using QSplitter::QSplitter;
    void moveDividerTo(int position) { moveSplitter(position, 1); }
};

// Until the editor registers its canvas, the window shows its design in the
// shell's preview, zoomed and coloured by the window's view state.
class PreviewCanvasController : public XSViewController, public KTDesignCanvasInterface
{
public:
    using XSViewController::XSViewController;

    void setViewState(const std::shared_ptr<KTViewState> &viewState) override
    {
        m_viewState = viewState;
        if (m_connection)
            disconnect(m_connection);
        if (viewState)
            m_connection = connect(viewState.get(), &KTViewState::viewStateChanged, this, [this] { follow(); });
        follow();
    }
    KTTrackingAreaHost *trackingAreaHost() override { return nullptr; }
    void removeAllTrackingAreas() override {}

protected:
    QWidget *loadView() override
    {
        auto *preview = new KTDesignPreviewView;
        if (auto *doc = KTDesignDocumentInterface::ofWindowController(windowController()))
            preview->setDocTemplate(doc->docTemplate());
        m_preview = preview;
        follow();
        return preview;
    }

private:
    void follow()
    {
        if (!m_preview || !m_viewState)
            return;
        m_preview->setZoom(m_viewState->zoom());
        m_preview->setBackgroundColor(m_viewState->backgroundColor());
    }

    std::shared_ptr<KTViewState> m_viewState;
    QMetaObject::Connection m_connection;
    QPointer<KTDesignPreviewView> m_preview;
};

} // namespace

KTMainSplitViewController::KTMainSplitViewController(const QString &nibName,
                                                     platform::WindowController *windowController, QObject *parent)
    : XSViewController(nibName, windowController, parent)
{
    m_panelManager = new KTPanelManagerViewController(QString::fromLatin1(KTPanelManagerViewController::kNibName),
                                                      windowController);
    m_designViewController = KTControllerRegistry::make(QString::fromLatin1(kDesignViewControllerClass),
                                                        QStringLiteral("DesignView"), windowController);
    if (!m_designViewController)
        m_designViewController = new PreviewCanvasController(QStringLiteral("DesignView"), windowController);
    const QString panelNib = QString::fromLatin1(KTPanelViewController::kNibName);
    m_templatesPanel = new KTPanelViewController(panelNib, windowController);
    m_variationsPanel = new KTPanelViewController(panelNib, windowController);
    m_libraryPanel = new KTPanelViewController(panelNib, windowController);
    m_libraryViewController = KTControllerRegistry::makeOrPlaceholder(
        QString::fromLatin1(kLibraryViewControllerClass), QStringLiteral("LibraryView"), windowController);
    m_templatesViewController = KTControllerRegistry::makeOrPlaceholder(
        QString::fromLatin1(kTemplatesViewControllerClass), QStringLiteral("TemplatesView"), windowController);
    m_variationsViewController = KTControllerRegistry::makeOrPlaceholder(
        QString::fromLatin1(kVariationsViewControllerClass), QStringLiteral("VariationsView"), windowController);

    addChildViewController(m_panelManager);
    addChildViewController(m_designViewController);
    // The panels belong to the manager once added; until then to the split.
    for (KTPanelViewController *panel : {m_templatesPanel.data(), m_variationsPanel.data(), m_libraryPanel.data()})
        panel->setParent(this);
    m_libraryPanel->setCustomViewController(m_libraryViewController);
    m_templatesPanel->setCustomViewController(m_templatesViewController);
    m_variationsPanel->setCustomViewController(m_variationsViewController);
}

KTMainSplitViewController::~KTMainSplitViewController() = default;

QWidget *KTMainSplitViewController::loadView()
{
    auto *split = new KTMainSplitView(Qt::Horizontal);
    split->setObjectName(nibName());
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    m_splitView = split;

    if (m_viewState) {
        if (auto *canvas = dynamic_cast<KTDesignCanvasInterface *>(m_designViewController.data()))
            canvas->setViewState(m_viewState);
    }
    QWidget *column = m_panelManager->view();
    column->setMinimumWidth(kMinimumColumnWidth);
    column->setMaximumWidth(kMaximumColumnWidth);
    QWidget *canvas = m_designViewController->view();
    canvas->setMinimumWidth(100);
    split->addWidget(column);
    split->addWidget(canvas);
    // The canvas takes every change of the window's width.
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({kMinimumColumnWidth, 100000});
    return split;
}

int KTMainSplitViewController::columnWidth() const
{
    return m_splitView ? m_splitView->sizes().value(0) : 0;
}

void KTMainSplitViewController::moveDivider(int position)
{
    view();
    static_cast<KTMainSplitView *>(m_splitView.data())->moveDividerTo(position);
}

void KTMainSplitViewController::stage2Setup()
{
    view();
    if (auto *client = dynamic_cast<KTLayersPaletteClient *>(m_designViewController.data()))
        client->useLayersPaletteController(m_layersPaletteController.data());
    m_templatesPanel->setPanelName(tr(kTemplatesPanelName));
    m_variationsPanel->setPanelName(tr(kVariationsPanelName));
    m_libraryPanel->setPanelName(tr(kLibraryPanelName));
    m_panelManager->addPanel(m_variationsPanel);
    m_panelManager->addPanel(m_templatesPanel);
    m_panelManager->addPanel(m_libraryPanel);
    m_panelManager->openPanelAndAnimate(m_templatesPanel, false);

    if (m_bottomBar) {
        m_bottomBar->setLibraryViewController(m_libraryViewController);
        m_bottomBar->setPanelManager(m_panelManager);
        m_bottomBar->setDesignViewController(m_designViewController);
    }
}

void KTMainSplitViewController::openTemplatesPanel()
{
    m_panelManager->openPanel(m_templatesPanel);
}

void KTMainSplitViewController::openLibraryPanel()
{
    m_panelManager->openPanel(m_libraryPanel);
}

void KTMainSplitViewController::showFrameInLibrary(Frame *frame)
{
    openLibraryPanel();
    if (auto *library = dynamic_cast<KTLibraryPanelInterface *>(m_libraryViewController.data()))
        library->showAndSelectFrame(frame);
}

void KTMainSplitViewController::showItemInLibrary(LibraryItem *item)
{
    openLibraryPanel();
    if (auto *library = dynamic_cast<KTLibraryPanelInterface *>(m_libraryViewController.data()))
        library->showAndSelectItem(item);
}
