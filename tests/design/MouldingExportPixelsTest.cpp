#include "MouldingExportTestScene.h"
#include "MouldingTestSupport.h"
#include "platform/ExternalTestReaders.h"

#include "design/KTColorMatLayer.h"
#include "design/KTFrameLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTemplateRenderer.h"
#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
#include "platform/render/ParallelPaint.h"

#include <QUrl>

#include <random>

#include <gtest/gtest.h>

using namespace mouldingtest;

namespace {

// A design with the scene's photo and moulding, from a frame in a real store.
struct Scene {
    std::unique_ptr<FrameInStore> store;
    std::shared_ptr<KTTemplate> design;

    explicit Scene(int scene)
    {
        store = std::make_unique<FrameInStore>(
            QStringLiteral("Moulding"),
            QMap<QString, QImage>{{"Left Image", mouldingscene::side(0)},
                                  {"Top Image", mouldingscene::side(1)},
                                  {"Right Image", mouldingscene::side(2)},
                                  {"Bottom Image", mouldingscene::side(3)}},
            scene == 1 ? QMap<QString, bool>{{"Mirror images", true}} : QMap<QString, bool>{});
        design = std::make_shared<KTTemplate>();
        EXPECT_TRUE(design->importImage(QUrl::fromLocalFile(writePng(mouldingscene::photo()))));
        auto layer = std::dynamic_pointer_cast<KTMoldingFrameLayer>(KTFrameLayer::frameLayerFromFrame(store->frame(), {true}));
        EXPECT_TRUE(layer && layer->imagesLoaded());
        if (!layer)
            return;
        EXPECT_EQ(layer->mirrorImages(), scene == 1);
        mouldingscene::applySettings(*layer, scene);
        design->addTopmostFrameLayer(layer);
    }

    // As the document exports: a copy, in export mode, at the photo's size.
    QImage exported() const
    {
        auto copy = design->copyForRendering();
        copy->setExportMode(true);
        return copy->newCGBitmapContextOfSize(copy->sizeFromOriginalWithOuterShadow(true), nullptr);
    }
};

// Pixels of these renders as the moulding drew them one tile at a time,
// before its export was made faster.
const QList<QRgb> kProbes[2] = {
    {0xff866d59, 0xff967a66, 0xff88705b, 0xff9b7f6a, 0xff987b67, 0xff907261, 0xff8f725e, 0xff957965, 0xff8d715d,
     0xff927662, 0xff967a66, 0xff967a66, 0xff755946, 0xff836a56, 0xff8e7561, 0xff735a47, 0xff396195, 0xff3b66a1,
     0xff4a7ab8, 0xff3b502d, 0xff3d5230, 0xff3e6171, 0xff3c5d6c, 0xff416473, 0xc3301f17, 0xff8f725e, 0xff947466,
     0xff846b57},
    {0xfe6f4a2b, 0xf9654227, 0xfc6e4b2a, 0xfc634324, 0xfe674525, 0xf16a472b, 0xfd644225, 0xfd6b4929, 0xfd664525,
     0xf7664328, 0xf7664328, 0xf7664328, 0xf7744d31, 0xf76a4728, 0xf7694627, 0xf7543619, 0xff3c669d, 0xff3c68a4,
     0xff4a7bb9, 0xff3b512d, 0xff3d5230, 0xff3f6172, 0xff3d5e6e, 0xff416473, 0xf7603f24, 0xf7644524, 0xd9614327,
     0xf7654324}};

} // namespace

TEST(MouldingExportPixels, MitresSeamsColoursAndShadowsAreWhatTheyWere)
{
    for (int scene = 0; scene < 2; ++scene) {
        Scene s(scene);
        const QImage image = s.exported();
        ASSERT_EQ(image.size(), QSize(1632, 1232));
        const QList<QPoint> &points = mouldingscene::probes();
        ASSERT_EQ(points.size(), kProbes[scene].size());
        for (int i = 0; i < points.size(); ++i) {
            const QRgb got = image.pixel(points[i]);
            const QRgb want = kProbes[scene][i];
            EXPECT_LE(testsupport::channelDifference(got, want), 1) << "scene " << scene << " at " << points[i].x() << "," << points[i].y() << ": "
                                << std::hex << got << " instead of " << want;
        }
    }
}

