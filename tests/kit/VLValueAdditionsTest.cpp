#include "kit/VLValueAdditions.h"

#include <gtest/gtest.h>

#include <QTextCursor>
#include <QTextDocument>
#include <QTimeZone>

#include <cmath>
#include <limits>

using namespace NSNumberVLExtras;
using namespace NSStringVLAdditions;

TEST(KitNumberAdditions, ClampingKeepsTheValueOrGivesABound)
{
    const QVariant five(5); // an int stays an int when it is in range
    const QVariant kept = numberEnforcedBetweenAnd(five, 0, 10);
    EXPECT_EQ(kept.typeId(), QMetaType::Int);
    EXPECT_EQ(kept.toInt(), 5);
    const QVariant low = numberEnforcedBetweenAnd(QVariant(-1), 0, 10);
    EXPECT_EQ(low.typeId(), QMetaType::Double);
    EXPECT_EQ(low.toDouble(), 0.0);
    EXPECT_EQ(numberEnforcedBetweenAnd(QVariant(11), 0, 10).toDouble(), 10.0);
    // The minimum is tested first.
    EXPECT_EQ(numberEnforcedBetweenAnd(QVariant(-5), 3, 1).toDouble(), 3.0);
    EXPECT_EQ(numberEnforcedBetweenAnd(2.0, 3, 1), 3.0);
    // NaN never gets through a clamp.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(numberEnforcedBetweenAnd(QVariant(nan), 0.2, 10).toDouble(), 0.2);
    EXPECT_EQ(numberEnforcedBetweenAnd(nan, 0.2, 10), 0.2);
    EXPECT_EQ(numberEnforcedBetweenAnd(QVariant(), 1, 10).toDouble(), 1.0);
    EXPECT_EQ(numberEnforcedBetweenAnd(std::numeric_limits<double>::infinity(), 0, 10), 10.0);
}

TEST(KitNumberAdditions, OrderBySignOnly)
{
    EXPECT_EQ(compareWith0(5, 300), 0);
    EXPECT_EQ(compareWith0(-2, 0), -1);
    EXPECT_EQ(compareWith0(0, -7), 1);
    EXPECT_EQ(compareWith0(0.4, 0), 0); // the integer value of 0.4 is zero
    EXPECT_EQ(compareWith0(-0.9, 1.5), -1);
}

TEST(KitNumberAdditions, ShortDecimalStringsDropTrailingZerosAndTheMinusOfZero)
{
    EXPECT_EQ(shortDecimalString(2.500, 3), "2.5");
    EXPECT_EQ(shortDecimalString(1200, 0), "1200");
    EXPECT_EQ(shortDecimalString(1.77777, 2), "1.78");
    EXPECT_EQ(shortDecimalString(-0.0001, 2), "0");
    EXPECT_EQ(shortDecimalString(std::nan(""), 2), "");
}

TEST(KitStringAdditions, FileSizeStrings)
{
    EXPECT_EQ(stringFromFileSize(0), "0 bytes");
    EXPECT_EQ(stringFromFileSize(1), "1 byte");
    EXPECT_EQ(stringFromFileSize(1022), "1022 bytes");
    EXPECT_EQ(stringFromFileSize(1023), "1 KB");
    EXPECT_EQ(stringFromFileSize(1536), "2 KB");
    EXPECT_EQ(stringFromFileSize(1023 * 1024 - 1), "1023 KB");
    EXPECT_EQ(stringFromFileSize(1048576), "1.0 MB");
    EXPECT_EQ(stringFromFileSize(5 * 1048576 + 524288), "5.5 MB");
    EXPECT_EQ(stringFromFileSize(1073741824), "1.0 GB");
    EXPECT_EQ(stringFromFileSize(3ULL << 40), "3072.0 GB");
}

TEST(KitStringAdditions, TruncationNeverSplitsACharacter)
{
    EXPECT_EQ(vl_truncateToLength("abcdefghijk", 10), QString("abcdefghi") + QChar(0x2026));
    EXPECT_EQ(vl_truncateToLength("abcdefghij", 10), "abcdefghij");
    EXPECT_EQ(vl_truncateToLength("abc", 0), "");
    EXPECT_EQ(vl_truncateToLength("abc", 1), QString(QChar(0x2026)));
    EXPECT_EQ(vl_truncateToLength("", 0), "");
    // "ab" + an emoji (two UTF-16 units) + "cd": cutting after three units
    // would keep half the emoji, so it goes whole.
    const QString emoji = QString::fromUtf8("ab\xF0\x9F\x96\xBC" "cd");
    ASSERT_EQ(emoji.size(), 6);
    const QString cut = vl_truncateToLength(emoji, 4);
    EXPECT_EQ(cut, QString("ab") + QChar(0x2026));
    EXPECT_EQ(vl_truncateToLength(emoji, 5), QString::fromUtf8("ab\xF0\x9F\x96\xBC") + QChar(0x2026));
}

