#include "app/KTMainLayoutViewController.h"

#include "app/KTBottomBarViewController.h"
#include "app/KTControllerRegistry.h"
#include "app/KTDesignBrowserInterface.h"
#include "app/KTDesignCanvasInterface.h"
#include "app/KTLayersPaletteClient.h"
#include "app/KTLayersPaletteInterface.h"
#include "app/KTLibraryPanelInterface.h"
#include "app/KTMainSplitViewController.h"
#include "app/KTOverlayControlsInterface.h"
#include "app/KTPanelManagerViewController.h"
#include "app/KTPanelViewController.h"
#include "app/KTViewState.h"
#include "app/KTDesignDocumentInterface.h"
#include "design/KTImageLayer.h"
#include "design/KTLayer.h"
#include "design/KTLayerKinds.h"
#include "design/KTTemplate.h"
#include "design/Variation.h"
#include "platform/Alert.h"
#include "platform/Assert.h"
#include "platform/TypeTable.h"
#include "platform/ui/FilePanels.h"
#include "stores/LibraryStore.h"

#include <QCoreApplication>
#include <QGridLayout>

KTMainLayoutViewController::KTMainLayoutViewController(const QString &nibName,
                                                       platform::WindowController *windowController, QObject *parent)
    : XSViewController(nibName, windowController, parent)
    , m_viewState(std::make_shared<KTViewState>())
{
    m_bottomBar = new KTBottomBarViewController(QString::fromLatin1(KTBottomBarViewController::kNibName),
                                                windowController);
    m_panelManager = new KTPanelManagerViewController(QString::fromLatin1(KTPanelManagerViewController::kNibName),
                                                      windowController);
    m_mainSplit = new KTMainSplitViewController(QString::fromLatin1(KTMainSplitViewController::kNibName),
                                                windowController);
    m_mainSplit->setViewState(m_viewState);
    const QString panelNib = QString::fromLatin1(KTPanelViewController::kNibName);
    m_overlayPanel = new KTPanelViewController(panelNib, windowController, this);
    m_controlsPanel = new KTPanelViewController(panelNib, windowController, this);
    m_templateSettingsPanel = new KTPanelViewController(panelNib, windowController, this);
    m_templateControls = KTControllerRegistry::makeOrPlaceholder(QString::fromLatin1(kTemplateControlsClass),
                                                                 QStringLiteral("TemplateControlsView"), windowController);
    m_overlayControls = KTControllerRegistry::makeOrPlaceholder(QString::fromLatin1(kOverlayControlsClass),
                                                                QStringLiteral("OverlayControls"), windowController);
    // Until they are placed in their panels, the layout owns them.
    m_templateControls->setParent(this);
    m_overlayControls->setParent(this);

    // The view's set-up finds the split, the panel stack and the bar in this order.
    addChildViewController(m_mainSplit);
    addChildViewController(m_panelManager);
    addChildViewController(m_bottomBar);

    for (platform::ViewController *each : std::initializer_list<platform::ViewController *>{
             m_overlayPanel, m_controlsPanel, m_templateSettingsPanel, m_templateControls, m_overlayControls})
        each->view();
    m_overlayPanel->setCustomViewController(m_overlayControls);

    m_bottomBar->setViewState(m_viewState);
    m_bottomBar->setPlusButtonEnabled(true);
    m_bottomBar->setMinusButtonEnabled(true);
    connect(m_bottomBar, &KTBottomBarViewController::plusButtonPressed, this,
            &KTMainLayoutViewController::addButtonPressed);
    connect(m_bottomBar, &KTBottomBarViewController::minusButtonPressed, this,
            &KTMainLayoutViewController::removeButtonPressed);
}

KTMainLayoutViewController::~KTMainLayoutViewController()
{
    if (m_layerSelectedObserver)
        platform::NotificationCenter::defaultCenter().removeObserver(m_layerSelectedObserver);
}

