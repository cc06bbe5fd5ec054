#include "AppTestSupport.h"

#include "app/KTSavePanelAccessoryViewController.h"
#include "design/KTTemplate.h"
#include "platform/imaging/ImageProperties.h"
#include "platform/ui/SavePanel.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>

using namespace apptest;
using Accessory = KTSavePanelAccessoryViewController;

namespace {

// An accessory on a design without frames, told a photo size of `size`
// (the design frames it at that size).
struct AccessoryRig {
    std::shared_ptr<KTTemplate> design = std::make_shared<KTTemplate>();
    Accessory accessory;

    explicit AccessoryRig(QSizeF size, double dpi = 72)
    {
        // A small photo of the same proportions.
        const QSize photo = QSize(int(size.width() / 50), int(size.height() / 50));
        EXPECT_TRUE(design->importImage(QUrl::fromLocalFile(writePhoto(freshDir(), "photo.jpg", photo))));
        accessory.setTheTemplate(design);
        accessory.setDpi(dpi);
        accessory.setPreFramedImageSize(size);
    }
};

} // namespace

TEST(SavePanelAccessoryUnits, PhysicalUnitsRoundTripToTheSamePixels)
{
    AccessoryRig rig(QSizeF(3000, 2000), 300);
    Accessory &a = rig.accessory;
    EXPECT_EQ(a.sizeBasedOnOriginal(), QSizeF(3000, 2000));
    EXPECT_DOUBLE_EQ(a.aspectRatio(), 1.5);
    EXPECT_EQ(a.exportImageSize(), QSize(3000, 2000));

    a.setUnitsPopUpIndex(Accessory::Centimetres);
    EXPECT_NEAR(a.width(), 25.4, 1e-9);
    EXPECT_NEAR(a.height(), 16.9333333, 1e-6);
    EXPECT_EQ(a.exportImageSize(), QSize(3000, 2000)) << "no pixel lost to flooring";
    a.setUnitsPopUpIndex(Accessory::Millimetres);
    EXPECT_NEAR(a.width(), 254.0, 1e-9);
    EXPECT_EQ(a.exportImageSize(), QSize(3000, 2000));
    a.setUnitsPopUpIndex(Accessory::Inches);
    EXPECT_NEAR(a.width(), 10.0, 1e-12);
    EXPECT_EQ(a.exportImageSize(), QSize(3000, 2000));
    a.setUnitsPopUpIndex(Accessory::Pixels);
    EXPECT_EQ(a.width(), 3000);
    EXPECT_EQ(a.height(), 2000);

    // Genuine fractions still round down; noise does not.
    EXPECT_EQ(Accessory::convertToPixelsFrom(666.9, Accessory::Pixels, 72), 666);
    EXPECT_EQ(Accessory::convertToPixelsFrom(2.999, Accessory::Inches, 100), 299);
    EXPECT_EQ(Accessory::floorToPixel(2999.9999999996), 3000);
    EXPECT_EQ(Accessory::floorToPixel(2999.9999), 2999);
}

TEST(SavePanelAccessoryUnits, ResolutionChangesKeepThePhysicalSizeAndZeroFallsBackTo72)
{
    AccessoryRig rig(QSizeF(3000, 2000), 300);
    Accessory &a = rig.accessory;
    a.setUnitsPopUpIndex(Accessory::Centimetres);
    a.setDpi(150);
    EXPECT_NEAR(a.width(), 25.4, 1e-9);
    EXPECT_EQ(a.exportImageSize(), QSize(1500, 1000));
    EXPECT_EQ(rig.design->exportMetadataForKey(platform::ImageProperty::kDPIWidth).toDouble(), 150);
    EXPECT_EQ(rig.design->exportMetadataForKey(platform::ImageProperty::kDPIHeight).toDouble(), 150);

    // In pixels the pixel size stays whatever the resolution.
    a.setUnitsPopUpIndex(Accessory::Pixels);
    a.setDpi(600);
    EXPECT_EQ(a.exportImageSize(), QSize(1500, 1000));

    // A photo without resolution: no division by zero, 72 instead.
    a.setUnitsPopUpIndex(Accessory::Inches);
    a.setDpi(0);
    EXPECT_EQ(a.dpi(), 72);
    EXPECT_TRUE(std::isfinite(a.width()));
    EXPECT_EQ(rig.design->exportMetadataForKey(platform::ImageProperty::kDPIWidth).toDouble(), 72);
}

