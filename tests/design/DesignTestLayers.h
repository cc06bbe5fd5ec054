#pragma once

// Small layers for exercising the design walk: each paints a solid ring (or,
// for the innermost, a solid rect) so drawings can be checked by pixel.

#include "design/KTFrameLayer.h"
#include "design/KTImageOverlayLayer.h"
#include "design/KTLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "platform/NotificationCenter.h"
#include "platform/render/DrawingContext.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>

#include <vector>

namespace designtest {

// What one drawing call saw.
struct DrawCall {
    QRectF rect;
    bool highQuality = false;
    bool skipCache = false;
    bool selectedWhileDrawing = false;
};

// Fills the rect it is given (a stand-in for the photo).
class FillLayer : public KTLayer
{
    Q_OBJECT
public:
    explicit FillLayer(QColor color = Qt::blue) : m_color(color) {}
    void drawLayerForRect(const QRectF &rect, bool hq, bool skip) override
    {
        calls.push_back({rect, hq, skip, isSelected()});
        if (auto *ctx = platform::DrawingContext::current())
            ctx->fillRect(rect, m_color);
        if (onDraw)
            onDraw();
    }
    std::shared_ptr<KTLayer> copyForRendering() const override
    {
        auto copy = std::make_shared<FillLayer>(m_color);
        copy->copyBaseFieldsFrom(*this);
        return copy;
    }
    std::vector<DrawCall> calls;
    std::function<void()> onDraw;

private:
    QColor m_color;
};

// A frame that grows the rect by margins given as fractions of the inner
// rect's width (left, right) and height (bottom, top), and paints the ring.
class RingFrameLayer : public KTFrameLayer
{
    Q_OBJECT
public:
    RingFrameLayer(double left, double right, double bottom, double top, QColor color = Qt::red)
        : m_left(left), m_right(right), m_bottom(bottom), m_top(top), m_color(color)
    {
    }
    QRectF resultingRectForRect(const QRectF &r) const override
    {
        const double l = m_left * r.width(), rt = m_right * r.width();
        const double b = m_bottom * r.height(), t = m_top * r.height();
        return QRectF(r.x() - l, r.y() - b, r.width() + l + rt, r.height() + b + t);
    }
    void drawLayerForRect(const QRectF &rect, bool hq, bool skip) override
    {
        calls.push_back({rect, hq, skip, isSelected()});
        auto *ctx = platform::DrawingContext::current();
        if (!ctx)
            return;
        QPainterPath ring;
        ring.setFillRule(Qt::OddEvenFill);
        ring.addRect(resultingRectForRect(rect));
        ring.addRect(rect);
        drawAsMask(mask, [&] { ctx->fillPath(ring, m_color); });
    }
    bool actAsMask() const override { return mask; }
    std::shared_ptr<KTLayer> copyForRendering() const override
    {
        auto copy = std::make_shared<RingFrameLayer>(m_left, m_right, m_bottom, m_top, m_color);
        copy->copyFrameFieldsFrom(*this);
        copy->mask = mask;
        return copy;
    }
    void emitChanged() { emit layerChanged(); }
    void emitFastRedraw() { emit layerChangedFastRedraw(); }

    std::vector<DrawCall> calls;
    bool mask = false;

private:
    double m_left, m_right, m_bottom, m_top;
    QColor m_color;
};

// A mat that grows every side by a fraction of the short side, as real mats
// and frames do.
class EvenMatLayer : public KTFrameLayer
{
    Q_OBJECT
public:
    explicit EvenMatLayer(double fraction) : m_fraction(fraction) {}
    QRectF resultingRectForRect(const QRectF &r) const override
    {
        const double m = std::min(r.width(), r.height()) * m_fraction;
        return r.adjusted(-m, -m, m, m);
    }
    void drawLayerForRect(const QRectF &rect, bool, bool) override
    {
        if (auto *ctx = platform::DrawingContext::current()) {
            QPainterPath ring;
            ring.setFillRule(Qt::OddEvenFill);
            ring.addRect(resultingRectForRect(rect));
            ring.addRect(rect);
            ctx->fillPath(ring, QColor(Qt::red));
        }
    }

private:
    double m_fraction;
};

// Records notifications posted by one design.
class NotificationLog
{
public:
    explicit NotificationLog(const KTTemplate *design)
    {
        auto &nc = platform::NotificationCenter::defaultCenter();
        for (const char *name : {KTTemplate::kModelChangedNotification, KTTemplate::kLayerChangedNotification}) {
            m_ids.push_back(nc.addObserver(QString::fromLatin1(name), design,
                                           [this](const platform::Notification &n) { posted.push_back(n); }));
        }
    }
    ~NotificationLog()
    {
        for (auto id : m_ids)
            platform::NotificationCenter::defaultCenter().removeObserver(id);
    }
    int count(const QString &name) const
    {
        int n = 0;
        for (const auto &p : posted)
            n += p.name == name ? 1 : 0;
        return n;
    }
    std::vector<platform::Notification> posted;

private:
    std::vector<platform::NotificationCenter::ObserverId> m_ids;
};

inline QImage blankCanvas(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// The pixel at y-up coordinates (x, y) of the canvas: row h-1-y.
inline QColor pixelYUp(const QImage &image, int x, int y)
{
    return image.pixelColor(x, image.height() - 1 - y);
}

} // namespace designtest
