#include "design/KTColorMatLayer.h"

#include "design/KTFrameColorSettings.h"
#include "design/KTTemplate.h"
#include "design/VLImage.h"
#include "kit/ImageAdditions.h"
#include "kit/VLValueAdditions.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/TypedStreamColor.h"
#include "platform/render/DrawingContext.h"
#include "stores/Frame.h"

#include <QColorSpace>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

QRectF integralRect(const QRectF &r)
{
    if (r.width() <= 0 || r.height() <= 0)
        return QRectF();
    const double x0 = std::floor(r.left());
    const double y0 = std::floor(r.top());
    return QRectF(x0, y0, std::ceil(r.right()) - x0, std::ceil(r.bottom()) - y0);
}

// Inside with the low edges, outside with the high ones (y-up rects).
bool pointInRect(const QPointF &p, const QRectF &r)
{
    return p.x() >= r.left() && p.x() < r.right() && p.y() >= r.top() && p.y() < r.bottom();
}

double clampWidth(double width, double maximum)
{
    return std::isnan(width) ? 0.0 : std::clamp(width, 0.0, maximum);
}

std::optional<QColor> colorOf(const QVariant &value)
{
    if (value.userType() != qMetaTypeId<platform::Color>())
        return std::nullopt;
    return value.value<platform::Color>().toQColor();
}

} // namespace

KTColorMatLayer::KTColorMatLayer()
{
    setControlNibName(QString::fromLatin1(kControlNibName));
    setLayerName(QString::fromLatin1(kDefaultLayerName));
    setDropShadow(true);
}

KTColorMatLayer::~KTColorMatLayer() = default;

QSet<QString> KTColorMatLayer::keyPathsForValuesAffectingLayerChanged() const
{
    static const QSet<QString> keys{QStringLiteral("dropShadow"), QStringLiteral("hidden")};
    return keys;
}

QSet<QString> KTColorMatLayer::keyPathsForValuesAffectingLayerChangedFastRedraw() const
{
    static const QSet<QString> keys{QStringLiteral("shadowLength"), QStringLiteral("opacity"),
                                    QStringLiteral("matColor"),     QStringLiteral("bevelWidth"),
                                    QStringLiteral("bevelColor"),   QStringLiteral("leftWidth"),
                                    QStringLiteral("rightWidth"),   QStringLiteral("topWidth"),
                                    QStringLiteral("bottomWidth")};
    return keys;
}

bool KTColorMatLayer::loadImages()
{
    setImagesLoaded(true);
    if (Frame *frame = theFrame()) {
        const QByteArray data = frame->valueForAttribute(QString::fromLatin1(kMatColorAttribute)).toByteArray();
        if (const std::optional<platform::Color> color = platform::colorFromArchivedData(data))
            setMatColor(color->toQColor());
    }
    return true;
}

QRectF KTColorMatLayer::resultingRectForRect(const QRectF &r) const
{
    const double m = std::min(r.width(), r.height());
    return QRectF(r.x() - m_leftWidth * m, r.y() - m_bottomWidth * m, r.width() + (m_leftWidth + m_rightWidth) * m,
                  r.height() + (m_bottomWidth + m_topWidth) * m);
}

void KTColorMatLayer::drawLayerForRect(const QRectF &r, bool highQuality, bool)
{
    const QRectF outer = integralRect(resultingRectForRect(r));
    m_drawRectOutside = outer;
    const QRectF inner = integralRect(r.adjusted(0.5, 0.5, -0.5, -0.5));
    m_drawRectInside = inner;
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (!ctx)
        return;

    const KTTemplate *design = inTemplate();
    const double a = (design ? design->shadowAngle() : 180.0) * kDegreesToRadians;
    const double o = design ? design->shadowOffset() : 0.2;
    if (m_bevelWidth > 0 && !inner.isEmpty()) {
        using NSBezierPathVLExtensions::bezierPathForBevelWithBasePointBaseLengthWidthAndSide;
        using NSColorVLExtras::brightenColorBy;
        using NSColorVLExtras::darkenColorBy;
        const double ks = std::sin(a) * o * 0.5;
        const double kc = std::cos(a) * o * 0.5;
        const double w = std::min(inner.width(), inner.height()) * m_bevelWidth * 0.5;
        const double x0 = inner.left();
        const double y0 = inner.top();
        ctx->fillPath(bezierPathForBevelWithBasePointBaseLengthWidthAndSide(QPointF(x0, y0), inner.height(), w, 2),
                      darkenColorBy(m_bevelColor, ks));
        ctx->fillPath(bezierPathForBevelWithBasePointBaseLengthWidthAndSide(QPointF(x0, y0), inner.width(), w, 1),
                      darkenColorBy(m_bevelColor, kc));
        ctx->fillPath(bezierPathForBevelWithBasePointBaseLengthWidthAndSide(QPointF(inner.right(), y0),
                                                                            inner.height(), w, 3),
                      brightenColorBy(m_bevelColor, ks));
        ctx->fillPath(bezierPathForBevelWithBasePointBaseLengthWidthAndSide(QPointF(x0, inner.bottom()),
                                                                            inner.width(), w, 0),
                      brightenColorBy(m_bevelColor, kc));
    }

    drawWithShadowInRect(outer, highQuality, false, outer, [&] {
        QColor color = m_matColor.toRgb();
        color.setAlphaF(float(std::isfinite(m_opacity) ? std::clamp(m_opacity, 0.0, 1.0) : 1.0));
        QPainterPath ring;
        ring.setFillRule(Qt::OddEvenFill);
        ring.addRect(outer);
        ring.addRect(inner);
        ctx->fillPath(ring, color);
    });
}

