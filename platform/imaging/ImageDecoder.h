#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace platform {

// Decodes any picture the program reads into ARGB32_Premultiplied, as stored
// (the EXIF orientation is not applied here; see `orientationApplied`):
// JPEG through libjpeg-turbo, HEIF/HEIC through libheif, Photoshop files
// through our own reader, PDF (first page, at its own size in points) through
// poppler, everything else through QImageReader with its allocation limit
// raised to what the machine's memory allows.
class ImageDecoder
{
public:
    struct Result {
        QImage image;     // null when the picture could not be decoded
        QString error;    // why, when null
        bool orientationApplied = false; // the container already turned it upright (HEIF)
        bool isPdf = false;
    };

    static Result decode(const QByteArray &data);
    // At a reduced size where the decoder can make one cheaply (JPEG by
    // eighths, other readers by their scaled read): at least `atLeast` pixels
    // as stored, never more than the picture has. An empty size decodes whole.
    static Result decodeAtLeast(const QByteArray &data, const QSize &atLeast);
    // Reads the file (mapped) and decodes it.
    static Result decodeFile(const QString &path);

    static bool isPdf(const QByteArray &data);

    // Raises QImageReader's allocation limit once (half the physical memory,
    // at least 1 GB), so very large photos load.
    static void raiseAllocationLimit();
};

} // namespace platform
