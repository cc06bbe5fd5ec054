#pragma once

#include "app/KTDesignCanvasInterface.h"
#include "app/KTLayersPaletteClient.h"
#include "kit/ui/XSViewController.h"
#include "platform/NotificationCenter.h"

#include <QPointer>
#include <QRectF>
#include <QSizeF>

#include <memory>

class KTDesignView;
class KTLayer;
class KTLayersPaletteController;
class KTTemplate;
class KTViewState;
class QMouseEvent;
class QWheelEvent;
struct KTCanvasDragState;

// Controls the canvas: redraws on the design's and the view state's changes,
// routes the mouse to the selected or the hit layer (a drag that changes it
// one step for Undo), and turns the wheel into
// frame and mat widths and the pinch into zoom. It keeps no design state:
// the design is the document's, the selection the strip's, the zoom the view
// state's.
class KTDesignViewController : public XSViewController, public KTDesignCanvasInterface, public KTLayersPaletteClient
{
    Q_OBJECT

public:
    static constexpr const char *kNibName = "DesignView";
    // One wheel line widens by a hundredth of the picture's shorter side.
    static constexpr double kWheelLinesPerUnit = -100;
    static constexpr double kWheelDeltaPerLine = 120;

    enum GestureState { GestureBegan = 1, GestureChanged = 2, GestureEnded = 3 };

    KTDesignViewController(const QString &nibName, platform::WindowController *windowController,
                           QObject *parent = nullptr);
    ~KTDesignViewController() override;

    KTDesignView *designView();

    std::shared_ptr<KTViewState> viewState() const { return m_viewState; }
    void setViewState(const std::shared_ptr<KTViewState> &viewState) override;
    KTLayersPaletteController *layersPaletteController() const;
    void setLayersPaletteController(KTLayersPaletteController *controller);

    // The document's design; settable directly where there is no document.
    std::shared_ptr<KTTemplate> docTemplate() const;
    void setDocTemplate(const std::shared_ptr<KTTemplate> &design);
    void setRepresentedObject(const QVariant &object) override;

    bool redrawOnlyDesign() const { return m_redrawOnlyDesign; }
    void setRedrawOnlyDesign(bool on) { m_redrawOnlyDesign = on; }
    QRectF lastDrawRect() const { return m_lastDrawRect; }
    void setLastDrawRect(const QRectF &rect) { m_lastDrawRect = rect; }
    QSizeF lastDrawnSize() const override { return m_lastDrawRect.size(); }

    void redrawWithHighQuality(bool highQuality);
    // Draws the design into the current drawing context (y-up).
    void drawDesignHighQuality(bool highQuality, const QRectF &rect);

    void showPause() override;
    void hidePause() override;

    // Events from the view, points in the view's coordinates.
    void mouseDown(QMouseEvent *event);
    void mouseDragged(QMouseEvent *event);
    void mouseUp(QMouseEvent *event);
    void scrollWheel(QWheelEvent *event);
    // Wheel editing by lines (positive = up), Control held or not.
    void scrollWheelLines(double lines, bool commandHeld);
    void handleMagnification(int state, double magnification);
    // A step of the platform's zoom gesture: its deltas add up to the
    // magnification since the gesture began.
    void handleNativeZoomDelta(double delta);

    // The shell's side: the selected layer's tracking areas, and the
    // window's palette controller handed back.
    KTTrackingAreaHost *trackingAreaHost() override;
    void removeAllTrackingAreas() override;
    void useLayersPaletteController(QObject *controller) override;

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;

private:
    // A drag that changed its layer is one step for Undo.
    void endDrag();

    void observeTemplate();
    void stopObservingTemplate();

    std::shared_ptr<KTViewState> m_viewState;
    QMetaObject::Connection m_viewStateConnection;
    QPointer<KTLayersPaletteController> m_layersPaletteController;
    std::shared_ptr<KTTemplate> m_docTemplate;
    QList<platform::NotificationCenter::ObserverId> m_observers;
    QPointer<KTDesignView> m_view;
    bool m_redrawOnlyDesign = false;
    double m_startingZoom = 0;
    double m_nativeMagnification = 0;
    bool m_nativeGestureActive = false;
    QRectF m_lastDrawRect;
    // The layer a drag began on and what the drag may change of it, as it was.
    std::weak_ptr<KTLayer> m_draggedLayer;
    std::unique_ptr<KTCanvasDragState> m_dragStart;
};
