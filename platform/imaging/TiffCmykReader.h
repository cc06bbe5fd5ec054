#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QImage>

namespace platform {

// Reads a TIFF whose picture is in CMYK inks, which Qt's reader turns into
// colours by the inks alone: 8 or 16 bits a sample, in strips or tiles, the
// samples of a pixel together or in planes, with or without an alpha
// channel. Its inks become colours through its own profile (CmykConversion).
// Other TIFFs are for the general reader.
class TiffCmykReader
{
public:
    // A TIFF whose first picture is separated into the four CMYK inks.
    static bool isCmyk(const QByteArray &data);
    // ARGB32_Premultiplied, as stored (its orientation not applied); an
    // error when it is damaged or of a kind not read here
    // (DecodeError::KindNotRead, naming the kind).
    static Result<QImage> read(const QByteArray &data);
};

} // namespace platform
