#pragma once

#include "platform/Error.h"
#include "platform/codec/PictureBands.h"
#include "platform/codec/RowReadHook.h"

#include <QImage>

class QIODevice;

namespace platform {

class ExportMetadata;

// TIFF through libtiff: RGB or RGBA (unassociated alpha) when the picture has
// transparency, Deflate with the horizontal predictor at a fast level, rows
// streamed in strips. The resolution, software, orientation, the photo's
// IFD0 tags, an EXIF and a GPS directory, XMP, IPTC and ICC go in as tags.
class TiffWriter
{
public:
    static bool write(QIODevice *device, const QImage &image, const ExportMetadata &metadata, Error *error,
                      const RowReadHook &hook = {});
    // The same, for a picture made a band at a time and never held whole.
    static bool writeBands(QIODevice *device, const PictureBands &bands, const ExportMetadata &metadata, Error *error,
                           const RowReadHook &hook = {});
};

} // namespace platform
