#include "design/KTFrameColorSettings.h"

#include "design/VLImage.h"
#include "kit/VLValueAdditions.h"
#include "platform/Assert.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/imaging/ColorFilter.h"

#include <algorithm>
#include <cmath>

namespace {

using platform::ColorFilter;

QString str(const char *name)
{
    return QString::fromLatin1(name);
}

double inRange(double v, double low, double high, double fallback)
{
    return std::isfinite(v) ? std::clamp(v, low, high) : fallback;
}

} // namespace

KTFrameColorSettings::KTFrameColorSettings(ForEachPicture forEachPicture, Announce announce)
    : m_forEachPicture(std::move(forEachPicture))
    , m_announce(std::move(announce))
{
}

void KTFrameColorSettings::setSaturationShift(double value)
{
    KT_ASSERT(value >= 0 && value <= 2, QString::asprintf("Saturation value out of limit: %f", value));
    m_saturationShift = value;
    const QString filter = str(ColorFilter::kColorControls);
    if (value == 1.0)
        m_forEachPicture([&](VLImage &image) { image.removeFilter(filter); });
    else
        m_forEachPicture([&](VLImage &image) { image.setValue(value, str(ColorFilter::kInputSaturation), filter); });
    m_announce("saturationShift");
}

void KTFrameColorSettings::setLightnessShift(double value)
{
    KT_ASSERT(value >= -10 && value <= 10, QString::asprintf("Lightness value out of limit: %f", value));
    if (value == m_lightnessShift)
        return;
    m_lightnessShift = value;
    const QString filter = str(ColorFilter::kExposureAdjust);
    if (value == 0.0)
        m_forEachPicture([&](VLImage &image) { image.removeFilter(filter); });
    else
        m_forEachPicture([&](VLImage &image) { image.setValue(value, str(ColorFilter::kInputEV), filter); });
    m_announce("lightnessShift");
}

void KTFrameColorSettings::setColorize(bool on)
{
    if (on == m_colorize)
        return;
    m_colorize = on;
    if (on) {
        m_forEachPicture([](VLImage &image) { image.removeFilter(str(ColorFilter::kColorControls)); });
        setColorizationColor(m_colorizationColor);
    } else {
        m_forEachPicture([](VLImage &image) { image.removeFilter(str(ColorFilter::kColorMonochrome)); });
        setSaturationShift(m_saturationShift);
    }
    m_announce("colorize");
}

void KTFrameColorSettings::setColorizationColor(const QColor &color)
{
    m_colorizationColor = color;
    if (m_colorize) {
        QColor opaque = color.toRgb();
        const double intensity = opaque.alphaF();
        opaque.setAlphaF(1.0f);
        const QString filter = str(ColorFilter::kColorMonochrome);
        m_forEachPicture([&](VLImage &image) {
            image.setValue(opaque, str(ColorFilter::kInputColor), filter);
            image.setValue(intensity, str(ColorFilter::kInputIntensity), filter);
        });
    }
    m_announce("colorizationColor");
}

void KTFrameColorSettings::setOpacity(double value)
{
    m_opacity = value;
    m_forEachPicture([&](VLImage &image) { image.setOpacity(value); });
    m_announce("opacity");
}

void KTFrameColorSettings::setRotation(unsigned quarterTurns)
{
    m_rotation = quarterTurns % 4;
    m_forEachPicture([&](VLImage &image) { image.setRotation(m_rotation); });
    m_announce("rotation");
}

void KTFrameColorSettings::applyToPictures()
{
    m_forEachPicture([&](VLImage &image) {
        image.setRotation(m_rotation);
        image.setOpacity(m_opacity);
    });
    if (m_colorize) {
        m_colorize = false;
        setColorize(true);
    } else if (m_saturationShift != 1.0) {
        setSaturationShift(m_saturationShift);
    }
    if (m_lightnessShift != 0.0) {
        const double ev = m_lightnessShift;
        m_lightnessShift = 0.0;
        setLightnessShift(ev);
    }
}

void KTFrameColorSettings::applySettingsFrom(const KTFrameColorSettings &other)
{
    setColorize(other.colorize());
    setColorizationColor(other.colorizationColor());
    setLightnessShift(other.lightnessShift());
    setSaturationShift(other.saturationShift());
    setOpacity(other.opacity());
}

void KTFrameColorSettings::copyValuesFrom(const KTFrameColorSettings &other)
{
    m_colorize = other.m_colorize;
    m_rotation = other.m_rotation;
    m_colorizationColor = other.m_colorizationColor;
    m_saturationShift = other.m_saturationShift;
    m_lightnessShift = other.m_lightnessShift;
    m_opacity = other.m_opacity;
}

bool KTFrameColorSettings::validateValue(QVariant &value, const QString &keyPath)
{
    using NSNumberVLExtras::numberEnforcedBetweenAnd;
    if (keyPath == QLatin1String("saturationShift"))
        value = numberEnforcedBetweenAnd(value, 0, 2);
    else if (keyPath == QLatin1String("lightnessShift"))
        value = numberEnforcedBetweenAnd(value, -10, 10);
    else if (keyPath == QLatin1String("opacity") || keyPath == QLatin1String("shadowLength"))
        value = numberEnforcedBetweenAnd(value, 0, 1);
    return true;
}

void KTFrameColorSettings::encode(platform::KeyedArchiver &coder) const
{
    coder.encodeFloat(float(m_saturationShift), QStringLiteral("saturationShift"));
    coder.encodeFloat(float(m_lightnessShift), QStringLiteral("lightnessShift"));
    encodeOpacity(coder, m_opacity);
    coder.encodeInteger(qint64(m_rotation), QStringLiteral("rotation"));
    coder.encodeBool(m_colorize, QStringLiteral("colorize"));
    coder.encodeObject(QVariant::fromValue(platform::Color::fromQColor(m_colorizationColor)),
                       QStringLiteral("colorizationColor"));
}

void KTFrameColorSettings::decode(platform::KeyedUnarchiver &coder)
{
    setSaturationShift(inRange(coder.decodeFloatForKey(QStringLiteral("saturationShift")), 0, 2, 1.0));
    setLightnessShift(inRange(coder.decodeFloatForKey(QStringLiteral("lightnessShift")), -10, 10, 0.0));
    setOpacity(decodeOpacity(coder));
    setRotation(unsigned(coder.decodeIntegerForKey(QStringLiteral("rotation")) & 3));
    setColorize(coder.decodeBoolForKey(QStringLiteral("colorize")));
    const QVariant color = coder.decodeObjectForKey(QStringLiteral("colorizationColor"));
    // Without a sound stored colour the frame keeps its own.
    if (color.userType() == qMetaTypeId<platform::Color>() && color.value<platform::Color>().toQColor().isValid())
        setColorizationColor(color.value<platform::Color>().toQColor());
}

void KTFrameColorSettings::encodeOpacity(platform::KeyedArchiver &coder, double opacity)
{
    coder.encodeFloat(float(opacity), QStringLiteral("opacity"));
}

double KTFrameColorSettings::decodeOpacity(platform::KeyedUnarchiver &coder)
{
    return inRange(coder.decodeFloatForKey(QStringLiteral("opacity")), 0, 1, 1.0);
}
