#include "DesignTestArchives.h"
#include "design/DesignArchiveClasses.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTLayer.h"
#include "design/KTTemplate.h"
#include "design/VLImageMetadataManager.h"
#include "platform/FileWrapper.h"
#include "platform/NotificationCenter.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/PlistReader.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <cmath>
#include <limits>

namespace {

// Writes whatever keys a test gives it under the archived class names it is
// told, to build archives the real classes would never write.
class ScriptedObject : public platform::Coding
{
public:
    ScriptedObject(QStringList names, std::function<void(platform::KeyedArchiver &)> write)
        : m_names(std::move(names)), m_write(std::move(write))
    {
    }
    QStringList archiveClassNames() const override { return m_names; }
    void encode(platform::KeyedArchiver &coder) const override { m_write(coder); }
    void decode(platform::KeyedUnarchiver &) override {}

private:
    QStringList m_names;
    std::function<void(platform::KeyedArchiver &)> m_write;
};

using Writer = std::function<void(platform::KeyedArchiver &)>;

std::shared_ptr<ScriptedObject> scripted(const QString &cls, Writer write)
{
    const QStringList chain = cls == QLatin1String("KTTemplate")
                                  ? QStringList{cls, QStringLiteral("NSObject")}
                              : cls == QLatin1String("KTImageLayer")
                                  ? QStringList{cls, QStringLiteral("KTLayer"), QStringLiteral("NSObject")}
                                  : QStringList{cls, QStringLiteral("KTLayer"), QStringLiteral("NSObject")};
    return std::make_shared<ScriptedObject>(chain, std::move(write));
}

QVariant asObject(const std::shared_ptr<ScriptedObject> &o)
{
    return QVariant::fromValue(std::static_pointer_cast<platform::Coding>(o));
}

QByteArray templateArchive(Writer write)
{
    return platform::KeyedArchiver::archivedDataWithRootObject(
        std::static_pointer_cast<const platform::Coding>(scripted(QStringLiteral("KTTemplate"), std::move(write))),
        QString::fromLatin1(KTTemplate::kTemplateArchiveKey));
}

std::shared_ptr<ScriptedObject> photoLayerWithCrops(float l, float t, float r, float b)
{
    return scripted(QStringLiteral("KTImageLayer"), [=](platform::KeyedArchiver &c) {
        c.encodeString(QStringLiteral("imageLayer"), QStringLiteral("layerName"));
        c.encodeBool(false, QStringLiteral("hidden"));
        c.encodeFloat(l, QStringLiteral("cropLeft"));
        c.encodeFloat(t, QStringLiteral("cropTop"));
        c.encodeFloat(r, QStringLiteral("cropRight"));
        c.encodeFloat(b, QStringLiteral("cropBottom"));
    });
}

std::shared_ptr<KTTemplate> designWithPhotoLayer()
{
    auto design = std::make_shared<KTTemplate>();
    auto photo = std::make_shared<KTImageLayer>();
    photo->setLayerName(QStringLiteral("imageLayer"));
    design->insertLayer(photo, 0);
    return design;
}

} // namespace

TEST(TemplateArchiveLayerBase, HiddenIsTheEffectiveValueAndDecodingResetsTransientState)
{
    registerDesignArchiveClasses();
    auto layer = std::make_shared<KTLayer>();
    layer->setLayerName(QStringLiteral("Plain"));
    layer->setSupportsHiding(false);
    layer->setHidden(true);
    layer->setControlNibName(QStringLiteral("SomeControl"));
    layer->setIsSelected(true);
    QByteArray data = platform::KeyedArchiver::archivedDataWithRootObject(std::static_pointer_cast<const platform::Coding>(layer));
    auto back = platform::KeyedUnarchiver::unarchiveTopLevelObjectWithData(data);
    ASSERT_TRUE(back.ok()) << back.error().description.toStdString();
    auto decoded = std::dynamic_pointer_cast<KTLayer>(back.value().value<std::shared_ptr<platform::Coding>>());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->layerName(), QStringLiteral("Plain"));
    EXPECT_FALSE(decoded->hidden());
    EXPECT_TRUE(decoded->supportsHiding());
    EXPECT_FALSE(decoded->isSelected());
    EXPECT_TRUE(decoded->controlNibName().isEmpty());

    // "hidden" YES in the archive: hidden after decoding, hiding allowed.
    layer->setSupportsHiding(true);
    layer->setHidden(true);
    data = platform::KeyedArchiver::archivedDataWithRootObject(std::static_pointer_cast<const platform::Coding>(layer));
    back = platform::KeyedUnarchiver::unarchiveTopLevelObjectWithData(data);
    decoded = std::dynamic_pointer_cast<KTLayer>(back.valueOr({}).value<std::shared_ptr<platform::Coding>>());
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->hidden());
    EXPECT_EQ(decoded->archiveClassNames(), (QStringList{"KTLayer", "NSObject"}));
}

