// Export of a 24 MP photo framed with a moulding of four different side
// pictures, colour-filtered and with shadows, against the same export framed
// with a full frame (one picture stretched round the photo), JPEG q90 at the
// photo's own size.
//
// Frames come from a real library store made in a temporary folder. Each
// design is exported in child processes of their own, timed from the copy
// made for rendering to the written file (photo decoding and frame loading
// are the same for all and are left out), best of several. The moulding's
// output is larger (it lies round the photo; the full frame lies over its
// edge), so its JPEG alone takes about a third longer. The result is
// moulding / full frame. --quick: a 1200 x 800 photo, one run in one process.
#include "bench/Quick.h"
#include "scenes/SceneLibrary.h"
#include "scenes/ScenePictures.h"
#include "design/KTFrameLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTProgressReportingDataProvider.h"
#include "design/KTTemplate.h"
#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
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
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

// Exports timed in each child process, and child processes per design.
bool quick = false;
int runs = 3;
int processes = 2;

// One export in this process; prints its milliseconds.
int child(const QString &designName, const QString &pictures, const QString &out)
{
    scenes::SceneLibrary library;
    if (!library.moc())
        return 2;

    auto design = std::make_shared<KTTemplate>();
    if (!design->importImage(QUrl::fromLocalFile(QDir(pictures).filePath(QStringLiteral("photo.jpg")))))
        return 3;
    const QDir dir(pictures);
    std::shared_ptr<KTFrameLayer> layer;
    if (designName.startsWith(QLatin1String("moulding"))) {
        Frame *frame = library.frame(QStringLiteral("Moulding"), QStringLiteral("Moulding"),
                                     {{QStringLiteral("Left Image"), dir.filePath(QStringLiteral("left.png"))},
                                      {QStringLiteral("Top Image"), dir.filePath(QStringLiteral("top.png"))},
                                      {QStringLiteral("Right Image"), dir.filePath(QStringLiteral("right.png"))},
                                      {QStringLiteral("Bottom Image"), dir.filePath(QStringLiteral("bottom.png"))}});
        layer = KTFrameLayer::frameLayerFromFrame(frame, {true});
        auto moulding = std::dynamic_pointer_cast<KTMoldingFrameLayer>(layer);
        if (!moulding || !moulding->imagesLoaded() || !moulding->dropShadow())
            return 4;
        moulding->setSaturationShift(0.6);
        moulding->setLightnessShift(0.4);
        if (designName == QLatin1String("moulding-flat"))
            moulding->setDropShadow(false);
    } else if (designName == QLatin1String("fullframe")) {
        Frame *frame = library.frame(QStringLiteral("Full frame"), QStringLiteral("Full frame"),
                                     {{QStringLiteral("Landscape Image"), dir.filePath(QStringLiteral("full.png"))}});
        layer = KTFrameLayer::frameLayerFromFrame(frame);
    }
    if (designName != QLatin1String("photo")) {
        if (!layer || !layer->imagesLoaded())
            return 4;
        design->addTopmostFrameLayer(layer);
    }

    // As the document exports: a copy for rendering, at the photo's own
    // size; the best of a few, so start-up work in the process is left out.
    double best = 1e18;
    double bestRender = 0;
    QSize size;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer t;
        t.start();
        auto copy = design->copyForRendering();
        copy->setExportMode(true);
        copy->setExportQuality(0.9);
        platform::Error error;
        auto image =
            copy->newDataProvidedCGImageOfSize(copy->sizeFromOriginalWithOuterShadow(true), nullptr, nullptr, &error);
        const double rendered = t.nsecsElapsed() / 1e6;
        if (!image || !copy->writeToURL(QUrl::fromLocalFile(out), platform::TypeTable::kJPEG, image, &error)) {
            std::fprintf(stderr, "export failed: %s\n", qPrintable(error.description));
            return 5;
        }
        const double total = t.nsecsElapsed() / 1e6;
        if (total < best) {
            best = total;
            bestRender = rendered;
            size = QSize(image->width(), image->height());
        }
    }
    // The whole export, its rendering part, and the picture's size.
    std::printf("%.1f %.1f %d %d\n", best, bestRender, size.width(), size.height());
    return 0;
}

