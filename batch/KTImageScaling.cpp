#include "batch/KTImageScaling.h"

#include "design/KTTemplateRenderer.h"
#include "platform/Assert.h"
#include "platform/Log.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

// Floating point leaves 23 px → cm → px at 22.999999999999996: that is 23.
double floorWhole(double value)
{
    return std::floor(value + 1e-9 * std::max(1.0, std::abs(value)));
}

} // namespace

std::shared_ptr<KTImageScaling> KTImageScaling::defaultScaling()
{
    auto scaling = std::make_shared<KTImageScaling>();
    scaling->m_type = KTImageScalingTypeOriginal;
    scaling->m_units = KTImageUnitsPixels;
    scaling->m_width = 1920;
    scaling->m_height = 1080;
    scaling->m_dpi = kDefaultDpi;
    scaling->m_imageQuality = double(0.9f);
    return scaling;
}

double KTImageScaling::convertToPixelsFrom(KTImageUnits units, double value) const
{
    switch (units) {
    case KTImageUnitsPixels:
        return floorWhole(value);
    case KTImageUnitsInches:
        return floorWhole(value * m_dpi);
    case KTImageUnitsCentimeters:
        return floorWhole(m_dpi * value / 2.54);
    case KTImageUnitsMillimeters:
        return floorWhole(m_dpi * value / 25.4);
    }
    return floorWhole(value);
}

double KTImageScaling::convertFromPixelsTo(KTImageUnits units, double pixels) const
{
    switch (units) {
    case KTImageUnitsPixels:
        return pixels;
    case KTImageUnitsInches:
        return pixels / m_dpi;
    case KTImageUnitsCentimeters:
        return pixels / m_dpi * 2.54;
    case KTImageUnitsMillimeters:
        return pixels / m_dpi * 25.4;
    }
    return pixels;
}

void KTImageScaling::setUnits(KTImageUnits units)
{
    if (units == m_units)
        return;
    const double w = convertToPixelsFrom(m_units, m_width);
    const double h = convertToPixelsFrom(m_units, m_height);
    m_units = units;
    m_width = convertFromPixelsTo(units, w);
    m_height = convertFromPixelsTo(units, h);
}

QSize KTImageScaling::scale(const QSizeF &input) const
{
    const double w = input.width();
    const double h = input.height();
    if (!(w > 0) || !(h > 0) || !std::isfinite(w) || !std::isfinite(h))
        return {};
    const double a = w / h;
    auto whole = [](double v) { return int(std::clamp(v, 1.0, 1e9)); };
    switch (m_type) {
    case KTImageScalingTypeOriginal:
        return KTTemplateRenderer::wholePixelSize(input);
    case KTImageScalingTypeCustomWidth:
        return QSize(whole(pixelsWidth()), whole(floorWhole(pixelsWidth() / a)));
    case KTImageScalingTypeCustomHeight:
        return QSize(whole(floorWhole(a * pixelsHeight())), whole(pixelsHeight()));
    case KTImageScalingTypeFixInSize:
        return QSize(whole(pixelsWidth()), whole(pixelsHeight()));
    }
    KT_ASSERT(false, QStringLiteral("Invalid scaling type value: %1").arg(qint64(m_type)));
    return {};
}

bool KTImageScaling::validateLength(QVariant *value) const
{
    if (!value || !value->isValid() || value->isNull())
        return true;
    bool ok = false;
    const double proposed = value->toDouble(&ok);
    if (!ok)
        return true;
    if (convertToPixelsFrom(m_units, proposed) < kMinimumPixels)
        *value = convertFromPixelsTo(m_units, kMinimumPixels);
    return true;
}

bool KTImageScaling::validateDpi(QVariant *value) const
{
    if (!value || !value->isValid() || value->isNull())
        return true;
    bool ok = false;
    const double proposed = value->toDouble(&ok);
    if (!ok)
        return true;
    double whole = std::isfinite(proposed) ? std::trunc(proposed) : kDefaultDpi;
    if (whole < kMinimumDpi)
        whole = kMinimumDpi;
    *value = whole;
    return true;
}

void KTImageScaling::setNilValueForKey(const QString &key)
{
    if (key == QLatin1String("width"))
        setWidth(kEmptyFieldValue);
    else if (key == QLatin1String("height"))
        setHeight(kEmptyFieldValue);
    else if (key == QLatin1String("dpi"))
        setDpi(kDefaultDpi);
    else
        KT_ASSERT(false, QStringLiteral("Unexpected nil value for key %1").arg(key));
}

bool KTImageScaling::shouldHideWidth(const KTImageScaling *scaling)
{
    return !scaling || (scaling->type() != KTImageScalingTypeCustomWidth && scaling->type() != KTImageScalingTypeFixInSize);
}