TEST(TemplateArchiveDesign, SettingsAndLayersRoundTrip)
{
    auto design = designWithPhotoLayer();
    design->setName(QStringLiteral("Gallery"));
    design->setDrawShadows(false);
    design->setExportExternalShadow(true);
    design->setShadowAngle(33.3);
    design->setShadowOffset(0.2);
    auto outer = std::make_shared<KTLayer>();
    outer->setLayerName(QStringLiteral("Outer"));
    outer->setHidden(true);
    design->insertLayer(outer, 0);
    design->imageLayer()->setCropLeft(0.3);
    design->imageLayer()->setCropBottom(0.1);
    design->setRealWidth(42);
    design->setVariationGUID(QStringLiteral("NOT-ARCHIVED"));

    const QByteArray data = design->dataForArchiving();
    // The standard layout with the design under "template", its layers a mutable array.
    platform::PlistValue tree;
    platform::Error readError;
    ASSERT_TRUE(platform::PlistReader::read(data, &tree, &readError));
    EXPECT_EQ(tree.value(QStringLiteral("$archiver")).stringValue(), QStringLiteral("NSKeyedArchiver"));
    EXPECT_NE(tree.value(QStringLiteral("$top")).find(QStringLiteral("template")), nullptr);

    auto back = KTTemplate::templateFromData(data, nullptr);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name(), QStringLiteral("Gallery"));
    EXPECT_FALSE(back->drawShadows());
    EXPECT_TRUE(back->exportExternalShadow());
    EXPECT_EQ(back->shadowAngle(), double(33.3f));
    EXPECT_EQ(back->shadowOffset(), double(0.2f));
    EXPECT_NE(back->shadowOffset(), 0.2);
    EXPECT_TRUE(back->variationGUID().isEmpty());
    EXPECT_EQ(back->realWidth(), 10.0);
    EXPECT_TRUE(back->metadataManager());
    ASSERT_EQ(back->layers().size(), 2);
    EXPECT_EQ(back->layers()[0]->className(), QStringLiteral("KTLayer"));
    EXPECT_EQ(back->layers()[0]->layerName(), QStringLiteral("Outer"));
    EXPECT_TRUE(back->layers()[0]->hidden());
    ASSERT_TRUE(back->imageLayer());
    EXPECT_EQ(back->imageLayer()->cropLeft(), double(0.3f));
    EXPECT_EQ(back->imageLayer()->cropBottom(), double(0.1f));
    EXPECT_FALSE(back->imageLayer()->image());
    for (const auto &layer : back->layers())
        EXPECT_EQ(layer->inTemplate(), back.get());

    // The design hears its decoded layers.
    int heard = 0;
    auto &nc = platform::NotificationCenter::defaultCenter();
    auto id = nc.addObserver(QString::fromLatin1(KTTemplate::kLayerChangedNotification), back.get(),
                             [&heard](const platform::Notification &) { ++heard; });
    back->imageLayer()->setCropTop(0.2);
    nc.removeObserver(id);
    EXPECT_GE(heard, 1);

    // Archiving again gives the same bytes: nothing transient leaks in.
    EXPECT_EQ(designtest::archivedContents(KTTemplate::templateFromData(data, nullptr)->dataForArchiving()),
              designtest::archivedContents(data));
}

TEST(TemplateArchiveDesign, MissingKeysTakeTheirDefaults)
{
    const QByteArray data = templateArchive([](platform::KeyedArchiver &c) {
        c.encodeBool(true, QStringLiteral("drawShadows"));
        c.encodeFloat(180, QStringLiteral("shadowAngle"));
        c.encodeFloat(0.5f, QStringLiteral("shadowOffset"));
        c.encodeArray({asObject(photoLayerWithCrops(0.1f, 0, 0, 0))}, QStringLiteral("layers"), true);
    });
    auto design = KTTemplate::templateFromData(data, nullptr);
    ASSERT_TRUE(design);
    EXPECT_FALSE(design->exportExternalShadow());
    EXPECT_EQ(design->name(), QString::fromLatin1(KTTemplate::kDefaultName));
    EXPECT_EQ(design->shadowOffset(), 0.5);
    ASSERT_TRUE(design->imageLayer());
    EXPECT_EQ(design->imageLayer()->cropLeft(), double(0.1f));
}

