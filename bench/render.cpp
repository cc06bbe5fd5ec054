// A 24 MP photo framed with a full frame and a colour mat with a bevel, drop
// shadows on, rendered at full size as an export does; set against one plain
// drawing of the photo at that size. Also the cost of the full frame's drop
// shadow alone on a 6000 x 4000 design. --quick: a 1200 x 800 photo, one run
// each.
#include "bench/Quick.h"
#include "scenes/QuietShell.h"
#include "design/KTColorMatLayer.h"
#include "design/KTFullFrameLayer.h"
#include "design/KTTemplate.h"
#include "platform/archive/Color.h"
#include "platform/archive/TypedStreamColor.h"
#include "platform/render/DrawingContext.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameImage.h"
#include "stores/FrameType.h"
#include "stores/LibraryStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double medianMs(int runs, const std::function<void()> &work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A photo with some structure, so no step can take a shortcut on flat colour.
QImage makePhoto(int w, int h)
{
    QImage photo(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(photo.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] = qRgb((x * 255) / w, (y * 255) / h, ((x ^ y) & 0xff));
    }
    return photo;
}

QImage makeFramePicture(int w, int h)
{
    QImage frame(w, h, QImage::Format_ARGB32_Premultiplied);
    frame.fill(QColor(110, 70, 35));
    QPainter p(&frame);
    const int b = std::min(w, h) / 12;
    for (int i = 0; i < b; i += 6)
        p.fillRect(QRect(i, i, w - 2 * i, h - 2 * i), QColor(110 + i % 60, 70 + i % 40, 35));
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillRect(QRect(b, b, w - 2 * b, h - 2 * b), Qt::transparent);
    return frame;
}

