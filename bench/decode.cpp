// Opening a photo: a generated 24 MP JPEG (6000 x 4000, quality 90, with EXIF,
// IPTC and XMP) is loaded the way the photo layer loads it (decoded, stood
// upright, metadata read) and compared with libjpeg-turbo's own djpeg on the
// same file in the same run. Prints both times and their ratio. --quick: a
// 1200 x 800 photo, one run.
#include "bench/Quick.h"
#include "design/VLImage.h"
#include "platform/imaging/Exiv2Support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Something photo-like: smooth gradients with fine texture, so the encoder
// has real detail to keep (a flat picture would decode unrealistically fast).
QImage photoLikePicture(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 27) - 16;
            const int r = std::clamp((x * 255) / w + noise, 0, 255);
            const int g = std::clamp((y * 255) / h + noise, 0, 255);
            const int b = std::clamp(((x ^ y) & 0xff) / 2 + 64 + noise, 0, 255);
            line[x] = qRgb(r, g, b);
        }
    }
    return img;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const bool quick = bench::takeQuickFlag(argc, argv);
    QCoreApplication app(argc, argv);
    const int width = quick ? 1200 : 6000;
    const int height = quick ? 800 : 4000;
    const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
    if (djpeg.isEmpty()) {
        std::fprintf(stderr, "djpeg not found (libjpeg-turbo-progs)\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    if (!photoLikePicture(width, height).save(path, "JPEG", 90)) {
        std::fprintf(stderr, "could not write the test photo\n");
        return 1;
    }
    {
        platform::initializeExiv2();
        auto image = Exiv2::ImageFactory::open(path.toStdString());
        image->readMetadata();
        image->exifData()["Exif.Image.Orientation"] = uint16_t(1);
        image->exifData()["Exif.Image.Make"] = std::string("Bench Camera");
        image->exifData()["Exif.Photo.DateTimeOriginal"] = std::string("2014:07:21 18:03:09");
        image->iptcData()["Iptc.Application2.Headline"] = std::string("Benchmark");
        image->xmpData()["Xmp.dc.creator"] = std::string("Kantelo");
        image->writeMetadata();
    }
    std::printf("photo: %d x %d JPEG, quality 90, %lld bytes\n", width, height, QFileInfo(path).size());

    const int runs = quick ? 1 : 7;
    std::vector<double> ours;
    std::vector<double> theirs;
    // Warm the page cache and the thread pool once each.
    VLImage::initWithContentsOfFile(path, true);
    QProcess::execute(djpeg, {QStringLiteral("-outfile"), QStringLiteral("/dev/null"), path});
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const int rc = QProcess::execute(djpeg, {QStringLiteral("-outfile"), QStringLiteral("/dev/null"), path});
        theirs.push_back(t.nsecsElapsed() / 1e6);
        if (rc != 0) {
            std::fprintf(stderr, "djpeg failed\n");
            return 1;
        }

        t.restart();
        auto image = VLImage::initWithContentsOfFile(path, true);
        ours.push_back(t.nsecsElapsed() / 1e6);
        if (!image || image->originalSize() != QSizeF(width, height) || image->metadata().orientation() != 1) {
            std::fprintf(stderr, "decode failed\n");
            return 1;
        }
    }
    const double a = median(ours);
    const double b = median(theirs);
    std::printf("djpeg (median of %d): %.1f ms\n", runs, b);
    std::printf("open upright with metadata (median of %d): %.1f ms\n", runs, a);
    std::printf("ratio: %.2f (target at most 1.3)\n", a / b);
    std::printf("result: %.2f x djpeg\n", a / b);
    return 0;
}
