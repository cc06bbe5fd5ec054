#include "platform/archive/TypedStreamColor.h"

#include "platform/archive/Archiver.h"
#include "platform/archive/Unarchiver.h"

#include <QColor>

namespace platform {

QByteArray typedStreamDataForColor(const Color &input)
{
    Color color = input.resolved();
    switch (color.colorSpace()) {
    case Color::Space::CalibratedRGB:
    case Color::Space::DeviceRGB:
    case Color::Space::CalibratedWhite:
    case Color::Space::DeviceWhite:
        break;
    default: {
        const QColor rgb = color.toQColor().toRgb();
        color = Color::rgb(rgb.redF(), rgb.greenF(), rgb.blueF(), color.alpha());
        break;
    }
    }
    return Archiver::archivedDataWithRootObject(QVariant::fromValue(color));
}

std::optional<Color> colorFromArchivedData(const QByteArray &data)
{
    if (data.isEmpty())
        return std::nullopt;
    const Unarchiver::Result result = Unarchiver::unarchiveObjectWithData(data);
    if (!result.ok() || result.object.metaType() != QMetaType::fromType<Color>())
        return std::nullopt;
    return result.object.value<Color>();
}

} // namespace platform
