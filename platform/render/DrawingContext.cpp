#include "platform/render/DrawingContext.h"

#include "platform/render/TransparencyLayer.h"

#include <QPaintDevice>
#include <QTransform>

#include <cmath>

namespace platform {

namespace {
thread_local DrawingContext *t_current = nullptr;
}

struct DrawingContext::LayerFrame {
    // The shadow in effect when the layer began: it applies to the
    // composite, not to what is drawn inside it.
    ShadowState shadow;
    QPainter *outerPainter = nullptr;
    std::size_t savedStates = 0;
    TransparencyLayer engine;
};

DrawingContext::DrawingContext(QImage &target)
    : m_ownedPainter(std::make_unique<QPainter>(&target))
    , m_painter(m_ownedPainter.get())
    , m_height(target.height() / target.devicePixelRatio())
{
    m_painter->setRenderHint(QPainter::Antialiasing, true);
    m_painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    m_painter->setWorldTransform(QTransform(1, 0, 0, -1, 0, m_height));
    m_canvas = QRectF(0, 0, target.width() / target.devicePixelRatio(), m_height);
    init();
}

DrawingContext::DrawingContext(QPainter &painter, double height)
    : m_painter(&painter)
    , m_height(height)
{
    m_painter->save();
    const QTransform flip(1, 0, 0, -1, 0, height);
    m_painter->setWorldTransform(flip * m_painter->worldTransform());
    if (QPaintDevice *device = m_painter->device()) {
        const QRectF deviceRect(0, 0, device->width(), device->height());
        m_canvas = m_painter->deviceTransform().inverted().mapRect(deviceRect);
    } else {
        m_canvas = QRectF(0, 0, 0, height);
    }
    init();
}

void DrawingContext::init()
{
    m_previous = t_current;
    t_current = this;
}

DrawingContext::~DrawingContext()
{
    while (!m_layers.empty())
        endTransparencyLayer();
    if (m_ownedPainter) {
        m_ownedPainter->end();
    } else {
        m_painter->restore();
    }
    // Contexts end in the reverse order of their making; tolerate a mismatch
    // by unlinking this one wherever it sits.
    if (t_current == this) {
        t_current = m_previous;
    } else {
        for (DrawingContext *c = t_current; c; c = c->m_previous) {
            if (c->m_previous == this) {
                c->m_previous = m_previous;
                break;
            }
        }
    }
}

DrawingContext *DrawingContext::current()
{
    return t_current;
}

double DrawingContext::deviceScale() const
{
    const QTransform t = m_painter->deviceTransform();
    return std::sqrt(std::abs(t.m11() * t.m22() - t.m12() * t.m21()));
}

void DrawingContext::saveGState()
{
    m_painter->save();
    m_savedShadows.push_back(m_shadow);
}

void DrawingContext::restoreGState()
{
    // An unbalanced restore (or one reaching past the start of a
    // transparency layer) is ignored rather than corrupting the painter.
    if (m_savedShadows.empty() || (!m_layers.empty() && m_savedShadows.size() <= m_layers.back()->savedStates))
        return;
    m_painter->restore();
    m_shadow = m_savedShadows.back();
    m_savedShadows.pop_back();
}

void DrawingContext::clipToRect(const QRectF &rect)
{
    if (m_painter->hasClipping())
        m_painter->setClipRect(rect, Qt::IntersectClip);
    else
        m_painter->setClipRect(rect, Qt::ReplaceClip);
}

void DrawingContext::clipToPath(const QPainterPath &path)
{
    if (m_painter->hasClipping())
        m_painter->setClipPath(path, Qt::IntersectClip);
    else
        m_painter->setClipPath(path, Qt::ReplaceClip);
}

QRectF DrawingContext::clipBoundingRect() const
{
    if (!m_painter->hasClipping())
        return m_canvas;
    return m_painter->clipBoundingRect().intersected(m_canvas);
}

void DrawingContext::setOpacity(double alpha)
{
    m_painter->setOpacity(alpha);
}

double DrawingContext::opacity() const
{
    return m_painter->opacity();
}

void DrawingContext::setCompositionMode(QPainter::CompositionMode mode)
{
    m_painter->setCompositionMode(mode);
}

void DrawingContext::withImplicitLayer(const std::function<void()> &draw)
{
    if (m_shadow.set && m_layers.empty()) {
        beginTransparencyLayer();
        draw();
        endTransparencyLayer();
    } else {
        draw();
    }
}

void DrawingContext::fillRect(const QRectF &rect, const QColor &color)
{
    withImplicitLayer([&] { m_painter->fillRect(rect, color); });
}

void DrawingContext::fillPath(const QPainterPath &path, const QBrush &brush)
{
    withImplicitLayer([&] { m_painter->fillPath(path, brush); });
}

void DrawingContext::strokePath(const QPainterPath &path, const QPen &pen)
{
    withImplicitLayer([&] { m_painter->strokePath(path, pen); });
}

void DrawingContext::strokeRect(const QRectF &rect, const QColor &color, double lineWidth)
{
    QPainterPath path;
    path.addRect(rect);
    QPen pen(color);
    pen.setWidthF(lineWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    strokePath(path, pen);
}

void DrawingContext::drawImage(const QRectF &rect, const QImage &image, const QRectF &source)
{
    if (image.isNull() || rect.isEmpty())
        return;
    drawFlipped(rect, [&](QPainter &p, const QRectF &local) {
        if (source.isEmpty())
            p.drawImage(local, image);
        else
            p.drawImage(local, image, source);
    });
}

void DrawingContext::drawFlipped(const QRectF &rect,
                                 const std::function<void(QPainter &, const QRectF &)> &draw)
{
    withImplicitLayer([&] {
        m_painter->save();
        // y' = top - y maps the rect's top edge to 0 and its bottom to height.
        m_painter->translate(0, rect.y() + rect.height());
        m_painter->scale(1, -1);
        draw(*m_painter, QRectF(rect.x(), 0, rect.width(), rect.height()));
        m_painter->restore();
    });
}

void DrawingContext::setShadow(const QColor &color, const QPointF &offset, double blur)
{
    m_shadow.set = true;
    m_shadow.color = color;
    m_shadow.offset = offset;
    m_shadow.blur = std::max(0.0, blur);
}

void DrawingContext::clearShadow()
{
    m_shadow = ShadowState();
}

bool DrawingContext::hasShadow() const
{
    return m_shadow.set;
}

QColor DrawingContext::shadowColor() const
{
    return m_shadow.color;
}

QPointF DrawingContext::shadowOffset() const
{
    return m_shadow.offset;
}

double DrawingContext::shadowBlur() const
{
    return m_shadow.blur;
}

void DrawingContext::beginTransparencyLayer()
{
    auto frame = std::make_unique<LayerFrame>();
    frame->shadow = m_shadow;
    frame->outerPainter = m_painter;
    frame->savedStates = m_savedShadows.size();
    std::optional<Shadow> shadow;
    if (m_shadow.set) {
        Shadow s;
        s.color = m_shadow.color;
        s.offset = m_shadow.offset;
        s.blurRadius = m_shadow.blur;
        shadow = s;
    }
    // The engine answers the painter to draw the content with (the target
    // itself when there is nothing to buffer).
    m_painter = frame->engine.begin(m_painter, shadow);
    if (m_painter == frame->outerPainter)
        m_painter->save();
    m_layers.push_back(std::move(frame));
    // Inside the layer, shapes draw plainly; the shadow belongs to the whole.
    m_shadow = ShadowState();
}

void DrawingContext::endTransparencyLayer()
{
    if (m_layers.empty())
        return;
    std::unique_ptr<LayerFrame> frame = std::move(m_layers.back());
    m_layers.pop_back();
    // States saved inside the layer and not restored end with it.
    while (m_savedShadows.size() > frame->savedStates) {
        m_painter->restore();
        m_savedShadows.pop_back();
    }
    if (m_painter == frame->outerPainter)
        m_painter->restore();
    frame->engine.end();
    m_painter = frame->outerPainter;
    m_shadow = frame->shadow;
}

int DrawingContext::transparencyLayerDepth() const
{
    return int(m_layers.size());
}

QRectF DrawingContext::deviceRectFor(const QRectF &rect) const
{
    return m_painter->deviceTransform().mapRect(rect);
}

} // namespace platform
