#pragma once

#include "platform/Error.h"
#include "platform/codec/RowReadHook.h"

#include <QImage>
#include <QSize>

#include <functional>

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

    // A picture that is never held whole: made a band of rows at a time on
    // the calling thread while the bands before it are compressed on others.
    struct Bands {
        QSize size;
        int rows = 256;   // a band's rows (rounded up to a multiple of 16)
        int inFlight = 4; // bands made and not yet written, at most
        // Rows [first, first + count) in a 32-bit layout; a null picture
        // stops the writing (as cancelled). A band's pixels must stay as they
        // are until `inFlight` later bands have been asked for.
        std::function<QImage(int first, int count)> band;
    };
    static bool writeBands(QIODevice *device, const Bands &bands, const ExportMetadata &metadata, double quality,
                           Error *error, const RowReadHook &hook = {});
};

} // namespace platform