Frame *addFrame(platform::ManagedObjectContext *moc, const QString &typeName, const QString &name)
{
    FrameType *type = FrameType::frameTypeWithName(typeName, moc);
    if (!type) {
        type = FrameType::insertInManagedObjectContext(moc);
        type->setName(typeName);
    }
    Frame *frame = Frame::insertInManagedObjectContext(moc);
    frame->setName(name);
    frame->setFrametype(type);
    return frame;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool quick = bench::takeQuickFlag(argc, argv);
    QGuiApplication app(argc, argv);
    QTemporaryDir scratch;
    const int w = quick ? 1200 : 6000;
    const int h = quick ? 800 : 4000;
    const int runs = quick ? 1 : 5;

    // The library: a real store with a full frame and a colour mat.
    scenes::QuietShell shell;
    LibraryStore store(&shell, scratch.filePath(QStringLiteral("support")));
    LibraryStore::setShared(&store);
    QDir().mkpath(store.framesGraphicsFolder());
    platform::ManagedObjectContext *moc = store.managedObjectContext();
    const QString framePath = scratch.filePath(QStringLiteral("frame.png"));
    QImageWriter(framePath).write(makeFramePicture(w / 2, h / 2));
    Frame *full = addFrame(moc, QStringLiteral("Full frame"), QStringLiteral("Bench frame"));
    full->frameAttributeWithName(QStringLiteral("Landscape Image"))
        ->setImageVal(FrameImage::frameImageFromImageAtPath(framePath, moc));
    Frame *matFrame = addFrame(moc, QStringLiteral("Color Mat"), QStringLiteral("Bench mat"));
    matFrame->frameAttributeWithName(QStringLiteral("Mat color"))
        ->setColorVal(platform::typedStreamDataForColor(platform::Color::rgb(0.95, 0.93, 0.88)));
    platform::Error error;
    if (!moc->save(&error)) {
        std::fprintf(stderr, "the library could not be saved: %s\n", qPrintable(error.description));
        return 1;
    }

    // The photo, as a file the design imports.
    const QString photoPath = scratch.filePath(QStringLiteral("photo.jpg"));
    {
        QImageWriter writer(photoPath);
        writer.setQuality(90);
        writer.write(makePhoto(w, h));
    }
    auto design = std::make_shared<KTTemplate>();
    if (!design->importImage(QUrl::fromLocalFile(photoPath))) {
        std::fprintf(stderr, "could not import the photo\n");
        return 1;
    }
    auto mat = std::dynamic_pointer_cast<KTColorMatLayer>(KTFrameLayer::frameLayerFromFrame(matFrame));
    auto frame = std::dynamic_pointer_cast<KTFullFrameLayer>(KTFrameLayer::frameLayerFromFrame(full));
    if (!mat || !frame) {
        std::fprintf(stderr, "could not make the frame layers\n");
        return 1;
    }
    design->addTopmostFrameLayer(mat);
    design->addTopmostFrameLayer(frame);
    mat->setBevelWidth(0.03);
    mat->setDropShadow(true);
    frame->setDropShadow(true);
    frame->setScale(1.15);
    design->setExportMode(true);

    const QSizeF framed = design->sizeFromOriginalWithOuterShadow(false);
    const int fw = int(std::lround(framed.width()));
    const int fh = int(std::lround(framed.height()));
    QImage canvas(fw, fh, QImage::Format_ARGB32_Premultiplied);
    const auto renderDesign = [&] {
        canvas.fill(Qt::transparent);
        platform::DrawingContext ctx(canvas);
        design->drawToRect(QRectF(0, 0, fw, fh), true, true, nullptr, false);
    };
    renderDesign(); // warm-up: first touches of buffers and tables
    const double renderMs = medianMs(runs, renderDesign);
    const QImage rendered = canvas.scaled(64, 64);

    // One plain drawing of the photo at the framed size.
    const QImage photo = makePhoto(w, h).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const auto plain = [&] {
        canvas.fill(Qt::transparent);
        platform::DrawingContext ctx(canvas);
        ctx.drawImage(QRectF(0, 0, fw, fh), photo);
    };
    plain();
    const double plainMs = medianMs(runs, plain);
    // The frame and mat were drawn round the photo: the design is no plain photo.
    if (!frame->imagesLoaded() || qAlpha(rendered.pixel(32, 32)) != 255 || rendered == canvas.scaled(64, 64)) {
        std::fprintf(stderr, "the design was not drawn\n");
        return 1;
    }

    // The full frame alone on a 6000 x 4000 design, with and without its shadow.
    auto frameOnly = std::make_shared<KTTemplate>();
    frameOnly->setExportMode(true);
    frameOnly->setUsedForIconGeneration(true);
    auto bare = std::dynamic_pointer_cast<KTFullFrameLayer>(KTFrameLayer::frameLayerFromFrame(full));
    frameOnly->addTopmostLayer(bare);
    QImage frameCanvas(w, h, QImage::Format_ARGB32_Premultiplied);
    const auto drawFrame = [&] {
        frameCanvas.fill(Qt::white);
        platform::DrawingContext ctx(frameCanvas);
        bare->drawLayerForRect(QRectF(0, 0, w, h), true, true);
    };
    bare->setDropShadow(false);
    drawFrame();
    const double frameMs = medianMs(runs, drawFrame);
    if (frameCanvas.pixel(w / 2, 1) == qRgb(255, 255, 255)) {
        std::fprintf(stderr, "the full frame was not drawn\n");
        return 1;
    }
    bare->setDropShadow(true);
    drawFrame();
    const double frameShadowMs = medianMs(runs, drawFrame);

    const double ratio = renderMs / plainMs;
    std::printf("photo %dx%d, framed design %dx%d (full frame with shadow, mat with bevel and shadow)\n", w, h, fw,
                fh);
    std::printf("render of the framed design, median of %d: %.1f ms\n", runs, renderMs);
    std::printf("plain drawImage of the photo at that size, median of %d: %.1f ms\n", runs, plainMs);
    std::printf("full frame %dx%d: %.1f ms without shadow, %.1f ms with; the shadow takes %.1f ms\n", w, h, frameMs,
                frameShadowMs, frameShadowMs - frameMs);
    std::printf("result: %.2f x\n", ratio);
    LibraryStore::setShared(nullptr);
    return 0;
}