struct Timing {
    double total = -1; // rendering and JPEG, ms
    double render = 0; // of that, the rendering, ms
    QSize size;
};

// The best of the child processes.
Timing bestOf(const QString &designName, const QString &pictures)
{
    Timing best;
    for (int process = 0; process < processes; ++process) {
        QStringList arguments = {QStringLiteral("--child"), designName, pictures,
                                 QDir(pictures).filePath(QStringLiteral("export-%1.jpg").arg(designName))};
        if (quick)
            arguments << QStringLiteral("--quick");
        QProcess p;
        p.start(QCoreApplication::applicationFilePath(), arguments);
        if (!p.waitForFinished(300000) || p.exitCode() != 0) {
            std::printf("%s: export failed (%d): %s\n", qPrintable(designName), p.exitCode(),
                        p.readAllStandardError().constData());
            return Timing();
        }
        const QStringList fields =
            QString::fromLatin1(p.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
        if (fields.size() != 4)
            return Timing();
        Timing t;
        t.total = fields.at(0).toDouble();
        t.render = fields.at(1).toDouble();
        t.size = QSize(fields.at(2).toInt(), fields.at(3).toInt());
        if (best.total < 0 || t.total < best.total)
            best = t;
    }
    return best;
}

void printRow(const char *name, const Timing &t)
{
    std::printf("%-28s %5d x %-5d %9.1f ms %9.1f ms\n", name, t.size.width(), t.size.height(), t.render, t.total);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    quick = bench::takeQuickFlag(argc, argv);
    if (quick)
        runs = processes = 1;
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args.at(1) == QLatin1String("--child"))
        return child(args.at(2), args.at(3), args.at(4));

    const int photoWidth = quick ? 1200 : 6000;
    const int photoHeight = quick ? 800 : 4000;
    QTemporaryDir dir;
    const QDir pictures(dir.path());
    // The moulding scene of the export tests, at 24 MP and four times the side pictures.
    scenes::photo(photoWidth, photoHeight, 1).save(pictures.filePath(QStringLiteral("photo.jpg")), "JPEG", 90);
    const char *sides[] = {"left.png", "top.png", "right.png", "bottom.png"};
    for (int which = 0; which < 4; ++which)
        scenes::mouldingSide(which, 4).save(pictures.filePath(QString::fromLatin1(sides[which])));
    scenes::fullFramePicture(photoWidth / 2, photoHeight / 2, 0.1).save(pictures.filePath(QStringLiteral("full.png")));
    std::printf("photo: %d x %d JPEG q90; moulding: four 240 x 960 sides, saturation 0.6, +0.4 EV, shadows; "
                "full frame: one %d x %d picture\n",
                photoWidth, photoHeight, photoWidth / 2, photoHeight / 2);

    const Timing photo = bestOf(QStringLiteral("photo"), dir.path());
    const Timing full = bestOf(QStringLiteral("fullframe"), dir.path());
    const Timing moulding = bestOf(QStringLiteral("moulding"), dir.path());
    const Timing flat = bestOf(QStringLiteral("moulding-flat"), dir.path());
    if (photo.total < 0 || full.total < 0 || moulding.total < 0 || flat.total < 0)
        return 1;
    std::printf("best of %d runs in each of %d processes   %-12s %12s %12s\n", runs, processes, "output", "render",
                "export");
    printRow("photo alone", photo);
    printRow("full frame", full);
    printRow("moulding (4 sides, shadows)", moulding);
    printRow("the same, no shadows", flat);
    std::printf("full frame export %.1f ms, moulding export %.1f ms (same photo, same run)\n", full.total,
                moulding.total);
    std::printf("result: %.2f x\n", moulding.total / full.total);
    return 0;
}
