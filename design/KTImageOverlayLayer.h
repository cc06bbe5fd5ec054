#pragma once

#include "design/KTLayer.h"
#include "design/KTOverlayPositioning.h"

#include <QRectF>
#include <QString>
#include <QVariant>

#include <memory>

class VLImage;

namespace platform {
class KeyedArchiver;
class KeyedUnarchiver;
} // namespace platform

// A picture the user places over the design (a logo, a signature, a
// watermark). It is drawn inside the rect of the layers below it, at a size
// relative to that rect, anchored per axis to a side or the centre, with an
// opacity. The user drags its body (snapping onto the anchors) and resizes it
// by its corner handles; the nearest anchor per axis follows the position.
//
// Geometry is y-up, in the coordinates of the view that shows the design.
class KTImageOverlayLayer : public KTLayer
{
    Q_OBJECT
    Q_PROPERTY(double scale READ scale WRITE setScale)
    Q_PROPERTY(double opacity READ opacity WRITE setOpacity)
    Q_PROPERTY(QString imagePath READ imagePath WRITE setImagePath)

public:
    static constexpr double kMinScale = 0.05;
    static constexpr double kMaxScale = 1.0;
    // An offset within this fraction of the container's side snaps onto its anchor.
    static constexpr double kSnapThreshold = 0.035;

    KTImageOverlayLayer();
    ~KTImageOverlayLayer() override;

    // Reads the picture at imagePath (without its metadata); false when there
    // is no path or no picture there.
    bool loadImage();
    static QRectF rectForSizeCenteredAtPoint(const QSizeF &size, const QPointF &point);

    void drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache) override;
    void setIsSelected(bool selected) override;
    bool isHitAtPoint(const QPointF &point) const override;
    bool acceptsMouseEvents() const override;
    void mouseDownAtPoint(const QPointF &point, const QMouseEvent *event) override;
    void mouseDraggedAtPoint(const QPointF &point, const QMouseEvent *event) override;
    void mouseUpAtPoint(const QPointF &point, const QMouseEvent *event) override;
    void defineTrackingAreasInView(KTTrackingAreaHost *view) override;
    std::shared_ptr<KTLayer> copyForRendering() const override;

    // Tracking-area callbacks: the canvas passes the area's user info on
    // entering and the mouse point (design coordinates of the entered view)
    // on moving. They choose the cursor the canvas shows (cursorShape()).
    void mouseEntered(const QVariantMap &userInfo);
    void mouseExited();
    void mouseMoved(const QPointF &point);
    Qt::CursorShape cursorShape() const { return m_cursorShape; }
    // While a drag runs the canvas leaves the cursor to the layer.
    bool cursorRectsDisabled() const { return m_cursorRectsDisabled; }

    // Asks for a quick redraw (the handles or guides appear or vanish).
    void forceRedraw();

    // "scale" into 0.05 ... 1, "opacity" into 0 ... 1; always true.
    bool validateValue(QVariant &value, const QString &keyPath) const;

    // Keyed archiving: the base layer's keys, then the layer's own.
    void encode(platform::KeyedArchiver &coder) const override;
    void decode(platform::KeyedUnarchiver &coder) override;
    // Makes "KTImageOverlayLayer" decode as this class (the design maps the older name).
    static void registerArchiveClass();
    // The layer's own archive keys, written after the base layer's.
    void encodeImageOverlayKeys(platform::KeyedArchiver &coder) const;
    void decodeImageOverlayKeys(platform::KeyedUnarchiver &coder);

    std::shared_ptr<VLImage> image() const { return m_image; }
    void setImage(std::shared_ptr<VLImage> image);
    double scale() const { return m_scale; }
    // Clamped into 0.05 ... 1.
    void setScale(double scale);
    double opacity() const { return m_opacity; }
    // Also the picture's opacity (not clamped here).
    void setOpacity(double opacity);
    QString imagePath() const { return m_imagePath; }
    void setImagePath(const QString &path) { m_imagePath = path; }
    KTOverlayPositioning positioning() const { return m_positioning; }
    void setPositioning(const KTOverlayPositioning &positioning);

    QRectF lastDrawingRect() const { return m_lastDrawingRect; }
    QRectF lastInRect() const { return m_lastInRect; }
    bool isDragging() const { return m_isDragging; }
    int currentHandle() const { return m_currentHandle; }
    bool shouldDrawSnaps() const { return m_shouldDrawSnaps; }

signals:
    void cursorShapeChanged();

private:
    void setCursor(Qt::CursorShape shape);
    void drawGuides(const QRectF &rect) const;

    QRectF m_lastDrawingRect;
    QRectF m_lastInRect;
    QPointF m_dragStartPoint;
    QRectF m_dragStartRect;
    double m_dragStartScale = 0;
    bool m_isDragging = false;
    QVariant m_enteredInView;
    int m_currentHandle = -1;
    bool m_shouldDrawSnaps = false;
    std::shared_ptr<VLImage> m_image;
    double m_scale = 0.4;
    double m_opacity = 1.0;
    QString m_imagePath;
    KTOverlayPositioning m_positioning;
    Qt::CursorShape m_cursorShape = Qt::ArrowCursor;
    bool m_cursorRectsDisabled = false;
};
