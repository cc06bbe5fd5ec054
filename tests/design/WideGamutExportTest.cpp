#include "MouldingTestSupport.h"

#include "design/KTColorMatLayer.h"
#include "design/KTFrameLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "platform/TypeTable.h"

#include <QColorSpace>
#include <QImageWriter>
#include <QUrl>

#include <gtest/gtest.h>

using namespace mouldingtest;

namespace {

const QColor kWalnut(72, 46, 29);
const QColor kRedMat(200, 30, 30);
const QColor kPhoto(90, 140, 200); // as stored, in the photo's own space

// A JPEG photo whose embedded profile says its pixels are `space` values.
QString writePhoto(const QColorSpace &space)
{
    QImage photo(300, 200, QImage::Format_RGB32);
    photo.fill(kPhoto);
    photo.setColorSpace(space);
    const QString path = librarytest::freshFolder() + QStringLiteral("/photo.jpg");
    QImageWriter writer(path, "jpeg");
    writer.setQuality(100);
    EXPECT_TRUE(writer.write(photo));
    return path;
}

} // namespace

TEST(WideGamutExport, FramesAndMatsKeepTheirColoursInThePhotosProfileAndThePhotoItsPixels)
{
    FrameInStore store(QStringLiteral("Moulding"), {{"Left Image", markedPicture(20, 80, kWalnut, kWalnut)},
                                                    {"Top Image", markedPicture(80, 20, kWalnut, kWalnut)},
                                                    {"Right Image", markedPicture(20, 80, kWalnut, kWalnut)},
                                                    {"Bottom Image", markedPicture(80, 20, kWalnut, kWalnut)}});
    for (const QColorSpace &space : {QColorSpace(QColorSpace::ProPhotoRgb), QColorSpace(QColorSpace::AdobeRgb)}) {
        SCOPED_TRACE(space.description().toStdString());
        auto design = std::make_shared<KTTemplate>();
        ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(writePhoto(space))));
        auto mat = std::make_shared<KTColorMatLayer>();
        mat->setMatColor(kRedMat);
        for (auto set : {&KTColorMatLayer::setLeftWidth, &KTColorMatLayer::setRightWidth, &KTColorMatLayer::setTopWidth,
                         &KTColorMatLayer::setBottomWidth})
            (mat.get()->*set)(0.2);
        design->addTopmostFrameLayer(mat);
        auto moulding =
            std::dynamic_pointer_cast<KTMoldingFrameLayer>(KTFrameLayer::frameLayerFromFrame(store.frame()));
        ASSERT_TRUE(moulding && moulding->imagesLoaded());
        moulding->setDropShadow(false);
        moulding->setFrameWidth(0.1);
        design->addTopmostFrameLayer(moulding);
        design->setExportQuality(1.0);

        // Where each shows on the middle row of the export.
        const QRectF photoRect(0, 0, 300, 200);
        const QRectF matRect = mat->resultingRectForRect(photoRect);
        const QRectF outer = moulding->resultingRectForRect(matRect);
        const int row = int(outer.height() / 2);
        const int inMoulding = int((matRect.left() - outer.left()) / 2);
        const int inMat = int(matRect.left() - outer.left() + (photoRect.left() - matRect.left()) / 2);
        const int inPhoto = int(outer.width() / 2);

        // Drawn a band of rows at a time (JPEG) and as one canvas (PNG).
        const QSizeF size = design->sizeFromOriginalWithOuterShadow(true);
        for (const char *type : {platform::TypeTable::kJPEG, platform::TypeTable::kPNG}) {
            SCOPED_TRACE(type);
            const QString path = librarytest::freshFolder() + QStringLiteral("/framed");
            const QUrl url = QUrl::fromLocalFile(path);
            const QString uti = QString::fromLatin1(type);
            platform::Error error;
            if (uti == QLatin1String(platform::TypeTable::kJPEG)) {
                ASSERT_TRUE(design->writeInBandsToURL(url, uti, size, nullptr, nullptr, &error, 48))
                    << error.description.toStdString();
            } else {
                const auto image = design->newDataProvidedCGImageOfSize(size, nullptr, nullptr);
                ASSERT_TRUE(image && design->writeToURL(url, uti, image, &error)) << error.description.toStdString();
            }
            QImage exported(path);
            ASSERT_EQ(exported.size(), size.toSize());
            ASSERT_EQ(exported.colorSpace(), space);
            // The photo's own values are left alone.
            EXPECT_TRUE(near(exported.pixelColor(inPhoto, row), kPhoto, 3))
                << exported.pixelColor(inPhoto, row).name().toStdString();
            // As a colour-managed viewer shows it, the frame is the frame's.
            const QImage shown = exported.convertedToColorSpace(QColorSpace(QColorSpace::SRgb));
            EXPECT_TRUE(near(shown.pixelColor(inMoulding, row), kWalnut, 4))
                << shown.pixelColor(inMoulding, row).name().toStdString();
            EXPECT_TRUE(near(shown.pixelColor(inMat, row), kRedMat, 4))
                << shown.pixelColor(inMat, row).name().toStdString();
        }
    }
}
