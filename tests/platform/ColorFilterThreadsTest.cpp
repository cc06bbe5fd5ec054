#include "platform/imaging/BitmapTransform.h"
#include "platform/imaging/ColorFilter.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <cstring>

#include <random>

using platform::ColorFilter;

namespace {

QImage noise(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    std::mt19937 rng(9);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qPremultiply(qRgba(int(rng() % 256), int(rng() % 256), int(rng() % 256),
                                         x % 5 ? 255 : int(rng() % 256)));
    }
    return image;
}

} // namespace

// Tile-sized pictures are filtered and scaled in bands on several threads;
// each row must come out as it does on its own.
TEST(ColorFilterOnThreads, RowsComeOutAsWhenFilteredOneByOne)
{
    ColorFilter::Chain chain;
    auto saturation = ColorFilter::filterWithName(ColorFilter::kColorControls);
    saturation->setValue(ColorFilter::kInputSaturation, 0.6);
    auto exposure = ColorFilter::filterWithName(ColorFilter::kExposureAdjust);
    exposure->setValue(ColorFilter::kInputEV, 0.4);
    chain = {saturation, exposure};

    const QImage source = noise(400, 700);
    QImage whole = source.copy();
    ColorFilter::applyChain(chain, whole);
    for (int y = 0; y < source.height(); ++y) {
        QImage row = source.copy(0, y, source.width(), 1);
        ColorFilter::applyChain(chain, row);
        ASSERT_EQ(0, std::memcmp(row.constScanLine(0), whole.constScanLine(y), size_t(source.width()) * 4)) << "row " << y;
    }
    EXPECT_FALSE(whole == source);

    // Scaling up in bands: every row as a single painter samples it.
    const QImage small = noise(60, 240);
    const QImage scaled = platform::BitmapTransform::scaled(small, 400, 1600);
    QImage single(400, 1600, QImage::Format_ARGB32_Premultiplied);
    single.fill(Qt::transparent);
    {
        QPainter p(&single);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(QRectF(0, 0, 400, 1600), small);
    }
    EXPECT_TRUE(scaled == single);
}
