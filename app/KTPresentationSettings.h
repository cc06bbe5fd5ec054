#pragma once

#include "platform/archive/Color.h"

#include <QString>

#include <functional>
#include <optional>

// A saved set of presentation choices: the two background colours, the blend
// position between them and the zoom. The factory set lives under the
// registered keys, the user's own under the same keys with "User" in front.
class KTPresentationSettings
{
public:
    static constexpr const char *kUserPrefix = "User";

    KTPresentationSettings() = default;
    KTPresentationSettings(std::optional<platform::Color> leftColor, std::optional<platform::Color> rightColor,
                           double sliderPosition, double zoomLevel);

    // Writes the four values under the "User" keys.
    void save() const;
    // Removes the four "User" keys.
    static void reset();
    // The user's set; on first use the factory set is saved as the user's.
    static KTPresentationSettings previousSettings();
    static KTPresentationSettings defaultSettings();
    // Reads the four values from the keys the generator makes of the base keys.
    static KTPresentationSettings settingsWithKeyGenerator(const std::function<QString(const QString &)> &keyFor);

    const std::optional<platform::Color> &leftColor() const { return m_leftColor; }
    void setLeftColor(std::optional<platform::Color> color) { m_leftColor = std::move(color); }
    const std::optional<platform::Color> &rightColor() const { return m_rightColor; }
    void setRightColor(std::optional<platform::Color> color) { m_rightColor = std::move(color); }
    double colorSliderPosition() const { return m_colorSliderPosition; }
    void setColorSliderPosition(double position) { m_colorSliderPosition = position; }
    double zoomLevel() const { return m_zoomLevel; }
    void setZoomLevel(double zoom) { m_zoomLevel = zoom; }

    // The colour as it reads back from the settings (single-precision
    // components), so that a saved set compares equal to what was saved.
    static platform::Color storedColor(const platform::Color &color);

    bool operator==(const KTPresentationSettings &other) const;
    bool operator!=(const KTPresentationSettings &other) const { return !(*this == other); }
    size_t hash() const;

private:
    std::optional<platform::Color> m_leftColor;
    std::optional<platform::Color> m_rightColor;
    double m_colorSliderPosition = 0;
    double m_zoomLevel = 0;
};
