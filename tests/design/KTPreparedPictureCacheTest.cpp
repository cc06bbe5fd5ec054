#include "MouldingTestSupport.h"

#include "design/KTMoldingFrameLayer.h"
#include "design/KTPreparedPictureCache.h"
#include "design/KTTemplate.h"
#include "design/VLImage.h"
#include "platform/UserDefaults.h"
#include "platform/imaging/ColorFilter.h"
#include "platform/imaging/ParallelRows.h"
#include "platform/render/DrawingContext.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace mouldingtest;

namespace {

std::shared_ptr<VLImage> gradientPicture()
{
    QImage image(64, 48, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, QColor(x * 4, y * 5, 128));
    return VLImage::initWithBitmapContext(image);
}

// The largest difference of any channel of any pixel: the cache scales
// before filtering, a picture drawn larger than its own size afterwards.
// Compared unpremultiplied.
int largestDifference(const QImage &a, const QImage &b)
{
    return testsupport::worstChannelDifference(a.convertToFormat(QImage::Format_ARGB32),
                                               b.convertToFormat(QImage::Format_ARGB32));
}

// The share of pixels that differ by more than `tolerance` in any channel.
double shareDiffering(const QImage &a, const QImage &b, int tolerance)
{
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            differing += testsupport::channelDifference(a.pixelColor(x, y).rgba(), b.pixelColor(x, y).rgba()) > tolerance;
    return double(differing) / (a.width() * a.height());
}

QImage canvasDrawnWith(const std::function<void()> &draw)
{
    QImage canvas(200, 200, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    platform::DrawingContext ctx(canvas);
    draw();
    return canvas;
}

} // namespace

TEST(PreparedPictureCache, PreparesEachSizeTurnCropAndFilterOnceAndDrawsAsThePictureWould)
{
    auto picture = gradientPicture();
    picture->setValue(0.3, platform::ColorFilter::kInputSaturation, platform::ColorFilter::kColorControls);
    picture->setRotation(1);
    picture->setCrop({0.1, 0, 0.2, 0.05});
    picture->setOpacity(0.8);
    KTPreparedPictureCache cache;

    const QImage direct = canvasDrawnWith([&] { picture->drawInRect(QRectF(10, 20, 30, 90), true); });
    const QImage cached = canvasDrawnWith([&] {
        for (int i = 0; i < 5; ++i)
            cache.drawImageInRect(*picture, QRectF(10, 20, 30, 90)); // same place, composited five times
    });
    const QImage once = canvasDrawnWith([&] { cache.drawImageInRect(*picture, QRectF(10, 20, 30, 90)); });
    EXPECT_LE(largestDifference(once, direct), 12);
    EXPECT_EQ(cache.renderCount(), 1);
    EXPECT_EQ(cache.hitCount(), 5);
    EXPECT_NE(cached, direct) << "drawn five times over itself, the opacity shows";

    // Another place, same size: a hit; another size, turn, crop or filter
    // value: a new preparation.
    canvasDrawnWith([&] { cache.drawImageInRect(*picture, QRectF(100, 0, 30, 90)); });
    EXPECT_EQ(cache.renderCount(), 1);
    canvasDrawnWith([&] { cache.drawImageInRect(*picture, QRectF(100, 0, 31, 90)); });
    EXPECT_EQ(cache.renderCount(), 2);
    picture->setRotation(2);
    canvasDrawnWith([&] { cache.drawImageInRect(*picture, QRectF(100, 0, 31, 90)); });
    EXPECT_EQ(cache.renderCount(), 3);
    picture->setCrop({});
    canvasDrawnWith([&] { cache.drawImageInRect(*picture, QRectF(100, 0, 31, 90)); });
    EXPECT_EQ(cache.renderCount(), 4);
    picture->setValue(0.6, platform::ColorFilter::kInputSaturation, platform::ColorFilter::kColorControls);
    const QImage refiltered = canvasDrawnWith([&] { cache.drawImageInRect(*picture, QRectF(100, 0, 31, 90)); });
    EXPECT_EQ(cache.renderCount(), 5);
    EXPECT_LE(largestDifference(refiltered, canvasDrawnWith([&] { picture->drawInRect(QRectF(100, 0, 31, 90), true); })), 12);
    // A copy for rendering shares the pixels and so the preparations.
    auto copy = picture->copyForRendering();
    canvasDrawnWith([&] { cache.drawImageInRect(*copy, QRectF(0, 0, 31, 90)); });
    EXPECT_EQ(cache.renderCount(), 5);
    EXPECT_GT(cache.bytes(), 0);

    // Over its byte limit the cache still draws, it only stops keeping.
    KTPreparedPictureCache small(100);
    canvasDrawnWith([&] { small.drawImageInRect(*picture, QRectF(0, 0, 31, 90)); });
    canvasDrawnWith([&] { small.drawImageInRect(*picture, QRectF(0, 0, 31, 90)); });
    EXPECT_EQ(small.renderCount(), 2);
    EXPECT_EQ(small.bytes(), 0);
}

TEST(PreparedPictureCache, ThreadsDrawingOneRenderShareEachPreparation)
{
    auto picture = gradientPicture();
    picture->setValue(1.2, platform::ColorFilter::kInputEV, platform::ColorFilter::kExposureAdjust);
    const QImage expected = canvasDrawnWith([&] { picture->drawInRect(QRectF(5, 5, 150, 120), true); });
    const int before = picture->renderCount();
    KTPreparedPictureCache cache;
    // The picture is shared read-only, as by copies of one render.
    QList<QImage> results(16);
    std::vector<std::thread> drawers;
    for (QImage &result : results)
        drawers.emplace_back([&] {
            KTPreparedPictureCache::Scope scope(&cache);
            result = canvasDrawnWith(
                [&] { KTPreparedPictureCache::current()->drawImageInRect(*picture, QRectF(5, 5, 150, 120)); });
        });
    for (std::thread &drawer : drawers)
        drawer.join();
    EXPECT_EQ(cache.renderCount(), 1);
    EXPECT_EQ(cache.hitCount(), 15);
    for (const QImage &result : results)
        EXPECT_EQ(result, results.front());
    EXPECT_LE(largestDifference(results.front(), expected), 12);
    EXPECT_EQ(picture->renderCount(), before) << "the shared picture itself never rendered for the cache";
    EXPECT_EQ(KTPreparedPictureCache::current(), nullptr);
}

TEST(PreparedPictureCache, AnExportOfAFilteredShadowedMouldingPreparesEachSideOnce)
{
    FrameInStore store(QStringLiteral("Moulding"),
                       {{"Left Image", markedPicture(10, 40, QColor(200, 90, 20), QColor(20, 90, 200))}},
                       {{"Mirror images", true}});
    auto layer = std::make_shared<KTMoldingFrameLayer>();
    layer->setDropShadow(true);
    layer->setTheFrame(store.frame());
    ASSERT_TRUE(layer->loadImages());
    layer->setSaturationShift(0.4);
    layer->setLightnessShift(0.5);
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(layer, 0);

    // The copy an export draws, in a design of its own.
    auto copy = std::static_pointer_cast<KTMoldingFrameLayer>(layer->copyForRendering());
    auto exportDesign = std::make_shared<KTTemplate>();
    exportDesign->insertLayer(copy, 0);
    ASSERT_TRUE(copy->shouldDrawShadow());
    KTPreparedPictureCache cache;
    QImage exported(600, 500, QImage::Format_ARGB32_Premultiplied);
    exported.fill(Qt::transparent);
    {
        KTPreparedPictureCache::Scope scope(&cache);
        platform::DrawingContext ctx(exported);
        copy->drawLayerForRect(QRectF(100, 100, 400, 300), true, true);
    }
    // Four sides, each one tile size: four preparations for 4 + 3 drawings
    // of 3 or 4 tiles each.
    EXPECT_EQ(cache.renderCount(), 4);
    EXPECT_GT(cache.hitCount(), 15);
    // The screen's pictures were not touched by the export.
    for (const auto &image : layer->allFrameImages())
        EXPECT_EQ(image->renderCount(), 0);
    // The same as drawing every tile afresh.
    QImage fresh(600, 500, QImage::Format_ARGB32_Premultiplied);
    fresh.fill(Qt::transparent);
    {
        platform::DrawingContext ctx(fresh);
        layer->drawLayerForRect(QRectF(100, 100, 400, 300), true, true);
    }
    // Equal but for where a tile's marked edge is resampled.
    EXPECT_LT(shareDiffering(exported, fresh, 12), 0.01);
}

TEST(PreparedPictureCache, PicturesPreparedTogetherAreTheOnesDrawingWouldPrepare)
{
    std::vector<std::shared_ptr<VLImage>> pictures;
    for (int i = 0; i < 4; ++i) {
        auto picture = gradientPicture();
        picture->setValue(0.2 + 0.3 * i, platform::ColorFilter::kInputSaturation, platform::ColorFilter::kColorControls);
        picture->setRotation(unsigned(i));
        pictures.push_back(picture);
    }
    const QRectF rects[4] = {QRectF(0, 0, 40, 160), QRectF(0, 0, 160, 40), QRectF(0, 0, 41, 163), QRectF(0, 0, 300, 75)};
    QImage canvas(400, 400, QImage::Format_ARGB32_Premultiplied);
    platform::DrawingContext ctx(canvas);
    KTPreparedPictureCache together;
    std::vector<std::pair<const VLImage *, QRectF>> requests;
    for (int i = 0; i < 4; ++i)
        requests.emplace_back(pictures[size_t(i)].get(), rects[i]);
    requests.emplace_back(pictures[0].get(), rects[0].translated(50, 50)); // the same again, elsewhere
    together.preparePictures(requests);
    EXPECT_EQ(together.renderCount(), 4);
    for (int i = 0; i < 4; ++i) {
        KTPreparedPictureCache alone;
        const QImage expected = alone.preparedPicture(*pictures[size_t(i)], rects[i]);
        ASSERT_FALSE(expected.isNull());
        EXPECT_TRUE(together.preparedPicture(*pictures[size_t(i)], rects[i]) == expected) << i;
    }
    EXPECT_EQ(together.renderCount(), 4);
    EXPECT_EQ(together.hitCount(), 5);
}

TEST(PreparedPictureCache, WorkersPreparingTheSamePicturesAtOnceRenderEachOnceAndAllFindThemReady)
{
    std::vector<std::shared_ptr<VLImage>> pictures;
    std::vector<std::pair<const VLImage *, QRectF>> requests;
    for (int i = 0; i < 4; ++i) {
        pictures.push_back(gradientPicture());
        pictures.back()->setValue(0.3 * i, platform::ColorFilter::kInputSaturation, platform::ColorFilter::kColorControls);
        requests.emplace_back(pictures.back().get(), QRectF(0, 0, 40 + 30 * i, 120));
    }
    // As a batch's workers do, each keeping its rows to itself.
    KTPreparedPictureCache cache;
    std::vector<std::vector<QImage>> found(8);
    std::vector<std::thread> workers;
    for (auto &mine : found)
        workers.emplace_back([&] {
            const platform::SerialRowsScope serial;
            QImage canvas(300, 300, QImage::Format_ARGB32_Premultiplied);
            platform::DrawingContext ctx(canvas);
            cache.preparePictures(requests);
            const int renders = cache.renderCount();
            for (const auto &[picture, rect] : requests)
                mine.push_back(cache.preparedPicture(*picture, rect));
            EXPECT_EQ(cache.renderCount(), renders) << "every picture was ready once preparePictures returned";
        });
    for (std::thread &worker : workers)
        worker.join();
    EXPECT_EQ(cache.renderCount(), 4);
    for (const auto &mine : found) {
        ASSERT_EQ(mine.size(), 4u);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_FALSE(mine[i].isNull());
            EXPECT_TRUE(mine[i] == found.front()[i]) << i;
        }
    }
}
