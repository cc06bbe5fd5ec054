#include "BatchTestSupport.h"

#include "batch/KTBatchProcessingOptions.h"
#include "batch/KTImageFileFormat.h"
#include "batch/KTImageScaling.h"
#include "design/KTTemplatePackage.h"
#include "platform/archive/PropertyList.h"
#include "batch/KTFilenameFormatter.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "platform/archive/KeyedArchiver.h"

#include <QFile>
#include <QSaveFile>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace batchtest;

namespace {

KTImageScaling scalingOf(KTImageScalingType type, KTImageUnits units, double w, double h, double dpi)
{
    KTImageScaling s;
    s.setType(type);
    s.setDpi(dpi);
    s.setUnits(units);
    s.setWidth(w);
    s.setHeight(h);
    return s;
}

} // namespace

TEST(ImageScaling, UnitsConvertBothWaysWithoutLosingAPixel)
{
    KTImageScaling s = *KTImageScaling::defaultScaling();
    EXPECT_EQ(s.imageQuality(), double(0.9f));
    s.setDpi(300);
    EXPECT_EQ(s.convertToPixelsFrom(KTImageUnitsPixels, 1181.7), 1181);
    EXPECT_EQ(s.convertToPixelsFrom(KTImageUnitsInches, 2), 600);
    EXPECT_EQ(s.convertToPixelsFrom(KTImageUnitsCentimeters, 10), 1181);
    EXPECT_EQ(s.convertToPixelsFrom(KTImageUnitsMillimeters, 100), 1181);
    EXPECT_DOUBLE_EQ(s.convertFromPixelsTo(KTImageUnitsInches, 600), 2);
    EXPECT_DOUBLE_EQ(s.convertFromPixelsTo(KTImageUnitsCentimeters, 300), 2.54);
    EXPECT_DOUBLE_EQ(s.convertFromPixelsTo(KTImageUnitsMillimeters, 300), 25.4);

    // Every small size survives a trip through every unit at common resolutions.
    for (double dpi : {72.0, 96.0, 150.0, 300.0}) {
        for (KTImageUnits units : {KTImageUnitsInches, KTImageUnitsCentimeters, KTImageUnitsMillimeters}) {
            for (int px = 10; px < 400; ++px) {
                KTImageScaling t;
                t.setDpi(dpi);
                t.setWidth(px);
                t.setHeight(px + 1);
                t.setUnits(units);
                t.setUnits(KTImageUnitsPixels);
                ASSERT_EQ(t.width(), px) << dpi << " dpi, units " << units;
                ASSERT_EQ(t.height(), px + 1);
            }
        }
    }
    KTImageScaling inches;
    inches.setDpi(72);
    inches.setWidth(100);
    inches.setUnits(KTImageUnitsInches);
    EXPECT_DOUBLE_EQ(inches.width(), 1.3888888888888888);
}

