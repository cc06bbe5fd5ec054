#include "CodecTestPhoto.h"
#include "platform/TypeTable.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/ImageBuffer.h"
#include "platform/imaging/JpegDecoder.h"
#include "platform/imaging/ParallelRows.h"
#include "platform/imaging/PhotoRows.h"
#include "platform/render/DrawingContext.h"
#include "platform/render/RenderBand.h"

#include <QBuffer>
#include <QPainter>

#include <gtest/gtest.h>

using namespace platform;

namespace {

QImage oncePass(const QByteArray &data)
{
    const SerialRowsScope serial;
    return JpegDecoder::decode(data).valueOr(QImage());
}

// Rows [top, top + rows) of `picture` drawn a little smaller (or at its own
// size, off the corner) over a canvas, as a band of it.
QImage band(const QImage &picture, int top, int rows, bool ownSize = false)
{
    QImage out(picture.width(), rows, QImage::Format_ARGB32_Premultiplied);
    out.fill(QColor(200, 40, 90, 120));
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.translate(0, -top);
    const RenderBand window(&out, top, picture.width(), picture.height());
    DrawingContext context(painter, picture.height());
    context.drawImage(ownSize ? QRectF(7, -5, picture.width(), picture.height())
                              : QRectF(10, 20, picture.width() - 30, picture.height() - 40),
                      picture);
    return out;
}

} // namespace

TEST(PhotoRows, BandsDrawnAsDecodedMatchTheWholePictureAndDropTheRowsAbove)
{
    const QByteArray cut = codectest::stripedJpeg(2400, 1810);
    // The same without restart markers: one decoder goes down it.
    QByteArray plain;
    QBuffer buffer(&plain);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(oncePass(cut).save(&buffer, "JPG", 90));
    for (const QByteArray &jpeg : {cut, plain}) {
        const QImage whole = oncePass(jpeg);
        const std::shared_ptr<PhotoRows> rows = JpegDecoder::decodeAsDrawn(jpeg);
        ASSERT_TRUE(rows && !whole.isNull());
        QImage picture = rows->picture();
        EXPECT_EQ(rows->rowsHeld(), 0);
        for (int top = 0; top < whole.height(); top += 256) {
            rows->beginBand();
            const int count = std::min(256, whole.height() - top);
            ASSERT_TRUE(band(picture, top, count) == band(whole, top, count)) << top;
            const int held = rows->rowsHeld();
            rows->drawnInBand();
            if (top == 256) {
                EXPECT_LT(rows->rowsHeld(), held);
            }
            // Drawn again in the band, from rows above those kept: decoded again.
            ASSERT_TRUE(band(picture, top, count, true) == band(whole, top, count, true)) << top;
        }
        EXPECT_FALSE(rows->failed());
        rows->beginBand();
        EXPECT_LT(rows->rowsHeld(), whole.height() / 4);
        // Rows dropped and asked for again are decoded again; a view into the
        // picture asks for its own rows.
        const QImage view(picture.constScanLine(100), 500, 300, picture.bytesPerLine(), picture.format());
        ASSERT_TRUE(PhotoRows::needAllOf(view));
        EXPECT_TRUE(view == whole.copy(0, 100, 500, 300));
        ASSERT_TRUE(rows->needAll());
        EXPECT_TRUE(picture == whole);
    }
}

TEST(PhotoRows, APieceTheDecoderWarnsAboutGivesWhatOnePassGives)
{
    QByteArray jpeg = codectest::stripedJpeg(2400, 1810);
    // A coded byte in the middle changed: no marker made, none stuffed.
    qsizetype at = jpeg.size() / 2;
    while (uchar(jpeg[at]) == 0xff || uchar(jpeg[at - 1]) == 0xff || (uchar(jpeg[at]) ^ 0x5a) == 0xff)
        ++at;
    jpeg[at] = char(uchar(jpeg[at]) ^ 0x5a);
    const std::shared_ptr<PhotoRows> rows = JpegDecoder::decodeAsDrawn(jpeg);
    ASSERT_TRUE(rows);
    QImage picture = rows->picture();
    ASSERT_TRUE(rows->needAll());
    EXPECT_TRUE(picture == oncePass(jpeg));
    // Cut short, it is decoded whole as before, and found damaged at once.
    EXPECT_FALSE(JpegDecoder::decodeAsDrawn(jpeg.left(jpeg.size() * 2 / 3)));
}

