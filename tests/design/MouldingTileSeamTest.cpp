#include "MouldingTestSupport.h"

#include "design/KTFrameLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "platform/render/DrawingContext.h"

#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>

using namespace mouldingtest;

namespace {

constexpr int kPictureLength = 240;
constexpr int kPictureDepth = 40;

// A top side whose last column leads into its first as smoothly as any two
// neighbouring columns: waves with whole periods in the length.
QImage seamlessPicture()
{
    QImage image(kPictureLength, kPictureDepth, QImage::Format_ARGB32);
    for (int y = 0; y < kPictureDepth; ++y)
        for (int x = 0; x < kPictureLength; ++x) {
            const double a = 6.283185307179586 * x / kPictureLength;
            image.setPixel(x, y, qRgb(int(128 + 90 * std::sin(a)), int(128 + 90 * std::cos(2 * a)), 60 + 3 * y));
        }
    return image;
}

struct Seams {
    double worstBoundary = 0; // the largest step across a tile boundary
    double worstInside = 0;   // the largest step between neighbouring columns inside a tile
    int boundaries = 0;
    int seeThrough = 0;       // pixels of the strip that let the background through
};

double step(const QImage &image, int a, int b, int top, int bottom)
{
    double sum = 0;
    for (int y = top; y <= bottom; ++y) {
        const QRgb p = image.pixel(a, y), q = image.pixel(b, y);
        sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
    }
    return sum / (bottom - top + 1);
}

// Walks the top side of the moulding last drawn by `layer` on `image` (whose
// device pixels are design units times `scale`).
Seams topSide(const QImage &image, const KTMoldingFrameLayer &layer, double scale)
{
    const QRectF outer = layer.drawRectOutside();
    const double fw = outer.height() - layer.drawRectInside().height();
    const double w = fw / 2;
    const double tile = std::nearbyint(kPictureLength * (w / kPictureDepth));
    // Rows across the middle of the strip, columns clear of the mitres.
    const int top = int(std::ceil((image.height() / scale - outer.bottom() + w * 0.3) * scale));
    const int bottom = int(std::floor((image.height() / scale - outer.bottom() + w * 0.7) * scale));
    const int left = int(std::ceil((outer.left() + w * 1.5) * scale));
    const int right = int(std::floor((outer.right() - w * 1.5) * scale));
    Seams s;
    QList<int> boundaryColumns;
    for (double x = outer.left() + tile; x < outer.right(); x += tile) {
        if (x * scale - 2 > left && x * scale + 2 < right) {
            boundaryColumns << int(std::floor(x * scale));
            ++s.boundaries;
        }
    }
    for (int x = left; x < right; ++x) {
        // A boundary at a fraction of a pixel is drawn into that pixel by both tiles.
        bool nearBoundary = false;
        for (int b : std::as_const(boundaryColumns))
            nearBoundary |= x >= b - 1 && x <= b + 1;
        const double d = step(image, x, x + 1, top, bottom);
        (nearBoundary ? s.worstBoundary : s.worstInside) = std::max(nearBoundary ? s.worstBoundary : s.worstInside, d);
        for (int y = top; y <= bottom; ++y)
            s.seeThrough += qAlpha(image.pixel(x, y)) < 255 ? 1 : 0;
    }
    return s;
}

} // namespace

TEST(MouldingTileSeams, TilesOfASeamlessPictureJoinWithoutASeam)
{
    FrameInStore store(QStringLiteral("Moulding"), {{"Top Image", seamlessPicture()}});
    auto design = std::make_shared<KTTemplate>();
    QImage photo(1200, 800, QImage::Format_RGB32);
    photo.fill(QColor(30, 30, 30));
    ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(writePng(photo))));
    auto layer = std::dynamic_pointer_cast<KTMoldingFrameLayer>(KTFrameLayer::frameLayerFromFrame(store.frame()));
    ASSERT_TRUE(layer && layer->imagesLoaded());
    layer->setDropShadow(false);
    design->addTopmostFrameLayer(layer);

    auto expect = [](const Seams &s, const char *what) {
        EXPECT_GE(s.boundaries, 2) << what;
        EXPECT_GT(s.worstInside, 0.5) << what;
        EXPECT_LE(s.worstBoundary, 1.5 * s.worstInside + 3) << what;
        EXPECT_EQ(s.seeThrough, 0) << what;
    };
    {
        // An export: the copy draws at the photo's own pixels.
        auto copy = design->copyForRendering();
        copy->setExportMode(true);
        const QImage image = copy->newCGBitmapContextOfSize(copy->sizeFromOriginalWithOuterShadow(true), nullptr);
        auto drawn = std::dynamic_pointer_cast<KTMoldingFrameLayer>(copy->topmostFrameLayer());
        ASSERT_TRUE(drawn);
        expect(topSide(image, *drawn, 1.0), "export");
    }
    // The screen: scaled so that tiles start between pixels, quick and finished drawings alike.
    for (bool highQuality : {false, true}) {
        const double scale = 0.6173;
        const QSizeF size = design->finalFramedRectFittingStartRect(QRectF(0, 0, 1200, 800)).size();
        QImage image(QSize(int(std::ceil(size.width() * scale)), int(std::ceil(size.height() * scale))),
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            platform::DrawingContext ctx(image);
            ctx.painter().scale(scale, scale);
            design->drawToRect(QRectF(QPointF(0, 0), size), highQuality, false, {}, false);
        }
        expect(topSide(image, *layer, scale), highQuality ? "screen, finished" : "screen, quick");
    }
}