TEST(TemplateArchiveDamaged, AnswersNoDesignAndNeverThrows)
{
    EXPECT_FALSE(KTTemplate::templateFromData(QByteArray(), nullptr));
    EXPECT_FALSE(KTTemplate::templateFromData(QByteArray("not an archive at all"), nullptr));

    const QByteArray good = designWithPhotoLayer()->dataForArchiving();
    for (int cut : {1, 8, int(good.size() / 2), int(good.size() - 1)})
        EXPECT_FALSE(KTTemplate::templateFromData(good.left(cut), nullptr)) << cut;
    // Flipped bytes anywhere: a design or none, never a crash.
    for (int i = 0; i < good.size(); i += 3) {
        QByteArray bad = good;
        bad[i] = char(bad[i] ^ 0x5a);
        (void)KTTemplate::templateFromData(bad, nullptr);
    }

    // A root that is no design.
    EXPECT_FALSE(KTTemplate::templateFromData(
        platform::KeyedArchiver::archivedDataWithRootObject(QVariant(QStringLiteral("template")),
                                                            QString::fromLatin1(KTTemplate::kTemplateArchiveKey)),
        nullptr));
    platform::Error why;
    EXPECT_FALSE(KTTemplate::templateFromData(good, nullptr, nullptr) == nullptr);
    EXPECT_FALSE(
        KTTemplate::templateFromData(platform::KeyedArchiver::archivedDataWithRootObject(QVariant(1)), nullptr, &why));
    EXPECT_FALSE(why.description.isEmpty());

    // Layers that are not layers, or not an array.
    EXPECT_FALSE(KTTemplate::templateFromData(templateArchive([](platform::KeyedArchiver &c) {
                                                  c.encodeArray({QVariant(QStringLiteral("layer?"))},
                                                                QStringLiteral("layers"), true);
                                              }),
                                              nullptr));
    EXPECT_FALSE(KTTemplate::templateFromData(templateArchive([](platform::KeyedArchiver &c) {
                                                  c.encodeString(QStringLiteral("layers"), QStringLiteral("layers"));
                                              }),
                                              nullptr));
    // A class this program does not know at all.
    EXPECT_FALSE(KTTemplate::templateFromData(
        templateArchive([](platform::KeyedArchiver &c) {
            c.encodeArray({asObject(std::make_shared<ScriptedObject>(QStringList{"Mystery", "NSObject"},
                                                                     [](platform::KeyedArchiver &) {}))},
                          QStringLiteral("layers"), true);
        }),
        nullptr));
}

TEST(TemplateArchiveDamaged, PhotoLayerMustBeTheOnlyOneAndInnermost)
{
    const auto plain = [] {
        return scripted(QStringLiteral("KTLayer"), [](platform::KeyedArchiver &c) {
            c.encodeString(QStringLiteral("x"), QStringLiteral("layerName"));
        });
    };
    // Photo outermost.
    EXPECT_FALSE(KTTemplate::templateFromData(templateArchive([&](platform::KeyedArchiver &c) {
                                                  c.encodeArray(
                                                      {asObject(photoLayerWithCrops(0, 0, 0, 0)), asObject(plain())},
                                                      QStringLiteral("layers"), true);
                                              }),
                                              nullptr));
    // Two photos.
    EXPECT_FALSE(KTTemplate::templateFromData(templateArchive([&](platform::KeyedArchiver &c) {
                                                  c.encodeArray({asObject(photoLayerWithCrops(0, 0, 0, 0)),
                                                                 asObject(photoLayerWithCrops(0, 0, 0, 0))},
                                                                QStringLiteral("layers"), true);
                                              }),
                                              nullptr));
    // No photo among layers.
    EXPECT_FALSE(KTTemplate::templateFromData(templateArchive([&](platform::KeyedArchiver &c) {
                                                  c.encodeArray({asObject(plain())}, QStringLiteral("layers"), true);
                                              }),
                                              nullptr));
    // No layers at all is an empty design, not damage.
    EXPECT_TRUE(KTTemplate::templateFromData(templateArchive([](platform::KeyedArchiver &) {}), nullptr));
}

