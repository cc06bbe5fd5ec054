// Export of a framed 24 MP photo as JPEG q90 at full size, against the floor
// of decoding and re-encoding the same photo with libjpeg-turbo's own tools
// (`djpeg | cjpeg -quality 90`), measured in the same run.
//
// Each export runs in a child process of its own, so its peak memory
// (VmHWM) is that process's alone: photo loaded, design built, rendered and
// written. The time is the export's: from the document's design in memory
// (photo decoded, frames loaded, as when the user saves) to the file written.
// Designs are listed in kDesigns; the first one gives the result line. The
// first design is then exported once in every format, drawn whole and a
// band at a time, with its time and peak memory. --quick: a 1200 x 800 photo,
// one run each.
#include "bench/Quick.h"
#include "scenes/SceneLibrary.h"
#include "scenes/ScenePictures.h"
#include "design/KTColorMatLayer.h"
#include "design/KTFrameLayer.h"
#include "design/KTFullFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTProgressReportingDataProvider.h"
#include "design/KTTemplate.h"
#include "platform/TypeTable.h"
#include "platform/codec/ExportFormat.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/archive/Color.h"
#include "platform/archive/TypedStreamColor.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameImage.h"
#include "stores/FrameType.h"
#include "stores/LibraryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QRadialGradient>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

// The frame library the frame layers read their pictures from: a store of
// its own in the bench's folder (KANTELO_BENCH_DIR), made once per child.
scenes::SceneLibrary &library()
{
    static scenes::SceneLibrary store(qEnvironmentVariable("KANTELO_BENCH_DIR") + QStringLiteral("/support"));
    return store;
}

// A full frame from the wood picture the parent wrote, with its shadow,
// round it a cream mat with its shadow, and the outer shadow exported.
void buildFrameAndMat(KTTemplate &design)
{
    Frame *mat = library().colorMat(QStringLiteral("Cream mat"), QColor(236, 228, 210));
    Frame *wood = library().frame(
        QString::fromLatin1(KTFrameLayer::kFullFrameTypeName), QStringLiteral("Walnut"),
        {{QString::fromLatin1(KTFullFrameLayer::kLandscapeImageAttribute),
          qEnvironmentVariable("KANTELO_BENCH_DIR") + QStringLiteral("/frame.png")}});

    auto matLayer = KTFrameLayer::frameLayerFromFrame(mat);
    auto woodLayer = KTFrameLayer::frameLayerFromFrame(wood);
    if (!matLayer || !woodLayer) {
        std::fprintf(stderr, "frame layers could not be made\n");
        std::exit(5);
    }
    auto *m = static_cast<KTColorMatLayer *>(matLayer.get());
    for (auto set : {&KTColorMatLayer::setLeftWidth, &KTColorMatLayer::setRightWidth, &KTColorMatLayer::setTopWidth,
                     &KTColorMatLayer::setBottomWidth})
        (m->*set)(0.08);
    m->setBevelWidth(0.01);
    matLayer->setDropShadow(true);
    woodLayer->setDropShadow(true);
    design.addTopmostFrameLayer(woodLayer);
    design.addTopmostFrameLayer(matLayer);
    design.setExportExternalShadow(true);
}

// A frame picture: a wood-like ring 12 % of the short side wide round a
// transparent window, at the size library frames come in.
void writeFramePicture(const QString &path, int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    QLinearGradient grain(0, 0, 40, 7);
    grain.setSpread(QGradient::RepeatSpread);
    grain.setColorAt(0, QColor(110, 66, 30));
    grain.setColorAt(0.5, QColor(140, 90, 45));
    grain.setColorAt(1, QColor(110, 66, 30));
    p.fillRect(image.rect(), grain);
    const int b = h * 12 / 100;
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillRect(QRect(b, b, w - 2 * b, h - 2 * b), Qt::transparent);
    p.end();
    image.save(path);
}

struct BenchDesign {
    const char *name;
    const char *what;
    // Adds the layers around the photo the design already holds.
    std::function<void(KTTemplate &)> build;
};

const std::vector<BenchDesign> kDesigns = {
    {"frame+mat", "full frame + mat + shadows", buildFrameAndMat},
    {"photo", "the photo alone", [](KTTemplate &) {}},
};

const BenchDesign *designNamed(const QString &name)
{
    for (const BenchDesign &d : kDesigns) {
        if (name == QLatin1String(d.name))
            return &d;
    }
    return nullptr;
}

qint64 statusKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// One export in this process; prints "ms bytes hwm_kb rss_before_kb open_ms".
// `type` and `bands` for the rows of every format: drawn whole, or a band at
// a time as Save draws the formats that allow it.
int child(const QString &designName, const QString &photo, const QString &out,
          const QString &type = QString::fromLatin1(platform::TypeTable::kJPEG), bool bands = false)
{
    const BenchDesign *d = designNamed(designName);
    if (!d)
        return 2;
    // The library is the application's before any export: opened first.
    library().moc();
    QElapsedTimer opening;
    opening.start();
    auto design = std::make_shared<KTTemplate>();
    if (!design->importImage(QUrl::fromLocalFile(photo)))
        return 3;
    d->build(*design);
    const double openMs = opening.nsecsElapsed() / 1e6;
    const qint64 before = statusKb("VmRSS:");
    QElapsedTimer t;
    t.start();
    // As the document exports: a copy for rendering, at the photo's own size.
    auto copy = design->copyForRendering();
    copy->setExportMode(true);
    copy->setExportQuality(0.9);
    const QSizeF size = copy->sizeFromOriginalWithOuterShadow(true);
    platform::Error error;
    if (bands) {
        if (!copy->writeInBandsToURL(QUrl::fromLocalFile(out), type, size, nullptr, nullptr, &error)) {
            std::fprintf(stderr, "export failed: %s\n", qPrintable(error.description));
            return 4;
        }
        const qint64 bytes = qint64(size.width()) * qint64(size.height()) * 4;
        std::printf("%.1f %lld %lld %lld %.1f\n", t.nsecsElapsed() / 1e6, (long long)bytes,
                    (long long)statusKb("VmHWM:"), (long long)before, openMs);
        return 0;
    }
    auto image = copy->newDataProvidedCGImageOfSize(size, nullptr, nullptr, &error);
    if (!image || !copy->writeToURL(QUrl::fromLocalFile(out), type, image, &error)) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(error.description));
        return 4;
    }
    const double ms = t.nsecsElapsed() / 1e6;
    const qint64 bytes = image->size();
    image.reset();
    std::printf("%.1f %lld %lld %lld %.1f\n", ms, (long long)bytes, (long long)statusKb("VmHWM:"), (long long)before,
                openMs);
    return 0;
}

