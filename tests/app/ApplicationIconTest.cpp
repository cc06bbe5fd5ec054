#include "app/KTApplicationIcon.h"

#include <QImage>

#include <gtest/gtest.h>

// The windows' icon is the one drawn at build time, at every size it was drawn.
TEST(ApplicationIcon, TheWindowsGetTheDrawnIconAtEverySize)
{
    const QIcon icon = KTApplicationIcon::icon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(512, 512)));
    const QImage large = icon.pixmap(QSize(256, 256)).toImage();
    EXPECT_EQ(qAlpha(large.pixel(2, 2)), 0) << "rounded corners";
    EXPECT_EQ(qAlpha(large.pixel(128, 128)), 255);
}
