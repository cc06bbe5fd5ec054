#include "kit/VLValueAdditions.h"

#include <QCoreApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimeZone>

#include <cmath>
#include <limits>

namespace NSNumberVLExtras {

namespace {
bool readNumber(const QVariant &number, double *value)
{
    if (!number.isValid() || number.typeId() == QMetaType::QString)
        return false;
    bool ok = false;
    *value = number.toDouble(&ok);
    return ok;
}

int sign32(const QVariant &number)
{
    double value = 0;
    if (!readNumber(number, &value) || std::isnan(value))
        return 0;
    // The 32-bit integer value: the fraction goes, as a cast does.
    const double truncated = std::trunc(value);
    if (truncated >= 4294967296.0 || truncated <= -4294967296.0)
        return value < 0 ? -1 : 1;
    const auto wrapped = qint32(quint32(qint64(truncated) & 0xffffffff));
    return wrapped < 0 ? -1 : (wrapped > 0 ? 1 : 0);
}
} // namespace

QVariant numberEnforcedBetweenAnd(const QVariant &number, double minimum, double maximum)
{
    double value = 0;
    if (!readNumber(number, &value) || std::isnan(value))
        return minimum;
    if (minimum > value)
        return minimum;
    if (value > maximum)
        return maximum;
    return number;
}

double numberEnforcedBetweenAnd(double value, double minimum, double maximum)
{
    if (std::isnan(value) || minimum > value)
        return minimum;
    if (value > maximum)
        return maximum;
    return value;
}

int compareWith0(const QVariant &number, const QVariant &other)
{
    const int a = sign32(number);
    const int b = sign32(other);
    return a < b ? -1 : (a > b ? 1 : 0);
}

QString shortDecimalString(double value, int fractionDigits)
{
    if (!std::isfinite(value))
        return QString();
    QString text = QString::number(value, 'f', fractionDigits);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

} // namespace NSNumberVLExtras

namespace NSStringVLAdditions {

QString stringFromFileSize(quint64 size)
{
    if (size < 1023)
        return QCoreApplication::translate("NSStringVLAdditions", "%n byte(s)", nullptr, int(size));
    const double kilo = double(size) / 1024.0;
    if (kilo < 1023)
        return QString::asprintf("%1.0f KB", kilo);
    const double mega = kilo / 1024.0;
    if (mega < 1023)
        return QString::asprintf("%1.1f MB", mega);
    return QString::asprintf("%1.1f GB", mega / 1024.0);
}

QString vl_truncateToLength(const QString &text, qsizetype length)
{
    if (length <= 0)
        return QString();
    if (text.size() <= length)
        return text;
    qsizetype keep = length - 1;
    // Cutting between the halves of a surrogate pair would leave half a character.
    if (keep > 0 && text.at(keep - 1).isHighSurrogate() && text.at(keep).isLowSurrogate())
        --keep;
    return text.left(keep) + QChar(0x2026);
}

} // namespace NSStringVLAdditions

namespace NSDateVLExtras {

DateComponents dateComponentsInUTC(const QDateTime &date)
{
    const QDateTime utc = date.toUTC();
    const QDate day = utc.date();
    const QTime time = utc.time();
    return {day.year(), day.month(), day.day(), time.hour(), time.minute(), time.second()};
}

QString stringInUTCWithTime(const QDateTime &date)
{
    const DateComponents c = dateComponentsInUTC(date);
    return QString::asprintf("%04d%02d%02d-%02d%02d%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
}

} // namespace NSDateVLExtras

namespace NSBezierPathVLExtensions {

QPainterPath bezierPathForBevelWithBasePointBaseLengthWidthAndSide(QPointF p, double l, double w, int side)
{
    const double x = p.x();
    const double y = p.y();
    QPointF points[4];
    switch (side) {
    case 0:
        points[0] = {x, y}, points[1] = {x + l, y}, points[2] = {x + l - w, y - w}, points[3] = {x + w, y - w};
        break;
    case 1:
        points[0] = {x, y}, points[1] = {x + l, y}, points[2] = {x + l - w, y + w}, points[3] = {x + w, y + w};
        break;
    case 2:
        points[0] = {x, y}, points[1] = {x, y + l}, points[2] = {x + w, y + l - w}, points[3] = {x + w, y + w};
        break;
    case 3:
        points[0] = {x, y}, points[1] = {x, y + l}, points[2] = {x - w, y + l - w}, points[3] = {x - w, y + w};
        break;
    default:
        return QPainterPath();
    }
    QPainterPath path(points[0]);
    for (int i = 1; i < 4; ++i)
        path.lineTo(points[i]);
    path.closeSubpath();
    return path;
}

QPainterPath bezierPathWithRoundedRectRadiusCorners(const QRectF &rect, double radius, int corners)
{
    const QRectF r = rect.normalized();
    const double minX = r.left(), maxX = r.right(), minY = r.top(), maxY = r.bottom();
    double radiusUsed = std::isnan(radius) ? 0.0 : std::max(0.0, radius);
    radiusUsed = std::min(radiusUsed, std::min(r.width(), r.height()) / 2.0);

    // Corners in drawing order (clockwise in y-up space from (minX, maxY)),
    // each with the unit directions towards the previous and next corner.
    struct Corner {
        int bit;
        QPointF at;
        QPointF toPrevious;
        QPointF toNext;
    };
    const Corner order[4] = {
        {TopLeftCorner, {minX, maxY}, {0, -1}, {1, 0}},
        {TopRightCorner, {maxX, maxY}, {-1, 0}, {0, -1}},
        {BottomRightCorner, {maxX, minY}, {0, 1}, {-1, 0}},
        {BottomLeftCorner, {minX, minY}, {1, 0}, {0, 1}},
    };
    // A quarter circle as one cubic: control points at this fraction of the
    // radius from the tangent points, towards the corner.
    constexpr double kappa = 0.5522847498307936;
    QPainterPath path;
    for (int i = 0; i < 4; ++i) {
        const Corner &c = order[i];
        const bool rounded = (corners & c.bit) && radiusUsed > 0;
        const QPointF start = rounded ? c.at + c.toPrevious * radiusUsed : c.at;
        if (i == 0)
            path.moveTo(start);
        else
            path.lineTo(start);
        if (rounded) {
            const QPointF end = c.at + c.toNext * radiusUsed;
            path.cubicTo(start - c.toPrevious * (radiusUsed * kappa), end - c.toNext * (radiusUsed * kappa), end);
        }
    }
    path.closeSubpath();
    return path;
}

} // namespace NSBezierPathVLExtensions

namespace NSColorVLExtras {

namespace {
// `direction` +1 brightens, -1 darkens; brightness is HSV value.
QColor scaledBrightness(const QColor &color, double factor, int direction)
{
    float h = 0, s = 0, v = 0, a = 0;
    color.toRgb().getHsvF(&h, &s, &v, &a);
    double value = v + direction * v * factor;
    if (std::isnan(value))
        value = v;
    return QColor::fromHsvF(h, s, float(std::clamp(value, 0.0, 1.0)), a);
}
} // namespace

QColor brightenColorBy(const QColor &color, double factor)
{
    return scaledBrightness(color, factor, 1);
}

QColor darkenColorBy(const QColor &color, double factor)
{
    return scaledBrightness(color, factor, -1);
}

} // namespace NSColorVLExtras

namespace NSAttributedStringColors {

double vlw_textBrightness(const std::optional<QColor> &firstCharacterColor)
{
    const QColor color = firstCharacterColor && firstCharacterColor->isValid() ? firstCharacterColor->toRgb()
                                                                               : QColor(Qt::black);
    return 0.2126 * color.redF() + 0.7152 * color.greenF() + 0.0722 * color.blueF();
}

double vlw_textBrightness(const QTextDocument &text)
{
    if (text.isEmpty())
        return vlw_textBrightness(std::nullopt);
    QTextCursor cursor(const_cast<QTextDocument *>(&text));
    cursor.movePosition(QTextCursor::Start);
    // The format of the first character is the one after the start position.
    cursor.movePosition(QTextCursor::NextCharacter);
    const QTextCharFormat format = cursor.charFormat();
    if (!format.hasProperty(QTextFormat::ForegroundBrush))
        return vlw_textBrightness(std::nullopt);
    return vlw_textBrightness(format.foreground().color());
}

QColor vlw_adaptiveBackgroundColor(double textBrightness)
{
    return textBrightness > 0.5 ? QColor(Qt::black) : QColor(Qt::white);
}

QColor vlw_adaptiveCursorColor(double textBrightness)
{
    return textBrightness > 0.5 ? QColor(Qt::white) : QColor(Qt::black);
}

QColor vlw_adaptiveSelectionColor(double textBrightness)
{
    const double white = vlw_adaptiveBackgroundColor(textBrightness).redF();
    const double level = std::clamp((2.0 * white + textBrightness) / 3.0, 0.0, 1.0);
    return QColor::fromRgbF(float(level), float(level), float(level), 1.0f);
}

} // namespace NSAttributedStringColors
