#pragma once

// Additions to numbers, strings, dates, bezier paths and colours. Points and
// rectangles are in the design's y-up sense: "top" is maxY.

#include <QColor>
#include <QDateTime>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVariant>

#include <optional>

class QTextDocument;

namespace NSNumberVLExtras {
// The number moved into [minimum, maximum]: below the minimum (tested first)
// a double holding the minimum, above the maximum a double holding the
// maximum, else `number` itself with its own type. NaN and anything that is
// not a number read as the minimum, so no NaN ever passes a clamp.
QVariant numberEnforcedBetweenAnd(const QVariant &number, double minimum, double maximum);
double numberEnforcedBetweenAnd(double value, double minimum, double maximum);

// Orders two numbers by the sign of their 32-bit integer values only:
// -1 (ascending), 0 (same sign) or 1 (descending).
int compareWith0(const QVariant &number, const QVariant &other);

// The number as fields show it: at most `fractionDigits` decimals, no
// trailing zeros or point, "0" for "-0"; empty for NaN and infinity.
QString shortDecimalString(double value, int fractionDigits);
} // namespace NSNumberVLExtras

namespace NSStringVLAdditions {
// "1022 bytes", "1 KB", "1.0 MB", "1.0 GB".
QString stringFromFileSize(quint64 size);
// At most `length` UTF-16 units: longer text keeps its start and ends in
// "…". Length 0 gives "", and a surrogate pair is never split.
QString vl_truncateToLength(const QString &text, qsizetype length);
} // namespace NSStringVLAdditions

namespace NSDateVLExtras {
struct DateComponents {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};
DateComponents dateComponentsInUTC(const QDateTime &date);
// "YYYYMMDD-hhmmss" in UTC.
QString stringInUTCWithTime(const QDateTime &date);
} // namespace NSDateVLExtras

namespace NSBezierPathVLExtensions {
// One bevel face of a colour mat: a trapezoid on the base line from
// `basePoint`, `length` long, narrowing by `width` at both ends. Side 0 lies
// below the line, 1 above, 2 to the right of a vertical line, 3 to its left.
QPainterPath bezierPathForBevelWithBasePointBaseLengthWidthAndSide(QPointF basePoint, double length,
                                                                   double width, int side);

enum RoundedCorner {
    TopLeftCorner = 1,     // (minX, maxY)
    TopRightCorner = 2,    // (maxX, maxY)
    BottomRightCorner = 4, // (maxX, minY)
    BottomLeftCorner = 8,  // (minX, minY)
};
// A closed path from the (minX, maxY) corner clockwise round `rect`; the
// corners in `corners` are arcs of `radius`, the others sharp. A radius over
// half the shorter side is taken as that half.
QPainterPath bezierPathWithRoundedRectRadiusCorners(const QRectF &rect, double radius, int corners);
} // namespace NSBezierPathVLExtensions

namespace NSColorVLExtras {
// Same hue, saturation and alpha with brightness b + b*f (brighten) or
// b - b*f (darken), kept within [0, 1].
QColor brightenColorBy(const QColor &color, double factor);
QColor darkenColorBy(const QColor &color, double factor);
} // namespace NSColorVLExtras

namespace NSAttributedStringColors {
// Colours for editing a text of arbitrary colour. The text is given by the
// foreground colour of its first character; none (or an empty text) reads
// as black.
double vlw_textBrightness(const std::optional<QColor> &firstCharacterColor);
double vlw_textBrightness(const QTextDocument &text);
QColor vlw_adaptiveBackgroundColor(double textBrightness);
QColor vlw_adaptiveCursorColor(double textBrightness);
QColor vlw_adaptiveSelectionColor(double textBrightness);
} // namespace NSAttributedStringColors
