#pragma once

#include "app/KTBottomBarViewController.h"
#include "app/KTMainSplitViewController.h"
#include "app/KTPanelManagerViewController.h"
#include "app/KTPanelViewController.h"
#include "kit/ui/XSViewController.h"
#include "platform/NotificationCenter.h"

#include <QPointer>

#include <memory>

class KTLayer;
class KTTemplate;
class KTViewState;
class Variation;
class KTTrackingAreaHost;

// The root of a document window's controllers: the split with the browsers
// and the canvas, the editing panels "DESIGN SETTINGS", "LAYER SETTINGS" and
// "OVERLAYS", and the bottom bar. It owns the window's view state, puts the
// settings of the selected layer into "LAYER SETTINGS" and is the target of
// the window's panel and presentation commands.
class KTMainLayoutViewController : public XSViewController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "MainLayoutView";
    static constexpr const char *kDesignSettingsPanelName = "DESIGN SETTINGS";
    static constexpr const char *kLayerSettingsPanelName = "LAYER SETTINGS";
    static constexpr const char *kOverlaysPanelName = "OVERLAYS";
    static constexpr const char *kNoControllerForLayer = "Could not find suitable View Controller class for layer";
    static constexpr const char *kTemplateControlsClass = "KTTemplateControlsViewController";
    static constexpr const char *kOverlayControlsClass = "KTOverlayControlsViewController";
    // A saved design chosen that can't be read: its name; then why.
    static constexpr const char *kUnreadableDesignFormat = "The saved design “%1” could not be read";
    static constexpr const char *kUnreadableDesignNoReason = "It holds no design.";
    static constexpr int kEditingColumnWidth = 280;

    KTMainLayoutViewController(const QString &nibName, platform::WindowController *windowController,
                               QObject *parent = nullptr);
    ~KTMainLayoutViewController() override;

    std::shared_ptr<KTViewState> viewState() const { return m_viewState; }
    KTBottomBarViewController *bottomBarViewController() const { return m_bottomBar; }
    KTPanelManagerViewController *panelManagerViewController() const { return m_panelManager; }
    KTMainSplitViewController *mainSplitViewController() const { return m_mainSplit; }
    KTPanelViewController *overlayPanelViewController() const { return m_overlayPanel; }
    KTPanelViewController *controlsPanelViewController() const { return m_controlsPanel; }
    KTPanelViewController *templateSettingsPanelViewController() const { return m_templateSettingsPanel; }
    XSViewController *templateControlsViewController() const { return m_templateControls; }
    XSViewController *overlayControlsViewController() const { return m_overlayControls; }

    // The window's layers palette controller (the editor's), set by the window controller.
    QObject *layersPaletteController() const { return m_layersPaletteController.data(); }
    void setLayersPaletteController(QObject *controller);

    std::shared_ptr<KTTemplate> docTemplate() const { return m_docTemplate; }
    void setDocTemplate(const std::shared_ptr<KTTemplate> &docTemplate);
    void stage2Setup();
    void addOverlayPanel();

    // The canvas view; null until stage 2 or without a canvas.
    QWidget *designView() const { return m_designView.data(); }

    // The layers palette selected another layer.
    void layerSelected(const platform::Notification &notification);
    void selectLayer(const std::shared_ptr<KTLayer> &layer);
    void substituteControlsPanelWith(XSViewController *controller, KTLayer *layer);

    void addButtonPressed();
    void removeButtonPressed();
    void replaceImage();
    // Applies a stored design to the document, then selects the photo layer.
    void replaceTemplateWithVariation(const Variation *variation);

    void openLibraryPanel();
    void openTemplatesPanel();
    // Opens the templates panel on these saved designs, selected.
    void showSavedDesigns(const QStringList &guids);
    void openVariationsPanel();
    void openDesignSettingsPanel();
    void openLayerSettingsPanel();
    void openOverlaysPanel();
    void focusOnLayers();

    void saveCurrentPresentationSettings();
    void loadPreviousPresentationSettings();
    void resetToDefaultPresentationSettings();
    // Whether "load previous presentation settings" can do anything now.
    bool canLoadPreviousPresentationSettings() const;

protected:
    QWidget *loadView() override;

private:
    void selectImageLayerInPalette();

    std::shared_ptr<KTViewState> m_viewState;
    QPointer<KTBottomBarViewController> m_bottomBar;
    QPointer<KTPanelManagerViewController> m_panelManager;
    QPointer<KTMainSplitViewController> m_mainSplit;
    QPointer<KTPanelViewController> m_overlayPanel;
    QPointer<KTPanelViewController> m_controlsPanel;
    QPointer<KTPanelViewController> m_templateSettingsPanel;
    QPointer<XSViewController> m_templateControls;
    QPointer<XSViewController> m_overlayControls;
    std::shared_ptr<KTTemplate> m_docTemplate;
    QPointer<QWidget> m_designView;
    QPointer<QObject> m_layersPaletteController;
    platform::NotificationCenter::ObserverId m_layerSelectedObserver = 0;
};