TEST(MouldingExportPixels, BandsOnSeveralThreadsDrawWhatOnePainterDraws)
{
    for (int scene = 0; scene < 2; ++scene) {
        Scene s(scene);
        const QImage banded = s.exported();
        platform::ParallelPaint::setEnabled(false);
        const QImage single = s.exported();
        platform::ParallelPaint::setEnabled(true);
        ASSERT_FALSE(banded.isNull());
        EXPECT_TRUE(banded == single) << "scene " << scene;
    }
}

// The picture a file holds, in straight ARGB; ImageMagick reads what Qt
// cannot (the merged picture of a layered file).
QImage readBack(const QString &path)
{
    QImage image(path);
    if (image.isNull()) {
        const QString png = path + QStringLiteral(".read.png");
        EXPECT_TRUE(
            testsupport::runTool(QStringLiteral("convert"), {path + QStringLiteral("[0]"), QStringLiteral("-depth"),
                                                             QStringLiteral("8"), QStringLiteral("PNG32:") + png}));
        image.load(png);
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

TEST(MouldingExportPixels, BandByBandEveryFileIsTheWholeRendersFile)
{
    for (int scene = 0; scene < 2; ++scene) {
        Scene s(scene);
        auto copy = s.design->copyForRendering();
        copy->setExportMode(true);
        const QSizeF size = copy->sizeFromOriginalWithOuterShadow(true);
        auto image = copy->newDataProvidedCGImageOfSize(size, nullptr, nullptr);
        ASSERT_TRUE(image);
        for (const char *type : {platform::TypeTable::kJPEG, platform::TypeTable::kPNG, platform::TypeTable::kTIFF,
                                 platform::TypeTable::kPSD}) {
            // The lossless files of one scene: reading them back is slow.
            if (scene == 0 && QLatin1String(type) != QLatin1String(platform::TypeTable::kJPEG))
                continue;
            SCOPED_TRACE(std::string(type) + " scene " + std::to_string(scene));
            const QString whole = librarytest::freshFolder() + QStringLiteral("/whole");
            const QString banded = librarytest::freshFolder() + QStringLiteral("/bands");
            ASSERT_TRUE(copy->writeToURL(QUrl::fromLocalFile(whole), QString::fromLatin1(type), image));
            ASSERT_TRUE(copy->writeInBandsToURL(QUrl::fromLocalFile(banded), QString::fromLatin1(type), size, nullptr,
                                                nullptr, nullptr, 200));
            if (QLatin1String(type) == QLatin1String(platform::TypeTable::kJPEG)) {
                const QImage a(whole);
                ASSERT_EQ(a.size(), QSize(1632, 1232));
                EXPECT_TRUE(a == QImage(banded));
                continue;
            }
            const QImage a = readBack(whole);
            const QImage b = readBack(banded);
            ASSERT_EQ(a.size(), QSize(1632, 1232));
            ASSERT_EQ(b.size(), a.size());
            EXPECT_LE(testsupport::worstChannelDifference(a, b), 1);
            EXPECT_EQ(externalreaders::identifyFormat(banded, "%A"), externalreaders::identifyFormat(whole, "%A"));
        }
    }
}

TEST(MouldingExportPixels, AnOpaqueDesignPaintsEveryPixelOfEveryWholePixelSize)
{
    // A bevelled mat in a moulding without its see-through knot: every pixel
    // drawn is opaque, so a file with alpha has pixels left unpainted.
    FrameInStore store(QStringLiteral("Moulding"),
                       QMap<QString, QImage>{{"Left Image", scenes::grain(60, 240, QColor(110, 70, 35), 1, false)},
                                             {"Top Image", mouldingscene::side(1)},
                                             {"Right Image", mouldingscene::side(2)},
                                             {"Bottom Image", scenes::grain(240, 60, QColor(105, 60, 35), 4, false)}});
    auto design = std::make_shared<KTTemplate>();
    ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(writePng(mouldingscene::photo()))));
    design->addTopmostLayer(std::make_shared<KTColorMatLayer>());
    design->addTopmostFrameLayer(KTFrameLayer::frameLayerFromFrame(store.frame(), {true}));
    auto copy = design->copyForRendering();
    copy->setExportMode(true);
    // Sizes a save or a batch asks for: a side given and the other worked
    // out from it, rounded down, or both rounded from a scaled size.
    const QSizeF full = design->sizeFromOriginalWithOuterShadow(true);
    const double a = full.width() / full.height();
    QList<QSizeF> sizes;
    for (double side : {1000, 777, 641, 389})
        sizes << QSizeF(side, std::floor(side / a)) << QSizeF(std::floor(side * a), side);
    for (double scale : {0.4567, 0.2345})
        sizes << QSizeF(KTTemplateRenderer::wholePixelSize(full * scale));
    sizes << QSizeF(design->framedPixelSize());
    for (const QSizeF &size : sizes) {
        for (const char *type : {platform::TypeTable::kPNG, platform::TypeTable::kTIFF}) {
            SCOPED_TRACE(std::string(type) + " " + std::to_string(size.width()) + " x "
                         + std::to_string(size.height()));
            const QString path = librarytest::freshFolder() + QStringLiteral("/framed");
            ASSERT_TRUE(copy->writeInBandsToURL(QUrl::fromLocalFile(path), QString::fromLatin1(type), size, nullptr,
                                                nullptr, nullptr));
            const QImage picture(path);
            EXPECT_EQ(QSizeF(picture.size()), size);
            EXPECT_FALSE(picture.hasAlphaChannel());
        }
    }
}

