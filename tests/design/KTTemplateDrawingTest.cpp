#include "DesignTestLayers.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace designtest;

namespace {

void expectRect(const QRectF &actual, const QRectF &expected)
{
    EXPECT_NEAR(actual.x(), expected.x(), 1e-9);
    EXPECT_NEAR(actual.y(), expected.y(), 1e-9);
    EXPECT_NEAR(actual.width(), expected.width(), 1e-9);
    EXPECT_NEAR(actual.height(), expected.height(), 1e-9);
}

struct UnevenDesign {
    std::shared_ptr<KTTemplate> design = std::make_shared<KTTemplate>();
    std::shared_ptr<FillLayer> photo = std::make_shared<FillLayer>(Qt::blue);
    // 15 % of the width on the left, 5 % on the right, nothing above or below.
    std::shared_ptr<RingFrameLayer> frame = std::make_shared<RingFrameLayer>(0.15, 0.05, 0, 0, Qt::red);
    UnevenDesign()
    {
        design->insertLayer(photo, 0);
        design->addTopmostLayer(frame);
    }
};

bool isColor(const QColor &c, Qt::GlobalColor expected)
{
    return c == QColor(expected);
}

} // namespace

TEST(KTTemplateDrawing, UnevenLayersAreStillCentred)
{
    UnevenDesign d;
    const QRectF r(0, 0, 200, 100);
    expectRect(d.design->finalRectFromStartRect(r, false), QRectF(-30, 0, 240, 100));

    QImage canvas = blankCanvas(200, 100);
    {
        platform::DrawingContext ctx(canvas);
        d.design->drawToRect(r, true, false, nullptr, false);
    }
    // The photo lands at (25, 8.33, 166.67, 83.33) and the framed design
    // spans the full width, centred.
    ASSERT_EQ(d.photo->calls.size(), 1u);
    expectRect(d.photo->calls[0].rect, QRectF(25, 100 / 12.0, 500 / 3.0, 250 / 3.0));
    EXPECT_TRUE(isColor(pixelYUp(canvas, 3, 50), Qt::red));
    EXPECT_TRUE(isColor(pixelYUp(canvas, 197, 50), Qt::red));
    EXPECT_TRUE(isColor(pixelYUp(canvas, 100, 50), Qt::blue));
    EXPECT_EQ(pixelYUp(canvas, 100, 3).alpha(), 0);  // below the design
    EXPECT_EQ(pixelYUp(canvas, 100, 96).alpha(), 0); // above it

    // Fitting without the move has the same size but is not centred.
    const QRectF fitted = d.design->finalFramedRectFittingStartRect(r);
    expectRect(fitted, QRectF(-25 / 3.0, 100 / 12.0, 200, 250 / 3.0));
}

TEST(KTTemplateDrawing, CancelAfterTheFirstLayerLeavesOnlyThePhoto)
{
    UnevenDesign d;
    auto hidden = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1, Qt::green);
    hidden->setHidden(true);
    d.design->addTopmostLayer(hidden);
    std::vector<std::pair<unsigned, unsigned>> progress;

    QImage canvas = blankCanvas(200, 100);
    {
        platform::DrawingContext ctx(canvas);
        d.design->drawToRect(QRectF(0, 0, 200, 100), true, false,
                             [&](unsigned done, unsigned total) {
                                 progress.emplace_back(done, total);
                                 return true;
                             },
                             false);
    }
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0], std::make_pair(1u, 3u)); // the hidden layer counts in the total
    EXPECT_TRUE(d.frame->calls.empty());
    EXPECT_TRUE(isColor(pixelYUp(canvas, 100, 50), Qt::blue));
    EXPECT_EQ(pixelYUp(canvas, 3, 50).alpha(), 0);
    EXPECT_FALSE(d.design->isDrawing());

    // Without cancelling, every layer (hidden ones too) is counted.
    progress.clear();
    {
        platform::DrawingContext ctx(canvas);
        d.design->drawToRect(QRectF(0, 0, 200, 100), true, false,
                             [&](unsigned done, unsigned total) {
                                 progress.emplace_back(done, total);
                                 return false;
                             },
                             false);
    }
    ASSERT_EQ(progress.size(), 3u);
    EXPECT_EQ(progress[2], std::make_pair(3u, 3u));
    EXPECT_TRUE(hidden->calls.empty());
    EXPECT_TRUE(isColor(pixelYUp(canvas, 3, 50), Qt::red));
}

