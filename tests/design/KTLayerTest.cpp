#include "DesignTestLayers.h"

#include "design/KTOverlayPositioning.h"
#include "design/KTTrackingAreaHost.h"

#include <gtest/gtest.h>

using namespace designtest;

TEST(KTLayerBase, DefaultsAndDescription)
{
    KTLayer layer;
    EXPECT_FALSE(layer.isSelected());
    EXPECT_TRUE(layer.supportsHiding());
    EXPECT_FALSE(layer.hidden());
    EXPECT_FALSE(layer.acceptsMouseEvents());
    EXPECT_FALSE(layer.isHitAtPoint(QPointF(0, 0)));
    const QRectF r(1.5, 2.25, 30, 40);
    EXPECT_EQ(layer.resultingRectForRect(r), r);
    EXPECT_TRUE(layer.reportForRealSize(QSizeF(10, 10)).isEmpty());
    layer.setLayerName(QStringLiteral("Color Mat Layer"));
    layer.setControlNibName(QStringLiteral("ColorMatFrameControl"));
    EXPECT_EQ(layer.description(),
              QStringLiteral("Layer Color Mat Layer of class KTLayer, control nib:  ColorMatFrameControl"));
}

TEST(KTLayerBase, HidingNeedsSupport)
{
    KTLayer layer;
    layer.setSupportsHiding(false);
    layer.setHidden(true);
    EXPECT_FALSE(layer.hidden());
    layer.setSupportsHiding(true);
    EXPECT_FALSE(layer.hidden()); // NO was stored
    layer.setHidden(true);
    EXPECT_TRUE(layer.hidden());
    layer.setSupportsHiding(false);
    EXPECT_FALSE(layer.hidden());
}

TEST(KTLayerBase, CornerHandles)
{
    KTLayer layer;
    const QRectF r(100, 50, 200, 80);
    EXPECT_EQ(layer.rectForHandlerForRect(r, 0), QRectF(295, 125, 10, 10));
    EXPECT_EQ(layer.rectForHandlerForRect(r, 1), QRectF(95, 125, 10, 10));
    EXPECT_EQ(layer.rectForHandlerForRect(r, 2), QRectF(295, 45, 10, 10));
    EXPECT_EQ(layer.rectForHandlerForRect(r, 3), QRectF(95, 45, 10, 10));
    EXPECT_TRUE(layer.rectForHandlerForRect(r, 4).isNull());
    EXPECT_TRUE(layer.rectForHandlerForRect(r, -1).isNull());
    EXPECT_EQ(layer.handlerForPointAndRect(QPointF(300, 130), r), 0);
    EXPECT_EQ(layer.handlerForPointAndRect(QPointF(95, 45), r), 3);    // left-bottom edge inside
    EXPECT_EQ(layer.handlerForPointAndRect(QPointF(105, 55), r), -1); // right-top edge outside
    EXPECT_EQ(layer.handlerForPointAndRect(QPointF(200, 90), r), -1);

    // In a rect smaller than a handle the squares overlap: the higher corner wins.
    const QRectF tiny(0, 0, 4, 4);
    EXPECT_EQ(layer.handlerForPointAndRect(QPointF(2, 2), tiny), 3);
}

TEST(KTLayerBase, HandlesAreDrawnAndTracked)
{
    KTLayer layer;
    QImage canvas = blankCanvas(40, 40);
    {
        platform::DrawingContext ctx(canvas);
        layer.drawAllHandlersForRect(QRectF(10, 10, 20, 20));
    }
    // Dark fill at the centre of corner 3's square, white outline one point in.
    const QColor centre = pixelYUp(canvas, 10, 10);
    EXPECT_NEAR(centre.alphaF(), 0.8, 0.01);
    EXPECT_LT(centre.redF(), 0.2);
    const QColor outline = pixelYUp(canvas, 6, 10);
    EXPECT_GT(outline.redF(), 0.5);

    struct Host : KTTrackingAreaHost {
        std::vector<std::pair<QRectF, QVariantMap>> areas;
        void addTrackingArea(const QRectF &rect, KTLayer *, const QVariantMap &info) override
        {
            areas.emplace_back(rect, info);
        }
        QVariant trackingAreaViewValue() const override { return QStringLiteral("canvas"); }
    } host;
    layer.defineAllTrackingAreasForRectAndView(QRectF(10, 10, 20, 20), &host);
    ASSERT_EQ(host.areas.size(), 4u);
    EXPECT_EQ(host.areas[0].second.value("handler").toInt(), 3);
    EXPECT_EQ(host.areas[3].second.value("handler").toInt(), 0);
    EXPECT_EQ(host.areas[3].second.value("view").toString(), QStringLiteral("canvas"));
    EXPECT_EQ(host.areas[3].first, QRectF(25, 25, 10, 10));
}