TEST(MouldingExportPixels, AtItsOwnSizeEveryPixelOfThePhotoIsCopiedAsItIs)
{
    // As the command line, a batch and Save write a photo: mats whose
    // widths come to fractions of a pixel must not resample it. No
    // see-through knot: every pixel drawn is opaque.
    FrameInStore store(QStringLiteral("Moulding"),
                       QMap<QString, QImage>{{"Left Image", scenes::grain(60, 240, QColor(110, 70, 35), 1, false)},
                                             {"Top Image", mouldingscene::side(1)},
                                             {"Right Image", mouldingscene::side(2)},
                                             {"Bottom Image", scenes::grain(240, 60, QColor(105, 60, 35), 4, false)}});
    for (const QSize photoSize : {QSize(150, 100), QSize(161, 107), QSize(107, 161), QSize(203, 135)}) {
        QImage photo(photoSize, QImage::Format_RGB32);
        std::mt19937 noise(unsigned(photoSize.width()));
        for (int i = 0; i < photo.width() * photo.height(); ++i)
            photo.setPixel(i % photo.width(), i / photo.width(), 0xff000000 | (noise() & 0xffffff));
        for (int mats = 1; mats <= 2; ++mats) {
            auto design = std::make_shared<KTTemplate>();
            ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(writePng(photo))));
            for (int m = 0; m < mats; ++m) { // no bevel or shadow over the photo: all of it shows
                auto mat = std::make_shared<KTColorMatLayer>();
                mat->setBevelWidth(0);
                mat->setDropShadow(false);
                mat->setLeftWidth(0.0537 + 0.011 * m);
                mat->setRightWidth(0.0537 + 0.011 * m);
                mat->setTopWidth(0.0715);
                mat->setBottomWidth(0.0845);
                design->addTopmostLayer(mat);
            }
            design->addTopmostFrameLayer(KTFrameLayer::frameLayerFromFrame(store.frame(), {false}));
            auto copy = design->copyForRendering();
            copy->setExportMode(true);
            const QString path = librarytest::freshFolder() + QStringLiteral("/framed.png");
            ASSERT_TRUE(copy->writeInBandsToURL(QUrl::fromLocalFile(path),
                                                QString::fromLatin1(platform::TypeTable::kPNG),
                                                QSizeF(copy->framedPixelSize()), nullptr, nullptr, nullptr));
            const QImage framed = QImage(path).convertToFormat(QImage::Format_RGB32);
            EXPECT_FALSE(QImage(path).hasAlphaChannel()) << photoSize.width();
            // The photo, whole and unchanged, somewhere in the picture.
            bool found = false;
            for (int top = 0; !found && top + photo.height() <= framed.height(); ++top)
                for (int left = 0; !found && left + photo.width() <= framed.width(); ++left)
                    found = framed.pixel(left, top) == photo.pixel(0, 0)
                            && framed.copy(left, top, photo.width(), photo.height()) == photo;
            EXPECT_TRUE(found) << photoSize.width() << " wide, mats " << mats;
        }
    }
}
