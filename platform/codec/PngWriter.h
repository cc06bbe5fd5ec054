#pragma once

#include "platform/Error.h"
#include "platform/codec/PictureBands.h"
#include "platform/codec/RowReadHook.h"

#include <QImage>

class QIODevice;

namespace platform {

class ExportMetadata;

// PNG through libpng at a fast zlib level (the size hardly differs from the
// default, the time does), rows streamed to the device. RGB when the picture
// is opaque, else RGBA with straight alpha. Carries pHYs, eXIf, iCCP, the
// XMP packet (iTXt) and the software (tEXt).
class PngWriter
{
public:
    static bool write(QIODevice *device, const QImage &image, const ExportMetadata &metadata, Error *error,
                      const RowReadHook &hook = {});
    // The same, for a picture made a band at a time and never held whole.
    static bool writeBands(QIODevice *device, const PictureBands &bands, const ExportMetadata &metadata, Error *error,
                           const RowReadHook &hook = {});
};

} // namespace platform