TEST(TemplateArchiveDamaged, TooManyLayersOrAFarShadowAreRefusedBeforeTheLayersAreMade)
{
    // Hidden mats of no frame in the library, each of which says so as it is made.
    const auto mats = [](qsizetype count, float length, float offset) {
        return templateArchive([=](platform::KeyedArchiver &c) {
            QVariantList layers;
            for (qsizetype i = 0; i < count; ++i)
                layers.append(asObject(scripted(QStringLiteral("KTColorMatLayer"), [=](auto &m) {
                    m.encodeBool(true, QStringLiteral("hidden"));
                    m.encodeFloat(length, QStringLiteral("shadowLength"));
                    m.encodeFloat(0.03f, QStringLiteral("shadowOffsetScaleFactor"));
                })));
            layers.append(asObject(photoLayerWithCrops(0, 0, 0, 0)));
            c.encodeArray(layers, QStringLiteral("layers"), true);
            c.encodeFloat(offset, QStringLiteral("shadowOffset"));
        });
    };
    QStringList warnings;
    KTFrameLayer::setWarningPoster([&](const QString &m) { warnings << m; });
    platform::Error why;
    // From a file (a plain archive here); the user's own reads back whatever it holds.
    const auto fromFile = [&](const QByteArray &archive) {
        return KTTemplate::templateFromFileWrapper(platform::FileWrapper::regularFile(archive), nullptr, nullptr, &why);
    };
    EXPECT_FALSE(fromFile(mats(KTTemplate::kMaxLayers, 1, 0.2f)));
    EXPECT_TRUE(why.description.startsWith("The design holds 1001 layers")) << why.description.toStdString();
    EXPECT_TRUE(warnings.isEmpty()) << "refused before a layer was made";
    EXPECT_TRUE(fromFile(mats(KTTemplate::kMaxLayers - 1, 1, 0.2f)));
    EXPECT_EQ(warnings.size(), KTTemplate::kMaxLayers - 1);
    EXPECT_TRUE(KTTemplate::templateFromData(mats(KTTemplate::kMaxLayers, 1, 0.2f), nullptr));

    // The joystick's full reach with the longest shadow is drawn; a shadow
    // thrown farther than its layer is wide is not.
    EXPECT_TRUE(KTTemplate::templateFromData(mats(1, 1, 1), nullptr));
    EXPECT_FALSE(KTTemplate::templateFromData(mats(1, 1, 1e4f), nullptr, &why));
    EXPECT_TRUE(why.description.endsWith("the shadow of a layer falls 300 times the length of the layer's shorter "
                                         "side away from it; a design's shadow may fall no farther than that length."))
        << why.description.toStdString();
    KTFrameLayer::setWarningPoster(nullptr);
}

TEST(TemplateArchiveDamaged, CropsOutsideTheirRangeAreBroughtBack)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    auto design = KTTemplate::templateFromData(
        templateArchive([&](platform::KeyedArchiver &c) {
            c.encodeArray({asObject(photoLayerWithCrops(nan, 3.0f, -1.0f, 0.9f))}, QStringLiteral("layers"), true);
            c.encodeFloat(std::numeric_limits<float>::infinity(), QStringLiteral("shadowAngle"));
        }),
        nullptr);
    ASSERT_TRUE(design);
    auto photo = design->imageLayer();
    EXPECT_EQ(photo->cropLeft(), 0.0);
    EXPECT_EQ(photo->cropRight(), 0.0);
    EXPECT_DOUBLE_EQ(photo->cropTop(), KTImageLayer::kMaxCrop);
    EXPECT_NEAR(photo->cropBottom(), 0.0, 1e-9);
    EXPECT_TRUE(std::isfinite(design->shadowAngle()));

    // A sound pair whose float sum overshoots by rounding stays as stored.
    design = KTTemplate::templateFromData(templateArchive([&](platform::KeyedArchiver &c) {
                                              c.encodeArray({asObject(photoLayerWithCrops(0.1f, 0, 0.85f, 0))},
                                                            QStringLiteral("layers"), true);
                                          }),
                                          nullptr);
    ASSERT_TRUE(design);
    EXPECT_EQ(design->imageLayer()->cropRight(), double(0.85f));
}

TEST(TemplateArchiveLegacy, WatermarkClassNamesDecodeAsTheOverlays)
{
    const auto legacy = [](const char *name) {
        return scripted(QString::fromLatin1(name), [](platform::KeyedArchiver &c) {
            c.encodeString(QStringLiteral("old"), QStringLiteral("layerName"));
        });
    };
    auto design = KTTemplate::templateFromData(templateArchive([&](platform::KeyedArchiver &c) {
                                                   c.encodeArray({asObject(legacy("KTTextWatermarkLayer")),
                                                                  asObject(legacy("KTImageWatermarkLayer")),
                                                                  asObject(photoLayerWithCrops(0, 0, 0, 0))},
                                                                 QStringLiteral("layers"), true);
                                               }),
                                               nullptr);
    ASSERT_TRUE(design);
    ASSERT_EQ(design->layers().size(), 3);
    EXPECT_EQ(design->layers()[0]->className(), QStringLiteral("KTTextOverlayLayer"));
    EXPECT_EQ(design->layers()[1]->className(), QStringLiteral("KTImageOverlayLayer"));
    EXPECT_EQ(design->layers()[0]->layerName(), QStringLiteral("old"));
}