TEST(KTFrameLayerShadow, GeometryFollowsTheDesign)
{
    auto design = std::make_shared<KTTemplate>();
    auto frame = std::make_shared<RingFrameLayer>(0, 0, 0, 0);
    EXPECT_FALSE(frame->shouldDrawShadow()); // in no design
    design->insertLayer(frame, 0);
    EXPECT_TRUE(frame->shouldDrawShadow());
    const QRectF r(0, 0, 1000, 600);
    EXPECT_DOUBLE_EQ(frame->shadowLengthFactor(), 0.2);
    QSizeF offset = frame->shadowOffsetForRect(r);
    EXPECT_NEAR(offset.width(), 0, 1e-12);
    EXPECT_NEAR(offset.height(), -3.6, 1e-12);
    EXPECT_DOUBLE_EQ(frame->shadowBlurRadiusForRect(r), 9);

    design->setShadowAngle(90);
    offset = frame->shadowOffsetForRect(r);
    EXPECT_NEAR(offset.width(), 3.6, 1e-12);
    EXPECT_NEAR(offset.height(), 0, 1e-12);

    design->setDrawShadows(false);
    EXPECT_FALSE(frame->shouldDrawShadow());
    EXPECT_EQ(frame->shadowLengthFactor(), -1);
}

TEST(KTFrameLayerShadow, ShadowIsDrawnBelowTheFrame)
{
    auto design = std::make_shared<KTTemplate>();
    auto frame = std::make_shared<RingFrameLayer>(0, 0, 0, 0);
    frame->setShadowOffsetScaleFactor(0.1);
    frame->setShadowLength(5); // offset 100 x 0.1 x 5 x 0.2 = 10 downwards
    design->insertLayer(frame, 0);
    const QRectF box(50, 60, 100, 100);
    QImage canvas = blankCanvas(200, 200);
    {
        platform::DrawingContext ctx(canvas);
        frame->drawWithShadowInRect(box, false, true, box, [&] { ctx.fillRect(box, Qt::red); });
        EXPECT_EQ(ctx.transparencyLayerDepth(), 0);
        EXPECT_FALSE(ctx.hasShadow());
    }
    EXPECT_EQ(pixelYUp(canvas, 100, 100), QColor(Qt::red));
    // Below the box by less than the offset: the shadow's grey at one third.
    const QColor shadow = pixelYUp(canvas, 100, 55);
    EXPECT_NEAR(shadow.alphaF(), 1.0 / 3, 0.02);
    EXPECT_EQ(shadow.red(), 0);
    // Above the box: nothing.
    EXPECT_EQ(pixelYUp(canvas, 100, 165).alpha(), 0);

    // Without the design's shadows, the block runs plainly.
    design->setDrawShadows(false);
    QImage plain = blankCanvas(200, 200);
    {
        platform::DrawingContext ctx(plain);
        frame->drawWithShadowInRect(box, true, true, box, [&] {
            EXPECT_EQ(ctx.transparencyLayerDepth(), 0);
            EXPECT_FALSE(ctx.painter().hasClipping());
            ctx.fillRect(box, Qt::red);
        });
    }
    EXPECT_EQ(pixelYUp(plain, 100, 55).alpha(), 0);
}

TEST(KTFrameLayerShadow, SettingsAreCopied)
{
    RingFrameLayer a(0, 0, 0, 0), b(0, 0, 0, 0);
    a.setDropShadow(false);
    a.setShadowLength(0.4);
    a.setShadowOffsetScaleFactor(0.07);
    b.applySettingsFromLayer(a);
    EXPECT_FALSE(b.dropShadow());
    EXPECT_DOUBLE_EQ(b.shadowLength(), 0.4);
    EXPECT_DOUBLE_EQ(b.shadowOffsetScaleFactor(), 0.07);
    // The clip covers the blur margin whatever the quality.
    auto design = std::make_shared<KTTemplate>();
    auto c = std::make_shared<RingFrameLayer>(0, 0, 0, 0);
    design->insertLayer(c, 0);
    const QRectF r(0, 0, 1000, 600);
    const QRectF reach = c->rectWithShadowForDrawRect(r, r);
    EXPECT_NEAR(reach.top(), -12.6, 1e-9);
    EXPECT_NEAR(reach.right(), 1009, 1e-9);
}

