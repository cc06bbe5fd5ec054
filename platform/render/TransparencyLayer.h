#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>

#include <memory>
#include <optional>

class QPainter;

namespace platform {

// A drop shadow as drawing code sets it. Offset and blur radius are in the
// user space of the painter at begin() (the design's y-up space when the
// painter carries the design's flip): they go through the painter's transform,
// so a negative y offset in y-up space falls downwards on the canvas.
struct Shadow {
    QColor color = defaultColor();
    QPointF offset;
    qreal blurRadius = 0;

    // The colour a shadow has when the drawing code does not choose one:
    // black at one third opacity.
    static QColor defaultColor() { return QColor(0, 0, 0, 85); }
};

// The offscreen group that stands in for transparency layers and shadows.
// begin() makes a premultiplied buffer the size of the target's clip (within
// the canvas) and answers a painter on it with the target's transform, clip and
// hints. end() composites the group once onto the target, with the target's
// opacity and composition mode at begin() (destination-out erases with it):
// with a shadow, the blurred alpha of the group tinted with the shadow colour
// lies under the content, moved by the offset.
//
// Blur: sigma is half the blur radius in device pixels; three box passes.
class TransparencyLayer
{
public:
    TransparencyLayer();
    ~TransparencyLayer(); // ends an open layer
    TransparencyLayer(const TransparencyLayer &) = delete;
    TransparencyLayer &operator=(const TransparencyLayer &) = delete;

    // Starts a group over `target` (active, on a QImage or any paint device).
    // Always answers a painter to draw the content with: when the clip is
    // empty or no buffer can be had, that is `target` itself (drawing then
    // goes straight through, without shadow) and end() only finishes up.
    QPainter *begin(QPainter *target, const std::optional<Shadow> &shadow = std::nullopt);
    QPainter *painter() const;
    bool isActive() const;
    // Ends the drawing of the content and lays its shadow under it, leaving
    // end() only the compositing. Groups over one target may so be made side
    // by side: this may run on another thread than begin() and end(), while
    // nothing else uses the layer.
    void finishContent();
    void end();

    // The device rectangle of the buffer (empty when drawing goes straight
    // through).
    QRect deviceRect() const;

    // Each thread keeps its largest few layer buffers for the next layers
    // (fresh pages cost more than the drawing); this frees the calling thread's.
    static void releaseSpareBuffer();

    // Sigma in device pixels for a blur radius in device pixels.
    static double sigmaForBlurRadius(double radius) { return radius * 0.5; }
    // Large blurs run on a plane this many times smaller (1 to 16).
    static int shrinkFactor(double sigma)
    {
        int f = 1;
        while (sigma / f >= 8 && f < 16)
            f *= 2;
        return f;
    }

    // Puts the tinted, blurred alpha of `image` (premultiplied ARGB) under
    // its own content, moved by `offset` device pixels. What falls outside
    // the image is lost. Answers false when memory for the blur is lacking
    // (the image is then left as it was). Only rows [firstRow, endRow) take
    // the shadow (all of them when endRow is negative); the shadow is still
    // worked out from every row.
    static bool applyShadow(QImage &image, const QColor &color, QPointF offset, double sigma, int firstRow = 0,
                            int endRow = -1);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
