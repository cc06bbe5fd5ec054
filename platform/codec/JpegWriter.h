#pragma once

#include "platform/Error.h"
#include "platform/codec/PictureBands.h"
#include "platform/codec/RowReadHook.h"

#include <QImage>

class QIODevice;

namespace platform {

class ExportMetadata;

// JPEG through libjpeg-turbo, rows streamed to the device. Transparent parts
// are laid onto white. Carries JFIF density, EXIF (APP1), XMP (APP1), ICC
// (APP2) and IPTC (APP13).
class JpegWriter
{
public:
    // `quality` 0..1.
    static bool write(QIODevice *device, const QImage &image, const ExportMetadata &metadata,
                      double quality, Error *error, const RowReadHook &hook = {});

    // A picture made a band at a time (compressed on several threads).
    using Bands = PictureBands;
    static bool writeBands(QIODevice *device, const Bands &bands, const ExportMetadata &metadata, double quality,
                           Error *error, const RowReadHook &hook = {});
};

} // namespace platform
