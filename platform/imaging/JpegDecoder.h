#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace platform {

// The fast path for JPEG: libjpeg-turbo decodes straight into the premultiplied
// 32-bit layout the drawing code uses, with no conversion pass afterwards.
class JpegDecoder
{
public:
    enum class Status { Ok, Unsupported, Damaged };

    static bool canDecode(const QByteArray &data);
    // RGB and greyscale JPEGs. CMYK/YCCK answer Unsupported (the caller takes
    // the general reader); a damaged or truncated file answers Damaged.
    static QImage decode(const QByteArray &data, Status *status = nullptr, QString *error = nullptr);
};

} // namespace platform
