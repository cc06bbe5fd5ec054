#include "CodecTestPhoto.h"
#include "ExternalTestReaders.h"
#include "support/TestSupport.h"

#include "platform/TypeTable.h"
#include "platform/codec/CodecErrors.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/codec/PsdWriter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRandomGenerator>

#include <vector>

using platform::PsdWriter;

namespace {

std::vector<uchar> unpack(const std::vector<uchar> &packed)
{
    std::vector<uchar> out;
    size_t i = 0;
    while (i < packed.size()) {
        const int n = int(qint8(packed[i++]));
        if (n >= 0) {
            for (int k = 0; k <= n; ++k)
                out.push_back(packed.at(i++));
        } else if (n != -128) {
            const uchar v = packed.at(i++);
            for (int k = 0; k < 1 - n; ++k)
                out.push_back(v);
        }
    }
    return out;
}

std::vector<uchar> pack(const std::vector<uchar> &row)
{
    std::vector<uchar> out(size_t(PsdWriter::packBitsBound(int(row.size()))));
    out.resize(size_t(PsdWriter::packBits(row.data(), int(row.size()), out.data())));
    return out;
}

} // namespace

TEST(PsdWriterPackBits, KnownRowsAndRoundTrips)
{
    // Runs, literals and the 128-byte limits.
    EXPECT_EQ(pack({7, 7, 7, 7}), (std::vector<uchar>{253, 7}));
    EXPECT_EQ(pack({1, 2, 3}), (std::vector<uchar>{2, 1, 2, 3}));
    EXPECT_EQ(pack({1, 2, 2, 2, 3}), (std::vector<uchar>{0, 1, 254, 2, 0, 3}));
    EXPECT_EQ(pack(std::vector<uchar>(300, 9)), (std::vector<uchar>{129, 9, 129, 9, 213, 9}));
    QRandomGenerator random(42);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<uchar> row(size_t(random.bounded(1, 700)));
        for (uchar &b : row)
            b = uchar(random.bounded(trial % 3 == 0 ? 256 : 3));
        const std::vector<uchar> packed = pack(row);
        EXPECT_LE(int(packed.size()), PsdWriter::packBitsBound(int(row.size())));
        EXPECT_EQ(unpack(packed), row);
    }
}

TEST(PsdWriterFile, ImageMagickSeesTheAlphaAndPixels)
{
    const QImage image = codectest::renderedPicture(90, 60);
    // A file named .psb is the large document, version 2.
    for (const char *name : {"layered.psd", "layered.psb"}) {
        SCOPED_TRACE(name);
        const QString path = QDir(testsupport::scratchDir()).filePath(name);
        platform::Error error;
        ASSERT_TRUE(platform::ImageEncoder::writeToFile(path, image, platform::TypeTable::kPSD,
                                                        codectest::prepared(image), {}, &error))
            << error.description.toStdString();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.read(6), QByteArray("8BPS\0", 5) + char(QByteArray(name).endsWith("psb") ? 2 : 1));
        EXPECT_EQ(externalreaders::identifyFormat(path, "%m %w %h %A"), "PSD 90 60 True");
        EXPECT_EQ(externalreaders::identifyFormat(path, "%[fx:int(255*p{2,2}.a+0.5)]").toInt(), 0);
        EXPECT_EQ(externalreaders::identifyFormat(path, "%[fx:int(255*p{40,40}.b+0.5)]").toInt(), 200);
        EXPECT_EQ(externalreaders::identifyFormat(path, "%[fx:int(255*p{40,40}.a+0.5)]").toInt(), 255);
        const QJsonObject tags = externalreaders::exiftool(path);
        EXPECT_EQ(tags.value("Photoshop:XResolution").toDouble(), 300);
        EXPECT_EQ(tags.value("Photoshop:ImageWidth").toInt(), 90);
    }
}

TEST(PsdWriterFile, RefusesPicturesOverThirtyThousandPixels)
{
    // Only the size is looked at before refusing: a 1-pixel-high strip.
    const QImage wide(30001, 1, QImage::Format_ARGB32_Premultiplied);
    platform::Error error;
    EXPECT_FALSE(platform::ImageEncoder::encodeToData(wide, platform::TypeTable::kPSD, codectest::prepared(wide), {},
                                                      &error));
    EXPECT_EQ(error.code, int(platform::CodecError::TooLarge));
    EXPECT_TRUE(error.description.contains("30,000")) << error.description.toStdString();
    QImage edge(30000, 1, QImage::Format_ARGB32_Premultiplied);
    edge.fill(Qt::white);
    EXPECT_TRUE(platform::ImageEncoder::encodeToData(edge, platform::TypeTable::kPSD, codectest::prepared(edge), {},
                                                     nullptr));
}
