#include "app/KTPresentationSettings.h"

#include "design/KTPreferenceKeys.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Archiver.h"
#include "platform/archive/TypedStreamColor.h"

#include <QHash>

#include <cmath>

using namespace platform;

namespace {

QString base(const char *key)
{
    return QString::fromLatin1(key);
}

QString userKey(const QString &key)
{
    return QString::fromLatin1(KTPresentationSettings::kUserPrefix) + key;
}

size_t colorHash(const std::optional<Color> &color)
{
    if (!color)
        return 0;
    size_t h = qHash(int(color->colorSpace())) ^ qHash(color->alpha());
    for (double c : color->components())
        h = h * 31 + qHash(c);
    return h;
}

// The integer part of |value|, 0 for what has none.
size_t integerPart(double value)
{
    const double magnitude = std::fabs(value);
    return std::isfinite(magnitude) && magnitude < 1e18 ? size_t(magnitude) : 0;
}

} // namespace

KTPresentationSettings::KTPresentationSettings(std::optional<Color> leftColor, std::optional<Color> rightColor,
                                               double sliderPosition, double zoomLevel)
    : m_leftColor(std::move(leftColor))
    , m_rightColor(std::move(rightColor))
    , m_colorSliderPosition(sliderPosition)
    , m_zoomLevel(zoomLevel)
{
}

Color KTPresentationSettings::storedColor(const Color &color)
{
    return colorFromArchivedData(Archiver::archivedDataWithRootObject(QVariant::fromValue(color))).value_or(color);
}

void KTPresentationSettings::save() const
{
    UserDefaults &defaults = UserDefaults::standard();
    auto saveColor = [&defaults](const char *key, const std::optional<Color> &color) {
        if (color)
            defaults.setObject(userKey(base(key)), Archiver::archivedDataWithRootObject(QVariant::fromValue(*color)));
        else
            defaults.removeObject(userKey(base(key)));
    };
    saveColor(KTPreferenceKeys::kLeftBackgroundColorKey, m_leftColor);
    saveColor(KTPreferenceKeys::kRightBackgroundColorKey, m_rightColor);
    defaults.setDouble(userKey(base(KTPreferenceKeys::kBackgroundColorSliderPositionKey)), m_colorSliderPosition);
    defaults.setDouble(userKey(base(KTPreferenceKeys::kDesignViewZoomLevelKey)), m_zoomLevel);
}

void KTPresentationSettings::reset()
{
    UserDefaults &defaults = UserDefaults::standard();
    for (const char *key : {KTPreferenceKeys::kLeftBackgroundColorKey, KTPreferenceKeys::kRightBackgroundColorKey,
                            KTPreferenceKeys::kBackgroundColorSliderPositionKey, KTPreferenceKeys::kDesignViewZoomLevelKey})
        defaults.removeObject(userKey(base(key)));
}

KTPresentationSettings KTPresentationSettings::previousSettings()
{
    if (!UserDefaults::standard().objectForKey(userKey(base(KTPreferenceKeys::kLeftBackgroundColorKey))).isValid())
        defaultSettings().save();
    return settingsWithKeyGenerator(userKey);
}

KTPresentationSettings KTPresentationSettings::defaultSettings()
{
    return settingsWithKeyGenerator([](const QString &key) { return key; });
}

KTPresentationSettings KTPresentationSettings::settingsWithKeyGenerator(
    const std::function<QString(const QString &)> &keyFor)
{
    UserDefaults &defaults = UserDefaults::standard();
    return KTPresentationSettings(
        colorFromArchivedData(defaults.dataForKey(keyFor(base(KTPreferenceKeys::kLeftBackgroundColorKey)))),
        colorFromArchivedData(defaults.dataForKey(keyFor(base(KTPreferenceKeys::kRightBackgroundColorKey)))),
        defaults.doubleForKey(keyFor(base(KTPreferenceKeys::kBackgroundColorSliderPositionKey))),
        defaults.doubleForKey(keyFor(base(KTPreferenceKeys::kDesignViewZoomLevelKey))));
}

bool KTPresentationSettings::operator==(const KTPresentationSettings &other) const
{
    return m_leftColor == other.m_leftColor && m_rightColor == other.m_rightColor
        && m_colorSliderPosition == other.m_colorSliderPosition && m_zoomLevel == other.m_zoomLevel;
}

size_t KTPresentationSettings::hash() const
{
    return colorHash(m_leftColor) ^ colorHash(m_rightColor)
        ^ integerPart(m_colorSliderPosition * 1000) ^ integerPart(m_zoomLevel * 1000);
}
