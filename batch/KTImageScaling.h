#pragma once

#include "platform/archive/Coding.h"

#include <QSize>
#include <QSizeF>
#include <QString>
#include <QVariant>

enum KTImageScalingType : qint64 {
    KTImageScalingTypeOriginal = 0,
    KTImageScalingTypeCustomWidth = 1,
    KTImageScalingTypeCustomHeight = 2,
    KTImageScalingTypeFixInSize = 3,
};

enum KTImageUnits : quint64 {
    KTImageUnitsPixels = 0,
    KTImageUnitsInches = 1,
    KTImageUnitsCentimeters = 2,
    KTImageUnitsMillimeters = 3,
};

// The output size rule of a batch run: the framed size, a fixed width, a
// fixed height or both, entered in pixels, inches, centimetres or
// millimetres at a resolution, with the output quality. Archived in presets
// under "type", "units", "width", "height", "dpi" and "quality".
class KTImageScaling : public platform::Coding
{
public:
    static constexpr const char *kClassName = "KTImageScaling";
    // The smallest side the size fields accept, and the value of an emptied one.
    static constexpr double kMinimumPixels = 10;
    static constexpr double kEmptyFieldValue = 16;
    static constexpr double kMinimumDpi = 16;
    static constexpr double kDefaultDpi = 72;

    KTImageScaling() = default;
    // 1920 x 1080 px at 72 dpi from the framed size, quality 0.9 as a float.
    static std::shared_ptr<KTImageScaling> defaultScaling();
    std::shared_ptr<KTImageScaling> copy() const { return std::make_shared<KTImageScaling>(*this); }

    KTImageScalingType type() const { return m_type; }
    void setType(KTImageScalingType type) { m_type = type; }
    KTImageUnits units() const { return m_units; }
    // Converts width and height to the new units at the current dpi.
    void setUnits(KTImageUnits units);
    double width() const { return m_width; }
    void setWidth(double width) { m_width = width; }
    double height() const { return m_height; }
    void setHeight(double height) { m_height = height; }
    double dpi() const { return m_dpi; }
    void setDpi(double dpi) { m_dpi = dpi; }
    double imageQuality() const { return m_imageQuality; }
    void setImageQuality(double quality) { m_imageQuality = quality; }

    double pixelsWidth() const { return convertToPixelsFrom(m_units, m_width); }
    double pixelsHeight() const { return convertToPixelsFrom(m_units, m_height); }

    // The output size for a picture of `input` pixels (the framed size):
    // unchanged, a fixed width or height with the picture's proportions, or
    // both fixed. Empty for an unknown type or an empty input.
    QSize scale(const QSizeF &input) const;

    // Whole pixels, rounded down; a value a hair below a whole number through
    // floating point counts as that number, so a round trip loses nothing.
    double convertToPixelsFrom(KTImageUnits units, double value) const;
    double convertFromPixelsTo(KTImageUnits units, double pixels) const;

    // The size fields' checks: at least 10 pixels; a resolution is whole and
    // at least 16. An invalid proposal is left alone. Always accept.
    bool validateWidth(QVariant *value) const { return validateLength(value); }
    bool validateHeight(QVariant *value) const { return validateLength(value); }
    bool validateDpi(QVariant *value) const;
    // An emptied field: "width" and "height" 16, "dpi" 72.
    void setNilValueForKey(const QString &key);

    // Which size fields the configuration hides for a rule (none given: as the fields start).
    static bool shouldHideWidth(const KTImageScaling *scaling);
    static bool shouldHideHeight(const KTImageScaling *scaling);
    static bool shouldHideDpiAndUnits(const KTImageScaling *scaling);

    static QString titleForType(qint64 type);
    static QString titleForUnits(quint64 units);

    // Keyed archive.
    QStringList archiveClassNames() const override;
    void encode(platform::KeyedArchiver &coder) const override;
    // Values that could not come from the configuration (unknown type or
    // units, dpi not above zero, sizes not above zero, quality outside 0..1,
    // anything not finite) are brought back into range, so a damaged preset
    // never asks for an impossible picture.
    void decode(platform::KeyedUnarchiver &coder) override;
    static void registerArchiveClass();
    QByteArray archivedData() const;
    // None when the data are no archive of a scaling.
    static std::shared_ptr<KTImageScaling> fromArchivedData(const QByteArray &data);

private:
    bool validateLength(QVariant *value) const;

    KTImageScalingType m_type = KTImageScalingTypeOriginal;
    KTImageUnits m_units = KTImageUnitsPixels;
    double m_width = 0;
    double m_height = 0;
    double m_dpi = 0;
    double m_imageQuality = 0;
};
