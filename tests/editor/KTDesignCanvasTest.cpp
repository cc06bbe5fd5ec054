#include "EditorTestLayers.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace editortest;

TEST(EditorCanvasBasics, TheDesignFillsTheAreaAboveTheStrip)
{
    Canvas c({800, 600}, 1.0);
    auto frame = std::make_shared<RingFrame>(0.1, Qt::red);
    c.addTopmost(frame);
    c.settle();

    const QRectF area = c.view->lastDesignDrawRect();
    const int stripH = c.strip->height();
    EXPECT_EQ(area, QRectF(0, stripH, 800, 600 - stripH));
    // The framed design is fitted into the whole area at zoom 1.
    const QRectF drawn = c.controller->lastDrawRect();
    EXPECT_TRUE(area.contains(drawn.adjusted(1, 1, -1, -1)));
    EXPECT_NEAR(std::max(drawn.width() / area.width(), drawn.height() / area.height()), 1.0, 0.01);

    const QImage shot = c.view->grab().toImage();
    // The strip holds [separator, frame, separator, photo].
    EXPECT_EQ(c.strip->items().size(), 4);
    EXPECT_EQ(c.palette->countOfFrames(), 1);
    EXPECT_EQ(shot.pixelColor(c.viewPoint(drawn.center() + QPointF(0, 0))).red() > 0, true);
}

TEST(EditorCanvasBasics, ShotForLooking)
{
    if (qEnvironmentVariableIsEmpty("KANTELO_EDITOR_SHOT"))
        GTEST_SKIP();
    Canvas c({1000, 700}, 0.9);
    c.addTopmost(std::make_shared<RingFrame>(0.05, QColor(200, 180, 120)));
    c.addTopmost(std::make_shared<RingFrame>(0.1, QColor(120, 60, 30)));
    c.palette->addOverlayLayer(std::make_shared<MouseLayer>(QRectF(10, 10, 10, 10)));
    c.palette->selectLayer(c.design->layers().at(1).get());
    c.strip->setFocus();
    c.settle();
    c.view->grab().save(qEnvironmentVariable("KANTELO_EDITOR_SHOT"));
}