TEST(KTTemplateDrawing, QuickDrawingThenForcedHighQualityRedraw)
{
    UnevenDesign d;
    NotificationLog log(d.design.get());
    QImage canvas = blankCanvas(200, 100);
    auto draw = [&] {
        platform::DrawingContext ctx(canvas);
        d.design->drawToRect(QRectF(0, 0, 200, 100), true, false, nullptr, false);
    };

    d.frame->emitChanged(); // the frame changed: it alone draws at high quality
    draw();
    EXPECT_TRUE(d.frame->calls.back().highQuality);
    EXPECT_FALSE(d.photo->calls.back().highQuality);
    EXPECT_EQ(d.design->onlyHQLayer(), nullptr);

    // The forced redraw arrives later as a redraw-only notification.
    auto forced = [&] {
        for (const auto &n : log.posted)
            if (n.userInfo.has_value() && n.userInfo->isEmpty())
                return true;
        return false;
    };
    EXPECT_FALSE(forced());
    ASSERT_TRUE(testsupport::waitUntil(forced));

    // Drawing after it: everything at the caller's quality.
    draw();
    EXPECT_TRUE(d.frame->calls.back().highQuality);
    EXPECT_TRUE(d.photo->calls.back().highQuality);

    // A fast redraw draws everything quickly.
    d.frame->emitFastRedraw();
    draw();
    EXPECT_FALSE(d.frame->calls.back().highQuality);
    EXPECT_FALSE(d.photo->calls.back().highQuality);
}

TEST(KTTemplateDrawing, ExportModeHidesTheSelectionWhileDrawing)
{
    UnevenDesign d;
    d.frame->setIsSelected(true);
    d.frame->emitChanged(); // ignored in export mode below: all layers at full quality
    d.design->setExportMode(true);
    QImage canvas = blankCanvas(200, 100);
    {
        platform::DrawingContext ctx(canvas);
        d.design->drawToRect(QRectF(0, 0, 200, 100), true, true, nullptr, false);
    }
    ASSERT_EQ(d.frame->calls.size(), 1u);
    EXPECT_FALSE(d.frame->calls[0].selectedWhileDrawing);
    EXPECT_TRUE(d.frame->calls[0].highQuality);
    EXPECT_TRUE(d.frame->calls[0].skipCache);
    EXPECT_TRUE(d.photo->calls[0].highQuality);
    EXPECT_TRUE(d.frame->isSelected());
}

TEST(KTTemplateDrawing, OuterShadowGrowsTheFramedRect)
{
    auto design = std::make_shared<KTTemplate>();
    auto frame = std::make_shared<RingFrameLayer>(0, 0, 0, 0);
    design->insertLayer(frame, 0);
    const QRectF photo(0, 0, 1000, 600);
    expectRect(design->finalRectFromStartRect(photo, true), photo); // exports carry no shadow yet

    design->setExportExternalShadow(true);
    // k = 600 x 0.03 x 0.2 = 3.6 downwards, blur 9 all round.
    expectRect(design->finalRectFromStartRect(photo, true), QRectF(-9, -12.6, 1018, 618));
    expectRect(design->finalRectFromStartRect(photo, false), photo);

    design->setDrawShadows(false);
    expectRect(design->finalRectFromStartRect(photo, true), photo);

    // A design whose first non-overlay layer is not a frame takes no shadow.
    auto plain = std::make_shared<KTTemplate>();
    plain->insertLayer(std::make_shared<FillLayer>(), 0);
    plain->addTopmostLayer(std::make_shared<KTTextOverlayLayer>());
    plain->setExportExternalShadow(true);
    expectRect(plain->finalRectFromStartRect(photo, true), photo);
}

TEST(KTTemplateDrawing, FrameOnlyIconFillsThePhotoAreaWhite)
{
    // No frames at all: the whole target is the white photo area.
    auto empty = std::make_shared<KTTemplate>();
    QImage icon = empty->iconOfSize(QSizeF(40, 30), false);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(40, 30));
    EXPECT_EQ(icon.pixelColor(20, 15), QColor(Qt::white));

    auto design = std::make_shared<KTTemplate>();
    auto mat = std::make_shared<RingFrameLayer>(0.25, 0.25, 0.25, 0.25, Qt::red);
    mat->mask = true;
    design->insertLayer(mat, 0);
    QImage masked = blankCanvas(60, 60);
    {
        platform::DrawingContext ctx(masked);
        design->drawIconToRect(QRectF(0, 0, 60, 60));
    }
    // The mask-acting frame erases its own ring out of nothing; the inside is white.
    EXPECT_EQ(pixelYUp(masked, 30, 30), QColor(Qt::white));
    EXPECT_EQ(pixelYUp(masked, 2, 30).alpha(), 0);

    mat->mask = false;
    QImage framed = blankCanvas(60, 60);
    {
        platform::DrawingContext ctx(framed);
        design->drawIconToRect(QRectF(0, 0, 60, 60));
    }
    EXPECT_EQ(pixelYUp(framed, 30, 30).alpha(), 0); // no white fill behind a real frame
    EXPECT_EQ(pixelYUp(framed, 2, 30), QColor(Qt::red));
}