double floorMs(const QString &photo, const QString &out, int runs)
{
    double best = 1e18;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer t;
        t.start();
        QProcess p;
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("djpeg '%1' | cjpeg -quality 90 > '%2'")
                                                                        .arg(photo, out)});
        if (!p.waitForFinished(60000) || p.exitCode() != 0)
            return -1;
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool quick = bench::takeQuickFlag(argc, argv);
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args.at(1) == QLatin1String("--child"))
        return child(args.at(2), args.at(3), args.at(4));
    if (args.size() == 7 && args.at(1) == QLatin1String("--child"))
        return child(args.at(2), args.at(3), args.at(4), args.at(5), args.at(6) == QLatin1String("bands"));

    const int photoWidth = quick ? 1200 : 6000;
    const int photoHeight = quick ? 800 : 4000;
    const int runs = quick ? 1 : 3;
    QTemporaryDir dir;
    qputenv("KANTELO_BENCH_DIR", dir.path().toLocal8Bit());
    const QString photo = dir.filePath(QStringLiteral("photo.jpg"));
    // A photo-like picture: soft gradients, blobs and sensor noise, so the
    // JPEG has the entropy of a real photo.
    scenes::writeCameraPhoto(photo, photoWidth, photoHeight);
    writeFramePicture(dir.filePath(QStringLiteral("frame.png")), photoWidth / 2, photoHeight / 2);
    std::printf("photo: %d x %d JPEG q90, %.1f MB\n", photoWidth, photoHeight, QFile(photo).size() / 1e6);

    const double floor = floorMs(photo, dir.filePath(QStringLiteral("floor.jpg")), runs);
    if (floor <= 0) {
        std::printf("djpeg | cjpeg failed: is libjpeg-turbo-progs installed?\n");
        return 1;
    }
    std::printf("floor  djpeg | cjpeg -quality 90: %8.1f ms\n", floor);

    double result = -1;
    for (const BenchDesign &d : kDesigns) {
        double best = 1e18;
        qint64 bytes = 0;
        qint64 peakKb = 0;
        qint64 baseKb = 0;
        double openMs = 0;
        for (int run = 0; run < runs; ++run) {
            QProcess p;
            p.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child"), QString::fromLatin1(d.name), photo,
                     dir.filePath(QStringLiteral("export-%1.jpg").arg(QLatin1String(d.name)))});
            if (!p.waitForFinished(300000) || p.exitCode() != 0) {
                std::printf("%s: export failed: %s\n", d.name, p.readAllStandardError().constData());
                return 1;
            }
            const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
            if (f.size() != 5)
                return 1;
            best = std::min(best, f[0].toDouble());
            bytes = f[1].toLongLong();
            peakKb = std::max(peakKb, f[2].toLongLong());
            baseKb = f[3].toLongLong();
            openMs = f[4].toDouble();
        }
        const double ratio = best / floor;
        const double memoryRatio = peakKb * 1024.0 / double(bytes);
        std::printf("%-10s %-28s export %8.1f ms  %5.2f x floor   (opening photo and frames: %.0f ms)\n", d.name,
                    d.what, best, ratio, openMs);
        std::printf("%-10s output bitmap %.1f MB, peak memory %.1f MB (%.1f MB before the export): %.2f x the bitmap\n",
                    d.name, bytes / 1e6, peakKb * 1024 / 1e6, baseKb * 1024 / 1e6, memoryRatio);
        if (result < 0)
            result = ratio;
    }
    // Every format of the first design, once each: drawn whole and then, where
    // the format allows, a band at a time. The peak is the process's own.
    const BenchDesign &first = kDesigns.front();
    for (const platform::ExportFormat &format : platform::ExportFormat::all()) {
        for (const bool bands : {false, true}) {
            if (bands && !format.writeBands)
                continue;
            QProcess p;
            p.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child"), QString::fromLatin1(first.name), photo,
                     dir.filePath(QStringLiteral("export.%1").arg(format.extensions.first())), format.type,
                     bands ? QStringLiteral("bands") : QStringLiteral("whole")});
            if (!p.waitForFinished(600000) || p.exitCode() != 0) {
                std::printf("%s %s: export failed: %s\n", first.name, qPrintable(format.name),
                            p.readAllStandardError().constData());
                return 1;
            }
            const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
            if (f.size() != 5)
                return 1;
            std::printf("%-10s %-5s %-6s export %8.1f ms, peak memory %7.1f MB (%.1f MB before the export)\n",
                        first.name, qPrintable(format.name), bands ? "bands" : "whole", f[0].toDouble(),
                        f[2].toLongLong() * 1024 / 1e6, f[3].toLongLong() * 1024 / 1e6);
        }
    }
    std::printf("result: %.2f x\n", result);
    return 0;
}
