#include "CodecTestPhoto.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/JpegDecoder.h"
#include "platform/imaging/ParallelRows.h"
#include "platform/TypeTable.h"

#include <QBuffer>
#include <QPainter>

#include <gtest/gtest.h>

using namespace platform;

namespace {

QImage serially(const QByteArray &data, QSize atLeast = QSize())
{
    const SerialRowsScope serial;
    return JpegDecoder::decodeAtLeast(data, atLeast).valueOr(QImage());
}

} // namespace

TEST(JpegPiecesDecode, SamePixelsAsOnePassAndDamageStillReported)
{
    // Large enough for the writer's strips, which put a restart marker after every row of blocks.
    const QByteArray jpeg = codectest::stripedJpeg(2400, 1810);
    const int before = JpegDecoder::piecewiseDecodes();
    const QImage whole = JpegDecoder::decode(jpeg).valueOr(QImage());
    ASSERT_EQ(JpegDecoder::piecewiseDecodes(), before + 1);
    EXPECT_TRUE(whole == serially(jpeg));
    const QImage half = JpegDecoder::decodeAtLeast(jpeg, QSize(1200, 905)).valueOr(QImage());
    EXPECT_EQ(half.size(), QSize(1200, 905));
    EXPECT_TRUE(half == serially(jpeg, QSize(1200, 905)));

    // A file cut short, or with a marker out of turn, decodes as before: damaged.
    JpegDecoder::Status status = JpegDecoder::Status::Ok;
    EXPECT_FALSE(JpegDecoder::decode(jpeg.left(jpeg.size() * 2 / 3), &status).ok());
    EXPECT_EQ(status, JpegDecoder::Status::Damaged);
    QByteArray swapped = jpeg;
    const qsizetype marker = swapped.indexOf("\xff\xd3");
    ASSERT_GT(marker, 0);
    swapped[marker + 1] = char(0xd5);
    const auto once = serially(swapped);
    EXPECT_TRUE(JpegDecoder::decode(swapped).valueOr(QImage()) == once);
    EXPECT_EQ(JpegDecoder::piecewiseDecodes(), before + 2);
}