TEST(SavePanelAccessoryUnits, SizeRulesKeepProportionsOrNotAndOriginalRestores)
{
    AccessoryRig rig(QSizeF(3000, 2000));
    Accessory &a = rig.accessory;
    a.setImageSizePopUpIndex(Accessory::CustomProportional);
    EXPECT_TRUE(a.enableWidthHeight());
    a.setWidth(1000);
    EXPECT_EQ(a.height(), 666);
    EXPECT_EQ(a.exportImageSize(), QSize(1000, 666));
    a.setHeight(100);
    EXPECT_EQ(a.exportImageSize(), QSize(150, 100));

    a.setImageSizePopUpIndex(Accessory::Custom);
    a.setWidth(500);
    EXPECT_EQ(a.exportImageSize(), QSize(500, 100)) << "the free rule leaves the other side";
    // A change of unit keeps both free sides in pixels.
    a.setUnitsPopUpIndex(Accessory::Inches);
    EXPECT_EQ(a.exportImageSize(), QSize(500, 100));
    a.setUnitsPopUpIndex(Accessory::Pixels);

    a.setImageSizePopUpIndex(Accessory::OriginalSize);
    EXPECT_FALSE(a.enableWidthHeight());
    EXPECT_EQ(a.exportImageSize(), QSize(3000, 2000));

    // Emptied and non-positive entries are repaired.
    EXPECT_EQ(Accessory::validatedSize(0), 1);
    EXPECT_EQ(Accessory::validatedSize(-5), 1);
    EXPECT_EQ(Accessory::validatedSize(0.5), 1);
    EXPECT_EQ(Accessory::validatedSize(12.5), 12.5);
    a.setImageSizePopUpIndex(Accessory::Custom);
    a.setNilValueForKey("width");
    a.setNilValueForKey("height");
    a.setNilValueForKey("dpi");
    EXPECT_EQ(a.exportImageSize(), QSize(16, 16));
    EXPECT_EQ(a.dpi(), 72);
}

TEST(SavePanelAccessoryUnits, FormatsAndTheirExtensions)
{
    Accessory a;
    EXPECT_EQ(a.fileFormatIndex(), 1);
    EXPECT_EQ(a.quality(), 0.9);
    EXPECT_EQ(a.dpi(), 72);
    const QList<std::pair<int, QStringList>> table = {{0, {"jpg", "jpeg"}}, {1, {"png"}}, {2, {"tiff", "tif"}},
                                                      {3, {"psd"}},         {7, {"jpg", "jpeg"}}};
    const QStringList types = {"public.jpeg", "public.png", "public.tiff", "com.adobe.photoshop-image",
                               "public.jpeg"};
    for (qsizetype i = 0; i < table.size(); ++i) {
        a.setFileFormatIndex(table[i].first);
        EXPECT_EQ(a.formatExtensions(), table[i].second);
        EXPECT_EQ(a.formatUTI(), types[i]);
        EXPECT_EQ(a.showQuality(), table[i].first == 0);
    }
}