TEST(KitDateAdditions, UtcStringsIgnoreTheLocalZone)
{
    // 23:30 on 31 December two hours east of UTC is 21:30 UTC the same day.
    const QDateTime east(QDate(2023, 12, 31), QTime(23, 30, 5), QTimeZone(2 * 3600));
    EXPECT_EQ(NSDateVLExtras::stringInUTCWithTime(east), "20231231-213005");
    // 00:30 on 1 January west of UTC is still the old year... in the east.
    const QDateTime eastNewYear(QDate(2024, 1, 1), QTime(0, 30, 0), QTimeZone(5 * 3600));
    EXPECT_EQ(NSDateVLExtras::stringInUTCWithTime(eastNewYear), "20231231-193000");
    const QDateTime west(QDate(2023, 12, 31), QTime(23, 30, 0), QTimeZone(-3 * 3600));
    EXPECT_EQ(NSDateVLExtras::stringInUTCWithTime(west), "20240101-023000");
    const auto c = NSDateVLExtras::dateComponentsInUTC(west);
    EXPECT_EQ(c.year, 2024);
    EXPECT_EQ(c.month, 1);
    EXPECT_EQ(c.hour, 2);
}

TEST(KitBezierAdditions, BevelFacesAndTheirDegenerateTriangle)
{
    using namespace NSBezierPathVLExtensions;
    const QPainterPath side0 = bezierPathForBevelWithBasePointBaseLengthWidthAndSide({10, 20}, 100, 10, 0);
    ASSERT_GE(side0.elementCount(), 4);
    EXPECT_EQ(QPointF(side0.elementAt(0)), QPointF(10, 20));
    EXPECT_EQ(QPointF(side0.elementAt(1)), QPointF(110, 20));
    EXPECT_EQ(QPointF(side0.elementAt(2)), QPointF(100, 10));
    EXPECT_EQ(QPointF(side0.elementAt(3)), QPointF(20, 10));
    const QPainterPath side3 = bezierPathForBevelWithBasePointBaseLengthWidthAndSide({10, 20}, 100, 10, 3);
    EXPECT_EQ(QPointF(side3.elementAt(2)), QPointF(0, 110));
    EXPECT_EQ(QPointF(side3.elementAt(3)), QPointF(0, 30));
    // W = L/2: the two inner points meet.
    const QPainterPath triangle = bezierPathForBevelWithBasePointBaseLengthWidthAndSide({0, 0}, 40, 20, 1);
    QPolygonF corners = triangle.toFillPolygon();
    if (corners.size() > 1 && corners.first() == corners.last())
        corners.removeLast();
    corners.erase(std::unique(corners.begin(), corners.end()), corners.end());
    EXPECT_EQ(corners.size(), 3);
    EXPECT_TRUE(corners.contains(QPointF(20, 20)));
    EXPECT_NEAR(triangle.boundingRect().height(), 20, 1e-9);
    EXPECT_TRUE(bezierPathForBevelWithBasePointBaseLengthWidthAndSide({0, 0}, 40, 20, 4).isEmpty());
}