bool KTImageScaling::shouldHideHeight(const KTImageScaling *scaling)
{
    return scaling && scaling->type() != KTImageScalingTypeCustomHeight && scaling->type() != KTImageScalingTypeFixInSize;
}

bool KTImageScaling::shouldHideDpiAndUnits(const KTImageScaling *scaling)
{
    return scaling && scaling->type() == KTImageScalingTypeOriginal;
}

QString KTImageScaling::titleForType(qint64 type)
{
    switch (type) {
    case KTImageScalingTypeOriginal:
        return QCoreApplication::translate("KTImageScaling", "From original");
    case KTImageScalingTypeCustomWidth:
        return QCoreApplication::translate("KTImageScaling", "Custom width");
    case KTImageScalingTypeCustomHeight:
        return QCoreApplication::translate("KTImageScaling", "Custom height");
    case KTImageScalingTypeFixInSize:
        return QCoreApplication::translate("KTImageScaling", "Fix in size");
    }
    return {};
}

QString KTImageScaling::titleForUnits(quint64 units)
{
    switch (units) {
    case KTImageUnitsPixels:
        return QCoreApplication::translate("KTImageScaling", "pixels");
    case KTImageUnitsInches:
        return QCoreApplication::translate("KTImageScaling", "inches");
    case KTImageUnitsCentimeters:
        return QCoreApplication::translate("KTImageScaling", "cm");
    case KTImageUnitsMillimeters:
        return QCoreApplication::translate("KTImageScaling", "mm");
    }
    return {};
}

// --- archive ---

QStringList KTImageScaling::archiveClassNames() const
{
    return {QString::fromLatin1(kClassName), QStringLiteral("NSObject")};
}

void KTImageScaling::encode(platform::KeyedArchiver &coder) const
{
    coder.encodeInteger(qint64(m_type), QStringLiteral("type"));
    coder.encodeInteger(qint64(m_units), QStringLiteral("units"));
    coder.encodeDouble(m_width, QStringLiteral("width"));
    coder.encodeDouble(m_height, QStringLiteral("height"));
    coder.encodeDouble(m_dpi, QStringLiteral("dpi"));
    coder.encodeDouble(m_imageQuality, QStringLiteral("quality"));
}

void KTImageScaling::decode(platform::KeyedUnarchiver &coder)
{
    const qint64 type = coder.decodeIntegerForKey(QStringLiteral("type"));
    const qint64 units = coder.decodeIntegerForKey(QStringLiteral("units"));
    m_type = type >= 0 && type <= 3 ? KTImageScalingType(type) : KTImageScalingTypeOriginal;
    m_units = units >= 0 && units <= 3 ? KTImageUnits(units) : KTImageUnitsPixels;
    m_width = coder.decodeDoubleForKey(QStringLiteral("width"));
    m_height = coder.decodeDoubleForKey(QStringLiteral("height"));
    m_dpi = coder.decodeDoubleForKey(QStringLiteral("dpi"));
    m_imageQuality = coder.decodeDoubleForKey(QStringLiteral("quality"));
    if (!(m_dpi > 0) || !std::isfinite(m_dpi))
        m_dpi = kDefaultDpi;
    m_dpi = std::min(m_dpi, 100000.0);
    const double smallest = convertFromPixelsTo(m_units, kMinimumPixels);
    const double largest = convertFromPixelsTo(m_units, 1000000.0);
    for (double *side : {&m_width, &m_height}) {
        if (!std::isfinite(*side) || convertToPixelsFrom(m_units, *side) < kMinimumPixels)
            *side = smallest;
        *side = std::min(*side, largest);
    }
    if (!std::isfinite(m_imageQuality))
        m_imageQuality = 0;
    m_imageQuality = std::clamp(m_imageQuality, 0.0, 1.0);
}

void KTImageScaling::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] { platform::KeyedClassRegistry::shared().registerClass<KTImageScaling>(QString::fromLatin1(kClassName)); });
}

QByteArray KTImageScaling::archivedData() const
{
    registerArchiveClass();
    return platform::KeyedArchiver::archivedDataWithRootObject(
        std::shared_ptr<const platform::Coding>(std::make_shared<KTImageScaling>(*this)));
}

std::shared_ptr<KTImageScaling> KTImageScaling::fromArchivedData(const QByteArray &data)
{
    registerArchiveClass();
    if (data.isEmpty())
        return nullptr;
    const auto result = platform::KeyedUnarchiver::unarchiveTopLevelObjectWithData(data);
    if (!result.ok()) {
        platform::logLine(QStringLiteral("Warning: the output size of a preset can't be read: %1").arg(result.error().description));
        return nullptr;
    }
    const auto object = result.value().value<std::shared_ptr<platform::Coding>>();
    return std::dynamic_pointer_cast<KTImageScaling>(object);
}
