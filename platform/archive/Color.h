#pragma once

#include <QColor>
#include <QList>
#include <QMetaType>
#include <QString>

#include <memory>

namespace platform {

class KeyedArchiver;
class KeyedUnarchiver;

// A colour as archives hold it: its colour space, its components and alpha.
// Named colours keep their catalogue and name and the colour they stand for.
class Color
{
public:
    // The archived colour-space codes ("NSColorSpace" and the old-style kind).
    enum class Space { CalibratedRGB = 1, DeviceRGB = 2, CalibratedWhite = 3, DeviceWhite = 4, DeviceCMYK = 5, Named = 6 };

    Color(); // opaque black, calibrated RGB
    static Color rgb(double red, double green, double blue, double alpha = 1.0, Space space = Space::CalibratedRGB);
    static Color white(double white, double alpha = 1.0, Space space = Space::CalibratedWhite);
    static Color cmyk(double cyan, double magenta, double yellow, double black, double alpha = 1.0);
    static Color named(const QString &catalogName, const QString &colorName, const Color &resolved);
    static Color fromQColor(const QColor &color); // calibrated RGB

    Space colorSpace() const { return m_space; }
    // The components without alpha: 3 for RGB, 1 for white, 4 for CMYK, none for named.
    const QList<double> &components() const { return m_components; }
    double alpha() const { return m_alpha; }
    QString catalogName() const { return m_catalogName; }
    QString colorName() const { return m_colorName; }
    // For a named colour, the colour it stands for; else the colour itself.
    Color resolved() const;

    QColor toQColor() const;

    bool operator==(const Color &other) const;
    bool operator!=(const Color &other) const { return !(*this == other); }

    // Keyed form ("NSColorSpace" with "NSRGB"/"NSWhite"/"NSCMYK", or the
    // named keys); decode reads "NSComponents" when the ASCII form is missing.
    void encode(KeyedArchiver &coder) const;
    static Color decode(KeyedUnarchiver &coder);
    static QStringList archiveClassNames();

private:
    Space m_space = Space::CalibratedRGB;
    QList<double> m_components{0, 0, 0};
    double m_alpha = 1.0;
    QString m_catalogName;
    QString m_colorName;
    std::shared_ptr<const Color> m_resolved;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::Color)
