#include "EditorTestLayers.h"

#include "design/KTColorMatLayer.h"
#include "design/KTTextOverlayLayer.h"
#include "platform/NotificationCenter.h"
#include "platform/archive/StyledText.h"
#include "support/ImagingTools.h"

#include <QNativeGestureEvent>
#include <QPaintEvent>
#include <QPointingDevice>
#include <QTest>
#include <QTimer>
#include <QUndoStack>

#include <gtest/gtest.h>

using namespace editortest;

namespace {

// Collects the regions the canvas is asked to paint.
class PaintLog : public QObject
{
public:
    explicit PaintLog(QWidget *w) { w->installEventFilter(this); }
    QList<QRect> rects;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            rects << static_cast<QPaintEvent *>(e)->region().boundingRect();
        return false;
    }
};

int countSelections(const std::function<void()> &action)
{
    int n = 0;
    auto &center = platform::NotificationCenter::defaultCenter();
    auto id = center.addObserver(QString::fromLatin1(KTLayersPaletteController::kLayerSelectedNotification), nullptr,
                                 [&](const platform::Notification &) { ++n; });
    action();
    center.removeObserver(id);
    return n;
}

// Photo, a frame round it and two overlays over its middle; overlay A
// (outermost) covers the left half of overlay B.
struct RoutingCanvas : Canvas {
    std::shared_ptr<RingFrame> frame = std::make_shared<RingFrame>(0.1);
    std::shared_ptr<MouseLayer> overlayB;
    std::shared_ptr<MouseLayer> overlayA;
    QRectF photoRect;
    RoutingCanvas()
    {
        addTopmost(frame);
        settle();
        photoRect = design->imageLayer()->lastDrawRect();
        const QPointF c = photoRect.center();
        overlayB = std::make_shared<MouseLayer>(QRectF(c.x() - 40, c.y() - 20, 80, 40));
        overlayA = std::make_shared<MouseLayer>(QRectF(c.x() - 80, c.y() - 20, 80, 40));
        design->addTopmostLayer(overlayB);
        design->addTopmostLayer(overlayA);
        palette->showDesign(*design);
        palette->addOverlayLayer(overlayB);
        palette->addOverlayLayer(overlayA);
        settle();
    }
    void click(QPointF designPoint) { QTest::mouseClick(view, Qt::LeftButton, {}, viewPoint(designPoint)); }
    std::shared_ptr<KTLayer> selected() const { return palette->selectedRepresentedObject(); }
};

} // namespace

TEST(EditorCanvasBasics, TheDesignFillsTheAreaAboveTheStrip)
{
    Canvas c({800, 600}, 1.0);
    c.addTopmost(std::make_shared<RingFrame>(0.1, Qt::red));
    c.settle();

    const QRectF area = c.view->lastDesignDrawRect();
    const int stripH = c.strip->height();
    EXPECT_EQ(area, QRectF(0, stripH, 800, 600 - stripH));
    // At zoom 1 the framed design touches two sides of the area.
    const QRectF drawn = c.controller->lastDrawRect();
    EXPECT_TRUE(area.adjusted(-0.5, -0.5, 0.5, 0.5).contains(drawn));
    EXPECT_NEAR(std::max(drawn.width() / area.width(), drawn.height() / area.height()), 1.0, 0.01);
    EXPECT_EQ(c.controller->lastDrawnSize(), drawn.size());

    // At zoom 0.5 it fits half the area, centred.
    c.viewState->setZoom(0.5);
    c.settle();
    const QRectF half = c.controller->lastDrawRect();
    EXPECT_NEAR(half.center().x(), area.center().x(), 1);
    EXPECT_NEAR(half.center().y(), area.center().y(), 1);
    EXPECT_NEAR(std::max(half.width() / area.width(), half.height() / area.height()), 0.5, 0.01);

    // The frame is painted where the model says, y-up turned y-down.
    const QImage shot = c.view->grab().toImage();
    const QPointF onFrame(half.left() + 3, half.center().y());
    EXPECT_EQ(shot.pixelColor(c.viewPoint(onFrame)), QColor(Qt::red));
    EXPECT_EQ(shot.pixelColor(c.viewPoint(QPointF(5, area.y() + area.height() - 5))), QColor(30, 30, 30));
}