TEST(KitBezierAdditions, RoundedCornersByMaskAndClampedRadius)
{
    using namespace NSBezierPathVLExtensions;
    const QRectF rect(0, 0, 100, 50); // y-up: top edge at y = 50
    const QPainterPath plain = bezierPathWithRoundedRectRadiusCorners(rect, 10, 0);
    EXPECT_EQ(QPointF(plain.elementAt(0)), QPointF(0, 50)); // starts at (minX, maxY)
    EXPECT_EQ(QPointF(plain.elementAt(1)), QPointF(100, 50)); // clockwise: along the top
    EXPECT_TRUE(plain.contains(QPointF(0.5, 49.5)));

    const QPainterPath all = bezierPathWithRoundedRectRadiusCorners(rect, 10, 15);
    for (const QPointF corner : {QPointF(1, 49), QPointF(99, 49), QPointF(99, 1), QPointF(1, 1)})
        EXPECT_FALSE(all.contains(corner)) << corner.x() << "," << corner.y();
    EXPECT_TRUE(all.contains(QPointF(50, 25)));
    EXPECT_EQ(QPointF(all.elementAt(0)), QPointF(0, 40)); // r before the first corner

    const QPainterPath topLeftOnly = bezierPathWithRoundedRectRadiusCorners(rect, 10, TopLeftCorner);
    EXPECT_FALSE(topLeftOnly.contains(QPointF(1, 49)));
    EXPECT_TRUE(topLeftOnly.contains(QPointF(99, 49)));
    EXPECT_TRUE(topLeftOnly.contains(QPointF(1, 1)));

    // A radius past half the short side becomes that half: a stadium, never
    // a path that turns back on itself.
    const QPainterPath huge = bezierPathWithRoundedRectRadiusCorners(rect, 500, 15);
    EXPECT_EQ(huge.boundingRect().adjusted(-1e-9, -1e-9, 1e-9, 1e-9).contains(rect), true);
    EXPECT_NEAR(huge.boundingRect().width(), 100, 1e-6);
    EXPECT_NEAR(huge.boundingRect().height(), 50, 1e-6);
    EXPECT_TRUE(huge.contains(QPointF(50, 25)));
    EXPECT_FALSE(huge.contains(QPointF(3, 3)));
}

TEST(KitColorAdditions, BrightnessStaysInRange)
{
    using namespace NSColorVLExtras;
    const QColor base = QColor::fromHsvF(0.5f, 0.5f, 0.4f, 0.8f);
    const QColor brighter = brightenColorBy(base, 0.5);
    EXPECT_NEAR(brighter.valueF(), 0.6, 0.01);
    EXPECT_NEAR(brighter.hsvHueF(), 0.5, 0.01);
    EXPECT_NEAR(brighter.hsvSaturationF(), 0.5, 0.01);
    EXPECT_NEAR(brighter.alphaF(), 0.8, 0.01);
    EXPECT_NEAR(darkenColorBy(base, 0.5).valueF(), 0.2, 0.01);
    // Past the ends: a valid colour at full or no brightness, never invalid.
    const QColor blown = brightenColorBy(base, 5);
    EXPECT_TRUE(blown.isValid());
    EXPECT_NEAR(blown.valueF(), 1.0, 1e-6);
    const QColor black = darkenColorBy(base, 3);
    EXPECT_TRUE(black.isValid());
    EXPECT_NEAR(black.valueF(), 0.0, 1e-6);
    EXPECT_TRUE(brightenColorBy(QColor(Qt::gray), std::nan("")).isValid());
}

TEST(KitColorAdditions, AdaptiveColoursFollowTheTextBrightness)
{
    using namespace NSAttributedStringColors;
    EXPECT_NEAR(vlw_textBrightness(QColor(Qt::white)), 1.0, 1e-6);
    EXPECT_NEAR(vlw_textBrightness(QColor(Qt::green)), 0.7152, 1e-4);
    EXPECT_EQ(vlw_textBrightness(std::nullopt), 0.0);

    const double light = vlw_textBrightness(QColor(Qt::yellow));
    EXPECT_EQ(vlw_adaptiveBackgroundColor(light), QColor(Qt::black));
    EXPECT_EQ(vlw_adaptiveCursorColor(light), QColor(Qt::white));
    const double dark = vlw_textBrightness(QColor(Qt::blue));
    EXPECT_EQ(vlw_adaptiveBackgroundColor(dark), QColor(Qt::white));
    EXPECT_EQ(vlw_adaptiveCursorColor(dark), QColor(Qt::black));
    EXPECT_NEAR(vlw_adaptiveSelectionColor(dark).redF(), (2.0 + dark) / 3.0, 1e-3);
    EXPECT_NEAR(vlw_adaptiveSelectionColor(light).redF(), light / 3.0, 1e-3);
    EXPECT_EQ(vlw_adaptiveSelectionColor(light).alphaF(), 1.0);

    QTextDocument empty;
    EXPECT_EQ(vlw_textBrightness(empty), 0.0);
    QTextDocument plain;
    plain.setPlainText("no colour set");
    EXPECT_EQ(vlw_textBrightness(plain), 0.0);
    QTextDocument coloured;
    QTextCursor cursor(&coloured);
    QTextCharFormat white;
    white.setForeground(Qt::white);
    cursor.insertText("W", white);
    QTextCharFormat black;
    black.setForeground(Qt::black);
    cursor.insertText("rest", black);
    EXPECT_NEAR(vlw_textBrightness(coloured), 1.0, 1e-6);
}