QWidget *KTMainLayoutViewController::loadView()
{
    auto *view = new QWidget;
    view->setObjectName(nibName());
    auto *grid = new QGridLayout(view);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);

    // The holders: the split to the left, the editing panels to the right,
    // the bottom bar under both.
    auto *splitView = new QWidget(view);
    splitView->setObjectName(QStringLiteral("splitView"));
    auto *panelView = new QWidget(view);
    panelView->setObjectName(QStringLiteral("panelView"));
    panelView->setFixedWidth(kEditingColumnWidth);
    auto *bottomBarView = new QWidget(view);
    bottomBarView->setObjectName(QStringLiteral("bottomBarView"));
    grid->addWidget(splitView, 0, 0);
    grid->addWidget(panelView, 0, 1);
    grid->addWidget(bottomBarView, 1, 0, 1, 2);
    grid->setRowStretch(0, 1);
    grid->setColumnStretch(0, 1);

    const QList<platform::ViewController *> children = childViewControllers();
    QWidget *holders[] = {splitView, panelView, bottomBarView};
    for (int i = 0; i < 3 && i < children.size(); ++i) {
        auto *fill = new QGridLayout(holders[i]);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(children.at(i)->view(), 0, 0);
    }
    return view;
}

void KTMainLayoutViewController::setLayersPaletteController(QObject *controller)
{
    m_layersPaletteController = controller;
}

void KTMainLayoutViewController::setDocTemplate(const std::shared_ptr<KTTemplate> &docTemplate)
{
    m_docTemplate = docTemplate;
    m_templateControls->setRepresentedObject(QVariant::fromValue(static_cast<QObject *>(docTemplate.get())));
    m_bottomBar->setTemplate(docTemplate);
    if (auto *overlay = dynamic_cast<KTOverlayControlsInterface *>(m_overlayControls.data()))
        overlay->setDocTemplate(docTemplate);
}

void KTMainLayoutViewController::addOverlayPanel()
{
    m_panelManager->addPanel(m_overlayPanel);
}

void KTMainLayoutViewController::stage2Setup()
{
    view();
    m_templateSettingsPanel->setPanelName(tr(kDesignSettingsPanelName));
    m_overlayPanel->setPanelName(tr(kOverlaysPanelName));
    m_controlsPanel->setPanelName(tr(kLayerSettingsPanelName));
    m_panelManager->addPanel(m_templateSettingsPanel);
    m_panelManager->addPanel(m_controlsPanel);
    addOverlayPanel();
    m_panelManager->openPanelAndAnimate(m_templateSettingsPanel, false);
    m_templateSettingsPanel->setCustomViewController(m_templateControls);

    m_mainSplit->setLayersPaletteController(m_layersPaletteController.data());
    m_mainSplit->setBottomBarViewController(m_bottomBar);
    m_mainSplit->stage2Setup();
    if (XSViewController *canvas = m_mainSplit->designViewController())
        m_designView = canvas->view();
    if (auto *client = dynamic_cast<KTLayersPaletteClient *>(m_overlayControls.data()))
        client->useLayersPaletteController(m_layersPaletteController.data());

    // Only this window's palette: two windows never see each other's selections.
    if (m_layersPaletteController && !m_layerSelectedObserver) {
        QPointer<KTMainLayoutViewController> self(this);
        m_layerSelectedObserver = platform::NotificationCenter::defaultCenter().addObserver(
            QStringLiteral("KTLayerSelectedNotification"), m_layersPaletteController.data(),
            [self](const platform::Notification &notification) {
                if (self)
                    self->layerSelected(notification);
            },
            this);
    }
}

void KTMainLayoutViewController::layerSelected(const platform::Notification &)
{
    auto *palette = dynamic_cast<KTLayersPaletteInterface *>(m_layersPaletteController.data());
    if (!palette)
        return;
    selectLayer(palette->selectedRepresentedObject());
}

