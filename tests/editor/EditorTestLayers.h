#pragma once

// Small layers and a canvas on the offscreen platform for the editor's tests:
// a photo read from a real file, frames that paint a ring and record how they
// were drawn, and a layer that takes the mouse inside a rect.

#include "app/KTViewState.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTLayer.h"
#include "design/KTTemplate.h"
#include "design/VLImage.h"
#include "editor/KTDesignView.h"
#include "editor/KTDesignViewController.h"
#include "editor/KTLayersPaletteController.h"
#include "editor/KTLayersPaletteView.h"
#include "platform/render/DrawingContext.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainterPath>
#include <QUrl>

#include <memory>
#include <vector>

namespace editortest {

inline std::shared_ptr<VLImage> solidIcon(QColor color, QSize size = {40, 30})
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return VLImage::initWithNSImage(image, 0);
}

// A frame that grows every side by a fraction of the short side and paints
// that ring; it records the quality of every drawing.
class RingFrame : public KTFrameLayer
{
    Q_OBJECT
public:
    explicit RingFrame(double fraction = 0.1, QColor color = Qt::red)
        : m_fraction(fraction)
        , m_color(color)
    {
        setIcon(solidIcon(color));
    }
    QRectF resultingRectForRect(const QRectF &r) const override
    {
        const double m = std::min(r.width(), r.height()) * m_fraction;
        return r.adjusted(-m, -m, m, m);
    }
    void drawLayerForRect(const QRectF &rect, bool hq, bool) override
    {
        qualities.push_back(hq);
        if (onDraw)
            onDraw();
        m_lastOuter = resultingRectForRect(rect);
        m_lastInner = rect;
        if (auto *ctx = platform::DrawingContext::current()) {
            QPainterPath ring;
            ring.setFillRule(Qt::OddEvenFill);
            ring.addRect(m_lastOuter);
            ring.addRect(rect);
            ctx->fillPath(ring, m_color);
        }
    }
    bool isHitAtPoint(const QPointF &p) const override
    {
        return m_lastOuter.contains(p) && !m_lastInner.contains(p);
    }
    void mouseDownAtPoint(const QPointF &, const QMouseEvent *) override { ++downs; }
    void touch() { emit layerChanged(); }

    std::vector<bool> qualities;
    std::function<void()> onDraw;
    int downs = 0;

private:
    double m_fraction;
    QColor m_color;
    QRectF m_lastOuter, m_lastInner;
};

// A layer that takes the mouse inside a fixed rect (design coordinates),
// as an overlay does; it draws nothing and takes no room.
class MouseLayer : public KTLayer
{
    Q_OBJECT
public:
    explicit MouseLayer(QRectF hitRect, bool accepts = true)
        : m_hitRect(hitRect)
        , m_accepts(accepts)
    {
        setIcon(solidIcon(Qt::yellow, {20, 40}));
    }
    bool acceptsMouseEvents() const override { return m_accepts; }
    bool isHitAtPoint(const QPointF &p) const override { return m_hitRect.contains(p); }
    void mouseDownAtPoint(const QPointF &p, const QMouseEvent *) override { downs.push_back(p); }
    void mouseDraggedAtPoint(const QPointF &p, const QMouseEvent *) override { drags.push_back(p); }
    void mouseUpAtPoint(const QPointF &p, const QMouseEvent *) override { ups.push_back(p); }

    std::vector<QPointF> downs, drags, ups;

private:
    QRectF m_hitRect;
    bool m_accepts;
};

// A photo file on disk: a gradient, so crops and scaling show.
inline QString writePhoto(const QString &name, QSize size = {600, 400})
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(40 + 150 * x / size.width(), 90, 60 + 150 * y / size.height()));
    const QString path = QDir(testsupport::scratchDir()).filePath(name);
    image.save(path);
    return path;
}

// A canvas shown offscreen with a design of one photo.
struct Canvas {
    std::shared_ptr<KTTemplate> design = std::make_shared<KTTemplate>();
    std::shared_ptr<KTViewState> viewState = std::make_shared<KTViewState>();
    std::unique_ptr<KTDesignViewController> controller;
    KTDesignView *view = nullptr;
    KTLayersPaletteController *palette = nullptr;
    KTLayersPaletteView *strip = nullptr;

    explicit Canvas(QSize size = {800, 600}, double zoom = 1.0)
    {
        design->importImage(QUrl::fromLocalFile(writePhoto(QStringLiteral("canvas-photo.png"))));
        controller = std::make_unique<KTDesignViewController>(QString::fromLatin1(KTDesignViewController::kNibName),
                                                              nullptr);
        viewState->setZoom(zoom);
        viewState->setBackgroundColor(QColor(30, 30, 30));
        controller->setViewState(viewState);
        controller->setDocTemplate(design);
        view = controller->designView();
        palette = controller->layersPaletteController();
        strip = view->layersPaletteView();
        view->resize(size);
        view->show();
        QApplication::processEvents();
        palette->showDesign(*design);
    }
    // Adds the layer outermost and shows the design again in the strip.
    void addTopmost(const std::shared_ptr<KTLayer> &layer)
    {
        design->addTopmostLayer(layer);
        palette->showDesign(*design);
    }
    std::shared_ptr<KTLayer> photo() const { return design->imageLayer(); }
    // Paints now and waits until the full-quality pass has been drawn.
    void settle()
    {
        view->repaint();
        testsupport::waitUntil([this] { return view->drawHighQuality(); });
        QApplication::processEvents();
    }
    // A y-up design point as the view's own point.
    QPoint viewPoint(QPointF designPoint) const
    {
        return QPoint(int(designPoint.x()), int(view->height() - designPoint.y()));
    }
};

} // namespace editortest
