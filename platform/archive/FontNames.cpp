#include "platform/archive/FontNames.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>

namespace platform {

namespace {

const char *const kSystemFontName = ".AppleSystemUIFont";

QString squeezed(const QString &s)
{
    QString out;
    for (QChar c : s) {
        if (c.isLetterOrNumber())
            out += c.toLower();
    }
    return out;
}

// "TimesNewRomanPSMT" -> "TimesNewRoman"
QString withoutVendorSuffix(QString base)
{
    for (const char *suffix : {"PSMT", "MT", "PS"}) {
        if (base.size() > int(qstrlen(suffix)) + 1 && base.endsWith(QLatin1String(suffix)))
            return base.left(base.size() - qsizetype(qstrlen(suffix)));
    }
    return base;
}

// "TimesNewRoman" -> "Times New Roman"
QString spacedCamelCase(const QString &s)
{
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (i > 0 && s[i].isUpper() && (s[i - 1].isLower() || s[i - 1].isDigit()))
            out += QLatin1Char(' ');
        out += s[i];
    }
    return out;
}

QString systemFamily()
{
    if (!QGuiApplication::instance())
        return QString();
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

} // namespace

bool FontNames::isSystemFontName(const QString &name)
{
    return name.startsWith(QLatin1Char('.')) || name == QLatin1String("LucidaGrande")
           || name == QLatin1String("LucidaGrande-Bold") || name.startsWith(QLatin1String("SFNS"))
           || name.startsWith(QLatin1String("SFPro"));
}

QString FontNames::familyForName(const QString &name)
{
    if (isSystemFontName(name))
        return systemFamily();
    const QString base = withoutVendorSuffix(name.section(QLatin1Char('-'), 0, 0));
    if (QGuiApplication::instance()) {
        const QString wanted = squeezed(base);
        const QString whole = squeezed(name);
        for (const QString &family : QFontDatabase::families()) {
            const QString key = squeezed(family);
            if (key == wanted || key == whole)
                return family;
        }
    }
    return spacedCamelCase(base);
}

QFont FontNames::fontForName(const QString &name, double pointSize)
{
    QFont font(familyForName(name));
    if (pointSize > 0)
        font.setPointSizeF(pointSize);
    const QString style = name.section(QLatin1Char('-'), 1).toLower();
    if (!style.isEmpty()) {
        if (style.contains(QLatin1String("black")) || style.contains(QLatin1String("heavy")))
            font.setWeight(QFont::Black);
        else if (style.contains(QLatin1String("semibold")) || style.contains(QLatin1String("demibold")))
            font.setWeight(QFont::DemiBold);
        else if (style.contains(QLatin1String("bold")))
            font.setWeight(QFont::Bold);
        else if (style.contains(QLatin1String("medium")))
            font.setWeight(QFont::Medium);
        else if (style.contains(QLatin1String("light")))
            font.setWeight(QFont::Light);
        if (style.contains(QLatin1String("italic")) || style.contains(QLatin1String("oblique")))
            font.setItalic(true);
    } else if (name.endsWith(QLatin1String("Bold"))) {
        font.setWeight(QFont::Bold); // ".AppleSystemUIFontBold", "LucidaGrandeBold"
    }
    return font;
}

QString FontNames::nameForFont(const QFont &font)
{
    const bool bold = font.weight() >= QFont::DemiBold;
    const bool italic = font.italic();
    if (!font.family().isEmpty() && font.family() == systemFamily())
        return QLatin1String(kSystemFontName) + (bold ? QStringLiteral("Bold") : QString());
    QString base;
    for (QChar c : font.family()) {
        if (!c.isSpace())
            base += c;
    }
    if (bold && italic)
        return base + QStringLiteral("-BoldItalic");
    if (bold)
        return base + QStringLiteral("-Bold");
    if (italic)
        return base + QStringLiteral("-Italic");
    return base;
}

} // namespace platform
