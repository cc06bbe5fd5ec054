#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

namespace platform {

class PhotoRows;

// The fast path for JPEG: libjpeg-turbo decodes straight into the premultiplied
// 32-bit layout the drawing code uses, with no conversion pass afterwards.
class JpegDecoder
{
public:
    enum class Status { Ok, Unsupported, Damaged };

    static bool canDecode(const QByteArray &data);
    // RGB, greyscale and CMYK JPEGs (their inks turned into colours through
    // their profile: CmykConversion); a damaged or truncated file answers
    // Damaged. (Unsupported would send the caller to the general reader.)
    static Result<QImage> decode(const QByteArray &data, Status *status = nullptr);
    // The same at a reduced size: the smallest of libjpeg's scales (eighths)
    // that still gives at least `atLeast` pixels as stored. An empty size, or
    // one the full picture does not reach, decodes at full size.
    static Result<QImage> decodeAtLeast(const QByteArray &data, const QSize &atLeast, Status *status = nullptr);
    // The stored pixel size from the header alone; invalid when unreadable.
    static QSize storedSize(const QByteArray &data);
    // The size decodeAtLeast gives a picture stored at `stored`.
    static QSize decodedSize(const QSize &stored, const QSize &atLeast);
    // Pictures with a restart marker every few rows of blocks decode in
    // pieces on the pool's threads (not inside a SerialRowsScope), to the
    // same pixels; how many did so far (for tests).
    static int piecewiseDecodes();
    // The picture at full size, decoded a piece of rows at a time as it is
    // drawn (see PhotoRows), to the same pixels; null when it has no restart
    // markers to cut it at, or is too small to gain from it.
    static std::shared_ptr<PhotoRows> decodeAsDrawn(const QByteArray &data);
};

} // namespace platform
