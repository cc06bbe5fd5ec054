#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

class QImageReader;

namespace platform {

// Decodes any picture the program reads into ARGB32_Premultiplied, as stored
// (the EXIF orientation is not applied here; see `orientationApplied`):
// JPEG through libjpeg-turbo, HEIF/HEIC through libheif, Photoshop files and
// CMYK TIFFs through our own readers, PDF (first page, at its own size in
// points) through poppler, everything else through QImageReader with its
// allocation limit raised to what the machine's memory allows, and only as a
// kind made of pixels (isRasterFormat): a drawing such as SVG may name other
// files, which a picture from a shared design or frame archive must never
// reach. CMYK comes out in sRGB, through the picture's profile (CmykConversion).
class ImageDecoder
{
public:
    struct Result {
        QImage image;     // null when the picture could not be decoded
        Error error;      // why, when null
        bool orientationApplied = false; // the container already turned it upright (HEIF)
        bool isPdf = false;
        bool tooLarge = false; // refused by its header before decoding (see fitsInMemory)
    };

    static Result decode(const QByteArray &data);
    // At a reduced size where the decoder can make one cheaply (JPEG by
    // eighths, other readers by their scaled read): at least `atLeast` pixels
    // as stored, never more than the picture has. An empty size decodes whole.
    static Result decodeAtLeast(const QByteArray &data, const QSize &atLeast);
    // Reads the file (FileBytes) and decodes it.
    static Result decodeFile(const QString &path);

    static bool isPdf(const QByteArray &data);

    // Whether a kind of picture, as Qt's readers name it ("png", "tiff"), is
    // one made of pixels that the program reads through them.
    static bool isRasterFormat(const QByteArray &format);
    // Makes the reader decide its kind from the content and answers whether
    // that is such a kind; when not, nothing may be read through it and
    // `error` says why (a kind not read here, DecodeError::KindNotRead).
    static bool readsRaster(QImageReader &reader, Error *error = nullptr);
    // QImage::fromData, for those kinds only.
    static QImage rasterFromData(const QByteArray &data);

    // The size as stored, from the header alone; invalid when the header
    // gives none (a PDF page, damage, a kind not read here).
    static QSize headerSize(const QByteArray &data);
    // What a file's header says, read with the bytes it takes and no more:
    // a file of gigabytes is refused for its size before it is read.
    struct FileHeader {
        QSize size;             // as headerSize; invalid too where only the whole file tells (HEIF)
        int bitsPerChannel = 8; // of PNG, TIFF and Photoshop files (8 for other kinds)
        bool jpeg = false;
    };
    static FileHeader readHeader(const QString &path);
    // Whether the file's picture can be decoded at all, by its header: at
    // its whole size, or (`reduced`) at the smallest size its decoder makes
    // (a JPEG's eighth). A size the header does not give fits: the decode
    // checks the size it finds.
    static bool fileFitsInMemory(const QString &path, bool reduced, Error *error = nullptr);
    // Whether decoding a picture of `size` and rendering it framed fits the
    // memory this process can have; when not, `error` names both sizes and
    // what to do. Every decode checks this before it allocates anything.
    // A reduced decode checks the size it gives, and names the picture's own.
    static bool fitsInMemory(const QSize &size, Error *error = nullptr, const QSize &pictureSize = QSize());
    // The memory figure the check uses: what the process can still get (the
    // machine's available memory, its control group's limit, its address
    // space and data limits) unless set (tests simulate a smaller machine;
    // 0 asks the machine again).
    static qint64 machineMemory();
    static void setMachineMemory(qint64 bytes);
    // How many whole pictures were decoded so far (tests count decodes).
    static qint64 decodeCount();

    // Raises QImageReader's allocation limit once (half the physical memory,
    // at least 1 GB), so very large photos load.
    static void raiseAllocationLimit();
};

} // namespace platform
