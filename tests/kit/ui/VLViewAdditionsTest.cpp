#include "kit/ui/VLViewAdditions.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QTest>
#include <QWidget>

TEST(KitUiViewAdditions, MouseLocationIsInTheViewsOwnCoordinates)
{
    QWidget window;
    window.resize(200, 100);
    auto *child = new QWidget(&window);
    child->setGeometry(50, 20, 60, 40);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, testsupport::kHangGuardMs));

    const QPoint inChild(10, 15);
    QCursor::setPos(child->mapToGlobal(inChild));
    if (QCursor::pos() != child->mapToGlobal(inChild))
        GTEST_SKIP() << "this platform does not move the pointer";
    EXPECT_EQ(NSViewVLKit::vl_mouseLocation(child), inChild);
    EXPECT_TRUE(NSViewVLKit::vl_mouseInside(child));
    EXPECT_TRUE(NSViewVLKit::vl_mouseInside(&window));

    QCursor::setPos(window.mapToGlobal(QPoint(5, 5)));
    EXPECT_EQ(NSViewVLKit::vl_mouseLocation(child), QPoint(-45, -15));
    EXPECT_FALSE(NSViewVLKit::vl_mouseInside(child));
    EXPECT_FALSE(NSViewVLKit::vl_mouseInside(nullptr));
}
