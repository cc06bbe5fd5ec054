#include "kit/ImageAdditions.h"
#include "platform/render/DrawingContext.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(ImageAdditionsDrawing, BitmapOfTruncatedSizeKeepsThePointSize)
{
    const QImage image = VLKit::imageWithSize(QSizeF(92.7, 40.2), QColorSpace(QColorSpace::SRgb), [] {
        platform::DrawingContext::current()->fillRect(QRectF(0, 0, 10, 10), Qt::red);
    });
    EXPECT_EQ(image.size(), QSize(92, 40));
    EXPECT_EQ(VLKit::size(image), QSizeF(92.7, 40.2));
    EXPECT_EQ(VLKit::vl_bounds(image), QRectF(0, 0, 92.7, 40.2));
    // Origin at the bottom left.
    EXPECT_EQ(image.pixelColor(2, 37), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(2, 2).alpha(), 0);

    const QImage empty = VLKit::imageWithSize(QSizeF(10, 10), QColorSpace(QColorSpace::SRgb), [] {});
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(empty.pixel(x, y), 0u);
    EXPECT_TRUE(VLKit::imageWithSize(QSizeF(10, 10), QColorSpace(), [] {}).isNull());
}

TEST(ImageAdditionsDrawing, CentredDrawingCoversItsRect)
{
    QImage small(10, 20, QImage::Format_ARGB32_Premultiplied);
    small.fill(Qt::blue);
    QImage canvas(100, 100, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        platform::DrawingContext context(canvas);
        VLKit::drawCenteredOnPoint(small, QPointF(50, 50), QPainter::CompositionMode_SourceOver, 1.0);
    }
    // (45, 40) to (55, 60) in y-up is rows 40..59 from the top as well.
    EXPECT_EQ(canvas.pixelColor(45, 40), QColor(Qt::blue));
    EXPECT_EQ(canvas.pixelColor(54, 59), QColor(Qt::blue));
    EXPECT_EQ(canvas.pixelColor(44, 50).alpha(), 0);
    EXPECT_EQ(canvas.pixelColor(55, 50).alpha(), 0);
    EXPECT_EQ(canvas.pixelColor(50, 39).alpha(), 0);
    EXPECT_EQ(canvas.pixelColor(50, 60).alpha(), 0);
}

TEST(ImageAdditionsData, EncodingsReadBack)
{
    QImage photo(120, 80, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x)
            photo.setPixel(x, y, qRgb((x * 7) % 256, (y * 13) % 256, (x * y) % 256));
    const QByteArray low = VLKit::jpgDataWithCompression(photo, 0.3);
    const QByteArray mid = VLKit::jpgDataWithCompression(photo, 0.5);
    EXPECT_LT(low.size(), mid.size());
    EXPECT_EQ(VLKit::newCGImageFromData(mid).size(), QSize(120, 80));

    // Transparency becomes white in a JPEG.
    QImage clear(8, 8, QImage::Format_ARGB32_Premultiplied);
    clear.fill(Qt::transparent);
    EXPECT_TRUE(near(VLKit::newCGImageFromData(VLKit::jpgDataWithCompression(clear, 0.9)).pixelColor(4, 4), Qt::white, 2));

    const QString path = scratchFile(QStringLiteral("png"));
    VLKit::saveAsPNGAtPath(photo, path);
    const QImage back(path);
    EXPECT_EQ(back.pixel(17, 23) | 0xff000000, photo.pixel(17, 23));
    VLKit::saveAsPNGAtPath(photo, scratchDir() + QStringLiteral("/no/such/folder/x.png")); // silent

    EXPECT_TRUE(VLKit::newCGImage(QImage()).isNull());
    EXPECT_TRUE(VLKit::newCGImageFromData(QByteArray("nope")).isNull());
    EXPECT_EQ(VLKit::newCGImage(photo).format(), QImage::Format_ARGB32_Premultiplied);
}