TEST(EditorCanvasMouse, ASelectedOverlayKeepsTheMouseUnderAnother)
{
    RoutingCanvas c;
    c.palette->selectLayer(c.overlayB.get());
    // Left part of B, where A lies over it: B keeps the click.
    const QPointF p(c.photoRect.center().x() - 20, c.photoRect.center().y());
    ASSERT_TRUE(c.overlayA->isHitAtPoint(p));
    ASSERT_TRUE(c.overlayB->isHitAtPoint(p));
    c.click(p);
    EXPECT_EQ(c.overlayB->downs.size(), 1u);
    EXPECT_EQ(c.overlayA->downs.size(), 0u);
    EXPECT_EQ(c.selected(), c.overlayB);
    EXPECT_EQ(c.overlayB->ups.size(), 1u);

    // Off B, on the photo: the photo takes over the selection and the click.
    const QPointF onPhoto(c.photoRect.x() + 10, c.photoRect.y() + 10);
    c.click(onPhoto);
    EXPECT_EQ(c.selected(), c.design->imageLayer());
    EXPECT_EQ(c.overlayB->downs.size(), 1u);
}

TEST(EditorCanvasMouse, WithThePhotoSelectedTheLayerOnTopTakesTheClick)
{
    RoutingCanvas c;
    ASSERT_EQ(c.selected(), c.design->imageLayer());
    // The photo is hit under A, but A lies over it.
    const QPointF p(c.photoRect.center().x() - 60, c.photoRect.center().y());
    c.click(p);
    EXPECT_EQ(c.selected(), c.overlayA);
    EXPECT_EQ(c.overlayA->downs.size(), 1u);
    EXPECT_FALSE(c.design->imageLayer()->isDragging());
}

TEST(EditorCanvasMouse, AClickOnAFrameSelectsItAndAFrameTakesNoFurtherClicks)
{
    RoutingCanvas c;
    const QPointF onFrame(c.photoRect.left() - 5, c.photoRect.center().y());
    ASSERT_TRUE(c.frame->isHitAtPoint(onFrame));
    int selections = countSelections([&] { c.click(onFrame); });
    EXPECT_EQ(selections, 1);
    EXPECT_EQ(c.selected(), c.frame);
    EXPECT_TRUE(c.frame->isSelected());
    EXPECT_FALSE(c.design->imageLayer()->isSelected());
    EXPECT_EQ(c.frame->downs, 1); // passed on although frames take no mouse events

    // Clicking the selected frame again does nothing at all.
    selections = countSelections([&] { c.click(onFrame); });
    EXPECT_EQ(selections, 0);
    EXPECT_EQ(c.frame->downs, 1);
}

TEST(EditorCanvasMouse, AClickOnNoLayerKeepsTheSelection)
{
    RoutingCanvas c;
    c.palette->selectLayer(c.overlayB.get());
    const int selections = countSelections([&] { c.click(QPointF(3, c.view->height() - 3)); });
    EXPECT_EQ(selections, 0);
    EXPECT_EQ(c.selected(), c.overlayB);
    EXPECT_TRUE(c.overlayB->downs.empty());
}

