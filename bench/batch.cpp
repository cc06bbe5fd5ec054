// Batch processing of 32 generated 12 MP camera JPEGs with one design (a
// mitred moulding with shadows and a bevelled mat), JPEG q90 out at the
// framed size, on every core, against a floor made of the system's own
// libjpeg-turbo tools: each file decoded by djpeg and a framed-size picture
// encoded by cjpeg -quality 90, one process per core, in the same run. The
// floor's processes' peak memory is printed beside the batch's.
//
// The run happens in a child process, so its peak memory is its own. The
// result is the batch's time over the floor's. --quick: 4 photos of 800 x 600,
// one round.
#include "bench/Processes.h"
#include "bench/Quick.h"
#include "batch/KTBatchProcessingCoordinator.h"
#include "batch/KTBatchProcessingOptions.h"
#include "design/KTColorMatLayer.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "platform/UserDefaults.h"
#include "scenes/SceneLibrary.h"
#include "scenes/ScenePictures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

// This process's own peak (VmHWM): unlike getrusage's, it does not start
// from the parent's size at the fork.
long peakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong() / 1024;
    }
    return -1;
}

// The batch in this process: prints seconds, peak MB and files written.
int child(const QString &photos, const QString &out)
{
    scenes::SceneLibrary library;
    QTemporaryDir sidesFolder;
    const QDir sides(sidesFolder.path());
    const char *attributes[] = {"Left Image", "Top Image", "Right Image", "Bottom Image"};
    QList<QPair<QString, QString>> pictures;
    for (int which = 0; which < 4; ++which) {
        const QString path = sides.filePath(QStringLiteral("side%1.png").arg(which));
        scenes::mouldingSide(which, 4).save(path);
        pictures.append({QString::fromLatin1(attributes[which]), path});
    }
    Frame *frame = library.frame(QStringLiteral("Moulding"), QStringLiteral("Bench moulding"), pictures);
    auto moulding = std::dynamic_pointer_cast<KTMoldingFrameLayer>(KTFrameLayer::frameLayerFromFrame(frame, {true}));
    if (!moulding || !moulding->imagesLoaded() || !moulding->dropShadow())
        return 3;
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(std::make_shared<KTImageLayer>(), 0);
    auto mat = std::dynamic_pointer_cast<KTColorMatLayer>(
        KTFrameLayer::frameLayerFromFrame(library.colorMat(QStringLiteral("Bench mat"), QColor(236, 230, 214))));
    if (!mat)
        return 3;
    mat->setBevelWidth(0.02);
    design->addTopmostLayer(mat);
    design->addTopmostFrameLayer(moulding);
    design->setName(QStringLiteral("Bench"));

    QList<QUrl> files;
    for (const QString &name : QDir(photos).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name))
        files << QUrl::fromLocalFile(QDir(photos).filePath(name));
    auto options = std::make_shared<const KTBatchProcessingOptions>(
        files, KTImageFileFormat::JPGFileFormat(),
        KTBatchProcessingTemplate::initWithExternalTemplate(
            design, QUrl::fromLocalFile(photos + QStringLiteral("/Bench.KTTemplate")), {library.moc(), nullptr}),
        KTImageScaling::defaultScaling(), QStringLiteral("framed_"), QString());

    KTBatchProcessingCoordinator coordinator;
    int written = -1;
    int failed = 0;
    QObject::connect(&coordinator, &KTBatchProcessingCoordinator::processingFinished,
                     [&](int w, int f, bool) { written = w, failed = f; });
    QObject::connect(&coordinator, &KTBatchProcessingCoordinator::fileFailed, [](const QUrl &u, const QString &why) {
        std::fprintf(stderr, "failed: %s: %s\n", qPrintable(u.toLocalFile()), qPrintable(why));
    });
    const long before = peakMegabytes();
    QElapsedTimer t;
    t.start();
    platform::Error error;
    if (!coordinator.startBatchProcessingWithOptions(options, QUrl::fromLocalFile(out), &error)) {
        std::fprintf(stderr, "not started: %s\n", qPrintable(error.description));
        return 4;
    }
    while (written < 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = t.nsecsElapsed() / 1e9;
    std::printf("%.3f %ld %ld %d %d\n", seconds, peakMegabytes(), before, written, failed);
    return 0;
}

