#pragma once

#include "platform/Error.h"
#include "platform/codec/PictureBands.h"
#include "platform/codec/RowReadHook.h"

#include <QByteArray>
#include <QImage>

class QIODevice;

namespace platform {

class ExportMetadata;

// Photoshop files of our own making: RGB, 8 bits, PackBits, with the
// resolution, EXIF, IPTC, XMP and ICC resources. A picture with transparency
// gets one layer record as well (layer count -1, so the merged image's fourth
// channel is its transparency): readers ignore the alpha of a file without.
// At most 30,000 pixels a side; the large document (PSB, version 2) has
// wider lengths and takes up to 300,000.
class PsdWriter
{
public:
    static constexpr int kMaxSide = 30000;
    static constexpr int kMaxSideLarge = 300000;

    static bool write(QIODevice *device, const QImage &image, const ExportMetadata &metadata, Error *error,
                      const RowReadHook &hook = {});
    // The same, for a picture made a band at a time and never held whole:
    // the packed channels wait in a temporary file until the last band.
    static bool writeBands(QIODevice *device, const PictureBands &bands, const ExportMetadata &metadata, Error *error,
                           const RowReadHook &hook = {});
    // The same as a large document.
    static bool writeLarge(QIODevice *device, const QImage &image, const ExportMetadata &metadata, Error *error,
                           const RowReadHook &hook = {});
    static bool writeBandsLarge(QIODevice *device, const PictureBands &bands, const ExportMetadata &metadata,
                                Error *error, const RowReadHook &hook = {});

    // PackBits of one row of bytes, appended to `out`; answers the length.
    static int packBits(const uchar *data, int length, uchar *out);
    // The most PackBits can take for `length` bytes.
    static int packBitsBound(int length) { return length + (length + 127) / 128; }
};

} // namespace platform