TEST(EditorCanvasMouse, DragsAndReleasesGoToTheSelectedLayerInDesignSpace)
{
    RoutingCanvas c;
    c.palette->selectLayer(c.overlayB.get());
    const QPointF start = c.photoRect.center() + QPointF(10, 5);
    QTest::mousePress(c.view, Qt::LeftButton, {}, c.viewPoint(start));
    QMouseEvent move(QEvent::MouseMove, c.viewPoint(start + QPointF(30, 20)), c.view->mapToGlobal(c.viewPoint(start)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(c.view, &move);
    QTest::mouseRelease(c.view, Qt::LeftButton, {}, c.viewPoint(start + QPointF(30, 20)));
    ASSERT_EQ(c.overlayB->drags.size(), 1u);
    // y-up: dragging up the screen raises y.
    EXPECT_NEAR(c.overlayB->drags[0].x(), start.x() + 30, 1);
    EXPECT_NEAR(c.overlayB->drags[0].y(), start.y() + 20, 1);
    EXPECT_EQ(c.overlayB->ups.size(), 1u);

    // A selected frame takes neither drags nor releases.
    c.palette->selectLayer(c.frame.get());
    QApplication::sendEvent(c.view, &move);
    EXPECT_EQ(c.overlayB->drags.size(), 1u);
}

TEST(EditorCanvasMouse, ADragIsOneUndoStepAndTheStripShowsATextOverlaysNewIcon)
{
    Canvas c;
    QUndoStack stack;
    c.palette->setUndoStack(&stack);
    auto text = std::make_shared<KTTextOverlayLayer>();
    text->setOverlayText(platform::StyledText(QStringLiteral("Overlay")));
    c.design->addTopmostLayer(text);
    c.palette->addOverlayLayer(text);
    c.palette->selectLayer(text.get());
    c.settle();
    auto drag = [&](const std::shared_ptr<KTLayer> &layer, QPointF from, QPointF by) {
        c.palette->selectLayer(layer.get());
        QTest::mousePress(c.view, Qt::LeftButton, {}, c.viewPoint(from));
        QMouseEvent move(QEvent::MouseMove, c.viewPoint(from + by), c.view->mapToGlobal(c.viewPoint(from + by)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(c.view, &move);
        QTest::mouseRelease(c.view, Qt::LeftButton, {}, c.viewPoint(from + by));
    };
    const KTOverlayPositioning placed = text->positioning();
    const platform::StyledText written = text->overlayText();
    drag(text, text->lastDrawingRect().center(), QPointF(-250, 50));
    const KTOverlayPositioning moved = text->positioning();
    ASSERT_NE(moved.hSnap, placed.hSnap) << "onto the left anchor, the text aligned left";
    ASSERT_EQ(stack.count(), 1);
    EXPECT_EQ(stack.undoText(), "Move Overlay");
    stack.undo();
    EXPECT_EQ(text->positioning(), placed);
    EXPECT_EQ(text->overlayText(), written) << "the alignment that followed the anchor too";
    stack.redo();
    EXPECT_EQ(text->positioning(), moved);
    c.settle();
    QTest::mouseClick(c.view, Qt::LeftButton, {}, c.viewPoint(text->lastDrawingRect().center()));
    EXPECT_EQ(stack.count(), 1) << "a click moves nothing";

    // The photo's crop moves the same way.
    auto *photo = qobject_cast<KTImageLayer *>(c.photo().get());
    photo->setCropLeft(0.2);
    c.settle();
    drag(c.photo(), photo->lastDrawRect().topLeft() + QPointF(20, 20), QPointF(40, 0));
    ASSERT_LT(photo->cropLeft(), 0.2);
    stack.undo();
    EXPECT_DOUBLE_EQ(photo->cropLeft(), 0.2);
    EXPECT_DOUBLE_EQ(photo->cropRight(), 0);

    // The strip shows the overlay's text as it is now, after Undo too.
    const KTLayersPaletteItemPtr item = c.strip->itemForRepresentedObject(text.get());
    const QImage typed = item->icon();
    text->setOverlayText(platform::StyledText(QStringLiteral("Something else")));
    EXPECT_NE(item->icon(), typed);
    EXPECT_EQ(item->icon(), c.palette->iconForLayer(*text));
}

TEST(EditorCanvasGestures, PinchZoomsWithinTheViewStatesBounds)
{
    Canvas c({800, 600}, 0.6);
    const QPointingDevice *device = QPointingDevice::primaryPointingDevice();
    auto send = [&](Qt::NativeGestureType type, double value) {
        QNativeGestureEvent e(type, device, 2, QPointF(100, 100), QPointF(100, 100), QPointF(100, 100), value,
                              QPointF());
        QApplication::sendEvent(c.view, &e);
    };
    send(Qt::BeginNativeGesture, 0);
    send(Qt::ZoomNativeGesture, 0.1);
    send(Qt::ZoomNativeGesture, 0.15);
    EXPECT_NEAR(c.viewState->zoom(), 0.85, 1e-9); // the steps add up
    send(Qt::ZoomNativeGesture, 0.5);
    EXPECT_DOUBLE_EQ(c.viewState->zoom(), 1.0);
    send(Qt::EndNativeGesture, 0);

    send(Qt::BeginNativeGesture, 0);
    send(Qt::ZoomNativeGesture, -2);
    EXPECT_DOUBLE_EQ(c.viewState->zoom(), 0.3);
    send(Qt::EndNativeGesture, 0);

    // The touch pinch reports its total scale: a pinch to half is -0.5.
    c.controller->handleMagnification(KTDesignViewController::GestureBegan, 0);
    c.controller->handleMagnification(KTDesignViewController::GestureChanged, 0.4);
    EXPECT_NEAR(c.viewState->zoom(), 0.7, 1e-9);
    c.controller->handleMagnification(KTDesignViewController::GestureChanged, 0.2);
    EXPECT_NEAR(c.viewState->zoom(), 0.5, 1e-9);
    // Ended and other states change nothing.
    c.controller->handleMagnification(KTDesignViewController::GestureEnded, 0.9);
    EXPECT_NEAR(c.viewState->zoom(), 0.5, 1e-9);
}

TEST(EditorCanvasRedraw, ALayerChangeRepaintsOnlyTheDesignArea)
{
    Canvas c;
    auto frame = std::make_shared<RingFrame>(0.1);
    c.addTopmost(frame);
    c.settle();
    PaintLog canvasLog(c.view);
    PaintLog stripLog(c.strip);
    std::vector<bool> onlyDesign;
    frame->onDraw = [&] { onlyDesign.push_back(c.controller->redrawOnlyDesign()); };

    frame->touch();
    ASSERT_TRUE(testsupport::waitUntil([&] { return onlyDesign.size() >= 2; }));
    // The change and the design's own full-quality request after it.
    EXPECT_EQ(onlyDesign, (std::vector<bool>{true, true}));
    for (const QRect &r : std::as_const(canvasLog.rects))
        EXPECT_EQ(r, c.view->designAreaInViewCoordinates());
    EXPECT_TRUE(stripLog.rects.isEmpty());
    EXPECT_FALSE(c.controller->redrawOnlyDesign()); // cleared by the drawing

    // The backdrop's shadow just above the strip survives the quick redraw.
    const QImage shot = c.view->grab().toImage();
    const int y = c.strip->y() - 2;
    EXPECT_LT(shot.pixelColor(3, y).lightness(), shot.pixelColor(3, y - 30).lightness());

    // A change of the design's list repaints everything.
    onlyDesign.clear();
    c.design->postModelChangedNotification();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !onlyDesign.empty(); }));
    EXPECT_FALSE(onlyDesign.front());
}

TEST(EditorCanvasRedraw, TheCanvasShowsTheShadowsAnExportDraws)
{
    // The mat's shadow falls on its bevel; the canvas draws the design in a
    // transparency layer of its own.
    Canvas c;
    auto mat = std::make_shared<KTColorMatLayer>();
    c.addTopmost(mat);
    const QSize area(800, 600 - c.strip->height());
    std::vector<QRgb> canvas, exported;
    for (bool shadows : {true, false}) {
        c.design->setDrawShadows(shadows);
        c.settle();
        // Just inside the top of the mat's window, y down.
        const QRectF window = mat->drawRectInside();
        const QPoint at(int(window.center().x()), int(c.view->height() - window.bottom()) + 1);
        canvas.push_back(c.view->grab().toImage().pixel(at));
        auto copy = c.design->copyForRendering();
        copy->setExportMode(true);
        exported.push_back(copy->newCGBitmapContextOfSize(QSizeF(area), nullptr).pixel(at));
    }
    EXPECT_GE(testsupport::channelDifference(exported[0], exported[1]), 10);
    EXPECT_LE(testsupport::channelDifference(canvas[0], exported[0]), 2);
    EXPECT_LE(testsupport::channelDifference(canvas[1], exported[1]), 2);
}

TEST(EditorCanvasRedraw, OneFullQualityPassFollowsTheLastQuickOne)
{
    Canvas c;
    auto frame = std::make_shared<RingFrame>(0.1);
    c.addTopmost(frame);
    c.settle();
    frame->qualities.clear();

    // Three view-state changes in a row: each draws quickly at once.
    for (double zoom : {0.9, 0.8, 0.7}) {
        c.viewState->setZoom(zoom);
        c.view->repaint();
    }
    ASSERT_EQ(frame->qualities.size(), 3u);
    EXPECT_EQ(frame->qualities, (std::vector<bool>{false, false, false}));
    EXPECT_FALSE(c.view->drawHighQuality());

    ASSERT_TRUE(testsupport::waitUntil([&] { return frame->qualities.size() > 3; }));
    // Nothing further is pending: no timer armed, no repaint queued.
    for (QTimer *timer : c.view->findChildren<QTimer *>())
        EXPECT_FALSE(timer->isActive());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(frame->qualities, (std::vector<bool>{false, false, false, true}));
    EXPECT_TRUE(c.view->drawHighQuality());
}

TEST(EditorCanvasRedraw, ALiveResizeDrawsQuicklyThenOnceInFull)
{
    Canvas c;
    auto frame = std::make_shared<RingFrame>(0.1);
    c.addTopmost(frame);
    c.settle();
    frame->qualities.clear();
    c.view->resize(820, 610);
    c.view->repaint();
    c.view->resize(840, 620);
    c.view->repaint();
    EXPECT_EQ(frame->qualities, (std::vector<bool>{false, false}));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !frame->qualities.back() == false; }));
    EXPECT_TRUE(frame->qualities.back());
}

