#include "design/KTLayer.h"

#include "design/KTTemplate.h"
#include "design/KTTrackingAreaHost.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/render/DrawingContext.h"

#include <QPainterPath>
#include <QPen>

#include <mutex>

namespace {
constexpr double kHandleSide = 10.0;
constexpr int kCornerOrder[] = {3, 2, 1, 0};
} // namespace

KTLayer::KTLayer() = default;
KTLayer::~KTLayer() = default;

QString KTLayer::description() const
{
    return QStringLiteral("Layer %1 of class %2, control nib:  %3")
        .arg(m_layerName, className(), m_controlNibName);
}

QVariantMap KTLayer::reportForRealSize(const QSizeF &) const
{
    return {};
}

void KTLayer::removeObserversFromTemplate(KTTemplate *) {}

void KTLayer::drawLayerForRect(const QRectF &, bool, bool) {}

QRectF KTLayer::resultingRectForRect(const QRectF &rect) const
{
    return rect;
}

bool KTLayer::acceptsMouseEvents() const
{
    return false;
}

void KTLayer::mouseDownAtPoint(const QPointF &, const QMouseEvent *) {}
void KTLayer::mouseDraggedAtPoint(const QPointF &, const QMouseEvent *) {}
void KTLayer::mouseMovedAtPoint(const QPointF &, const QMouseEvent *) {}
void KTLayer::mouseUpAtPoint(const QPointF &, const QMouseEvent *) {}
void KTLayer::defineTrackingAreasInView(KTTrackingAreaHost *) {}

bool KTLayer::isHitAtPoint(const QPointF &) const
{
    return false;
}

QRectF KTLayer::rectForHandlerForRect(const QRectF &rect, int corner) const
{
    QPointF centre;
    switch (corner) {
    case 0: centre = QPointF(rect.x() + rect.width(), rect.y() + rect.height()); break;
    case 1: centre = QPointF(rect.x(), rect.y() + rect.height()); break;
    case 2: centre = QPointF(rect.x() + rect.width(), rect.y()); break;
    case 3: centre = QPointF(rect.x(), rect.y()); break;
    default: return QRectF();
    }
    return QRectF(centre.x() - kHandleSide / 2, centre.y() - kHandleSide / 2, kHandleSide, kHandleSide);
}

void KTLayer::defineTrackingAreaForRectCornerAndView(const QRectF &rect, int corner,
                                                      KTTrackingAreaHost *view)
{
    if (!view)
        return;
    QVariantMap info;
    info.insert(QStringLiteral("view"), view->trackingAreaViewValue());
    info.insert(QStringLiteral("handler"), corner);
    view->addTrackingArea(rectForHandlerForRect(rect, corner), this, info);
}

void KTLayer::drawHandlerForRect(const QRectF &rect, int corner) const
{
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (!ctx)
        return;
    const QRectF square = rectForHandlerForRect(rect, corner);
    QPainter &p = ctx->painter();
    const QPainter::CompositionMode mode = p.compositionMode();
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    ctx->fillRect(square, QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.8f));
    ctx->strokeRect(square.adjusted(1, 1, -1, -1), Qt::white, 1.0);
    p.setCompositionMode(mode);
}

void KTLayer::drawAllHandlersForRect(const QRectF &rect) const
{
    for (int corner : kCornerOrder)
        drawHandlerForRect(rect, corner);
}

void KTLayer::defineAllTrackingAreasForRectAndView(const QRectF &rect, KTTrackingAreaHost *view)
{
    for (int corner : kCornerOrder)
        defineTrackingAreaForRectCornerAndView(rect, corner, view);
}

int KTLayer::handlerForPointAndRect(const QPointF &point, const QRectF &rect) const
{
    for (int corner : kCornerOrder) {
        const QRectF square = rectForHandlerForRect(rect, corner);
        // Left and bottom edges inside, right and top outside.
        if (point.x() >= square.left() && point.x() < square.right() && point.y() >= square.top()
            && point.y() < square.bottom())
            return corner;
    }
    return -1;
}

void KTLayer::setHidden(bool hidden)
{
    m_hidden = m_supportsHiding ? hidden : false;
    emit hiddenChanged();
}

bool KTLayer::hidden() const
{
    return m_supportsHiding ? m_hidden : false;
}

QString KTLayer::layerName() const
{
    return m_layerName;
}

void KTLayer::setLayerName(const QString &name)
{
    m_layerName = name;
    emit layerNameChanged();
}

QString KTLayer::controlNibName() const
{
    return m_controlNibName;
}

void KTLayer::setControlNibName(const QString &name)
{
    m_controlNibName = name;
}

std::shared_ptr<VLImage> KTLayer::icon() const
{
    return m_icon;
}

void KTLayer::setIcon(std::shared_ptr<VLImage> icon)
{
    m_icon = std::move(icon);
    emit iconChanged();
}

KTTemplate *KTLayer::inTemplate() const
{
    return static_cast<KTTemplate *>(m_inTemplate.data());
}

void KTLayer::setInTemplate(KTTemplate *design)
{
    m_inTemplate = design;
}

bool KTLayer::isSelected() const
{
    return m_isSelected;
}

void KTLayer::setIsSelected(bool selected)
{
    m_isSelected = selected;
    emit isSelectedChanged();
}

bool KTLayer::supportsHiding() const
{
    return m_supportsHiding;
}

void KTLayer::setSupportsHiding(bool supports)
{
    m_supportsHiding = supports;
}

std::shared_ptr<KTLayer> KTLayer::copyForRendering() const
{
    auto copy = std::make_shared<KTLayer>();
    copy->copyBaseFieldsFrom(*this);
    return copy;
}

QString KTLayer::className() const
{
    return QString::fromLatin1(metaObject()->className());
}

void KTLayer::copyBaseFieldsFrom(const KTLayer &other)
{
    m_layerName = other.m_layerName;
    m_controlNibName = other.m_controlNibName;
    m_icon = other.m_icon;
    m_isSelected = other.m_isSelected;
    m_hidden = other.m_hidden;
    m_supportsHiding = other.m_supportsHiding;
}

// --- archive ---

QStringList KTLayer::archiveClassNames() const
{
    return classNamesFromMetaObject(metaObject());
}

void KTLayer::encode(platform::KeyedArchiver &coder) const
{
    coder.encodeString(m_layerName, QStringLiteral("layerName"));
    coder.encodeBool(hidden(), QStringLiteral("hidden"));
}

void KTLayer::decode(platform::KeyedUnarchiver &coder)
{
    m_layerName = coder.decodeStringForKey(QStringLiteral("layerName"));
    m_hidden = coder.decodeBoolForKey(QStringLiteral("hidden"));
    m_supportsHiding = true;
    m_isSelected = false;
}

void KTLayer::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] { platform::KeyedClassRegistry::shared().registerClass<KTLayer>(QStringLiteral("KTLayer")); });
}