TEST(PhotoRows, PagesOfAPictureLetGoCarryNoneOfItsRowsIntoTheNext)
{
    const QByteArray first = codectest::stripedJpeg(2400, 1810);
    QByteArray second;
    QBuffer buffer(&second);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(oncePass(first).mirrored(true, true).save(&buffer, "JPG", 90));
    const QImage whole = oncePass(second);
    {
        // As a batch's worker does it: rows decoded here, pages kept across files.
        const ImageBuffer::RecyclingScope recycling;
        const SerialRowsScope serial;
        {
            const std::shared_ptr<PhotoRows> rows = JpegDecoder::decodeAsDrawn(first);
            ASSERT_TRUE(rows && rows->needAll());
        }
        const qint64 kept = ImageBuffer::keptPageBytes();
        EXPECT_GT(kept, 0);
        const std::shared_ptr<PhotoRows> rows = JpegDecoder::decodeAsDrawn(second);
        ASSERT_TRUE(rows);
        QImage picture = rows->picture();
        ASSERT_TRUE(rows->need(0, 100));
        EXPECT_LT(ImageBuffer::keptPageBytes(), kept);
        // Every row is this picture's, or zero where it is not made.
        const QByteArray zeros(int(picture.bytesPerLine()), '\0');
        for (int y = 0; y < picture.height(); ++y) {
            const auto row = [&](const QImage &i) {
                return QByteArray::fromRawData(reinterpret_cast<const char *>(i.constScanLine(y)),
                                               int(i.bytesPerLine()));
            };
            ASSERT_TRUE(row(picture) == row(whole) || (row(picture) == zeros && y >= 100)) << y;
        }
        for (int top = 0; top < whole.height(); top += 256) {
            rows->beginBand();
            const int count = std::min(256, whole.height() - top);
            ASSERT_TRUE(band(picture, top, count, true) == band(whole, top, count, true)) << top;
        }
    }
    EXPECT_EQ(ImageBuffer::keptPageBytes(), 0);
}

TEST(PhotoRows, RowsDecodedStraightIntoABatchWorkersBandsMatchTheWholePicture)
{
    QByteArray plain;
    QBuffer buffer(&plain);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(oncePass(codectest::stripedJpeg(2400, 1810)).save(&buffer, "JPG", 90));
    // A coded byte changed: the decoder only warns, and gives what one pass gives.
    QByteArray warned = plain;
    qsizetype at = warned.size() / 2;
    while (uchar(warned[at]) == 0xff || uchar(warned[at - 1]) == 0xff || (uchar(warned[at]) ^ 0x5a) == 0xff)
        ++at;
    warned[at] = char(uchar(warned[at]) ^ 0x5a);
    // Bands overlapping by a few rows, as a worker draws them; the photo
    // drawn at its own size over what the band holds.
    const auto bandOf = [](const QImage &picture, int top, int rows) {
        QImage out(picture.width() + 20, rows, QImage::Format_ARGB32_Premultiplied);
        out.fill(QColor(200, 40, 90, 120));
        QPainter painter(&out);
        painter.translate(0, -top);
        const RenderBand window(&out, top, out.width(), picture.height() + 30);
        DrawingContext context(painter, picture.height() + 30);
        context.drawImage(QRectF(9, 10, picture.width(), picture.height()), picture);
        return out;
    };
    for (const QByteArray &jpeg : {plain, warned}) {
        const QImage whole = oncePass(jpeg);
        const SerialRowsScope serial;
        const std::shared_ptr<PhotoRows> rows = JpegDecoder::decodeAsDrawn(jpeg);
        ASSERT_TRUE(rows && !whole.isNull());
        const QImage picture = rows->picture();
        for (int top = 0; top < whole.height() + 30; top += 256) {
            rows->beginBand();
            const int first = std::max(0, top - 4);
            const int count = std::min(whole.height() + 30, top + 260) - first;
            ASSERT_TRUE(bandOf(picture, first, count) == bandOf(whole, first, count)) << top;
            rows->drawnInBand();
            // Nothing went through the picture's own rows.
            EXPECT_EQ(rows->rowsHeld(), 0) << top;
        }
        // Rows asked for again, above those kept: decoded again, into the
        // picture's own rows from then on.
        ASSERT_TRUE(bandOf(picture, 300, 200) == bandOf(whole, 300, 200));
        EXPECT_GT(rows->rowsHeld(), 0);
        ASSERT_TRUE(rows->needAll());
        EXPECT_TRUE(picture == whole);
        ASSERT_TRUE(bandOf(picture, 1000, 256) == bandOf(whole, 1000, 256));
        EXPECT_FALSE(rows->failed());
    }
}