TEST(ImageScaling, OutputSizesValidationAndArchive)
{
    const QSizeF photo(4000, 3000);
    EXPECT_EQ(scalingOf(KTImageScalingTypeOriginal, KTImageUnitsPixels, 1, 1, 72).scale(QSizeF(4000.4, 2999.6)), QSize(4000, 3000));
    EXPECT_EQ(scalingOf(KTImageScalingTypeCustomWidth, KTImageUnitsPixels, 1000, 5, 72).scale(photo), QSize(1000, 750));
    EXPECT_EQ(scalingOf(KTImageScalingTypeCustomHeight, KTImageUnitsPixels, 5, 1000, 72).scale(photo), QSize(1333, 1000));
    EXPECT_EQ(scalingOf(KTImageScalingTypeFixInSize, KTImageUnitsPixels, 800, 800, 72).scale(photo), QSize(800, 800));
    EXPECT_EQ(scalingOf(KTImageScalingTypeCustomWidth, KTImageUnitsCentimeters, 10, 1, 300).scale(photo), QSize(1181, 885));
    EXPECT_TRUE(scalingOf(KTImageScalingTypeCustomWidth, KTImageUnitsPixels, 100, 1, 72).scale(QSizeF()).isEmpty());

    KTImageScaling s = scalingOf(KTImageScalingTypeFixInSize, KTImageUnitsInches, 1, 1, 72);
    QVariant v(0.1);
    s.validateWidth(&v);
    EXPECT_DOUBLE_EQ(v.toDouble(), 10.0 / 72);
    v = QVariant(5.0);
    s.validateHeight(&v);
    EXPECT_DOUBLE_EQ(v.toDouble(), 5.0);
    v = QVariant(10.0);
    s.validateDpi(&v);
    EXPECT_EQ(v.toDouble(), 16);
    v = QVariant(72.7);
    s.validateDpi(&v);
    EXPECT_EQ(v.toDouble(), 72);
    s.setNilValueForKey(QStringLiteral("width"));
    EXPECT_EQ(s.width(), 16);

    KTImageScaling stored = scalingOf(KTImageScalingTypeCustomHeight, KTImageUnitsMillimeters, 50, 70, 300);
    stored.setImageQuality(0.7);
    const auto back = KTImageScaling::fromArchivedData(stored.archivedData());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->type(), KTImageScalingTypeCustomHeight);
    EXPECT_EQ(back->units(), KTImageUnitsMillimeters);
    EXPECT_EQ(back->height(), 70);
    EXPECT_EQ(back->dpi(), 300);
    EXPECT_EQ(back->imageQuality(), 0.7);

    // A damaged preset's numbers are brought into range; a missing quality is 0.
    KTImageScaling damaged;
    damaged.setType(KTImageScalingType(9));
    damaged.setWidth(-5);
    damaged.setHeight(std::nan(""));
    damaged.setDpi(0);
    damaged.setImageQuality(std::nan(""));
    const auto sane = KTImageScaling::fromArchivedData(damaged.archivedData());
    ASSERT_TRUE(sane);
    EXPECT_EQ(sane->type(), KTImageScalingTypeOriginal);
    EXPECT_EQ(sane->dpi(), 72);
    EXPECT_EQ(sane->pixelsWidth(), 10);
    EXPECT_EQ(sane->pixelsHeight(), 10);
    EXPECT_EQ(sane->imageQuality(), 0);
}

TEST(ImageFileFormat, TheFourFormatsByTheirTypes)
{
    const QList<KTImageFileFormat> all = KTImageFileFormat::allFormats();
    ASSERT_EQ(all.size(), 4);
    EXPECT_EQ(all.at(2).fileExtensions().first(), QStringLiteral("tiff"));
    EXPECT_EQ(all.at(0).fileExtensions().first(), QStringLiteral("jpg"));
    EXPECT_EQ(KTImageFileFormat::initWithImageUTI(QStringLiteral("public.jpeg")), KTImageFileFormat::JPGFileFormat());
    EXPECT_FALSE(KTImageFileFormat::initWithImageUTI(QStringLiteral("public.heic")));
    EXPECT_FALSE(KTImageFileFormat::initWithImageUTI(QStringLiteral("public.jpg")));
    EXPECT_TRUE(KTImageFileFormat::isImageUTI(QStringLiteral("com.adobe.photoshop-image")));
    EXPECT_FALSE(KTImageFileFormat::isImageUTI(QStringLiteral("public.image")));
    EXPECT_FALSE(KTImageFileFormat::JPGFileFormat() == KTImageFileFormat::PNGFileFormat());
    EXPECT_EQ(qHash(KTImageFileFormat::PSDFileFormat()), qHash(all.at(3)));
}

