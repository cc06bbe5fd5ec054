#include "FrameLayerTestSupport.h"

#include "design/KTColorMatLayer.h"
#include "design/KTFullFrameLayer.h"
#include "design/VLImage.h"

#include <gtest/gtest.h>

using namespace frametest;

namespace {

const QColor kMat(200, 40, 90);

// A mat in a design of its own (for the shadow direction), drawn alone
// around `inner` on a 600 x 500 canvas.
struct MatScene {
    std::shared_ptr<KTTemplate> design = std::make_shared<KTTemplate>();
    std::shared_ptr<KTColorMatLayer> mat = std::make_shared<KTColorMatLayer>();
    MatScene()
    {
        mat->setMatColor(kMat);
        design->addTopmostLayer(mat);
    }
    QImage draw(const QRectF &inner = QRectF(100, 100, 400, 300))
    {
        QImage canvas(600, 500, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        platform::DrawingContext ctx(canvas);
        mat->drawLayerForRect(inner, true, true);
        return canvas;
    }
};

int brightness(const QColor &c)
{
    return c.red() + c.green() + c.blue();
}

} // namespace

TEST(ColorMatGeometry, SidesGrowByTheirShareOfTheShortSide)
{
    KTColorMatLayer mat;
    EXPECT_EQ(mat.resultingRectForRect(QRectF(0, 0, 400, 300)), QRectF(-15, -15, 430, 330));
    mat.setBottomWidth(0.4);
    mat.setTopWidth(0);
    EXPECT_EQ(mat.resultingRectForRect(QRectF(0, 0, 400, 300)), QRectF(-15, -120, 430, 420));
    mat.setLeftWidth(0.7);
    EXPECT_DOUBLE_EQ(mat.leftWidth(), 0.4);
    mat.setBevelWidth(-1);
    EXPECT_DOUBLE_EQ(mat.bevelWidth(), 0.0);
    mat.setRightWidth(std::nan(""));
    EXPECT_DOUBLE_EQ(mat.rightWidth(), 0.0);
    QVariant v(0.9);
    mat.validateValue(v, QStringLiteral("topWidth"));
    EXPECT_DOUBLE_EQ(v.toDouble(), 0.4);
    v = 0.5;
    mat.validateValue(v, QStringLiteral("bevelWidth"));
    EXPECT_DOUBLE_EQ(v.toDouble(), 0.1);
    v = 3;
    mat.validateValue(v, QStringLiteral("opacity"));
    EXPECT_DOUBLE_EQ(v.toDouble(), 1.0);

    const QVariantMap report = mat.reportForRealSize(QSizeF(40, 30));
    EXPECT_EQ(report.size(), 8);
    EXPECT_EQ(report.value(QStringLiteral("Size")).toSizeF(), mat.resultingRectForRect(QRectF(0, 0, 40, 30)).size());
    EXPECT_DOUBLE_EQ(report.value(QStringLiteral("BottomWidth")).toDouble(), 12.0);
    EXPECT_DOUBLE_EQ(report.value(QStringLiteral("LeftWidth")).toDouble(), 12.0);
}

TEST(ColorMatDrawing, EachSideIsPaintedAsWideAsSet)
{
    MatScene s;
    s.mat->setLeftWidth(0.1);   // 30 px
    s.mat->setRightWidth(0.02); // 6 px
    s.mat->setBottomWidth(0.2); // 60 px
    s.mat->setTopWidth(0);
    s.mat->setBevelWidth(0);
    s.design->setDrawShadows(false);
    const QImage out = s.draw();
    EXPECT_EQ(s.mat->drawRectOutside(), QRectF(70, 40, 436, 360));
    EXPECT_EQ(at(out, 71, 250), kMat);
    EXPECT_EQ(at(out, 68, 250).alpha(), 0);
    EXPECT_EQ(at(out, 504, 250), kMat);
    EXPECT_EQ(at(out, 508, 250).alpha(), 0);
    EXPECT_EQ(at(out, 300, 41), kMat);
    EXPECT_EQ(at(out, 300, 38).alpha(), 0);
    EXPECT_EQ(at(out, 300, 402).alpha(), 0);
    // The window stays empty, the photo's place.
    EXPECT_EQ(at(out, 300, 250).alpha(), 0);
    EXPECT_EQ(at(out, 101, 250).alpha(), 0);

    // Hits on the mat, not in its window; opacity replaces the colour's alpha.
    EXPECT_TRUE(s.mat->isHitAtPoint(QPointF(75, 250)));
    EXPECT_FALSE(s.mat->isHitAtPoint(QPointF(300, 250)));
    EXPECT_FALSE(s.mat->isHitAtPoint(QPointF(60, 250)));
    s.mat->setOpacity(0.5);
    EXPECT_NEAR(at(s.draw(), 71, 250).alpha(), 128, 1);
}

TEST(ColorMatDrawing, BevelFacesAreShadedFromTheDesignsLight)
{
    MatScene s;
    s.mat->setBevelColor(QColor(128, 128, 128));
    s.mat->setBevelWidth(0.1); // 15 px deep faces
    s.design->setDrawShadows(false);
    // The default light: angle 180, offset 0.2.
    QImage out = s.draw();
    const QColor left = at(out, 104, 250), right = at(out, 495, 250);
    const QColor bottom = at(out, 300, 104), top = at(out, 300, 395);
    EXPECT_EQ(left, QColor(128, 128, 128));
    EXPECT_EQ(left, right);
    EXPECT_GT(brightness(bottom), brightness(left));
    EXPECT_LT(brightness(top), brightness(left));

    s.design->setShadowAngle(90);
    out = s.draw();
    EXPECT_LT(brightness(at(out, 104, 250)), brightness(at(out, 495, 250)));
    EXPECT_NEAR(brightness(at(out, 300, 104)), brightness(at(out, 300, 395)), 3);

    // No bevel: the window edge is empty.
    s.mat->setBevelWidth(0);
    EXPECT_EQ(at(s.draw(), 104, 250).alpha(), 0);
}

TEST(ColorMatDrawing, ShadowFallsTheWayTheAnglePoints)
{
    MatScene s;
    s.mat->setBevelWidth(0);
    s.design->setShadowOffset(1.0); // offset 10.8 px, blur 5.4 px
    QImage out = s.draw();
    // Outer edge {85, 85, 430, 330}: below it dark, above it clear.
    const int below = at(out, 300, 80).alpha();
    const int above = at(out, 300, 420).alpha();
    EXPECT_GT(below, 40);
    EXPECT_LT(above, below / 4);
    EXPECT_EQ(at(out, 300, 80).red(), 0);
    EXPECT_EQ(at(out, 90, 250), kMat);
    EXPECT_EQ(at(out, 300, 250).alpha(), 0);

    s.design->setShadowAngle(90);
    out = s.draw();
    EXPECT_GT(at(out, 520, 250).alpha(), 40);
    EXPECT_LT(at(out, 80, 250).alpha(), at(out, 520, 250).alpha() / 4);

    s.design->setDrawShadows(false);
    out = s.draw();
    EXPECT_EQ(at(out, 520, 250).alpha(), 0);
    EXPECT_EQ(at(out, 300, 80).alpha(), 0);
}

TEST(ColorMatLibrary, ColourComesFromTheFrameAndTheIconHasANotch)
{
    Frame *frame = newFrame(QStringLiteral("Color Mat"), QStringLiteral("Sage"));
    setColor(frame, KTColorMatLayer::kMatColorAttribute, QColor(90, 140, 100));
    saveLibrary();
    auto mat = std::dynamic_pointer_cast<KTColorMatLayer>(KTFrameLayer::frameLayerFromFrame(frame));
    ASSERT_TRUE(mat);
    EXPECT_EQ(mat->matColor().rgb(), QColor(90, 140, 100).rgb());
    EXPECT_EQ(mat->layerName(), QStringLiteral("Sage"));

    const QImage icon = mat->iconOfSize(QSizeF(40, 40));
    ASSERT_EQ(icon.size(), QSize(40, 40));
    EXPECT_EQ(at(icon, 35, 5).alpha(), 0);
    EXPECT_EQ(at(icon, 5, 5).rgb(), QColor(90, 140, 100).rgb());
    EXPECT_EQ(at(icon, 35, 35).rgb(), QColor(90, 140, 100).rgb());
    mat->updateIcon();
    ASSERT_TRUE(mat->icon());
    EXPECT_EQ(mat->icon()->originalSize(), QSizeF(76, 76));

    // Another mat's settings come over but not its colour; a full frame
    // gives only its shadow settings.
    KTColorMatLayer other;
    other.setMatColor(Qt::black);
    other.setLeftWidth(0.3);
    other.setBevelColor(Qt::blue);
    other.setShadowLength(0.5);
    mat->applySettingsFromLayer(other);
    EXPECT_DOUBLE_EQ(mat->leftWidth(), 0.3);
    EXPECT_EQ(mat->bevelColor(), QColor(Qt::blue));
    EXPECT_EQ(mat->matColor().rgb(), QColor(90, 140, 100).rgb());
    KTFullFrameLayer full;
    full.setShadowLength(0.25);
    mat->applySettingsFromLayer(full);
    EXPECT_DOUBLE_EQ(mat->shadowLength(), 0.25);
    EXPECT_DOUBLE_EQ(mat->leftWidth(), 0.3);
}
