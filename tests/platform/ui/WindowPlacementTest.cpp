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

TEST(WindowPlacement, AWindowOpenedOnAnotherMovesDownItsTitleBarAndStaysOnTheScreen)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget first, second, third;
    for (QWidget *each : {&first, &second, &third})
        each->setGeometry(QRect(area.topLeft() + QPoint(10, 10), area.size() / 2));
    first.show();
    platform::cascadeFromWindows(&second, {&first});
    EXPECT_GT(second.y(), first.y());
    EXPECT_EQ(second.y() - first.y(), second.x() - first.x());
    second.show();
    platform::cascadeFromWindows(&third, {&first, &second});
    EXPECT_GT(third.y(), second.y());
    EXPECT_TRUE(area.contains(third.frameGeometry()));
}