QImage KTColorMatLayer::iconOfSize(const QSizeF &size)
{
    if (!imagesLoaded())
        loadImages();
    return VLKit::imageWithSize(size, QColorSpace(QColorSpace::SRgb), [&] {
        platform::DrawingContext *ctx = platform::DrawingContext::current();
        if (!ctx)
            return;
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        path.addRect(QRectF(0, 0, size.width(), size.height()));
        path.addRect(QRectF(0.75 * size.width(), 0, 0.25 * size.width(), 0.25 * size.height()));
        ctx->fillPath(path, m_matColor);
    });
}

void KTColorMatLayer::updateIcon()
{
    setIcon(VLImage::initWithNSImage(iconOfSize(QSizeF(76, 76)), 0));
}

bool KTColorMatLayer::validateValue(QVariant &value, const QString &keyPath) const
{
    if (keyPath == QLatin1String("leftWidth") || keyPath == QLatin1String("rightWidth")
        || keyPath == QLatin1String("topWidth") || keyPath == QLatin1String("bottomWidth"))
        value = NSNumberVLExtras::numberEnforcedBetweenAnd(value, 0, kMaxSideWidth);
    else if (keyPath == QLatin1String("bevelWidth"))
        value = NSNumberVLExtras::numberEnforcedBetweenAnd(value, 0, kMaxBevelWidth);
    else if (keyPath == QLatin1String("opacity") || keyPath == QLatin1String("shadowLength"))
        KTFrameColorSettings::validateValue(value, keyPath);
    return true;
}

void KTColorMatLayer::applySettingsFromLayer(const KTFrameLayer &other)
{
    KTFrameLayer::applySettingsFromLayer(other);
    const auto *mat = qobject_cast<const KTColorMatLayer *>(&other);
    if (!mat)
        return;
    setOpacity(mat->opacity());
    setBevelWidth(mat->bevelWidth());
    setBottomWidth(mat->bottomWidth());
    setRightWidth(mat->rightWidth());
    setLeftWidth(mat->leftWidth());
    setTopWidth(mat->topWidth());
    setBevelColor(mat->bevelColor());
}

bool KTColorMatLayer::isHitAtPoint(const QPointF &point) const
{
    return pointInRect(point, m_drawRectOutside) && !pointInRect(point, m_drawRectInside);
}

QVariantMap KTColorMatLayer::reportForRealSize(const QSizeF &size) const
{
    const double m = std::min(size.width(), size.height());
    QVariantMap report;
    report.insert(QStringLiteral("Icon"), const_cast<KTColorMatLayer *>(this)->iconOfSize(QSizeF(72, 72)));
    report.insert(QStringLiteral("Title"), theFrame() ? theFrame()->name() : QString());
    report.insert(QStringLiteral("Size"), resultingRectForRect(QRectF(QPointF(0, 0), size)).size());
    report.insert(QStringLiteral("OverWidth"), m_bevelWidth * m);
    report.insert(QStringLiteral("TopWidth"), m_topWidth * m);
    report.insert(QStringLiteral("BottomWidth"), m_bottomWidth * m);
    report.insert(QStringLiteral("LeftWidth"), m_leftWidth * m);
    report.insert(QStringLiteral("RightWidth"), m_rightWidth * m);
    return report;
}

