#include "MouldingTestSupport.h"

#include "design/KTFrameLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "platform/render/DrawingContext.h"

#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
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
    double worstBoundary = 0, worstInside = 0; // largest column steps at and between tile boundaries
    int boundaries = 0, seeThrough = 0;        // pixels of the strip that let the background through
};

// Walks the top side of the moulding last drawn by `layer` on `image` (whose
// device pixels are design units times `scale`): rows across the middle of
// the strip, columns clear of the mitres.
Seams topSide(const QImage &image, const KTMoldingFrameLayer &layer, double scale)
{
    const QRectF outer = layer.drawRectOutside();
    const double w = (outer.height() - layer.drawRectInside().height()) / 2;
    const double tile = std::nearbyint(kPictureLength * (w / kPictureDepth));
    const int top = int(std::ceil(image.height() - (outer.bottom() - w * 0.3) * scale));
    const int bottom = int(std::floor(image.height() - (outer.bottom() - w * 0.7) * scale));
    const int left = int(std::ceil((outer.left() + w * 1.5) * scale));
    const int right = int(std::floor((outer.right() - w * 1.5) * scale));
    Seams s;
    QList<int> boundaries;
    for (double x = (outer.left() + tile) * scale; x < right - 2; x += tile * scale)
        if (x - 2 > left)
            boundaries << int(std::floor(x));
    s.boundaries = int(boundaries.size());
    for (int x = left; x < right; ++x) {
        double step = 0;
        for (int y = top; y <= bottom; ++y) {
            const QRgb p = image.pixel(x, y), q = image.pixel(x + 1, y);
            step += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
            s.seeThrough += qAlpha(p) < 255 ? 1 : 0;
        }
        // A boundary inside a pixel is drawn into it by both tiles.
        const bool atBoundary = std::any_of(boundaries.begin(), boundaries.end(), [x](int b) { return std::abs(x - b) <= 1; });
        double &worst = atBoundary ? s.worstBoundary : s.worstInside;
        worst = std::max(worst, step / (bottom - top + 1));
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
