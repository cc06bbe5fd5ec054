#pragma once

#include <QByteArray>

namespace platform {

// Image resource blocks as Photoshop files and JPEG's APP13 carry them:
// "8BIM", the id, an empty name, the length and the data padded to even.
class PhotoshopResources
{
public:
    static constexpr quint16 kResolutionInfo = 0x03ED;
    static constexpr quint16 kIptc = 0x0404;
    static constexpr quint16 kIccProfile = 0x040F;
    static constexpr quint16 kExif = 0x0422;
    static constexpr quint16 kXmp = 0x0424;

    static QByteArray block(quint16 id, const QByteArray &data);
    // The resolution block's payload: the same dots per inch on both axes.
    static QByteArray resolutionInfo(double dpi);
};

} // namespace platform
