// Batch processing of 32 generated 12 MP camera JPEGs with one design (a
// mitred moulding with shadows and a bevelled mat), JPEG q90 out at the
// framed size, on every core, against a floor made of the system's own
// libjpeg-turbo tools: each file decoded by djpeg and a framed-size picture
// encoded by cjpeg -quality 90, one process per core, in the same run.
//
// The run happens in a child process, so its peak memory is its own. The
// result is the batch's time over the floor's.
#include "scenes/QuietShell.h"
#include "batch/KTBatchProcessingCoordinator.h"
#include "batch/KTBatchProcessingOptions.h"
#include "design/KTColorMatLayer.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "platform/UserDefaults.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameImage.h"
#include "stores/FrameType.h"
#include "stores/LibraryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include <sys/resource.h>

namespace {

constexpr int kFiles = 32;
constexpr int kPhotoWidth = 4000;
constexpr int kPhotoHeight = 3000;

// Wood-like grain for the moulding's sides.
QImage grain(int w, int h, QColor base, unsigned seed)
{
    QImage image(w, h, QImage::Format_ARGB32);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, 10);
    const bool alongX = w > h;
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int across = alongX ? y : x;
            const int span = alongX ? h : w;
            const double streak = 25 * std::sin(across * 0.35) + 30.0 * across / span + noise(rng);
            line[x] = qRgb(std::clamp(int(base.red() + streak), 0, 255), std::clamp(int(base.green() + streak), 0, 255),
                           std::clamp(int(base.blue() + streak), 0, 255));
        }
    }
    return image;
}

// A camera-like photo: soft shapes and fine noise (which JPEG can't squeeze away).
void writePhoto(const QString &path, unsigned seed)
{
    QImage image(kPhotoWidth, kPhotoHeight, QImage::Format_RGB32);
    std::mt19937 rng(seed);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, kPhotoHeight);
    sky.setColorAt(0, QColor::fromHsv(int(rng() % 360), 120, 200));
    sky.setColorAt(1, QColor::fromHsv(int(rng() % 360), 150, 90));
    p.fillRect(image.rect(), sky);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        p.setBrush(QColor::fromHsv(int(rng() % 360), int(rng() % 200), 60 + int(rng() % 180)));
        p.setPen(Qt::NoPen);
        const int r = 50 + int(rng() % 600);
        p.drawEllipse(QPoint(int(rng() % kPhotoWidth), int(rng() % kPhotoHeight)), r, r * 2 / 3);
    }
    p.end();
    std::uniform_int_distribution<int> noise(-9, 9);
    for (int row = 0; row < kPhotoHeight; ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        for (int col = 0; col < kPhotoWidth; ++col) {
            const int n = noise(rng);
            const QRgb v = line[col];
            line[col] = qRgb(std::clamp(qRed(v) + n, 0, 255), std::clamp(qGreen(v) + n, 0, 255),
                             std::clamp(qBlue(v) + n, 0, 255));
        }
    }
    image.save(path, "JPEG", 90);
}

Frame *libraryFrame(platform::ManagedObjectContext *moc, const QString &type,
                    const QList<QPair<QString, QString>> &pictures)
{
    FrameType *frameType = FrameType::insertInManagedObjectContext(moc);
    frameType->setName(type);
    Frame *frame = Frame::insertInManagedObjectContext(moc);
    frame->setName(type);
    frame->setFrametype(frameType);
    for (const auto &[attribute, path] : pictures) {
        FrameImage *image = FrameImage::frameImageFromImageAtPath(path, moc);
        if (FrameAttribute *a = frame->frameAttributeWithName(attribute); a && image)
            a->setImageVal(image);
    }
    return frame;
}

long peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// The batch in this process: prints seconds, peak MB and files written.
int child(const QString &photos, const QString &out)
{
    QTemporaryDir support;
    scenes::QuietShell shell;
    LibraryStore store(&shell, support.path());
    LibraryStore::setShared(&store);
    QDir().mkpath(store.framesGraphicsFolder());
    platform::ManagedObjectContext *moc = store.managedObjectContext();
    if (!moc)
        return 2;
    platform::UserDefaults::standard().setBool(KTMoldingFrameLayer::kShadowEnabledDefault, true);
    const QDir sides(support.path());
    grain(240, 960, QColor(110, 70, 35), 1).save(sides.filePath(QStringLiteral("left.png")));
    grain(960, 240, QColor(100, 65, 30), 2).save(sides.filePath(QStringLiteral("top.png")));
    grain(240, 960, QColor(115, 75, 40), 3).save(sides.filePath(QStringLiteral("right.png")));
    grain(960, 240, QColor(105, 60, 35), 4).save(sides.filePath(QStringLiteral("bottom.png")));
    Frame *frame = libraryFrame(moc, QStringLiteral("Moulding"),
                                {{QStringLiteral("Left Image"), sides.filePath(QStringLiteral("left.png"))},
                                 {QStringLiteral("Top Image"), sides.filePath(QStringLiteral("top.png"))},
                                 {QStringLiteral("Right Image"), sides.filePath(QStringLiteral("right.png"))},
                                 {QStringLiteral("Bottom Image"), sides.filePath(QStringLiteral("bottom.png"))}});
    auto moulding = std::dynamic_pointer_cast<KTMoldingFrameLayer>(KTFrameLayer::frameLayerFromFrame(frame));
    if (!moulding || !moulding->imagesLoaded() || !moulding->dropShadow())
        return 3;
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(std::make_shared<KTImageLayer>(), 0);
    auto mat = std::make_shared<KTColorMatLayer>();
    mat->setMatColor(QColor(236, 230, 214));
    mat->setBevelWidth(0.02);
    design->addTopmostLayer(mat);
    design->addTopmostFrameLayer(moulding);
    design->setName(QStringLiteral("Bench"));

    QList<QUrl> files;
    for (const QString &name : QDir(photos).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name))
        files << QUrl::fromLocalFile(QDir(photos).filePath(name));
    auto options = std::make_shared<const KTBatchProcessingOptions>(
        files, KTImageFileFormat::JPGFileFormat(),
        KTBatchProcessingTemplate::initWithExternalTemplate(design, QUrl::fromLocalFile(photos + QStringLiteral("/Bench.KTTemplate"))),
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
    LibraryStore::setShared(nullptr);
    return 0;
}

// Runs `script` once per argument, one process per core; answers seconds.
double parallelShell(const QString &script, const QStringList &arguments)
{
    QProcess xargs;
    xargs.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer t;
    t.start();
    xargs.start(QStringLiteral("xargs"), {QStringLiteral("-0"), QStringLiteral("-n"), QStringLiteral("1"), QStringLiteral("-P"),
                                          QString::number(QThread::idealThreadCount()), QStringLiteral("sh"), QStringLiteral("-c"),
                                          script, QStringLiteral("floor")});
    xargs.waitForStarted();
    xargs.write(arguments.join(QChar(0)).toUtf8());
    xargs.closeWriteChannel();
    xargs.waitForFinished(-1);
    if (xargs.exitCode() != 0)
        return -1;
    return t.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
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
                for (int i = t; i < kFiles; i += threads)
                    writePhoto(QDir(photos).filePath(QStringLiteral("IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0'))), 100 + i);
            });
        for (auto &m : makers)
            m.join();
    }
    std::printf("%d photos, %d x %d JPEG q90; design: mitred moulding (four sides, shadows) and a bevelled mat; "
                "JPEG q90 at the framed size; %d cores\n",
                kFiles, kPhotoWidth, kPhotoHeight, QThread::idealThreadCount());

    // Two rounds of the batch and the floor taken in turn, the best of
    // each: the machine's other work weighs on both alike.
    QStringList inputs;
    for (const QString &name : QDir(photos).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name))
        inputs << QDir(photos).filePath(name);
    const QString ppm = QDir(dir.path()).filePath(QStringLiteral("framed.ppm"));
    double batchSeconds = -1;
    double floorSeconds = -1;
    QStringList best;
    for (int round = 0; round < 2; ++round) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        run.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), photos, out});
        if (!run.waitForFinished(-1) || run.exitCode() != 0) {
            std::printf("batch failed (%d)\n", run.exitCode());
            return 1;
        }
        const QStringList fields = QString::fromLatin1(run.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
        if (fields.size() != 5 || fields.at(3).toInt() != kFiles) {
            std::printf("batch wrote %s of %d files\n", qPrintable(fields.value(3)), kFiles);
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
            QProcess::execute(QStringLiteral("djpeg"), {QStringLiteral("-outfile"), ppm,
                                                        QDir(out).filePath(QStringLiteral("framed_IMG_0000.jpg"))});
        }
        const QString script =
            QStringLiteral("djpeg -outfile /dev/null \"$1\" && cjpeg -quality 90 -outfile \"%1/$(basename \"$1\")\" '%2'")
                .arg(floorOut, ppm);
        const double s = parallelShell(script, inputs);
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
                kFiles / batchSeconds, qPrintable(fields.at(1)), qPrintable(fields.at(2)));
    std::printf("floor (djpeg + cjpeg -quality 90, one process per core): %.2f s, %.2f files/s\n", floorSeconds,
                kFiles / floorSeconds);
    std::printf("result: %.2f x floor\n", batchSeconds / floorSeconds);
    return 0;
}
