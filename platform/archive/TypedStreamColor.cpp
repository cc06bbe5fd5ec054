#include "platform/archive/TypedStreamColor.h"

#include "platform/archive/Unarchiver.h"

#include <QtEndian>

#include <cmath>
#include <cstring>

namespace platform {

namespace {

// Typed-stream tags.
constexpr char kTagInteger2 = char(0x81);
constexpr char kTagReal = char(0x83);
constexpr char kTagNew = char(0x84);
constexpr char kTagNil = char(0x85);
constexpr char kTagEndOfObject = char(0x86);

void appendSharedString(QByteArray &out, const QByteArray &text)
{
    out.append(kTagNew);
    out.append(char(text.size()));
    out.append(text);
}

// Small whole numbers take one byte; others a tagged 32-bit float.
void appendFloat(QByteArray &out, double value)
{
    const float f = float(value);
    if (std::floor(f) == f && f >= -110 && f <= 127) {
        out.append(char(int(f)));
        return;
    }
    out.append(kTagReal);
    quint32 bits;
    std::memcpy(&bits, &f, sizeof bits);
    char bytes[4];
    qToLittleEndian(bits, bytes);
    out.append(bytes, 4);
}

} // namespace

QByteArray typedStreamDataForColor(const Color &input)
{
    const Color color = input.resolved();
    QByteArray out;
    out.append(char(4));
    out.append(char(11));
    out.append("streamtyped");
    out.append(kTagInteger2);
    out.append(char(0xe8)); // system version 1000, little-endian
    out.append(char(0x03));
    appendSharedString(out, "@");
    // The object, its class chain NSColor : NSObject, then its fields.
    out.append(kTagNew);
    out.append(kTagNew);
    appendSharedString(out, "NSColor");
    out.append(char(0)); // class version
    out.append(kTagNew);
    appendSharedString(out, "NSObject");
    out.append(char(0));
    out.append(kTagNil);

    const bool white = color.colorSpace() == Color::Space::CalibratedWhite
        || color.colorSpace() == Color::Space::DeviceWhite;
    appendSharedString(out, "c");
    if (white) {
        out.append(char(color.colorSpace() == Color::Space::DeviceWhite ? 4 : 3));
        appendSharedString(out, "ff");
        appendFloat(out, color.components().value(0));
        appendFloat(out, color.alpha());
    } else {
        const bool isRGB = (color.colorSpace() == Color::Space::CalibratedRGB
                            || color.colorSpace() == Color::Space::DeviceRGB)
            && color.components().size() == 3;
        QList<double> rgb = color.components();
        if (!isRGB) {
            const QColor converted = color.toQColor().toRgb();
            rgb = {converted.redF(), converted.greenF(), converted.blueF()};
        }
        out.append(char(color.colorSpace() == Color::Space::DeviceRGB ? 2 : 1));
        appendSharedString(out, "ffff");
        for (double component : rgb)
            appendFloat(out, component);
        appendFloat(out, color.alpha());
    }
    out.append(kTagEndOfObject);
    return out;
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