void KTMainLayoutViewController::selectLayer(const std::shared_ptr<KTLayer> &layer)
{
    if (!layer)
        return;
    if (auto *canvas = dynamic_cast<KTDesignCanvasInterface *>(m_mainSplit->designViewController())) {
        canvas->removeAllTrackingAreas();
        if (KTTrackingAreaHost *host = canvas->trackingAreaHost())
            layer->defineTrackingAreasInView(host);
    }

    const KTLayerKind *kind = KTLayerKinds::of(layer.get());
    if (kind && kind->role == KTLayerKind::Role::Overlay) {
        if (auto *overlay = dynamic_cast<KTOverlayControlsInterface *>(m_overlayControls.data())) {
            overlay->setCurrentOverlayType(kind->overlayType);
            if (kind->overlayType == 0)
                overlay->setImageOverlayLayer(layer);
            else
                overlay->setTextOverlayLayer(layer);
        }
        m_panelManager->openPanel(m_overlayPanel);
        return;
    }

    KT_ASSERT(kind && !kind->panelController.isEmpty(), kNoControllerForLayer);
    // A new controller for every selection; the panel discards the old one.
    XSViewController *controller
        = KTControllerRegistry::makeOrPlaceholder(kind->panelController, layer->controlNibName(), windowController());
    if (auto *client = dynamic_cast<KTLayersPaletteClient *>(controller))
        client->useLayersPaletteController(m_layersPaletteController.data());
    substituteControlsPanelWith(controller, layer.get());
    m_panelManager->openPanel(m_controlsPanel);
}

void KTMainLayoutViewController::substituteControlsPanelWith(XSViewController *controller, KTLayer *layer)
{
    if (controller->view())
        controller->view()->update();
    controller->setRepresentedObject(QVariant::fromValue(static_cast<QObject *>(layer)));
    m_controlsPanel->setCustomViewController(controller);
}

void KTMainLayoutViewController::addButtonPressed()
{
    auto *templates = dynamic_cast<KTDesignBrowserInterface *>(m_mainSplit->templatesViewController());
    auto *variations = dynamic_cast<KTDesignBrowserInterface *>(m_mainSplit->variationsViewController());
    if (m_mainSplit->templatesPanelViewController()->isActive()) {
        if (templates)
            templates->addVariation(m_docTemplate);
    } else if (m_mainSplit->variationsPanelViewController()->isActive()) {
        if (variations)
            variations->addVariation(m_docTemplate);
    }
}

void KTMainLayoutViewController::removeButtonPressed()
{
    auto *templates = dynamic_cast<KTDesignBrowserInterface *>(m_mainSplit->templatesViewController());
    auto *variations = dynamic_cast<KTDesignBrowserInterface *>(m_mainSplit->variationsViewController());
    auto *library = dynamic_cast<KTLibraryPanelInterface *>(m_mainSplit->libraryViewController());
    if (m_mainSplit->templatesPanelViewController()->isActive()) {
        if (templates)
            templates->removeSelectedVariations();
    } else if (m_mainSplit->variationsPanelViewController()->isActive()) {
        if (variations)
            variations->removeSelectedVariations();
    } else if (m_mainSplit->libraryPanelViewController()->isActive() && library
               && library->libraryState() == KTLibraryPanelInterface::kFavoritesState) {
        library->removeFromFavorites();
    }
}

void KTMainLayoutViewController::selectImageLayerInPalette()
{
    auto *palette = dynamic_cast<KTLayersPaletteInterface *>(m_layersPaletteController.data());
    KTDesignDocumentInterface *doc = KTDesignDocumentInterface::ofWindowController(windowController());
    if (palette && doc && doc->docTemplate())
        palette->selectLayer(doc->docTemplate()->imageLayer().get());
}

