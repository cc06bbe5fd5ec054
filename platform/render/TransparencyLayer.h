#pragma once

#include "platform/render/ShadowCache.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>

#include <functional>
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
    // A group whose shadow was worked out beforehand (sharedShadow() over
    // the same target, clip and shadow): its buffer holds the target's own
    // rows only. Without a mask that covers them, as begin() above.
    QPainter *begin(QPainter *target, const Shadow &shadow, std::shared_ptr<const ShadowCache::Mask> mask);
    // A group whose finished pixels were made beforehand (sharedGroup() over
    // the same target, clip and shadow): nothing is drawn, end() composites
    // them. False, with nothing begun, when they do not fit the target.
    bool beginMade(QPainter *target, const Shadow &shadow, std::shared_ptr<const ShadowCache::Mask> group);

    // The coverage of the shadow a group begun on `target` now would lay
    // under the target's own rows, made once for every key in the current
    // shadow cache: `draw` draws the group's content onto the painter it is
    // given (set up as begin() sets it up) when the mask has to be made.
    // `contentKey` must tell everything `draw` draws; the target's
    // transform, clip, hints, device and band, and the shadow, are added
    // here. Null without a current cache, or when there is no shadow to lay;
    // null too while another thread makes it: drawing the group with its
    // own shadow costs what the making does, so waiting would only add to
    // it (a batch's workers all reach the same bands at once at the start).
    static std::shared_ptr<const ShadowCache::Mask> sharedShadow(QPainter *target, const Shadow &shadow,
                                                                 const QByteArray &contentKey,
                                                                 const std::function<void(QPainter *)> &draw);
    // The finished pixels of a group begun on `target` now with `mask`
    // (from sharedShadow()), made once for every key in the current shadow
    // cache as sharedShadow() makes its mask, and kept in the cache's `group`.
    // Each file of a batch draws the same moulding into the same band, so
    // only compositing it is left. Null as for sharedShadow(), or when the
    // mask does not serve the target.
    static std::shared_ptr<const ShadowCache::Mask> sharedGroup(QPainter *target, const Shadow &shadow,
                                                                const QByteArray &contentKey,
                                                                std::shared_ptr<const ShadowCache::Mask> mask,
                                                                const std::function<void(QPainter *)> &draw);
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

    // The coverage (0..255) applyShadow works out for rows [firstRow,
    // endRow) of `image`, which lies at `rect` of the device, zero under its
    // opaque pixels; the mask covers those rows of `rect`. Null when memory
    // is lacking.
    static std::shared_ptr<ShadowCache::Mask> shadowMask(const QImage &image, QPointF offset, double sigma,
                                                         const QRect &rect, int firstRow, int endRow);
    // Puts the shadow of `mask`, tinted with `color`, under rows [firstRow,
    // endRow) of `image`, which lies at `rect` of the device, as applyShadow
    // would.
    static void layShadowMask(QImage &image, const QRect &rect, const ShadowCache::Mask &mask, const QColor &color,
                              int firstRow = 0, int endRow = -1);

private:
    QPainter *beginGroup(QPainter *target, const std::optional<Shadow> &shadow,
                         std::shared_ptr<const ShadowCache::Mask> mask,
                         std::shared_ptr<const ShadowCache::Mask> made = nullptr);
    // Ends the content and answers its shadow's mask for the target's own
    // rows instead of laying anything down.
    std::shared_ptr<ShadowCache::Mask> endWithMask();
    // Ends the content, lays its shadow and answers the finished pixels
    // instead of laying anything down; null unless begun with a mask.
    std::shared_ptr<ShadowCache::Mask> endWithGroup();
    // The key of everything a group on `target` with `shadow` depends on
    // besides `contentKey`; empty when it cannot be told.
    static QByteArray shadowKey(QPainter *target, const Shadow &shadow, const QByteArray &contentKey);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
