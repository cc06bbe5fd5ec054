#pragma once

#include "design/KTLayer.h"
#include "design/KTOverlayPositioning.h"

#include <QPointF>
#include <QRectF>
#include <QVariant>

namespace platform {
class KeyedArchiver;
class KeyedUnarchiver;
} // namespace platform

// What picture and text overlays share: a place relative to the rect of the
// layers below (`positioning`), a relative size (`scale`), an opacity, and
// the mouse handling that drags the body (snapping onto the anchors) and
// resizes by the corner handles. Subclasses draw, clamp their own scale and
// keep their own archive keys after the shared ones.
//
// Geometry is y-up, in the coordinates of the view that shows the design.
class KTOverlayLayer : public KTLayer
{
    Q_OBJECT
    Q_PROPERTY(double scale READ scale WRITE setScale)
    Q_PROPERTY(double opacity READ opacity WRITE setOpacity)

public:
    // An offset within this fraction of the container's side snaps onto its anchor.
    static constexpr double kSnapThreshold = 0.035;

    ~KTOverlayLayer() override;

    double scale() const { return m_scale; }
    virtual void setScale(double scale) = 0;
    double opacity() const { return m_opacity; }
    virtual void setOpacity(double opacity);
    KTOverlayPositioning positioning() const { return m_positioning; }
    virtual void setPositioning(const KTOverlayPositioning &positioning);

    // Asks for a quick redraw (the handles or guides appear or vanish).
    void forceRedraw();

    // --- KTLayer ---
    void setIsSelected(bool selected) override;
    bool isHitAtPoint(const QPointF &point) const override;
    bool acceptsMouseEvents() const override;
    void mouseDownAtPoint(const QPointF &point, const QMouseEvent *event) override;
    void mouseDraggedAtPoint(const QPointF &point, const QMouseEvent *event) override;
    void mouseUpAtPoint(const QPointF &point, const QMouseEvent *event) override;
    void defineTrackingAreasInView(KTTrackingAreaHost *view) override;

    // Tracking-area callbacks: the canvas passes the area's user info on
    // entering and the mouse point (design coordinates of the entered view)
    // on moving. They choose the cursor the canvas shows (cursorShape()).
    void mouseEntered(const QVariantMap &userInfo);
    void mouseExited();
    void mouseMoved(const QPointF &point);
    Qt::CursorShape cursorShape() const { return m_cursorShape; }
    // While a drag runs the canvas leaves the cursor to the layer.
    bool cursorRectsDisabled() const { return m_cursorRectsDisabled; }

    // --- state of the last drawing ---
    QRectF lastDrawingRect() const { return m_lastDrawingRect; }
    QRectF lastInRect() const { return m_lastInRect; }
    bool isDragging() const { return m_isDragging; }
    int currentHandle() const { return m_currentHandle; }
    bool shouldDrawSnaps() const { return m_shouldDrawSnaps; }

signals:
    void cursorShapeChanged();

protected:
    KTOverlayLayer(double scale);

    // The scales a handle drag may reach; a step outside is ignored rather
    // than clamped.
    virtual double minDragScale() const = 0;
    virtual double maxDragScale() const = 0;

    // The archive keys both overlays write first: scale, position, anchors, opacity.
    void encodeOverlayKeys(platform::KeyedArchiver &coder) const;
    // The placement, from either the anchored format or the earlier one
    // that kept the centre (0.5 meaning centred).
    static KTOverlayPositioning decodePositioning(platform::KeyedUnarchiver &coder);
    static double decodeOpacity(platform::KeyedUnarchiver &coder);
    // Placement, look and last drawing, for a rendering copy.
    void copyOverlayFieldsFrom(const KTOverlayLayer &other);

    // Red guides through the anchors while the body is dragged: solid when
    // the overlay sits exactly on the anchor, dashed otherwise.
    void drawGuides(const QRectF &rect, double dash, double overhang) const;

    QRectF m_lastDrawingRect;
    QRectF m_lastInRect;
    double m_scale;
    double m_opacity = 1.0;
    KTOverlayPositioning m_positioning;
    bool m_isDragging = false;
    bool m_shouldDrawSnaps = false;

private:
    void setCursor(Qt::CursorShape shape);

    QPointF m_dragStartPoint;
    QRectF m_dragStartRect;
    double m_dragStartScale = 0;
    QVariant m_enteredInView;
    int m_currentHandle = -1;
    Qt::CursorShape m_cursorShape = Qt::ArrowCursor;
    bool m_cursorRectsDisabled = false;
};
