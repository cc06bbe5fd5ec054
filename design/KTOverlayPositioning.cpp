#include "design/KTOverlayPositioning.h"

#include <cmath>

namespace {

// One axis of the rect-to-placement step: the anchor and its offset.
struct AxisPlacement {
    std::uint64_t snap;
    double offset;
};

AxisPlacement placeAxis(double origin, double length, double cOrigin, double cLength)
{
    const double dLow = origin - cOrigin;
    const double dHigh = (cOrigin + cLength) - (origin + length);
    const double dC = (origin + length / 2) - (cOrigin + cLength / 2);
    // Centred when the centre is off by at most an eighth of each edge gap.
    if (std::abs(dLow) >= 8 * std::abs(dC) && std::abs(dHigh) >= 8 * std::abs(dC))
        return {2, dC};
    if (std::abs(dHigh) >= std::abs(dLow))
        return {0, dLow};
    return {1, dHigh};
}

// Moves an origin so that the centre lies within [cOrigin, cOrigin + cLength].
double keepCentreInside(double origin, double length, double cOrigin, double cLength)
{
    const double centre = origin + length / 2;
    if (centre < cOrigin)
        return origin + (cOrigin - centre);
    if (centre > cOrigin + cLength)
        return origin - (centre - (cOrigin + cLength));
    return origin;
}

// A degenerate container gives offsets of 0 rather than a division by zero.
double fraction(double offset, double length)
{
    if (!(length > 0) || !std::isfinite(length))
        return 0;
    return offset / length;
}

} // namespace

QRectF overlayRectForRelativePosition(const QRectF &c, const KTOverlayPositioning &p, const QSizeF &s)
{
    double x = 0;
    switch (p.hSnap) {
    case 0: x = c.x() + p.position.x() * c.width(); break;
    case 1: x = c.x() + c.width() - p.position.x() * c.width() - s.width(); break;
    default: x = c.x() + c.width() / 2 + p.position.x() * c.width() - s.width() / 2; break;
    }
    double y = 0;
    switch (p.vSnap) {
    case 0: y = c.y() + p.position.y() * c.height(); break;
    case 1: y = c.y() + c.height() - p.position.y() * c.height() - s.height(); break;
    default: y = c.y() + c.height() / 2 + p.position.y() * c.height() - s.height() / 2; break;
    }
    return QRectF(x, y, s.width(), s.height());
}

KTOverlayPositioning relativePositionForOverlayRect(const QRectF &o, const QRectF &c)
{
    const double x = keepCentreInside(o.x(), o.width(), c.x(), c.width());
    const double y = keepCentreInside(o.y(), o.height(), c.y(), c.height());
    const AxisPlacement h = placeAxis(x, o.width(), c.x(), c.width());
    const AxisPlacement v = placeAxis(y, o.height(), c.y(), c.height());
    KTOverlayPositioning p;
    p.hSnap = h.snap;
    p.vSnap = v.snap;
    p.position = QPointF(fraction(h.offset, c.width()), fraction(v.offset, c.height()));
    return p;
}

KTOverlayPositioning zeroTinyOffsets(const KTOverlayPositioning &placement, double threshold)
{
    KTOverlayPositioning p = placement;
    if (std::abs(p.position.x()) < threshold)
        p.position.setX(0);
    if (std::abs(p.position.y()) < threshold)
        p.position.setY(0);
    return p;
}
