#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <vector>

namespace platform {

// One colour filter of a picture's filter chain, named and keyed like the
// filters the design model was written for:
//   "CIColorControls"   "inputSaturation" (1), "inputBrightness" (0), "inputContrast" (1)
//   "CIExposureAdjust"  "inputEV" (0)
//   "CIColorMonochrome" "inputColor" (0.6, 0.45, 0.3), "inputIntensity" (1)
// Filtering happens in linear light: un-premultiply, sRGB to linear by table,
// filter in float, clamp, back to sRGB by a 4096-entry table, premultiply.
class ColorFilter
{
public:
    static constexpr const char *kColorControls = "CIColorControls";
    static constexpr const char *kExposureAdjust = "CIExposureAdjust";
    static constexpr const char *kColorMonochrome = "CIColorMonochrome";
    static constexpr const char *kFilterNameAttribute = "kCIAttributeFilterName";
    static constexpr const char *kInputSaturation = "inputSaturation";
    static constexpr const char *kInputBrightness = "inputBrightness";
    static constexpr const char *kInputContrast = "inputContrast";
    static constexpr const char *kInputEV = "inputEV";
    static constexpr const char *kInputColor = "inputColor";
    static constexpr const char *kInputIntensity = "inputIntensity";

    // A filter of that name with its default values; null for a name not known here.
    static std::shared_ptr<ColorFilter> filterWithName(const QString &name);

    QString name() const { return m_name; }
    // Also answers the name for "kCIAttributeFilterName".
    QVariant value(const QString &key) const;
    void setValue(const QString &key, const QVariant &value);
    void setDefaults();
    QVariantMap values() const { return m_values; }

    using Chain = std::vector<std::shared_ptr<ColorFilter>>;
    // Runs the chain over a premultiplied 32-bit picture, filter 0 first,
    // in place; rows are split across threads for large pictures.
    static void applyChain(const Chain &chain, QImage &image);

private:
    explicit ColorFilter(QString name);
    QString m_name;
    QVariantMap m_values;
};

} // namespace platform