namespace {

void wheel(QWidget *w, int angleY, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPointF at(w->width() / 2.0, 50);
    QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, angleY), Qt::NoButton, modifiers, Qt::NoScrollPhase,
                  false);
    QApplication::sendEvent(w, &e);
}

} // namespace

TEST(EditorCanvasWheel, AMatWidensEvenlyAndItsBevelWithControl)
{
    Canvas c;
    auto mat = std::make_shared<KTColorMatLayer>();
    mat->setLeftWidth(0.05);
    mat->setRightWidth(0.06);
    mat->setTopWidth(0.07);
    mat->setBottomWidth(0.08);
    mat->setBevelWidth(0.02);
    c.addTopmost(mat);
    c.palette->selectLayer(mat.get());

    wheel(c.view, -120); // one notch down: one hundredth wider
    EXPECT_NEAR(mat->leftWidth(), 0.06, 1e-9);
    EXPECT_NEAR(mat->rightWidth(), 0.07, 1e-9);
    EXPECT_NEAR(mat->topWidth(), 0.08, 1e-9);
    EXPECT_NEAR(mat->bottomWidth(), 0.09, 1e-9);
    EXPECT_NEAR(mat->bevelWidth(), 0.02, 1e-9);
    wheel(c.view, 360); // three notches up
    EXPECT_NEAR(mat->leftWidth(), 0.03, 1e-9);
    EXPECT_NEAR(mat->bottomWidth(), 0.06, 1e-9);

    wheel(c.view, -240, Qt::ControlModifier);
    EXPECT_NEAR(mat->bevelWidth(), 0.04, 1e-9);
    EXPECT_NEAR(mat->leftWidth(), 0.03, 1e-9);
    // The layer's own bounds hold: 0.1 for the bevel, 0 below.
    wheel(c.view, -120 * 20, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(mat->bevelWidth(), 0.1);
    wheel(c.view, 120 * 20);
    EXPECT_DOUBLE_EQ(mat->leftWidth(), 0);
    EXPECT_DOUBLE_EQ(mat->topWidth(), 0);
}

TEST(EditorCanvasWheel, OtherLayersAndNoSelectionIgnoreTheWheel)
{
    Canvas c;
    auto frame = std::make_shared<RingFrame>(0.1);
    auto mat = std::make_shared<KTColorMatLayer>();
    c.addTopmost(mat);
    c.addTopmost(frame);
    const double left = mat->leftWidth(), bevel = mat->bevelWidth();
    c.palette->selectLayer(frame.get());
    wheel(c.view, -120);
    wheel(c.view, -120, Qt::ControlModifier);
    c.palette->selectLayer(c.photo().get());
    wheel(c.view, -120);
    c.palette->buildEmptyPalette(); // nothing selected
    wheel(c.view, -120);
    EXPECT_DOUBLE_EQ(mat->leftWidth(), left);
    EXPECT_DOUBLE_EQ(mat->bevelWidth(), bevel);
}
