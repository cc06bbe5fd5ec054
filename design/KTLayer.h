#pragma once

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include "platform/archive/Coding.h"

#include <memory>

class KTTemplate;
class KTTrackingAreaHost;
class VLImage;
class QMouseEvent;

// The base of every layer of a design. A design walks its layers from the
// photo outwards and asks each how much room it takes, to draw itself, to
// report itself and to take mouse events. Every operation has a do-nothing
// default here.
//
// Layers are owned by std::shared_ptr (no Qt parent). The design observes the
// two signals layerChanged (redraw with this layer at high quality) and
// layerChangedFastRedraw (quick redraw); a subclass emits them when one of
// its own settings changes.
//
// Layers are keyed-archived by their own class (archiveClassNames follows
// the C++ class chain). A subclass writes its keys after its base's and reads
// them after calling its base's decode(); decode() starts from the object the
// registered factory made, not from settings a caller would give a new layer.
class KTLayer : public QObject, public std::enable_shared_from_this<KTLayer>, public platform::Coding
{
    Q_OBJECT
    Q_PROPERTY(QString layerName READ layerName WRITE setLayerName NOTIFY layerNameChanged)
    Q_PROPERTY(bool isSelected READ isSelected WRITE setIsSelected NOTIFY isSelectedChanged)
    Q_PROPERTY(bool hidden READ hidden WRITE setHidden NOTIFY hiddenChanged)
    Q_PROPERTY(bool supportsHiding READ supportsHiding WRITE setSupportsHiding)

public:
    KTLayer();
    ~KTLayer() override;

    // "Layer %@ of class %@, control nib:  %@".
    virtual QString description() const;

    // Entries of the design report for the picture's real size at export.
    virtual QVariantMap reportForRealSize(const QSizeF &size) const;
    // Called by the design before the layer leaves it.
    virtual void removeObserversFromTemplate(KTTemplate *design);

    // Draws the layer around `rect`, the rect the layers inside produced, in
    // the current drawing context (y-up).
    virtual void drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache);
    // The rect the layer and everything inside it takes when what it wraps
    // takes `rect`.
    virtual QRectF resultingRectForRect(const QRectF &rect) const;

    virtual bool acceptsMouseEvents() const;
    virtual void mouseDownAtPoint(const QPointF &point, const QMouseEvent *event);
    virtual void mouseDraggedAtPoint(const QPointF &point, const QMouseEvent *event);
    virtual void mouseMovedAtPoint(const QPointF &point, const QMouseEvent *event);
    virtual void mouseUpAtPoint(const QPointF &point, const QMouseEvent *event);
    virtual void defineTrackingAreasInView(KTTrackingAreaHost *view);
    virtual bool isHitAtPoint(const QPointF &point) const;

    // Corner handles of overlays: corners 0 (x+w, y+h), 1 (x, y+h),
    // 2 (x+w, y), 3 (x, y); a 10 x 10 square centred on the corner.
    QRectF rectForHandlerForRect(const QRectF &rect, int corner) const;
    void defineTrackingAreaForRectCornerAndView(const QRectF &rect, int corner, KTTrackingAreaHost *view);
    void drawHandlerForRect(const QRectF &rect, int corner) const;
    void drawAllHandlersForRect(const QRectF &rect) const;
    void defineAllTrackingAreasForRectAndView(const QRectF &rect, KTTrackingAreaHost *view);
    // The corner whose handle holds the point (tested 3, 2, 1, 0); -1 for none.
    int handlerForPointAndRect(const QPointF &point, const QRectF &rect) const;

    void setHidden(bool hidden);
    bool hidden() const;

    QString layerName() const;
    void setLayerName(const QString &name);
    QString controlNibName() const;
    void setControlNibName(const QString &name);
    virtual std::shared_ptr<VLImage> icon() const;
    void setIcon(std::shared_ptr<VLImage> icon);
    KTTemplate *inTemplate() const;
    virtual void setInTemplate(KTTemplate *design);
    bool isSelected() const;
    virtual void setIsSelected(bool selected);
    bool supportsHiding() const;
    void setSupportsHiding(bool supports);

    // A copy for export and batch rendering: the same class and settings,
    // sharing decoded pictures read-only, in no design. Each subclass returns
    // its own class, copying its fields after copyBaseFieldsFrom().
    virtual std::shared_ptr<KTLayer> copyForRendering() const;

    // The name of the layer's class as the design counts it (exact class).
    QString className() const;

    // "layerName" (object) and "hidden" (the effective value). Decoding
    // stores both as read and lets the layer be hidden.
    QStringList archiveClassNames() const override;
    void encode(platform::KeyedArchiver &coder) const override;
    void decode(platform::KeyedUnarchiver &coder) override;
    // Makes the archived name "KTLayer" decode as this class (once per process).
    static void registerArchiveClass();

signals:
    void layerChanged();
    void layerChangedFastRedraw();
    void layerNameChanged();
    void isSelectedChanged();
    void hiddenChanged();
    // A new icon (the layers strip shows it).
    void iconChanged();

protected:
    void copyBaseFieldsFrom(const KTLayer &other);

private:
    QString m_layerName;
    QString m_controlNibName;
    std::shared_ptr<VLImage> m_icon;
    bool m_isSelected = false;
    QPointer<QObject> m_inTemplate;
    bool m_hidden = false;
    bool m_supportsHiding = true;
};