void KTMainLayoutViewController::replaceTemplateWithVariation(const Variation *variation)
{
    KTDesignDocumentInterface *doc = KTDesignDocumentInterface::ofWindowController(windowController());
    if (!variation || !doc)
        return;
    platform::Error why;
    const std::shared_ptr<KTTemplate> design =
        KTTemplate::templateFromVariation(variation, LibraryStore::sharedContext(), &why);
    if (!design) {
        // The photo keeps its design; the user learns why the chosen one did not come.
        QString reason = why.description.isEmpty()
                             ? QCoreApplication::translate("KTMainLayoutViewController", kUnreadableDesignNoReason)
                             : why.description;
        reason[0] = reason[0].toUpper();
        if (!reason.endsWith(QLatin1Char('.')))
            reason += QLatin1Char('.');
        platform::runAlert(
            {QCoreApplication::translate("KTMainLayoutViewController", kUnreadableDesignFormat).arg(variation->name()),
             reason,
             {},
             platform::AlertRequest::Style::Warning});
        return;
    }
    doc->replaceTemplateWith(design);
    // The same zoom again: the canvas redraws the new design.
    m_viewState->setZoom(m_viewState->zoom());
    selectImageLayerInPalette();
}

void KTMainLayoutViewController::replaceImage()
{
    platform::OpenPanelRequest request;
    request.allowedTypes = {QString::fromLatin1(platform::TypeTable::kImage)};
    request.parent = view() ? view()->window() : nullptr;
    const QList<QUrl> chosen = platform::runOpenPanel(request);
    if (chosen.isEmpty())
        return;
    KTDesignDocumentInterface *doc = KTDesignDocumentInterface::ofWindowController(windowController());
    if (!doc)
        return;
    doc->importImage(QUrl::fromLocalFile(chosen.last().toLocalFile()));
    selectImageLayerInPalette();
}

void KTMainLayoutViewController::openLibraryPanel()
{
    KTPanelManagerViewController *browsers = m_mainSplit->libraryPanelManagerViewController();
    if (browsers->currentOpenPanel() == m_mainSplit->libraryPanelViewController()) {
        if (auto *library = dynamic_cast<KTLibraryPanelInterface *>(m_mainSplit->libraryViewController()))
            library->toggleView();
        return;
    }
    m_mainSplit->openLibraryPanel();
}

void KTMainLayoutViewController::openTemplatesPanel()
{
    m_mainSplit->libraryPanelManagerViewController()->openPanel(m_mainSplit->templatesPanelViewController());
}

void KTMainLayoutViewController::showSavedDesigns(const QStringList &guids)
{
    openTemplatesPanel();
    if (auto *templates = dynamic_cast<KTDesignBrowserInterface *>(m_mainSplit->templatesViewController()))
        templates->showDesigns(guids);
}

void KTMainLayoutViewController::openVariationsPanel()
{
    m_mainSplit->libraryPanelManagerViewController()->openPanel(m_mainSplit->variationsPanelViewController());
}

void KTMainLayoutViewController::openDesignSettingsPanel()
{
    m_panelManager->openPanel(m_templateSettingsPanel);
}

void KTMainLayoutViewController::openLayerSettingsPanel()
{
    m_panelManager->openPanel(m_controlsPanel);
}

void KTMainLayoutViewController::openOverlaysPanel()
{
    if (m_panelManager->currentOpenPanel() == m_overlayPanel) {
        if (auto *overlay = dynamic_cast<KTOverlayControlsInterface *>(m_overlayControls.data()))
            overlay->toggleView();
        return;
    }
    m_panelManager->openPanel(m_overlayPanel);
}

void KTMainLayoutViewController::focusOnLayers()
{
    if (auto *palette = dynamic_cast<KTLayersPaletteInterface *>(m_layersPaletteController.data())) {
        if (QWidget *strip = palette->layersPaletteWidget())
            strip->setFocus(Qt::OtherFocusReason);
    }
}

void KTMainLayoutViewController::saveCurrentPresentationSettings()
{
    m_bottomBar->saveCurrentPresentationSettings();
}

void KTMainLayoutViewController::loadPreviousPresentationSettings()
{
    m_bottomBar->loadPreviousPresentationSettings();
}

void KTMainLayoutViewController::resetToDefaultPresentationSettings()
{
    m_bottomBar->resetToDefaultPresentationSettings();
}

bool KTMainLayoutViewController::canLoadPreviousPresentationSettings() const
{
    return m_bottomBar->previousPresentationSettingsAreDifferentFromCurrentValues();
}
