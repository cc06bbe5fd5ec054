#pragma once

#include "design/KTTrackingAreaHost.h"

#include <QImage>
#include <QList>
#include <QPointer>
#include <QRectF>
#include <QVariantMap>
#include <QUrl>
#include <QWidget>

class KTDesignViewController;
class QMimeData;
class KTLayer;
class KTLayersPaletteView;
class QTimer;

// The canvas: draws the document's design above the layers strip, which it
// holds along its bottom edge, and hands mouse, wheel and pinch events to its
// controller. The design's geometry is y-up; this view converts its y-down
// points in one place (designPointFromViewPoint).
class KTDesignView : public QWidget, public KTTrackingAreaHost
{
    Q_OBJECT

public:
    static constexpr double kFullQualityDelay = 0.06;

    // An area in which a layer follows the mouse (design coordinates).
    struct TrackingArea {
        QRectF rect;
        QPointer<KTLayer> owner;
        QVariantMap userInfo;
        bool inside = false;
    };

    explicit KTDesignView(QWidget *parent = nullptr);
    ~KTDesignView() override;

    KTDesignViewController *controller() const;
    void setController(KTDesignViewController *controller);
    KTLayersPaletteView *layersPaletteView() const { return m_layersPaletteView; }

    // The part of the canvas above the strip, y-up.
    QRectF lastDesignDrawRect() const { return m_lastDesignDrawRect; }
    // The same in the view's own y-down coordinates.
    QRect designAreaInViewCoordinates() const;
    bool drawHighQuality() const { return m_drawHighQuality; }
    void setDrawHighQuality(bool on) { m_drawHighQuality = on; }

    // While the window is being resized every pass draws at low quality.
    bool inLiveResize() const { return m_inLiveResize; }
    void setInLiveResize(bool on);

    // y-down view point to the design's y-up space.
    QPointF designPointFromViewPoint(const QPointF &point) const;
    QRectF viewRectFromDesignRect(const QRectF &rect) const;

    // Tracking areas of the selected layer.
    void removeAllTrackingAreas();
    const QList<TrackingArea> &trackingAreas() const { return m_trackingAreas; }
    void addTrackingArea(const QRectF &rect, KTLayer *owner, const QVariantMap &userInfo) override;
    QVariant trackingAreaViewValue() const override;

    // Busy overlay over the canvas.
    void showPause();
    void hidePause();
    bool isPauseShown() const;

    // Drops from other programs: a design package replaces the design, an
    // image file or image data becomes the photo. Refused while the design
    // draws and for drags that start in this program.
    bool canAcceptDrop(const QMimeData *mime, bool fromThisProgram) const;
    bool performDrop(const QMimeData *mime);
    // Ctrl-drag: the framed picture is written to a temporary file behind
    // the busy overlay before the drag starts; empty when it failed.
    QUrl prepareDragOut();
    // What a drag out shows: the design drawn into 128 x 128.
    QPixmap dragOutPixmap() const;

    QSize sizeHint() const override { return {900, 700}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    bool event(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void timerRoutine();
    const QImage &backdropImage(const QColor &fill);
    // Tells the tracking areas' owners where the mouse went and picks the cursor.
    void trackMouseAt(const QPointF &point);
    void updateCursor(const QPointF &point);
    void layoutPalette();
    void startDragOut();

    QPointer<KTDesignViewController> m_controller;
    KTLayersPaletteView *m_layersPaletteView = nullptr;
    QWidget *m_pauseView = nullptr;
    QTimer *m_fullQualityTimer = nullptr;
    QTimer *m_liveResizeEnd = nullptr;
    QRectF m_lastDesignDrawRect;
    bool m_drawHighQuality = true;
    bool m_inLiveResize = false;
    QList<TrackingArea> m_trackingAreas;
    QPointF m_dragOutStart;
    bool m_dragOutArmed = false;
    static constexpr int kBackdropMargin = 16;
    QImage m_backdrop;
    QColor m_backdropColor;
};
