#pragma once

#include <QFont>
#include <QString>

namespace platform {

// Between the PostScript-style font names archives carry ("Helvetica-Bold",
// "TimesNewRomanPSMT") and the families fontconfig knows here. The archived
// system font names (".AppleSystemUIFont", ".SFNS-Regular", "LucidaGrande")
// stand for this system's UI font and come back as ".AppleSystemUIFont".
class FontNames
{
public:
    static bool isSystemFontName(const QString &name);
    // A font of that name and size in points; unknown families are left to
    // fontconfig's substitution.
    static QFont fontForName(const QString &name, double pointSize);
    // The family part of a name ("Times New Roman" for "TimesNewRomanPSMT"),
    // an installed family when one matches.
    static QString familyForName(const QString &name);
    // The PostScript-style name of a font ("DejaVuSans-Bold").
    static QString nameForFont(const QFont &font);
};

} // namespace platform
