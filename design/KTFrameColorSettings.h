#pragma once

#include <QColor>
#include <QString>
#include <QVariant>

#include <functional>

class VLImage;
namespace platform {
class KeyedArchiver;
class KeyedUnarchiver;
}

// The colour settings full frames and mouldings share: saturation and
// lightness shifts, colourising with one colour, opacity and a turn in
// quarter turns. They act on the frame's pictures themselves (their filter
// chains, opacity and rotation), so every drawing shows them. The owning
// layer says which pictures there are and hears of every change by key.
class KTFrameColorSettings
{
public:
    // Calls the action on each picture the settings reach.
    using ForEachPicture = std::function<void(const std::function<void(VLImage &)> &)>;
    // A setting changed: "saturationShift", "lightnessShift", "colorize",
    // "colorizationColor", "opacity" or "rotation".
    using Announce = std::function<void(const char *key)>;

    KTFrameColorSettings(ForEachPicture forEachPicture, Announce announce);
    KTFrameColorSettings(const KTFrameColorSettings &) = delete;
    KTFrameColorSettings &operator=(const KTFrameColorSettings &) = delete;

    bool colorize() const { return m_colorize; }
    QColor colorizationColor() const { return m_colorizationColor; }
    double saturationShift() const { return m_saturationShift; }
    double lightnessShift() const { return m_lightnessShift; }
    double opacity() const { return m_opacity; }
    unsigned rotation() const { return m_rotation; }

    // 0..2; outside that is a programming error.
    void setSaturationShift(double value);
    // -10..10 EV; outside that is a programming error. Unchanged: nothing happens.
    void setLightnessShift(double value);
    void setColorize(bool on);
    // The colour's alpha is the intensity.
    void setColorizationColor(const QColor &color);
    void setOpacity(double value);
    // Only quarter turns 0 to 3 exist: a larger count is the same turn.
    void setRotation(unsigned quarterTurns);

    // Puts the settings on pictures loaded after they were set.
    void applyToPictures();
    // Another frame's colour settings through the setters: colorize,
    // colorizationColor, lightnessShift, saturationShift, opacity.
    void applySettingsFrom(const KTFrameColorSettings &other);
    // The values alone, for a copy whose pictures are copies already.
    void copyValuesFrom(const KTFrameColorSettings &other);

    // Clamps "saturationShift" to 0..2, "lightnessShift" to -10..10,
    // "opacity" and "shadowLength" to 0..1; other keys pass. Always true.
    static bool validateValue(QVariant &value, const QString &keyPath);

    // "saturationShift", "lightnessShift", "opacity" (32-bit floats),
    // "rotation" (integer), "colorize" (boolean), "colorizationColor".
    void encode(platform::KeyedArchiver &coder) const;
    // Each value through its setter. An archive is data: values out of range
    // are brought into range, values that are no number take the default.
    void decode(platform::KeyedUnarchiver &coder);
    // "opacity" alone, as a mat stores it; a decoded opacity is within 0..1.
    static void encodeOpacity(platform::KeyedArchiver &coder, double opacity);
    static double decodeOpacity(platform::KeyedUnarchiver &coder);

private:
    ForEachPicture m_forEachPicture;
    Announce m_announce;
    bool m_colorize = false;
    unsigned m_rotation = 0;
    QColor m_colorizationColor = QColor::fromRgbF(1.0f, 0.73f, 0.613f, 1.0f);
    double m_saturationShift = 1.0;
    double m_lightnessShift = 0.0;
    double m_opacity = 1.0;
};
