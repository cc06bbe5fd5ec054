#include "platform/ui/WindowPlacement.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

TEST(WindowPlacement, AWindowFitsTheScreenAndSitsInItsMiddle)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();

    QWidget small;
    small.resize(200, 100);
    platform::placeWindowOnScreen(&small);
    EXPECT_EQ(small.size(), QSize(200, 100));
    EXPECT_TRUE(area.contains(small.frameGeometry()));
    EXPECT_LE(std::abs(small.geometry().center().x() - area.center().x()), 1);

    // Asked for more than the screen holds: whole on it, title bar included.
    QWidget large;
    platform::placeWindowOnScreen(&large, area.size() * 2);
    EXPECT_LT(large.height(), area.height());
    EXPECT_LE(large.width(), area.width());
    EXPECT_GE(large.y(), area.top());
    EXPECT_GE(large.x(), area.left());
    EXPECT_LE(large.geometry().bottom(), area.bottom());
}