void KTColorMatLayer::setMatColor(const QColor &color)
{
    m_matColor = color;
    didChangeValueForKey(QStringLiteral("matColor"));
}

void KTColorMatLayer::setOpacity(double opacity)
{
    m_opacity = opacity;
    didChangeValueForKey(QStringLiteral("opacity"));
}

void KTColorMatLayer::setBevelColor(const QColor &color)
{
    m_bevelColor = color;
    didChangeValueForKey(QStringLiteral("bevelColor"));
}

void KTColorMatLayer::setBevelWidth(double width)
{
    m_bevelWidth = clampWidth(width, kMaxBevelWidth);
    didChangeValueForKey(QStringLiteral("bevelWidth"));
}

void KTColorMatLayer::setSide(double &field, double width, const char *key)
{
    field = clampWidth(width, kMaxSideWidth);
    didChangeValueForKey(QString::fromLatin1(key));
}

void KTColorMatLayer::setLeftWidth(double width)
{
    setSide(m_leftWidth, width, "leftWidth");
}

void KTColorMatLayer::setRightWidth(double width)
{
    setSide(m_rightWidth, width, "rightWidth");
}

void KTColorMatLayer::setTopWidth(double width)
{
    setSide(m_topWidth, width, "topWidth");
}

void KTColorMatLayer::setBottomWidth(double width)
{
    setSide(m_bottomWidth, width, "bottomWidth");
}

std::shared_ptr<KTLayer> KTColorMatLayer::copyForRendering() const
{
    auto copy = std::make_shared<KTColorMatLayer>();
    copy->copyFrameFieldsFrom(*this);
    copy->m_matColor = m_matColor;
    copy->m_opacity = m_opacity;
    copy->m_bevelColor = m_bevelColor;
    copy->m_drawRectOutside = m_drawRectOutside;
    copy->m_drawRectInside = m_drawRectInside;
    copy->m_bevelWidth = m_bevelWidth;
    copy->m_leftWidth = m_leftWidth;
    copy->m_rightWidth = m_rightWidth;
    copy->m_topWidth = m_topWidth;
    copy->m_bottomWidth = m_bottomWidth;
    return copy;
}

// --- archive ---

void KTColorMatLayer::encode(platform::KeyedArchiver &coder) const
{
    KTFrameLayer::encode(coder);
    coder.encodeObject(QVariant::fromValue(platform::Color::fromQColor(m_matColor)), QStringLiteral("matColor"));
    coder.encodeObject(QVariant::fromValue(platform::Color::fromQColor(m_bevelColor)), QStringLiteral("bevelColor"));
    KTFrameColorSettings::encodeOpacity(coder, m_opacity);
    coder.encodeFloat(float(m_bevelWidth), QStringLiteral("bevelWidth"));
    coder.encodeFloat(float(m_leftWidth), QStringLiteral("leftWidth"));
    coder.encodeFloat(float(m_rightWidth), QStringLiteral("rightWidth"));
    coder.encodeFloat(float(m_topWidth), QStringLiteral("topWidth"));
    coder.encodeFloat(float(m_bottomWidth), QStringLiteral("bottomWidth"));
}

void KTColorMatLayer::decode(platform::KeyedUnarchiver &coder)
{
    KTFrameLayer::decode(coder);
    setControlNibName(QString::fromLatin1(kControlNibName));
    // The archived colours replace the frame's; a missing one keeps what the
    // layer has.
    if (const std::optional<QColor> mat = colorOf(coder.decodeObjectForKey(QStringLiteral("matColor"))))
        m_matColor = *mat;
    if (const std::optional<QColor> bevel = colorOf(coder.decodeObjectForKey(QStringLiteral("bevelColor"))))
        m_bevelColor = *bevel;
    m_opacity = KTFrameColorSettings::decodeOpacity(coder);
    const double bevel = coder.decodeFloatForKey(QStringLiteral("bevelWidth"));
    m_bevelWidth = std::isfinite(bevel) ? bevel : 0.02;
    setLeftWidth(coder.decodeFloatForKey(QStringLiteral("leftWidth")));
    setRightWidth(coder.decodeFloatForKey(QStringLiteral("rightWidth")));
    setTopWidth(coder.decodeFloatForKey(QStringLiteral("topWidth")));
    setBottomWidth(coder.decodeFloatForKey(QStringLiteral("bottomWidth")));
}

void KTColorMatLayer::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::KeyedClassRegistry::shared().registerClass<KTColorMatLayer>(QStringLiteral("KTColorMatLayer"));
    });
}