TEST(BatchPresets, WrittenAndReadBackDamagedOnesIgnored)
{
    const QString support = QDir(testsupport::scratchDir()).filePath(QStringLiteral("presets-support"));
    const QString path = KTBatchProcessingOptions::defaultBatchConfigurationPresetPath(support);
    ASSERT_TRUE(path.endsWith(QStringLiteral("/Batch Presets/LastUsedPreset.plist")));

    auto scaling = std::make_shared<KTImageScaling>(*KTImageScaling::defaultScaling());
    scaling->setType(KTImageScalingTypeCustomWidth);
    scaling->setWidth(1200);
    const KTBatchProcessingOptions preset(
        {QUrl::fromLocalFile(QStringLiteral("/x.jpg"))}, KTImageFileFormat::TIFFFileFormat(),
        KTBatchProcessingTemplate::initWithBuiltinTemplateNamed(QStringLiteral("Gallery"), {}), scaling, QString(),
        QStringLiteral(""));
    ASSERT_TRUE(preset.writePreset(path));
    const QVariantMap plist = platform::PropertyList::readFile(path).toMap();
    EXPECT_EQ(plist.keys(), (QStringList{QStringLiteral("format.uti"), QStringLiteral("scaling"), QStringLiteral("suffix"),
                                         QStringLiteral("template")}));
    EXPECT_TRUE(QFile(path).open(QIODevice::ReadOnly) && QFile(path).size() > 0);
    EXPECT_TRUE(plist.value(QStringLiteral("scaling")).toByteArray().contains("KTImageScaling"));

    const auto back = KTBatchProcessingOptions::readPreset(path, {});
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->files().isEmpty());
    EXPECT_EQ(back->fileFormat(), KTImageFileFormat::TIFFFileFormat());
    EXPECT_EQ(back->scaling()->pixelsWidth(), 1200);
    EXPECT_TRUE(back->filenamePrefix().isNull());
    EXPECT_TRUE(back->filenameSuffix().isEmpty() && !back->filenameSuffix().isNull());
    ASSERT_TRUE(back->batchTemplate());
    EXPECT_EQ(back->batchTemplate()->source(), KTBatchProcessingTemplate::Builtin);
    EXPECT_EQ(back->batchTemplate()->name(), QStringLiteral("Gallery"));

    // No property list, a list with another root, and damaged parts.
    EXPECT_FALSE(KTBatchProcessingOptions::initWithData("not a plist", {}));
    EXPECT_FALSE(KTBatchProcessingOptions::initWithData(
        platform::PropertyList::write(QVariantList{1, 2}, platform::PropertyList::Format::XML), {}));
    const auto partial = KTBatchProcessingOptions::initWithData(
        platform::PropertyList::write(QVariantMap{{QStringLiteral("template"), QByteArray("garbage")},
                                                  {QStringLiteral("scaling"), 5},
                                                  {QStringLiteral("format.uti"), QStringLiteral("public.gif")}},
                                      platform::PropertyList::Format::XML),
        {});
    ASSERT_TRUE(partial);
    EXPECT_FALSE(partial->batchTemplate());
    EXPECT_EQ(partial->fileFormat(), KTImageFileFormat::JPGFileFormat());
    EXPECT_EQ(partial->scaling()->pixelsWidth(), 1920);
    EXPECT_FALSE(KTBatchProcessingOptions::readPreset(path + QStringLiteral(".missing"), {}));
}

TEST(BatchTemplateReference, ExternalPackageKeptByItsPath)
{
    const QString folder = QDir(testsupport::scratchDir()).filePath(QStringLiteral("reference"));
    QDir().mkpath(folder);
    const QString package = QDir(folder).filePath(QStringLiteral("Red Mat.KTTemplate"));
    auto design = matDesign();
    ASSERT_TRUE(design->saveToURL(QUrl::fromLocalFile(package), {}, QString(), false));
    const auto reference =
        KTBatchProcessingTemplate::initWithExternalTemplate(design, QUrl::fromLocalFile(package), {});
    const QByteArray archived = reference->archivedData();

    const auto back = KTBatchProcessingTemplate::fromArchivedData(archived, {});
    ASSERT_TRUE(back && back->templateObject());
    EXPECT_EQ(back->source(), KTBatchProcessingTemplate::External);
    EXPECT_EQ(back->externalURL().toLocalFile(), package);
    EXPECT_EQ(back->name(), QStringLiteral("Mat"));
    EXPECT_EQ(back->templateObject()->name(), QStringLiteral("Red Mat.KTTemplate"));
    EXPECT_FALSE(back->encoded().isEmpty());

    // Moved away, or replaced by a plain folder: no design.
    ASSERT_TRUE(QDir().rename(package, package + QStringLiteral(".moved")));
    EXPECT_FALSE(KTBatchProcessingTemplate::fromArchivedData(archived, {})->templateObject());
    QDir().mkpath(package);
    EXPECT_FALSE(KTBatchProcessingTemplate::fromArchivedData(archived, {})->templateObject());
}

