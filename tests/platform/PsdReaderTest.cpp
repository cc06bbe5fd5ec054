#include "platform/TypeTable.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/DecodeErrors.h"
#include "platform/imaging/PsdReader.h"

#include <gtest/gtest.h>

#include <QtEndian>

using platform::PsdReader;

namespace {

void be(QByteArray &out, quint64 v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((v >> (8 * i)) & 0xff));
}

QByteArray resource(quint16 id, const QByteArray &data)
{
    QByteArray out("8BIM");
    be(out, id, 2);
    be(out, 0, 2);
    be(out, quint64(data.size()), 4);
    return out + data + (data.size() % 2 ? QByteArray(1, '\0') : QByteArray());
}

// An 8-bit document of `w` x `h` with raw planes, one byte a sample; a
// negative layer count says the first extra channel is the merged alpha.
QByteArray document(quint16 mode, const std::vector<QByteArray> &planes, int w, int h, const QByteArray &resources = {},
                    bool mergedAlpha = false, quint16 depth = 8)
{
    QByteArray out("8BPS");
    be(out, 1, 2);
    out.append(QByteArray(6, '\0'));
    be(out, planes.size(), 2);
    be(out, quint64(h), 4);
    be(out, quint64(w), 4);
    be(out, depth, 2);
    be(out, mode, 2);
    be(out, 0, 4);
    be(out, quint64(resources.size()), 4);
    out += resources;
    if (mergedAlpha) {
        be(out, 10, 4); // layer and mask section
        be(out, 2, 4);  // layer info: the count alone
        be(out, quint16(qint16(-1)), 2);
        be(out, 0, 4);
    } else {
        be(out, 0, 4);
    }
    be(out, 0, 2); // raw
    for (const QByteArray &plane : planes)
        out += plane;
    return out;
}

QByteArray filled(int samples, uchar v)
{
    return QByteArray(samples, char(v));
}

// Display info for `kinds.size()` extra channels (2: spot colour).
QByteArray displayInfo(const std::vector<uchar> &kinds)
{
    QByteArray out;
    be(out, 1, 4);
    for (uchar kind : kinds) {
        out.append(QByteArray(2 + 8, '\0'));
        be(out, 100, 2);
        out.append(char(kind));
    }
    return resource(0x0435, out);
}

} // namespace

TEST(PsdReader, DocumentsWithoutAPictureToFrameAreRefusedSayingWhy)
{
    const int n = 4 * 3;
    const QByteArray white = filled(n, 255);
    QByteArray versionInfo;
    be(versionInfo, 1, 4);
    versionInfo.append('\0'); // no real merged data
    versionInfo.append(QByteArray(12, '\0'));
    const platform::Result<QImage> layered =
        PsdReader::read(document(3, {white, white, white}, 4, 3, resource(0x0421, versionInfo)));
    ASSERT_FALSE(layered.ok());
    EXPECT_EQ(layered.error().code, int(platform::DecodeError::KindNotRead));
    EXPECT_TRUE(layered.error().description.contains("without its merged picture"))
        << layered.error().description.toStdString();
    versionInfo[4] = '\1';
    EXPECT_TRUE(PsdReader::read(document(3, {white, white, white}, 4, 3, resource(0x0421, versionInfo))).ok());

    // The merged picture blank, the picture in a spot colour channel.
    QByteArray ink = white;
    ink[5] = '\0';
    const platform::Result<QImage> spot =
        PsdReader::read(document(3, {white, white, white, ink}, 4, 3, displayInfo({2})));
    ASSERT_FALSE(spot.ok());
    EXPECT_EQ(spot.error().code, int(platform::DecodeError::KindNotRead));
    EXPECT_TRUE(spot.error().description.contains("spot colour")) << spot.error().description.toStdString();
    // A saved selection, or a spot channel beside a picture, leaves the picture as it is.
    EXPECT_TRUE(PsdReader::read(document(3, {white, white, white, ink}, 4, 3, displayInfo({0}))).ok());
    QByteArray red = white;
    red[0] = '\0';
    EXPECT_TRUE(PsdReader::read(document(3, {white, red, white, ink}, 4, 3, displayInfo({2}))).ok());

    // Valid documents of kinds not read name the kind, and are not called damaged.
    for (const auto &[mode, depth, kind] :
         {std::tuple{quint16(9), quint16(8), "Lab colour"}, std::tuple{quint16(3), quint16(32), "32 bits a channel"}}) {
        const int bytes = n * depth / 8;
        const platform::Result<QImage> read = PsdReader::read(
            document(mode, {filled(bytes, 9), filled(bytes, 9), filled(bytes, 9)}, 4, 3, {}, false, depth));
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().code, int(platform::DecodeError::KindNotRead));
        EXPECT_TRUE(read.error().description.contains(kind)) << read.error().description.toStdString();
    }
}

TEST(PsdReader, MergedColoursLaidOntoWhiteComeBackAsTheyWere)
{
    // Half-transparent red stored onto white: (255, 127, 127) at 128.
    const int n = 2 * 2;
    const platform::Result<QImage> matted =
        PsdReader::read(document(3, {filled(n, 255), filled(n, 127), filled(n, 127), filled(n, 128)}, 2, 2, {}, true));
    ASSERT_TRUE(matted.ok());
    const QColor c = matted.value().pixelColor(1, 1);
    EXPECT_EQ(c.alpha(), 128);
    EXPECT_NEAR(c.red(), 255, 2);
    EXPECT_NEAR(c.green(), 0, 2);
    EXPECT_NEAR(c.blue(), 0, 2);

    // Colours darker than a white matte allows were stored as they are.
    const platform::Result<QImage> straight =
        PsdReader::read(document(3, {filled(n, 100), filled(n, 150), filled(n, 200), filled(n, 128)}, 2, 2, {}, true));
    ASSERT_TRUE(straight.ok());
    const QColor s = straight.value().pixelColor(0, 0);
    EXPECT_NEAR(s.red(), 100, 2);
    EXPECT_NEAR(s.blue(), 200, 2);

    // Our own file of a transparent picture reads back as it was drawn.
    QImage picture(30, 20, QImage::Format_ARGB32);
    picture.fill(QColor(40, 120, 220, 90));
    const std::optional<QByteArray> written = platform::ImageEncoder::encodeToData(
        picture.convertToFormat(QImage::Format_ARGB32_Premultiplied), platform::TypeTable::kPSD, {}, {}, nullptr);
    ASSERT_TRUE(written);
    const platform::Result<QImage> back = PsdReader::read(*written);
    ASSERT_TRUE(back.ok());
    const QColor b = back.value().pixelColor(10, 10);
    EXPECT_EQ(b.alpha(), 90);
    EXPECT_NEAR(b.red(), 40, 3);
    EXPECT_NEAR(b.green(), 120, 3);
    EXPECT_NEAR(b.blue(), 220, 3);
}