TEST(SavePanelAccessoryEstimate, LargeOutputsAreSkippedAndSmallOnesMeasured)
{
    AccessoryRig rig(QSizeF(10000, 7000));
    Accessory &a = rig.accessory;
    EXPECT_EQ(a.exportImageSize(), QSize(10000, 7000));
    EXPECT_EQ(a.fileSize(), "Skipped.");
    EXPECT_FALSE(a.isProgressSpinnerShown());
    EXPECT_FALSE(a.isDataOperationInProgress());

    // 8 x 8192 x 8192 is exactly the limit: still estimated.
    a.setImageSizePopUpIndex(Accessory::Custom);
    a.setWidth(8192);
    a.setHeight(8192);
    EXPECT_EQ(a.fileSize(), "Calculating...");
    EXPECT_TRUE(a.isProgressSpinnerShown());
    a.cancelDataOperation();

    a.setFileFormatIndex(1);
    a.setWidth(300);
    // The spinner hears only steps of more than two points.
    int spinnerUpdates = 0;
    QList<double> values;
    QObject::connect(&a, &Accessory::progressSpinnerChanged, [&] {
        ++spinnerUpdates;
        values << a.progressSpinnerValue();
    });
    a.setHeight(200);
    EXPECT_EQ(a.fileSize(), "Calculating...");
    EXPECT_TRUE(testsupport::waitUntil([&] { return a.fileSize() != "Calculating..."; }));
    EXPECT_LE(spinnerUpdates, 100 / 2 + 3);
    for (qsizetype i = 2; i + 1 < values.size(); ++i)
        EXPECT_GT(values[i] - values[i - 1], 2.0);
    EXPECT_TRUE(a.fileSize().endsWith(" KB") || a.fileSize().endsWith(" bytes")) << a.fileSize().toStdString();
    EXPECT_FALSE(a.isProgressSpinnerShown());
    EXPECT_FALSE(a.isDataOperationInProgress());

    // JPEG at a lower quality gives a smaller file than PNG of the same size.
    a.setFileFormatIndex(0);
    a.setQuality(0.3);
    EXPECT_TRUE(testsupport::waitUntil([&] { return a.fileSize() != "Calculating..."; }));
    EXPECT_NE(a.fileSize(), "-");

    // A size too small to encode says so rather than calculating forever.
    a.setWidth(4);
    EXPECT_EQ(a.fileSize(), "-");
    EXPECT_FALSE(a.isProgressSpinnerShown());
}

TEST(SavePanelAccessoryEstimate, AnAccessoryGoesAwayInTheMiddleOfAnEstimate)
{
    auto rig = std::make_unique<AccessoryRig>(QSizeF(4000, 3000));
    EXPECT_EQ(rig->accessory.fileSize(), "Calculating...");
    rig.reset(); // cancels and waits; nothing may reach the dead object
    QCoreApplication::processEvents();
    SUCCEED();
}

TEST(SavePanelAccessoryView, ControlsFollowTheFieldsAndTheUsersEdits)
{
    AccessoryRig rig(QSizeF(600, 400), 300);
    Accessory &a = rig.accessory;
    platform::SavePanel panel;
    a.setSavePanel(&panel);
    QWidget *view = a.view();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->objectName(), "KTSavePanelAccessoryView");
    view->show();

    a.setFileFormatIndex(0);
    EXPECT_TRUE(a.qualitySlider()->isVisible());
    EXPECT_EQ(panel.allowedFileTypes(), (QStringList{"jpg", "jpeg"}));
    a.formatPopUp()->setCurrentIndex(1);
    emit a.formatPopUp()->activated(1);
    EXPECT_EQ(a.fileFormatIndex(), 1);
    EXPECT_FALSE(a.qualitySlider()->isVisible()) << "PNG has no quality";
    EXPECT_EQ(panel.allowedFileTypes(), QStringList{"png"});

    EXPECT_EQ(a.widthField()->text(), "600");
    EXPECT_FALSE(a.widthField()->isEnabled());
    EXPECT_EQ(a.sizeInPixelsTextField()->text(), "600 × 400 pixels");
    a.unitsPopUp()->setCurrentIndex(2);
    emit a.unitsPopUp()->activated(2);
    EXPECT_EQ(a.widthField()->text(), "5.08");
    EXPECT_EQ(a.heightField()->text(), "3.387");

    emit a.sizeRulePopUp()->activated(2);
    EXPECT_TRUE(a.widthField()->isEnabled());
    a.widthField()->setText("2.54");
    emit a.widthField()->editingFinished();
    EXPECT_EQ(a.exportImageSize(), QSize(300, 400));
    a.widthField()->setText("");
    emit a.widthField()->editingFinished();
    EXPECT_EQ(a.width(), 16);
    EXPECT_EQ(a.widthField()->text(), "16");
    a.dpiField()->setText("");
    emit a.dpiField()->editingFinished();
    EXPECT_EQ(a.dpi(), 72);
    EXPECT_EQ(a.dpiField()->text(), "72");
    a.heightField()->setText("zero");
    emit a.heightField()->editingFinished();
    EXPECT_EQ(a.heightField()->text(), "3.387") << "not a number: the last value comes back";
    a.heightField()->setText("0");
    emit a.heightField()->editingFinished();
    EXPECT_EQ(a.height(), 1);

    emit a.formatPopUp()->activated(0);
    a.qualitySlider()->setValue(55);
    EXPECT_DOUBLE_EQ(a.quality(), 0.55);
    a.cancelDataOperation();
}
