#include "platform/archive/Color.h"

#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

double unit(double v)
{
    return std::clamp(v, 0.0, 1.0);
}

// Components in the keyed colour form: ASCII numbers separated by blanks,
// alpha only when not 1, ending with a NUL.
QByteArray asciiComponents(const QList<double> &components, double alpha)
{
    QList<double> all = components;
    if (alpha != 1.0)
        all.append(alpha);
    QByteArray text;
    for (qsizetype i = 0; i < all.size(); ++i) {
        if (i)
            text += ' ';
        text += QByteArray::number(all[i], 'g', QLocale::FloatingPointShortest);
    }
    text += '\0';
    return text;
}

bool parseComponents(const QByteArray &data, QList<double> *out)
{
    QByteArray text = data;
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    const QList<QByteArray> parts = text.simplified().split(' ');
    out->clear();
    for (const QByteArray &p : parts) {
        if (p.isEmpty())
            continue;
        bool ok = false;
        const double v = p.toDouble(&ok);
        if (!ok || !std::isfinite(v))
            return false;
        out->append(v);
        if (out->size() > 8)
            return false;
    }
    return true;
}

} // namespace

Color::Color() = default;

Color Color::rgb(double red, double green, double blue, double alpha, Space space)
{
    Color c;
    c.m_space = space == Space::DeviceRGB ? Space::DeviceRGB : Space::CalibratedRGB;
    c.m_components = {red, green, blue};
    c.m_alpha = alpha;
    return c;
}

Color Color::white(double white, double alpha, Space space)
{
    Color c;
    c.m_space = space == Space::DeviceWhite ? Space::DeviceWhite : Space::CalibratedWhite;
    c.m_components = {white};
    c.m_alpha = alpha;
    return c;
}

Color Color::cmyk(double cyan, double magenta, double yellow, double black, double alpha)
{
    Color c;
    c.m_space = Space::DeviceCMYK;
    c.m_components = {cyan, magenta, yellow, black};
    c.m_alpha = alpha;
    return c;
}

Color Color::named(const QString &catalogName, const QString &colorName, const Color &resolved)
{
    Color c;
    c.m_space = Space::Named;
    c.m_components.clear();
    c.m_catalogName = catalogName;
    c.m_colorName = colorName;
    const Color r = resolved.resolved();
    c.m_alpha = r.alpha();
    c.m_resolved = std::make_shared<const Color>(r);
    return c;
}

Color Color::fromQColor(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return Color::rgb(rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF());
}

Color Color::resolved() const
{
    if (m_space == Space::Named)
        return m_resolved ? *m_resolved : Color();
    return *this;
}

QColor Color::toQColor() const
{
    const QList<double> &c = m_components;
    switch (m_space) {
    case Space::CalibratedRGB:
    case Space::DeviceRGB:
        return QColor::fromRgbF(float(unit(c.value(0))), float(unit(c.value(1))), float(unit(c.value(2))), float(unit(m_alpha)));
    case Space::CalibratedWhite:
    case Space::DeviceWhite: {
        const float w = float(unit(c.value(0)));
        return QColor::fromRgbF(w, w, w, float(unit(m_alpha)));
    }
    case Space::DeviceCMYK:
        return QColor::fromCmykF(float(unit(c.value(0))), float(unit(c.value(1))), float(unit(c.value(2))),
                                 float(unit(c.value(3))), float(unit(m_alpha)));
    case Space::Named:
        return resolved().toQColor();
    }
    return QColor(Qt::black);
}

bool Color::operator==(const Color &other) const
{
    if (m_space != other.m_space || m_components != other.m_components || m_alpha != other.m_alpha
        || m_catalogName != other.m_catalogName || m_colorName != other.m_colorName)
        return false;
    if (m_space == Space::Named)
        return resolved() == other.resolved();
    return true;
}

QStringList Color::archiveClassNames()
{
    return {QStringLiteral("NSColor"), QStringLiteral("NSObject")};
}

void Color::encode(KeyedArchiver &coder) const
{
    coder.encodeInt(int(m_space), QStringLiteral("NSColorSpace"));
    switch (m_space) {
    case Space::CalibratedRGB:
    case Space::DeviceRGB:
        coder.encodeBytes(asciiComponents(m_components, m_alpha), QStringLiteral("NSRGB"));
        break;
    case Space::CalibratedWhite:
    case Space::DeviceWhite:
        coder.encodeBytes(asciiComponents(m_components, m_alpha), QStringLiteral("NSWhite"));
        break;
    case Space::DeviceCMYK:
        coder.encodeBytes(asciiComponents(m_components, m_alpha), QStringLiteral("NSCMYK"));
        break;
    case Space::Named:
        coder.encodeString(m_catalogName, QStringLiteral("NSCatalogName"));
        coder.encodeString(m_colorName, QStringLiteral("NSColorName"));
        coder.encodeObject(QVariant::fromValue(resolved()), QStringLiteral("NSColor"));
        break;
    }
}

Color Color::decode(KeyedUnarchiver &coder)
{
    const int space = coder.decodeIntForKey(QStringLiteral("NSColorSpace"));
    auto components = [&](const char *key, int count, Color *out) {
        QByteArray data;
        const QString k = QString::fromLatin1(key);
        if (coder.containsValueForKey(k))
            data = coder.decodeBytesForKey(k);
        else
            data = coder.decodeBytesForKey(QStringLiteral("NSComponents"));
        QList<double> values;
        if (coder.hasError() || !parseComponents(data, &values) || values.size() < count) {
            coder.failWithError(QStringLiteral("damaged colour components"));
            return false;
        }
        out->m_components = values.mid(0, count);
        out->m_alpha = values.size() > count ? values[count] : 1.0;
        return true;
    };
    Color c;
    switch (space) {
    case 1:
    case 2:
        c.m_space = Space(space);
        components("NSRGB", 3, &c);
        return c;
    case 3:
    case 4:
        c.m_space = Space(space);
        components("NSWhite", 1, &c);
        return c;
    case 5:
        c.m_space = Space::DeviceCMYK;
        components("NSCMYK", 4, &c);
        return c;
    case 6: {
        const QString catalog = coder.decodeStringForKey(QStringLiteral("NSCatalogName"));
        const QString name = coder.decodeStringForKey(QStringLiteral("NSColorName"));
        const QVariant resolved = coder.decodeObjectForKey(QStringLiteral("NSColor"));
        return Color::named(catalog, name, resolved.value<Color>());
    }
    default:
        coder.failWithError(QStringLiteral("unknown colour space %1").arg(space));
        return c;
    }
}

} // namespace platform
