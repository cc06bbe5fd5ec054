#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <cstdint>

// Where an overlay sits: an anchor per axis and an offset from it in
// fractions of the container's size, so the overlay keeps its place when the
// design is drawn at another size. y-up: vSnap 0 is the bottom edge.
struct KTOverlayPositioning {
    QPointF position;        // offset from the anchor, fractions of width (x) and height (y)
    std::uint64_t hSnap = 2; // 0 left, 1 right, 2 centre
    std::uint64_t vSnap = 2; // 0 bottom, 1 top, 2 centre

    bool operator==(const KTOverlayPositioning &) const = default;
};

// The overlay's rect in `container` for its placement and size.
QRectF overlayRectForRelativePosition(const QRectF &container, const KTOverlayPositioning &placement,
                                      const QSizeF &size);
// The placement of a dragged overlay rect, its centre kept inside the container.
KTOverlayPositioning relativePositionForOverlayRect(const QRectF &overlay, const QRectF &container);
// Offsets smaller in magnitude than `threshold` snap onto their anchor.
KTOverlayPositioning zeroTinyOffsets(const KTOverlayPositioning &placement, double threshold);
