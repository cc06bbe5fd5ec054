#include "EditorTestLayers.h"

#include "design/KTTextOverlayLayer.h"
#include "platform/NotificationCenter.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <QUndoStack>

#include <gtest/gtest.h>

using namespace editortest;

namespace {

using LayerPtr = std::shared_ptr<KTLayer>;

// A canvas whose design is [overlays..., frames..., photo], shown in the strip.
struct StripCanvas : Canvas {
    StripCanvas(const QList<LayerPtr> &overlays, const QList<LayerPtr> &frames)
    {
        for (qsizetype i = frames.size() - 1; i >= 0; --i)
            design->addTopmostLayer(frames.at(i));
        for (qsizetype i = overlays.size() - 1; i >= 0; --i)
            design->addTopmostLayer(overlays.at(i));
        palette->showDesign(*design);
        settle();
    }
    QPoint centreOf(const LayerPtr &layer) const
    {
        const qsizetype i = strip->indexOfRepresentedObject(layer.get());
        const QPointF p = strip->layers().at(i)->position;
        return QPoint(int(p.x() - strip->scrollPosition()), int(p.y()));
    }
    void press(QPoint p) { QTest::mousePress(strip, Qt::LeftButton, {}, p); }
    void moveTo(QPoint p)
    {
        QMouseEvent e(QEvent::MouseMove, p, strip->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(strip, &e);
    }
    void release(QPoint p) { QTest::mouseRelease(strip, Qt::LeftButton, {}, p); }
    void drag(const LayerPtr &layer, QPoint by)
    {
        const QPoint start = centreOf(layer);
        press(start);
        moveTo(start + by);
        release(start + by);
    }
    void key(Qt::Key k) { QTest::keyClick(strip, k); }
    QList<LayerPtr> stripObjects() const
    {
        QList<LayerPtr> out;
        for (const auto &item : strip->items())
            out << item->representedObject();
        return out;
    }
};

std::shared_ptr<RingFrame> ring(QColor c) { return std::make_shared<RingFrame>(0.05, c); }

} // namespace

TEST(EditorStripLayout, APhotoAloneSitsRightOfBothSeparators)
{
    Canvas c;
    ASSERT_EQ(c.strip->items().size(), 3);
    const auto &layers = c.strip->layers();
    EXPECT_DOUBLE_EQ(layers.at(0)->position.x(), 31);
    EXPECT_DOUBLE_EQ(layers.at(1)->position.x(), 49);
    EXPECT_DOUBLE_EQ(layers.at(2)->position.x(), 102);
    EXPECT_DOUBLE_EQ(c.strip->maxX(), 140);
    // Midway in the row below the 11-point top bar, measured from the bottom.
    const double h = c.strip->height();
    EXPECT_DOUBLE_EQ(h - layers.at(2)->position.y(), (h - 11) / 2);
    EXPECT_EQ(layers.at(2)->bounds, QSizeF(76, 76));
    EXPECT_EQ(layers.at(0)->bounds, QSizeF(6, 0.8 * 76));
    // The photo is selected and its icon is its centred square.
    EXPECT_EQ(c.strip->selectedRepresentedObject(), c.design->imageLayer());
    EXPECT_EQ(c.strip->items().at(2)->icon().size(), QSize(76, 76));
}

TEST(EditorStripController, ItemsGoToTheFrontOfTheirGroups)
{
    Canvas c;
    auto a = ring(Qt::red), b = ring(Qt::green);
    auto t = std::make_shared<KTTextOverlayLayer>();
    auto p = c.photo();
    c.palette->buildEmptyPalette();
    c.palette->addFrameLayer(a);
    c.palette->addFrameLayer(b);
    EXPECT_EQ(c.strip->items().size(), 4);
    EXPECT_EQ(c.strip->representedObjectAtIndex(1), b);
    EXPECT_EQ(c.strip->representedObjectAtIndex(2), a);
    c.palette->addOverlayLayer(t);
    EXPECT_EQ(c.strip->representedObjectAtIndex(0), t);
    EXPECT_EQ(c.strip->typeOfItemAtIndex(1), KTLayersPaletteItem::Separator);
    EXPECT_EQ(c.strip->typeOfItemAtIndex(4), KTLayersPaletteItem::Separator);
    c.palette->setImageLayer(p);
    EXPECT_EQ(c.strip->indexOfRepresentedObject(p.get()), 5);

    // A second photo replaces the first in place.
    auto other = std::make_shared<KTImageLayer>();
    c.palette->setImageLayer(other);
    EXPECT_EQ(c.strip->items().size(), 6);
    EXPECT_EQ(c.strip->representedObjectAtIndex(5), other);
    EXPECT_EQ(c.palette->countOfFrames(), 2);
    EXPECT_EQ(c.palette->countOfOverlays(), 1);
}

TEST(EditorStripController, SelectionMarksExactlyOneLayerAndIsAnnouncedOnce)
{
    StripCanvas c({}, {ring(Qt::red)});
    const auto frame = c.design->layers().at(0);
    int posted = 0;
    auto &center = platform::NotificationCenter::defaultCenter();
    const auto id = center.addObserver(QString::fromLatin1(KTLayersPaletteController::kLayerSelectedNotification),
                                       c.palette, [&](const platform::Notification &) { ++posted; });
    c.palette->selectLayer(frame.get());
    c.palette->selectLayer(frame.get());
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(frame->isSelected());
    EXPECT_FALSE(c.photo()->isSelected());

    // Arrow keys walk over the layer items, skipping separators.
    c.strip->setFocus();
    c.key(Qt::Key_Right);
    EXPECT_EQ(c.palette->selectedRepresentedObject(), c.photo());
    EXPECT_TRUE(c.photo()->isSelected());
    EXPECT_FALSE(frame->isSelected());
    c.key(Qt::Key_Right); // nothing further right
    EXPECT_EQ(c.palette->selectedRepresentedObject(), c.photo());
    c.key(Qt::Key_Left);
    EXPECT_EQ(c.palette->selectedRepresentedObject(), frame);
    EXPECT_EQ(posted, 3);
    center.removeObserver(id);

    // A layer the strip does not hold leaves the selection alone.
    c.palette->selectLayer(ring(Qt::blue).get());
    EXPECT_EQ(c.palette->selectedRepresentedObject(), frame);
}

TEST(EditorStripDrag, ReordersOnlyAfterMoreThanTenPointsAndOncePassed)
{
    auto a = ring(Qt::red), b = ring(Qt::green);
    StripCanvas c({}, {a, b});
    const auto original = c.design->layers();

    // 5 points: no drag at all.
    c.press(c.centreOf(a));
    c.moveTo(c.centreOf(a) + QPoint(5, 0));
    EXPECT_FALSE(c.strip->isDragging());
    c.release(c.centreOf(a) + QPoint(5, 0));

    // 11 points: the icon is lifted, but it passed no neighbour.
    c.press(c.centreOf(a));
    c.moveTo(c.centreOf(a) + QPoint(11, 0));
    EXPECT_TRUE(c.strip->isDragging());
    c.release(c.centreOf(a) + QPoint(11, 0));
    EXPECT_FALSE(c.strip->isDragging());
    EXPECT_EQ(c.design->layers(), original);
    EXPECT_EQ(c.stripObjects(), (QList<LayerPtr>{nullptr, a, b, nullptr, c.photo()}));

    // Past its neighbour's centre: both the strip and the design follow.
    c.drag(a, QPoint(100, 0));
    EXPECT_EQ(c.stripObjects(), (QList<LayerPtr>{nullptr, b, a, nullptr, c.photo()}));
    EXPECT_EQ(c.design->layers(), (KTTemplate::LayerList{b, a, c.photo()}));
}

TEST(EditorStripDrag, AFrameStopsAtItsGroupsSeparator)
{
    auto a = ring(Qt::red), b = ring(Qt::green);
    auto t = std::make_shared<KTTextOverlayLayer>();
    StripCanvas c({t}, {a, b});
    const auto &layers = c.strip->layers();
    const double separatorX = layers.at(1)->position.x();

    const QPoint start = c.centreOf(b);
    c.press(start);
    c.moveTo(start + QPoint(-500, 0));
    ASSERT_TRUE(c.strip->isDragging());
    EXPECT_DOUBLE_EQ(layers.at(3)->position.x(), separatorX + 3 + 38);
    // The other frame made room; the overlay stays where it was.
    EXPECT_GT(layers.at(2)->position.x(), layers.at(3)->position.x());
    EXPECT_LT(layers.at(0)->position.x(), separatorX);
    c.release(start + QPoint(-500, 0));

    EXPECT_EQ(c.stripObjects(), (QList<LayerPtr>{t, nullptr, b, a, nullptr, c.photo()}));
    EXPECT_EQ(c.design->layers(), (KTTemplate::LayerList{t, b, a, c.photo()}));
}

TEST(EditorStripDrag, ThePhotoCannotBeDraggedOffButAFrameCan)
{
    auto a = ring(Qt::red);
    StripCanvas c({}, {a});
    const int below = c.strip->height() + 60;

    const QPoint photoAt = c.centreOf(c.photo());
    c.press(photoAt);
    c.moveTo(QPoint(photoAt.x(), below));
    EXPECT_FALSE(c.strip->isDraggingOut());
    c.release(QPoint(photoAt.x(), below));
    EXPECT_EQ(c.design->layers().size(), 2);
    EXPECT_EQ(c.strip->items().size(), 4);

    // A frame leaves, comes back (kept), leaves again and is dropped.
    const QPoint frameAt = c.centreOf(a);
    c.press(frameAt);
    c.moveTo(QPoint(frameAt.x(), below));
    EXPECT_TRUE(c.strip->isDraggingOut());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    c.moveTo(frameAt);
    EXPECT_FALSE(c.strip->isDraggingOut());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    c.moveTo(QPoint(frameAt.x(), -40)); // far above the icons counts too
    EXPECT_TRUE(c.strip->isDraggingOut());
    c.release(QPoint(frameAt.x(), -40));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(c.design->layers(), (KTTemplate::LayerList{c.photo()}));
    EXPECT_EQ(c.stripObjects(), (QList<LayerPtr>{nullptr, nullptr, c.photo()}));
    EXPECT_EQ(c.palette->countOfFrames(), 0);
    EXPECT_EQ(c.palette->selectedRepresentedObject(), c.photo());
}

TEST(EditorStripRemoval, TheNextSelectionFollowsTheGroups)
{
    auto a = ring(Qt::red), b = ring(Qt::green);
    auto t = std::make_shared<KTTextOverlayLayer>();
    StripCanvas c({t}, {a, b});
    c.strip->setFocus();

    // The rightmost frame: its left neighbour.
    c.palette->selectLayer(b.get());
    c.key(Qt::Key_Delete);
    EXPECT_EQ(c.palette->selectedRepresentedObject(), a);
    EXPECT_TRUE(a->isSelected());
    EXPECT_FALSE(b->isSelected());
    // The only frame: the rightmost overlay.
    c.key(Qt::Key_Backspace);
    EXPECT_EQ(c.palette->selectedRepresentedObject(), t);
    EXPECT_EQ(c.design->layers(), (KTTemplate::LayerList{t, c.photo()}));
    EXPECT_EQ(c.palette->countOfFrames(), 0);
    EXPECT_EQ(c.palette->countOfOverlays(), 1);
    // The photo itself is never deleted.
    c.palette->selectLayer(c.photo().get());
    c.key(Qt::Key_Delete);
    EXPECT_EQ(c.design->layers().size(), 2);
    EXPECT_EQ(c.palette->selectedRepresentedObject(), c.photo());
}

TEST(EditorStripRemoval, AFrameWithoutNeighboursLeavesThePhotoSelected)
{
    auto a = ring(Qt::red), b = ring(Qt::green);
    StripCanvas c({}, {a, b});
    // A frame with one to its right: that one.
    c.palette->removeLayer(a.get());
    EXPECT_EQ(c.palette->selectedRepresentedObject(), b);
    c.palette->removeLayer(b.get());
    EXPECT_EQ(c.palette->selectedRepresentedObject(), c.photo());
    EXPECT_TRUE(c.photo()->isSelected());
    EXPECT_EQ(c.stripObjects(), (QList<LayerPtr>{nullptr, nullptr, c.photo()}));
}

TEST(EditorStripRemoval, AnExportInProgressFreezesTheStrip)
{
    auto a = ring(Qt::red), b = ring(Qt::green);
    StripCanvas c({}, {a, b});
    c.strip->setFocus();
    c.palette->selectLayer(a.get());
    c.design->setIsDrawing(true);
    c.key(Qt::Key_Delete);
    c.drag(a, QPoint(100, 0));
    c.drag(b, QPoint(0, 200));
    c.design->setIsDrawing(false);
    EXPECT_EQ(c.stripObjects(), (QList<LayerPtr>{nullptr, a, b, nullptr, c.photo()}));
    EXPECT_EQ(c.design->layers(), (KTTemplate::LayerList{a, b, c.photo()}));
    EXPECT_EQ(c.palette->countOfFrames(), 2);

    // Afterwards the same gestures work.
    c.drag(a, QPoint(100, 0));
    EXPECT_EQ(c.design->layers(), (KTTemplate::LayerList{b, a, c.photo()}));
}

TEST(EditorStripRemoval, UndoPutsTheLayerBackInItsPlaceAndRedoTakesItOutAgain)
{
    auto a = ring(Qt::red), b = ring(Qt::green);
    auto t = std::make_shared<KTTextOverlayLayer>();
    StripCanvas c({t}, {a, b});
    QUndoStack stack;
    c.palette->setUndoStack(&stack);
    const KTTemplate::LayerList before = c.design->layers();

    c.palette->removeLayer(b.get());
    c.palette->removeLayer(t.get());
    ASSERT_EQ(stack.count(), 2);
    stack.undo();
    stack.undo();
    EXPECT_EQ(c.design->layers(), before);
    EXPECT_EQ(c.palette->selectedRepresentedObject(), b);
    EXPECT_EQ(c.palette->countOfFrames(), 2);
    EXPECT_EQ(c.palette->countOfOverlays(), 1);

    stack.redo();
    EXPECT_EQ(c.design->indexOfLayer(b.get()), -1);
    EXPECT_EQ(c.strip->indexOfRepresentedObject(b.get()), KTLayersPaletteView::kNotFound);
    EXPECT_EQ(stack.count(), 2) << "a redo records nothing new";
}

TEST(EditorStripAddition, UndoTakesAnAddedFrameOutAndRedoPutsItBackSelected)
{
    auto a = ring(Qt::red), added = ring(Qt::blue);
    StripCanvas c({}, {a});
    QUndoStack stack;
    c.palette->setUndoStack(&stack);
    const KTTemplate::LayerList before = c.design->layers();

    c.design->addTopmostFrameLayer(added);
    c.palette->addFrameLayer(added);
    c.palette->selectLayer(added.get());
    c.palette->layerWasAdded(added);
    ASSERT_EQ(stack.count(), 1);
    const KTTemplate::LayerList after = c.design->layers();

    stack.undo();
    EXPECT_EQ(c.design->layers(), before);
    EXPECT_EQ(c.strip->indexOfRepresentedObject(added.get()), KTLayersPaletteView::kNotFound);
    EXPECT_EQ(c.palette->countOfFrames(), 1);
    stack.redo();
    EXPECT_EQ(c.design->layers(), after);
    EXPECT_EQ(c.palette->selectedRepresentedObject(), added);
    EXPECT_EQ(stack.count(), 1) << "neither undo nor redo records anything new";
}

TEST(EditorStripMenu, FramesOfferTheLibraryAndEveryLayerButThePhotoItsRemoval)
{
    auto a = ring(Qt::red);
    auto t = std::make_shared<KTTextOverlayLayer>();
    StripCanvas c({t}, {a});
    auto titles = [](QMenu *menu) {
        QStringList out;
        for (QAction *action : menu->actions())
            out << (action->isSeparator() ? QStringLiteral("-") : action->text());
        delete menu;
        return out;
    };
    EXPECT_EQ(titles(c.palette->menuForRepresentedObject(a, 2)),
              (QStringList{"Show frame in Library", "-", "Remove layer"}));
    EXPECT_EQ(titles(c.palette->menuForRepresentedObject(t, 0)), QStringList{"Remove layer"});
    EXPECT_TRUE(titles(c.palette->menuForRepresentedObject(c.photo(), 4)).isEmpty());

    // Removing through the menu keeps the counters right for the next add.
    QMenu *menu = c.palette->menuForRepresentedObject(a, 2);
    menu->actions().last()->trigger();
    delete menu;
    EXPECT_EQ(c.palette->countOfFrames(), 0);
    EXPECT_EQ(c.design->layers(), (KTTemplate::LayerList{t, c.photo()}));
    auto b = ring(Qt::green);
    c.palette->addFrameLayer(b);
    EXPECT_EQ(c.strip->indexOfRepresentedObject(b.get()), 2);
}

TEST(EditorStripLook, EyeButtonsGlowAndArrows)
{
    QList<LayerPtr> frames;
    for (int i = 0; i < 9; ++i)
        frames << ring(QColor::fromHsv(i * 40, 200, 200));
    StripCanvas c({}, frames);
    const auto &layers = c.strip->layers();
    const auto first = frames.first();
    const auto firstLayer = layers.at(1);

    // The eye shows while the mouse is over the strip; a click on it hides.
    c.palette->selectLayer(frames.at(1).get());
    ASSERT_DOUBLE_EQ(c.strip->scrollPosition(), 0);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(c.strip, &enter);
    EXPECT_TRUE(firstLayer->eyeVisible);
    const QPointF eye = firstLayer->eyeButtonFrame().center() - QPointF(c.strip->scrollPosition(), 0);
    QTest::mouseClick(c.strip, Qt::LeftButton, {}, eye.toPoint());
    EXPECT_TRUE(first->hidden());
    EXPECT_TRUE(firstLayer->eyeClosed);
    EXPECT_NEAR(firstLayer->opacity, 0.666, 1e-9);
    EXPECT_EQ(c.palette->selectedRepresentedObject(), frames.at(1)); // no selection from the eye
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(c.strip, &leave);
    EXPECT_TRUE(firstLayer->eyeVisible);      // hidden layers keep showing theirs
    EXPECT_FALSE(layers.at(2)->eyeVisible);
    EXPECT_FALSE(c.photo()->supportsHiding() && layers.last()->eyeVisible);

    // The selection glows only while the strip has the keyboard.
    c.palette->selectLayer(first.get());
    c.strip->clearFocus();
    QApplication::processEvents();
    EXPECT_EQ(firstLayer->borderWidth, 3);
    EXPECT_EQ(firstLayer->shadowRadius, 0);
    c.strip->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(firstLayer->shadowRadius, 5);

    // Eleven icons do not fit 800 points: the arrows scroll by 0.8 widths.
    EXPECT_TRUE(c.strip->rightArrowVisible());
    EXPECT_FALSE(c.strip->leftArrowVisible());
    const double before = c.strip->scrollPosition();
    QTest::mouseClick(c.strip, Qt::LeftButton, {}, QPoint(c.strip->width() - 5, 60));
    EXPECT_GT(c.strip->scrollPosition(), before);
    EXPECT_LE(c.strip->scrollPosition() + c.strip->width(), c.strip->maxX() + 16);
    EXPECT_TRUE(c.strip->leftArrowVisible());
    QTest::mouseClick(c.strip, Qt::LeftButton, {}, QPoint(5, 60));
    EXPECT_DOUBLE_EQ(c.strip->scrollPosition(), 0);
}
