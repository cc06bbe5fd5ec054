#include "library/KTNavigationBarView.h"
#include "library/KTNavigationBarViewProtocol.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct Listener : KTNavigationBarViewProtocol {
    QList<qint64> chosen;
    void selectedComponentInNavigationBarView(qint64 component, KTNavigationBarView *) override { chosen << component; }
};

struct Bar {
    KTNavigationBarView bar;
    Listener listener;
    explicit Bar(int components = 3)
    {
        for (int i = 0; i < components; ++i)
            bar.addComponent(QStringList{"Collections", "Sets", "Frames"}.value(i));
        bar.setDelegate(&listener);
        bar.resize(280, 22);
        bar.show();
    }
    QPoint inside(int component) const
    {
        const QRectF box = bar.bezierPaths().at(component).boundingRect();
        return QPoint(int(box.left() + 12), 11);
    }
};

} // namespace

TEST(LibraryNavigationBar, AClickMakesAComponentActiveOnlyWhenReleasedOverIt)
{
    KTNavigationBarView undrawn;
    undrawn.addComponent(QStringLiteral("Collections"));
    EXPECT_EQ(undrawn.componentForPoint(QPointF(10, 10)), -1); // nothing drawn yet
    Bar b;
    (void)b.bar.grab();
    ASSERT_EQ(b.bar.bezierPaths().size(), 3);
    EXPECT_EQ(b.bar.componentForPoint(QPointF(10, 10)), 0);

    QTest::mouseClick(&b.bar, Qt::LeftButton, {}, b.inside(1));
    EXPECT_EQ(b.bar.activeComponent(), 1);
    EXPECT_EQ(b.listener.chosen, QList<qint64>{1});

    // Pressed on 2, released over 0: nothing changes.
    QTest::mousePress(&b.bar, Qt::LeftButton, {}, b.inside(2));
    EXPECT_TRUE(b.bar.pressed());
    QMouseEvent move(QEvent::MouseMove, b.inside(0), b.bar.mapToGlobal(b.inside(0)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&b.bar, &move);
    EXPECT_FALSE(b.bar.pressed());
    QTest::mouseRelease(&b.bar, Qt::LeftButton, {}, b.inside(0));
    EXPECT_EQ(b.bar.activeComponent(), 1);
    EXPECT_EQ(b.listener.chosen.size(), 1);
    EXPECT_EQ(b.bar.pressedComponent(), -1);

    // The active component is not pressed and nobody is told.
    QTest::mousePress(&b.bar, Qt::LeftButton, {}, b.inside(1));
    EXPECT_FALSE(b.bar.pressed());
    QTest::mouseRelease(&b.bar, Qt::LeftButton, {}, b.inside(1));
    EXPECT_EQ(b.listener.chosen.size(), 1);

    // Disabled: clicks are ignored, the active one still drawn.
    b.bar.setEnabledForMouse(false);
    QTest::mouseClick(&b.bar, Qt::LeftButton, {}, b.inside(2));
    EXPECT_EQ(b.bar.activeComponent(), 1);
    const QImage shot = b.bar.grab().toImage();
    EXPECT_LT(shot.pixelColor(b.inside(1).x() - 6, 4).lightness(), shot.pixelColor(b.inside(2).x() + 20, 4).lightness());
}

TEST(LibraryNavigationBar, SegmentsPointIntoTheirNeighboursAndTheLastReachesTheEdge)
{
    Bar one(1);
    (void)one.bar.grab();
    const QRectF only = one.bar.bezierPaths().at(0).boundingRect();
    EXPECT_DOUBLE_EQ(only.left(), 0.5);
    EXPECT_DOUBLE_EQ(only.right(), 280);
    EXPECT_EQ(one.bar.bezierPaths().at(0).elementCount(), 5); // a plain box: no point, no notch

    Bar three;
    (void)three.bar.grab();
    const auto &paths = three.bar.bezierPaths();
    // The first ends in a point 8 wide that the second's notch takes.
    const QRectF first = paths.at(0).boundingRect();
    const QRectF second = paths.at(1).boundingRect();
    EXPECT_DOUBLE_EQ(second.left(), first.right() - 8);
    EXPECT_EQ(three.bar.componentForPoint(QPointF(first.right() - 2, 11)), 0);
    EXPECT_EQ(three.bar.componentForPoint(QPointF(first.right() - 2, 1)), 1);
    EXPECT_DOUBLE_EQ(paths.at(2).boundingRect().right(), 280);
}