TEST(KTTemplateDrawing, IconWithPhotoTakesTheFittedSize)
{
    UnevenDesign d;
    const QImage icon = d.design->iconOfSize(QSizeF(200, 100), true);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(200, 83));
    EXPECT_FALSE(d.design->exportMode());
    EXPECT_TRUE(isColor(icon.pixelColor(100, 40), Qt::blue));
}

TEST(KTTemplateDrawing, DegenerateSizesDrawNothing)
{
    UnevenDesign d;
    QImage canvas = blankCanvas(20, 20);
    const double nan = std::nan("");
    {
        platform::DrawingContext ctx(canvas);
        d.design->drawToRect(QRectF(0, 0, 0, 20), true, false, nullptr, false);
        d.design->drawToRect(QRectF(0, 0, nan, 20), true, false, nullptr, false);
        d.design->drawToRect(QRectF(0, 0, 20, -5), true, false, nullptr, false);
        d.design->drawIconToRect(QRectF(0, 0, 20, 0));
    }
    EXPECT_TRUE(d.photo->calls.empty());
    EXPECT_TRUE(d.frame->calls.empty());
    EXPECT_FALSE(d.design->isDrawing());
    EXPECT_TRUE(d.design->iconOfSize(QSizeF(0, 10), true).isNull());
    EXPECT_TRUE(d.design->iconOfSize(QSizeF(nan, 10), false).isNull());
    EXPECT_TRUE(d.design->finalFramedRectFittingStartRect(QRectF(0, 0, 10, 0)).isNull());
    // No photo: no photo size and no framed size text, never a NaN.
    EXPECT_TRUE(d.design->sizeOfPreFramedImageForWidth(10).isEmpty());
    EXPECT_TRUE(d.design->framedSizeString().isEmpty());
    EXPECT_EQ(d.design->preCroppedAspectRatio(), 0);

    // A layer that collapses the design to nothing stops the fit as well.
    class Collapse : public KTLayer
    {
    public:
        QRectF resultingRectForRect(const QRectF &r) const override { return QRectF(r.x(), r.y(), 0, 0); }
    };
    d.design->addTopmostLayer(std::make_shared<Collapse>());
    {
        platform::DrawingContext ctx(canvas);
        d.design->drawToRect(QRectF(0, 0, 20, 20), true, false, nullptr, false);
    }
    EXPECT_TRUE(d.photo->calls.empty());
}

TEST(KTTemplateDrawing, CopyForRenderingDrawsTheSameAndStandsApart)
{
    UnevenDesign d;
    d.design->setShadowAngle(90);
    d.frame->setIsSelected(true);
    auto copy = d.design->copyForRendering();
    ASSERT_EQ(copy->layers().size(), 2);
    EXPECT_NE(copy->layers()[0].get(), d.frame.get());
    EXPECT_EQ(copy->layers()[0]->className(), QStringLiteral("designtest::RingFrameLayer"));
    EXPECT_EQ(copy->layers()[0]->inTemplate(), copy.get());
    EXPECT_EQ(copy->shadowAngle(), 90);

    QImage a = blankCanvas(200, 100);
    QImage b = blankCanvas(200, 100);
    {
        platform::DrawingContext ctx(a);
        d.design->drawToRect(QRectF(0, 0, 200, 100), true, false, nullptr, false);
    }
    {
        platform::DrawingContext ctx(b);
        copy->drawToRect(QRectF(0, 0, 200, 100), true, false, nullptr, false);
    }
    EXPECT_EQ(a, b);

    // Changes in the copy are the copy's alone.
    NotificationLog original(d.design.get());
    copy->removeLayer(copy->layers()[0]);
    EXPECT_TRUE(original.posted.empty());
    EXPECT_EQ(d.design->layers().size(), 2);
}