TEST(BatchTemplateReference, SavedDesignLookedUpOnceWhicheverThreadsAsk)
{
    TemplatesStore store(QDir(testsupport::scratchDir()).filePath(QStringLiteral("templates-store")));
    const KTDesignStores stores{nullptr, store.templatesManagedObjectContext()};
    auto design = matDesign();
    design->setName(QStringLiteral("Gallery"));
    Variation *variation =
        KTTemplatePackage::variationFromTemplate(design.get(), store.templatesManagedObjectContext());
    ASSERT_TRUE(variation);

    // The stores come with the reading, not with the archive.
    EXPECT_FALSE(
        KTBatchProcessingTemplate::fromArchivedData(
            KTBatchProcessingTemplate::initWithBuiltinTemplateNamed(QStringLiteral("Gallery"), stores)->archivedData(),
            {})
            ->templateObject());
    const auto reference = KTBatchProcessingTemplate::fromArchivedData(
        KTBatchProcessingTemplate::initWithBuiltinTemplateNamed(QStringLiteral("Gallery"), {})->archivedData(), stores);
    ASSERT_TRUE(reference);
    QList<QByteArray> answers(6);
    std::atomic<int> answered = 0;
    std::vector<std::thread> asks;
    for (QByteArray &answer : answers)
        asks.emplace_back([&answer, &answered, reference] {
            answer = reference->encoded();
            ++answered;
        });
    const QByteArray mine = reference->encoded();
    const bool ended = testsupport::waitUntil([&] { return answered == int(answers.size()); });
    for (std::thread &ask : asks)
        ask.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(mine, variation->data());
    for (const QByteArray &answer : answers)
        EXPECT_EQ(answer, mine);
    const auto held = reference->templateObject();
    EXPECT_TRUE(held);
    EXPECT_EQ(reference->templateObject(), held);
    EXPECT_FALSE(
        KTBatchProcessingTemplate::initWithBuiltinTemplateNamed(QStringLiteral("Gone"), stores)->templateObject());
}

TEST(BatchFields, NamePartsAndTheFieldsEachRuleShows)
{
    EXPECT_TRUE(KTFilenameFormatter::isPartialStringValid(QStringLiteral("framed ä_-.")));
    EXPECT_FALSE(KTFilenameFormatter::isPartialStringValid(QStringLiteral("a/b")));
    EXPECT_FALSE(KTFilenameFormatter::isPartialStringValid(QStringLiteral("a:b")));
    KTImageScaling s;
    EXPECT_TRUE(KTImageScaling::shouldHideWidth(nullptr));
    EXPECT_FALSE(KTImageScaling::shouldHideHeight(nullptr));
    EXPECT_TRUE(KTImageScaling::shouldHideWidth(&s) && KTImageScaling::shouldHideHeight(&s));
    EXPECT_TRUE(KTImageScaling::shouldHideDpiAndUnits(&s));
    s.setType(KTImageScalingTypeFixInSize);
    EXPECT_FALSE(KTImageScaling::shouldHideWidth(&s) || KTImageScaling::shouldHideHeight(&s) || KTImageScaling::shouldHideDpiAndUnits(&s));
    s.setType(KTImageScalingTypeCustomHeight);
    EXPECT_TRUE(KTImageScaling::shouldHideWidth(&s));
    EXPECT_EQ(KTImageScaling::titleForUnits(KTImageUnitsCentimeters), QStringLiteral("cm"));
    EXPECT_EQ(KTImageScaling::titleForType(KTImageScalingTypeFixInSize), QStringLiteral("Fix in size"));
}
