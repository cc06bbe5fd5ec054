#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace platform {

// HEIF/HEIC pictures (iPhone photos) through libheif. The picture comes out
// upright: HEIF carries its rotation and mirroring in the container, and
// libheif applies them while decoding, so the EXIF orientation in such a file
// must not be applied again.
class HeifDecoder
{
public:
    static bool canDecode(const QByteArray &data);
    // The primary picture as ARGB32_Premultiplied, or why it cannot be
    // decoded.
    static Result<QImage> decode(const QByteArray &data);
    // The same from one of the file's thumbnails when one is at least that
    // large on its shorter side; the primary picture otherwise.
    static Result<QImage> decodeAtLeast(const QByteArray &data, const QSize &atLeast);
    // The primary image's size from the container, without decoding.
    static QSize storedSize(const QByteArray &data);

    struct MetadataBlocks {
        QByteArray exif; // starting at the TIFF header
        QByteArray xmp;
        QByteArray icc;
        QSize size; // displayed size of the primary picture
    };
    static MetadataBlocks readMetadata(const QByteArray &data);
};

} // namespace platform