TEST(KTOverlayPlacement, RectToPlacementAndBack)
{
    const QRectF c(0, 0, 1000, 500);
    KTOverlayPositioning p = relativePositionForOverlayRect(QRectF(100, 50, 200, 100), c);
    EXPECT_EQ(p.hSnap, 0u);
    EXPECT_EQ(p.vSnap, 0u);
    EXPECT_NEAR(p.position.x(), 0.1, 1e-12);
    EXPECT_NEAR(p.position.y(), 0.1, 1e-12);
    const QRectF back = overlayRectForRelativePosition(c, p, QSizeF(200, 100));
    EXPECT_NEAR(back.x(), 100, 1e-9);
    EXPECT_NEAR(back.y(), 50, 1e-9);

    p = relativePositionForOverlayRect(QRectF(480, 200, 100, 100), c);
    EXPECT_EQ(p.hSnap, 2u);
    EXPECT_NEAR(p.position.x(), 0.03, 1e-12);
    EXPECT_EQ(p.vSnap, 2u);
    EXPECT_EQ(p.position.y(), 0);
    EXPECT_EQ(zeroTinyOffsets(p, 0.035).position, QPointF(0, 0));

    // Hanging half outside on the left: the centre is pulled back onto the edge.
    p = relativePositionForOverlayRect(QRectF(-150, 0, 200, 100), c);
    EXPECT_EQ(p.hSnap, 0u);
    EXPECT_NEAR(p.position.x(), -0.1, 1e-12);

    // Near the right and top edges.
    p = relativePositionForOverlayRect(QRectF(780, 380, 200, 100), c);
    EXPECT_EQ(p.hSnap, 1u);
    EXPECT_NEAR(p.position.x(), 0.02, 1e-12);
    EXPECT_EQ(p.vSnap, 1u);
    EXPECT_NEAR(p.position.y(), 0.04, 1e-12);

    // Equal side gaps but off-centre vertically: still centred horizontally.
    p = relativePositionForOverlayRect(QRectF(400, 10, 200, 100), c);
    EXPECT_EQ(p.hSnap, 2u);
    EXPECT_EQ(p.vSnap, 0u);
}

TEST(KTOverlayPlacement, SnappingAndPlacing)
{
    KTOverlayPositioning p;
    p.position = QPointF(0.035, -0.0349);
    const KTOverlayPositioning z = zeroTinyOffsets(p, 0.035);
    EXPECT_EQ(z.position.x(), 0.035);
    EXPECT_EQ(z.position.y(), 0);
    EXPECT_EQ(z.hSnap, p.hSnap);

    p.hSnap = 1;
    p.position = QPointF(0.1, 0);
    p.vSnap = 2;
    const QRectF r = overlayRectForRelativePosition(QRectF(0, 0, 1000, 500), p, QSizeF(200, 100));
    EXPECT_EQ(r.x(), 700);
    EXPECT_EQ(r.y(), 200);

    // A container without size yields offsets of zero, not NaN.
    const KTOverlayPositioning d = relativePositionForOverlayRect(QRectF(0, 0, 10, 10), QRectF(0, 0, 0, 0));
    EXPECT_EQ(d.position, QPointF(0, 0));
}

TEST(KTFrameLayerShadow, MaskErasesWhatLiesBelow)
{
    RingFrameLayer frame(0, 0, 0, 0);
    QImage canvas = blankCanvas(40, 40);
    {
        platform::DrawingContext ctx(canvas);
        ctx.fillRect(QRectF(0, 0, 40, 40), Qt::blue);
        frame.drawAsMask(true, [&] { ctx.fillRect(QRectF(0, 0, 20, 40), Qt::red); });
        EXPECT_EQ(ctx.painter().compositionMode(), QPainter::CompositionMode_SourceOver);
        frame.drawAsMask(false, [&] { ctx.fillRect(QRectF(30, 0, 10, 40), Qt::red); });
    }
    EXPECT_EQ(pixelYUp(canvas, 10, 20).alpha(), 0);
    EXPECT_EQ(pixelYUp(canvas, 25, 20), QColor(Qt::blue));
    EXPECT_EQ(pixelYUp(canvas, 35, 20), QColor(Qt::red));
}
