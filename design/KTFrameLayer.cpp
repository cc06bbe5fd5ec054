#include "design/KTFrameLayer.h"

#include "design/KTTemplate.h"
#include "platform/render/DrawingContext.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"

#include <algorithm>
#include <cmath>

KTFrameLayer::KTFrameLayer() = default;
KTFrameLayer::~KTFrameLayer() = default;

QString KTFrameLayer::description() const
{
    const FrameSet *set = m_theFrame ? m_theFrame->frameset() : nullptr;
    const FrameCollection *collection = set ? set->framecollection() : nullptr;
    return QStringLiteral("%1 -- Collection %2, Set %3, frameName %4, images %5")
        .arg(KTLayer::description(), collection ? collection->name() : QStringLiteral("(null)"),
             set ? set->name() : QStringLiteral("(null)"),
             m_theFrame ? m_theFrame->name() : QStringLiteral("(null)"),
             m_imagesLoaded ? QStringLiteral("loaded") : QStringLiteral("not loaded"));
}

bool KTFrameLayer::loadImages()
{
    return false;
}

QImage KTFrameLayer::iconOfSize(const QSizeF &)
{
    return QImage();
}

bool KTFrameLayer::actAsMask() const
{
    return false;
}

bool KTFrameLayer::shouldDrawShadow() const
{
    const KTTemplate *design = inTemplate();
    return m_dropShadow && design && design->drawShadows();
}

double KTFrameLayer::shadowLengthFactor() const
{
    if (!shouldDrawShadow())
        return -1;
    return m_shadowLength * inTemplate()->shadowOffset();
}

QSizeF KTFrameLayer::shadowOffsetForRect(const QRectF &rect) const
{
    const KTTemplate *design = inTemplate();
    const double angle = (design ? design->shadowAngle() : 180.0) * kDegreesToRadians;
    const double k = std::min(rect.width(), rect.height()) * m_shadowOffsetScaleFactor * shadowLengthFactor();
    // 0 degrees points up (positive y), 180 down.
    return QSizeF(std::sin(angle) * k, std::cos(angle) * k);
}

double KTFrameLayer::shadowBlurRadiusForRect(const QRectF &rect) const
{
    return std::min(rect.width(), rect.height()) * kBlurPerShortSide;
}

void KTFrameLayer::drawWithShadowInRect(const QRectF &rect, bool highQuality, bool withTransparencyLayer,
                                        const QRectF &transparencyRect, const std::function<void()> &block)
{
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    const bool shadow = ctx && shouldDrawShadow();
    bool layerBegun = false;
    if (shadow) {
        ctx->saveGState();
        const QSizeF offset = shadowOffsetForRect(rect);
        const double blur = highQuality ? shadowBlurRadiusForRect(rect) : 0.0;
        // The default shadow colour: black at one third.
        ctx->setShadow(QColor::fromRgbF(0, 0, 0, 1.0f / 3.0f), QPointF(offset.width(), offset.height()), blur);
        ctx->clipToRect(rectWithShadowForDrawRect(rect, transparencyRect));
        if (withTransparencyLayer) {
            ctx->beginTransparencyLayer();
            layerBegun = true;
        }
    }
    if (block)
        block();
    if (shadow) {
        if (layerBegun)
            ctx->endTransparencyLayer();
        ctx->restoreGState();
    }
}

QRectF KTFrameLayer::rectWithShadowForRect(const QRectF &rect) const
{
    return rectWithShadowForDrawRect(rect, rect);
}

QRectF KTFrameLayer::rectWithShadowForDrawRect(const QRectF &drawRect, const QRectF &t) const
{
    const QSizeF offset = shadowOffsetForRect(drawRect);
    const double dx = offset.width();
    const double dy = offset.height();
    const double b = shadowBlurRadiusForRect(drawRect);
    const double left = std::min(t.x(), t.x() + dx - b);
    const double right = std::max(t.x() + t.width(), t.x() + t.width() + dx + b);
    const double bottom = std::min(t.y(), t.y() + dy - b);
    const double top = std::max(t.y() + t.height(), t.y() + t.height() + dy + b);
    return QRectF(left, bottom, right - left, top - bottom);
}

void KTFrameLayer::drawAsMask(bool asMask, const std::function<void()> &block)
{
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (!asMask || !ctx) {
        if (block)
            block();
        return;
    }
    ctx->saveGState();
    ctx->setCompositionMode(QPainter::CompositionMode_DestinationOut);
    if (block)
        block();
    ctx->restoreGState();
}

void KTFrameLayer::applySettingsFromLayer(const KTFrameLayer &other)
{
    setDropShadow(other.dropShadow());
    setShadowLength(other.shadowLength());
    setShadowOffsetScaleFactor(other.shadowOffsetScaleFactor());
}

void KTFrameLayer::setDropShadow(bool on)
{
    m_dropShadow = on;
}

void KTFrameLayer::setShadowLength(double length)
{
    m_shadowLength = length;
}

void KTFrameLayer::setShadowOffsetScaleFactor(double factor)
{
    m_shadowOffsetScaleFactor = factor;
}

std::shared_ptr<KTLayer> KTFrameLayer::copyForRendering() const
{
    auto copy = std::make_shared<KTFrameLayer>();
    copy->copyFrameFieldsFrom(*this);
    return copy;
}

void KTFrameLayer::copyFrameFieldsFrom(const KTFrameLayer &other)
{
    copyBaseFieldsFrom(other);
    m_theFrame = other.m_theFrame;
    m_imagesLoaded = other.m_imagesLoaded;
    m_dropShadow = other.m_dropShadow;
    m_shadowLength = other.m_shadowLength;
    m_shadowOffsetScaleFactor = other.m_shadowOffsetScaleFactor;
    m_missesFrameInLibrary = other.m_missesFrameInLibrary;
}
