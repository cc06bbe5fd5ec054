// The framed size in whole pixels is one number wherever it shows: the
// bottom bar, the Save panel, and (tests/batch) the files written.
#include "AppTestSupport.h"

#include "app/KTBottomBarViewController.h"
#include "app/KTSavePanelAccessoryViewController.h"
#include "app/KTViewState.h"
#include "design/KTColorMatLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTemplateRenderer.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(FramedSize, TheBottomBarAndTheSavePanelShowTheSizeTheDesignRoundsTo)
{
    EXPECT_EQ(KTTemplateRenderer::wholePixelSize(QSizeF(978.5, 778.49)), QSize(979, 778)) << "halves away from zero";
    EXPECT_EQ(KTTemplateRenderer::wholePixelSize(QSizeF(0.2, 10)), QSize(1, 10));
    EXPECT_TRUE(KTTemplateRenderer::wholePixelSize(QSizeF(0, 10)).isEmpty());

    int fractional = 0;
    for (const double matWidth : {0.0, 0.0731, 0.1377}) {
        for (const QSize photo : {QSize(97, 61), QSize(400, 300), QSize(641, 427), QSize(1000, 667), QSize(333, 999),
                                  QSize(1201, 803)}) {
            auto design = std::make_shared<KTTemplate>();
            ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(apptest::writePhoto(apptest::freshDir(), "p.png", photo))));
            if (matWidth > 0) {
                auto mat = std::make_shared<KTColorMatLayer>();
                for (auto set : {&KTColorMatLayer::setLeftWidth, &KTColorMatLayer::setRightWidth,
                                 &KTColorMatLayer::setTopWidth, &KTColorMatLayer::setBottomWidth})
                    (mat.get()->*set)(matWidth);
                mat->setDropShadow(true);
                design->addTopmostFrameLayer(mat);
                design->setExportExternalShadow(true);
            }
            const QSizeF exact = design->sizeFromOriginalWithOuterShadow(true);
            const QSize whole = design->framedPixelSize();
            fractional += exact.width() != std::floor(exact.width()) || exact.height() != std::floor(exact.height());
            const std::string at = QStringLiteral("%1x%2 mat %3").arg(photo.width()).arg(photo.height()).arg(matWidth).toStdString();

            KTBottomBarViewController bar(KTBottomBarViewController::kNibName, nullptr);
            bar.setViewState(std::make_shared<KTViewState>());
            bar.view();
            bar.setTemplate(design);
            bar.modelChanged();
            EXPECT_EQ(bar.imageSizeText(), QStringLiteral("%1:%2").arg(whole.width()).arg(whole.height())) << at;

            KTSavePanelAccessoryViewController accessory;
            accessory.setTheTemplate(design);
            accessory.setPreFramedImageSize(design->sizeOfPreFramedImage());
            EXPECT_EQ(accessory.exportImageSize(), whole) << at;
            accessory.setUnitsPopUpIndex(KTSavePanelAccessoryViewController::Centimetres);
            accessory.setUnitsPopUpIndex(KTSavePanelAccessoryViewController::Pixels);
            EXPECT_EQ(accessory.exportImageSize(), whole) << at << " after a change of unit";
        }
    }
    EXPECT_GT(fractional, 6) << "the designs give sizes between whole pixels";
}
