#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace platform {

// Reads the merged (flattened) picture of a Photoshop file: PSD and the large
// variant PSB; 8 and 16 bits; RGB, greyscale (and duotone as greyscale),
// CMYK (its inks turned into sRGB through its profile: CmykConversion),
// indexed and bitmap modes; raw or RLE image data. The first extra
// channel becomes alpha only when the file says the merged picture has
// transparency (a negative layer count). Every length and count in the file
// is checked against the data before it is used.
class PsdReader
{
public:
    static bool canRead(const QByteArray &data);
    // ARGB32_Premultiplied, or an error when the file is damaged or of a
    // kind not read here (DecodeError::KindNotRead, naming the kind: 32
    // bits a channel, Lab colour, no merged picture, a picture in spot
    // colour channels only; its recovery suggestion says what to save
    // instead where a kind is read). Merged colours that a transparent
    // document keeps laid onto white come back as they were.
    static Result<QImage> read(const QByteArray &data);
    // The header's bits per channel; 0 when it is no Photoshop file.
    static quint16 bitsPerChannel(const QByteArray &data);
    // Whether the header says Lab colour, which is not read at any depth.
    static bool isLab(const QByteArray &data);

    // The image resources the metadata reader uses.
    struct Resources {
        double dpiX = 0; // 0 when the file has no resolution
        double dpiY = 0;
        QByteArray icc;
        QByteArray exif;
        QByteArray iptc;
        QByteArray xmp;
    };
    static Resources readResources(const QByteArray &data);

    // Largest side read: the format's own limits.
    static constexpr quint32 kMaxSidePsd = 30000;
    static constexpr quint32 kMaxSidePsb = 300000;
};

} // namespace platform
