#include "platform/imaging/ColorMatch.h"

#include <QCryptographicHash>
#include <QGradient>
#include <QRgba64>

#include <cstdlib>

namespace platform {

namespace {

const QColorSpace &srgb()
{
    static const QColorSpace space(QColorSpace::SRgb);
    return space;
}

// A profile that maps sRGB onto itself within half a level of 8 bits (many
// cameras embed their own copy of sRGB) is sRGB for drawing purposes.
bool actsAsSrgb(const QColorTransform &fromSrgb)
{
    for (int r : {0, 32, 128, 255}) {
        for (int g : {0, 96, 255}) {
            for (int b : {0, 64, 200, 255}) {
                const QRgba64 in = QRgba64::fromRgba64(quint16(r * 257), quint16(g * 257), quint16(b * 257), 65535);
                const QRgba64 out = fromSrgb.map(in);
                if (std::abs(int(out.red()) - int(in.red())) > 128 || std::abs(int(out.green()) - int(in.green())) > 128
                    || std::abs(int(out.blue()) - int(in.blue())) > 128)
                    return false;
            }
        }
    }
    return true;
}

} // namespace

ColorMatch::ColorMatch(const QColorSpace &target)
    : m_target(target)
    , m_fromSrgb(srgb().transformationToColorSpace(target))
    , m_key(QCryptographicHash::hash(target.iccProfile(), QCryptographicHash::Sha1))
{
}

bool ColorMatch::isRgbProfile(const QByteArray &icc)
{
    // The data colour space's signature follows size, maker, version and class.
    return icc.size() >= 20 && icc.mid(16, 4) == "RGB ";
}

std::shared_ptr<const ColorMatch> ColorMatch::forTarget(const QColorSpace &target)
{
    if (!target.isValid() || target == srgb())
        return nullptr;
    auto match = std::make_shared<const ColorMatch>(target);
    // Mapping once also builds the transform's tables before threads share it.
    if (actsAsSrgb(match->m_fromSrgb))
        return nullptr;
    return match;
}

QColor ColorMatch::color(const QColor &color) const
{
    if (!color.isValid())
        return color;
    const QRgba64 in = color.toRgb().rgba64();
    QColor out = QColor::fromRgba64(m_fromSrgb.map(in));
    out.setAlpha(color.alpha());
    return out;
}

QBrush ColorMatch::brush(const QBrush &brush) const
{
    switch (brush.style()) {
    case Qt::NoBrush:
    case Qt::TexturePattern:
        return brush;
    case Qt::LinearGradientPattern:
    case Qt::RadialGradientPattern:
    case Qt::ConicalGradientPattern: {
        const QGradient *gradient = brush.gradient();
        if (!gradient)
            return brush;
        QGradientStops stops = gradient->stops();
        for (auto &stop : stops)
            stop.second = color(stop.second);
        QGradient matched = *gradient;
        matched.setStops(stops);
        QBrush result(matched);
        result.setTransform(brush.transform());
        return result;
    }
    default: {
        QBrush out = brush;
        out.setColor(color(brush.color()));
        return out;
    }
    }
}

QPen ColorMatch::pen(const QPen &pen) const
{
    QPen out = pen;
    out.setBrush(brush(pen.brush()));
    return out;
}

bool ColorMatch::needsMatching(const QColorSpace &space) const
{
    const QColorSpace &own = space.isValid() ? space : srgb();
    return own != m_target;
}

QImage ColorMatch::picture(QImage image, const QColorSpace &space) const
{
    if (image.isNull() || !needsMatching(space))
        return image;
    image.setColorSpace(space.isValid() ? space : srgb());
    image.convertToColorSpace(m_target);
    return image;
}

} // namespace platform
