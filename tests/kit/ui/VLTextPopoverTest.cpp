#include "kit/ui/VLTextPopover.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPointer>
#include <QTest>
#include <QWidget>

using VLTextPopover::Edge;

TEST(KitUiTextPopover, SitsOnTheAskedEdgeAndSizesToItsText)
{
    QWidget window;
    window.resize(300, 200);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, testsupport::kHangGuardMs));
    const QRect anchor(100, 80, 40, 20);

    QPointer<QWidget> below = VLTextPopover::displayPopoverWithText("Copied", &window, Edge::Bottom, anchor);
    ASSERT_TRUE(below);
    EXPECT_TRUE(below->isVisible());
    EXPECT_EQ(below->size(), QFontMetrics(below->font()).size(0, "Copied") + QSize(30, 20));
    EXPECT_EQ(below->geometry().top(), window.mapToGlobal(QPoint(0, anchor.bottom() + 1)).y());
    EXPECT_NEAR(below->geometry().center().x(), window.mapToGlobal(anchor.center()).x(), 1);
    below->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(below.isNull()); // closing deletes it

    QWidget *left = VLTextPopover::displayPopoverWithText("Hi", &window, Edge::Left, QRect());
    EXPECT_EQ(left->geometry().right(), window.mapToGlobal(QPoint(-1, 0)).x());
    left->close();
    EXPECT_EQ(VLTextPopover::displayPopoverWithText("x", nullptr, Edge::Top, anchor), nullptr);
}