// Runs `script` once per argument, one process per core; answers seconds.
double parallelShell(const QString &script, const QStringList &arguments, const QString &scratch)
{
    const QString list = QDir(scratch).filePath(QStringLiteral("floor-arguments"));
    QFile listFile(list);
    if (!listFile.open(QIODevice::WriteOnly) || listFile.write(arguments.join(QChar(0)).toUtf8()) < 0)
        return -1;
    listFile.close();
    QElapsedTimer t;
    t.start();
    const int status = bench::runToEnd({QStringLiteral("xargs"), QStringLiteral("-0"), QStringLiteral("-n"),
                                        QStringLiteral("1"), QStringLiteral("-P"),
                                        QString::number(QThread::idealThreadCount()), QStringLiteral("sh"),
                                        QStringLiteral("-c"), script, QStringLiteral("floor")},
                                       list);
    if (status != 0)
        return -1;
    return t.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool quick = bench::takeQuickFlag(argc, argv);
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int photoCount = quick ? 4 : 32;
    const int photoWidth = quick ? 800 : 4000;
    const int photoHeight = quick ? 600 : 3000;
    const int rounds = quick ? 1 : 2;
    if (args.size() == 4 && args.at(1) == QLatin1String("--child"))
        return child(args.at(2), args.at(3));

    QTemporaryDir dir;
    const QString photos = QDir(dir.path()).filePath(QStringLiteral("photos"));
    const QString out = QDir(dir.path()).filePath(QStringLiteral("out"));
    const QString floorOut = QDir(dir.path()).filePath(QStringLiteral("floor"));
    QDir().mkpath(photos);
    QDir().mkpath(out);
    QDir().mkpath(floorOut);
    {
        std::vector<std::thread> makers;
        const int threads = std::max(1, QThread::idealThreadCount());
        for (int t = 0; t < threads; ++t)
            makers.emplace_back([&, t] {
                for (int i = t; i < photoCount; i += threads)
                    scenes::writeCameraPhoto(
                        QDir(photos).filePath(QStringLiteral("IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0'))), photoWidth,
                        photoHeight, 100 + unsigned(i));
            });
        for (auto &m : makers)
            m.join();
    }
    std::printf("%d photos, %d x %d JPEG q90; design: mitred moulding (four sides, shadows) and a bevelled mat; "
                "JPEG q90 at the framed size; %d cores\n",
                photoCount, photoWidth, photoHeight, QThread::idealThreadCount());

    // Two rounds of the batch and the floor taken in turn, the best of
    // each: the machine's other work weighs on both alike.
    QStringList inputs;
    for (const QString &name : QDir(photos).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name))
        inputs << QDir(photos).filePath(name);
    const QString ppm = QDir(dir.path()).filePath(QStringLiteral("framed.ppm"));
    const QString sizes = QDir(dir.path()).filePath(QStringLiteral("floor-kb.txt"));
    const QString childOut = QDir(dir.path()).filePath(QStringLiteral("batch-figures.txt"));
    double batchSeconds = -1;
    double floorSeconds = -1;
    QStringList best;
    for (int round = 0; round < rounds; ++round) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        const int status =
            bench::runToEnd({QCoreApplication::applicationFilePath(), QStringLiteral("--child"), photos, out},
                            QString(), childOut);
        if (status != 0) {
            std::printf("batch failed (%d)\n", status);
            return 1;
        }
        QFile printed(childOut);
        const QStringList fields = printed.open(QIODevice::ReadOnly)
                                       ? QString::fromLatin1(printed.readAll()).simplified().split(QLatin1Char(' '))
                                       : QStringList();
        if (fields.size() != 5 || fields.at(3).toInt() != photoCount) {
            std::printf("batch wrote %s of %d files\n", qPrintable(fields.value(3)), photoCount);
            return 1;
        }
        std::printf("round %d: batch %.2f s, peak %s MB\n", round + 1, fields.at(0).toDouble(), qPrintable(fields.at(1)));
        if (batchSeconds < 0 || fields.at(0).toDouble() < batchSeconds) {
            batchSeconds = fields.at(0).toDouble();
            best = fields;
        }
        if (round == 0) {
            const QImage framed(QDir(out).filePath(QStringLiteral("framed_IMG_0000.jpg")));
            std::printf("framed output: %d x %d\n", framed.width(), framed.height());
            // The floor encodes a picture of the framed size for every photo.
            bench::runToEnd({QStringLiteral("djpeg"), QStringLiteral("-outfile"), ppm,
                             QDir(out).filePath(QStringLiteral("framed_IMG_0000.jpg"))});
        }
        // Each process's peak memory goes to `sizes`, a line each.
        const QString script = QStringLiteral("/usr/bin/time -a -o '%3' -f %M djpeg -outfile /dev/null \"$1\" && "
                                              "/usr/bin/time -a -o '%3' -f %M cjpeg -quality 90 -outfile "
                                              "\"%1/$(basename \"$1\")\" '%2'")
                                   .arg(floorOut, ppm, sizes);
        const double s = parallelShell(script, inputs, dir.path());
        if (s <= 0) {
            std::printf("floor failed: djpeg/cjpeg missing?\n");
            return 1;
        }
        std::printf("round %d: floor %.2f s\n", round + 1, s);
        if (floorSeconds < 0 || s < floorSeconds)
            floorSeconds = s;
    }
    const QStringList fields = best;
    std::printf("batch: %.2f s, %.2f files/s, peak memory %s MB (before the run %s MB)\n", batchSeconds,
                photoCount / batchSeconds, qPrintable(fields.at(1)), qPrintable(fields.at(2)));
    std::printf("floor (djpeg + cjpeg -quality 90, one process per core): %.2f s, %.2f files/s\n", floorSeconds,
                photoCount / floorSeconds);
    long floorKb = 0;
    QFile kb(sizes);
    if (kb.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : kb.readAll().split('\n'))
            floorKb = std::max(floorKb, line.trimmed().toLong());
    }
    std::printf("floor peak memory: %.1f MB a process at most, %.1f MB for %d processes at once\n", floorKb / 1024.0,
                floorKb / 1024.0 * QThread::idealThreadCount(), QThread::idealThreadCount());
    std::printf("result: %.2f x floor\n", batchSeconds / floorSeconds);
    return 0;
}
