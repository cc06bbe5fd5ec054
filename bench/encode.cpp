// Encoding a framed 24 MP export (6880 x 4880, the size a 6000 x 4000 photo
// takes with its frame) in every format, to memory, with a photo's metadata.
// --quick: a tenth of the size, one run each.
#include "bench/Quick.h"
#include "platform/TypeTable.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool quick = bench::takeQuickFlag(argc, argv);
    QGuiApplication app(argc, argv);
    const int w = quick ? 688 : 6880;
    const int h = quick ? 488 : 4880;
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    {
        // Smooth photo-like content with some fine texture, a frame and a
        // soft transparent margin like an outer shadow.
        QPainter p(&image);
        QLinearGradient g(0, 0, w, h);
        g.setColorAt(0, QColor(40, 90, 160));
        g.setColorAt(0.5, QColor(220, 180, 120));
        g.setColorAt(1, QColor(30, 60, 40));
        p.fillRect(image.rect(), g);
        p.setPen(QColor(255, 255, 255, 60));
        for (int x = 0; x < w; x += 7)
            p.drawLine(x, 0, x + h / 3, h);
        p.fillRect(QRect(300, 300, w - 600, 300), QColor(120, 80, 40));
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.fillRect(QRect(0, 0, w, 120), QColor(0, 0, 0, 90));
    }
    Exiv2::ExifData exif;
    exif["Exif.Photo.DateTimeOriginal"] = std::string("2021:06:15 10:20:30");
    const platform::ExportMetadata meta =
        platform::ExportMetadata::prepare(exif, {}, {}, {}, 300.0, image.size(), "3.0.0");

    double jpegMs = 0;
    for (const char *type : {platform::TypeTable::kJPEG, platform::TypeTable::kPNG, platform::TypeTable::kTIFF,
                             platform::TypeTable::kPSD}) {
        double best = 1e9;
        qint64 bytes = 0;
        for (int run = 0; run < (quick ? 1 : 3); ++run) {
            QElapsedTimer t;
            t.start();
            platform::Error error;
            const auto data = platform::ImageEncoder::encodeToData(image, type, meta, 0.9, &error);
            best = std::min(best, t.nsecsElapsed() / 1e6);
            if (!data || data->isEmpty()) {
                std::printf("%s: encoding failed: %s\n", type, qPrintable(error.description));
                return 1;
            }
            bytes = data->size();
            // What Qt reads back must be the picture's size (it reads no PSD).
            QByteArray encoded = *data;
            QBuffer buffer(&encoded);
            QImageReader reader(&buffer);
            const bool readable = QLatin1String(type) != QLatin1String(platform::TypeTable::kPSD);
            if (readable && reader.size() != image.size()) {
                std::printf("%s: the encoded picture reads back as %d x %d\n", type, reader.size().width(),
                            reader.size().height());
                return 1;
            }
        }
        std::printf("%-28s %8.1f ms  %6.1f MB\n", type, best, bytes / 1e6);
        if (QLatin1String(type) == QLatin1String(platform::TypeTable::kJPEG))
            jpegMs = best;
    }
    std::printf("result: %.1f ms\n", jpegMs);
    return 0;
}
