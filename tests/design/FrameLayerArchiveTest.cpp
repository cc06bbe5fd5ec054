#include "DesignTestArchives.h"
#include "FrameLayerTestSupport.h"

#include "stores/LibraryStore.h"
#include "design/DesignArchiveClasses.h"
#include "design/KTColorMatLayer.h"
#include "design/KTFullFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/VLImage.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/PlistReader.h"
#include "platform/imaging/ColorFilter.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <limits>

using namespace frametest;

namespace {

// The keys of the archived object that holds `marker`, in their order.
QStringList keysOfObjectWith(const QByteArray &archive, const QString &marker)
{
    platform::PlistValue tree;
    platform::Error error;
    if (!platform::PlistReader::read(archive, &tree, &error))
        return {};
    const platform::PlistValue objects = tree.value(QStringLiteral("$objects"));
    for (const platform::PlistValue &object : objects.items()) {
        if (!object.contains(marker))
            continue;
        QStringList keys;
        for (const auto &entry : object.entries())
            if (entry.first != QLatin1String("$class"))
                keys << entry.first;
        return keys;
    }
    return {};
}

// Writes the keys a test gives under a frame layer class, to make archives
// the real classes would never write.
class ScriptedLayer : public platform::Coding
{
public:
    ScriptedLayer(QString cls, std::function<void(platform::KeyedArchiver &)> write)
        : m_cls(std::move(cls)), m_write(std::move(write))
    {
    }
    QStringList archiveClassNames() const override
    {
        return {m_cls, QStringLiteral("KTFrameLayer"), QStringLiteral("KTLayer"), QStringLiteral("NSObject")};
    }
    void encode(platform::KeyedArchiver &coder) const override { m_write(coder); }
    void decode(platform::KeyedUnarchiver &) override {}

private:
    QString m_cls;
    std::function<void(platform::KeyedArchiver &)> m_write;
};

template<class T>
std::shared_ptr<T> decodeLayer(const QByteArray &data)
{
    registerDesignArchiveClasses();
    platform::KeyedUnarchiver unarchiver(data);
    unarchiver.setDecodingContext(libraryContext());
    const QVariant root = unarchiver.decodeObjectForKey(QStringLiteral("root"));
    EXPECT_FALSE(unarchiver.hasError()) << unarchiver.error().description.toStdString();
    return std::dynamic_pointer_cast<T>(root.value<std::shared_ptr<platform::Coding>>());
}

QByteArray archiveOf(std::shared_ptr<const platform::Coding> object)
{
    registerDesignArchiveClasses();
    return platform::KeyedArchiver::archivedDataWithRootObject(object);
}

Frame *ringFrame(const QString &name)
{
    Frame *frame = newFrame(QStringLiteral("Full frame"), name);
    setPicture(frame, KTFullFrameLayer::kLandscapeImageAttribute, ringPicture(90, 60));
    saveLibrary();
    return frame;
}

} // namespace

TEST(FrameLayerArchive, FullFrameAndMatRoundTripThroughADesign)
{
    Frame *ring = ringFrame(QStringLiteral("Oak"));
    Frame *matFrame = newFrame(QStringLiteral("Color Mat"), QStringLiteral("Ivory"));
    setColor(matFrame, KTColorMatLayer::kMatColorAttribute, QColor(250, 245, 230));
    saveLibrary();

    auto design = designWithPhoto(writePhoto(80, 60));
    auto full = std::dynamic_pointer_cast<KTFullFrameLayer>(KTFrameLayer::frameLayerFromFrame(ring));
    auto mat = std::dynamic_pointer_cast<KTColorMatLayer>(KTFrameLayer::frameLayerFromFrame(matFrame));
    design->addTopmostFrameLayer(mat);
    design->addTopmostFrameLayer(full);
    full->setSaturationShift(0.5);
    full->setLightnessShift(1.5);
    full->setOpacity(0.75);
    full->setRotation(3);
    full->setColorizationColor(QColor::fromRgbF(0.25f, 0.5f, 1.0f, 0.5f));
    full->setColorize(true);
    full->setScale(1.25);
    full->setDropShadow(true);
    full->setShadowLength(0.5);
    full->setShadowOffsetScaleFactor(0.05);
    mat->setMatColor(QColor(10, 20, 30));
    mat->setBevelColor(QColor(40, 50, 60));
    mat->setOpacity(0.5);
    mat->setBevelWidth(0.07);
    mat->setLeftWidth(0.1);
    mat->setRightWidth(0.2);
    mat->setTopWidth(0.3);
    mat->setBottomWidth(0.35);
    mat->setHidden(true);

    const QByteArray data = design->dataForArchiving();
    EXPECT_EQ(keysOfObjectWith(data, QStringLiteral("saturationShift")),
              (QStringList{"layerName", "hidden", "frameGUID", "dropShadow", "shadowLength",
                           "shadowOffsetScaleFactor", "saturationShift", "lightnessShift", "opacity", "rotation",
                           "colorize", "colorizationColor", "scale"}));
    EXPECT_EQ(keysOfObjectWith(data, QStringLiteral("bevelWidth")),
              (QStringList{"layerName", "hidden", "frameGUID", "dropShadow", "shadowLength",
                           "shadowOffsetScaleFactor", "matColor", "bevelColor", "opacity", "bevelWidth", "leftWidth",
                           "rightWidth", "topWidth", "bottomWidth"}));

    // The library renamed the frame meanwhile: the layer takes the new name.
    ring->setName(QStringLiteral("Oak, waxed"));
    WarningLog warnings;
    auto back = KTTemplate::templateFromData(data, libraryContext());
    ASSERT_TRUE(back);
    EXPECT_TRUE(warnings.messages.isEmpty());
    ASSERT_EQ(back->layers().size(), 3);
    auto full2 = std::dynamic_pointer_cast<KTFullFrameLayer>(back->layers()[0]);
    auto mat2 = std::dynamic_pointer_cast<KTColorMatLayer>(back->layers()[1]);
    ASSERT_TRUE(full2 && mat2);
    EXPECT_EQ(full2->theFrame(), ring);
    EXPECT_EQ(full2->layerName(), QStringLiteral("Oak, waxed"));
    EXPECT_EQ(full2->controlNibName(), QStringLiteral("FullFrameControl"));
    EXPECT_TRUE(full2->imagesLoaded());
    EXPECT_FALSE(full2->missesFrameInLibrary());
    EXPECT_DOUBLE_EQ(full2->saturationShift(), 0.5);
    EXPECT_DOUBLE_EQ(full2->lightnessShift(), 1.5);
    EXPECT_DOUBLE_EQ(full2->opacity(), 0.75);
    EXPECT_EQ(full2->rotation(), 3u);
    EXPECT_TRUE(full2->colorize());
    EXPECT_NEAR(full2->colorizationColor().alphaF(), 0.5, 1e-4);
    EXPECT_DOUBLE_EQ(full2->scale(), 1.25);
    EXPECT_TRUE(full2->dropShadow());
    EXPECT_DOUBLE_EQ(full2->shadowLength(), 0.5);
    EXPECT_DOUBLE_EQ(full2->shadowOffsetScaleFactor(), double(0.05f));
    // The setters rebuilt the pictures' filters and settings.
    auto picture = full2->frameImageLandscape();
    EXPECT_EQ(picture->rotation(), 3u);
    EXPECT_DOUBLE_EQ(picture->opacity(), 0.75);
    EXPECT_TRUE(picture->getFilter(QString::fromLatin1(platform::ColorFilter::kColorMonochrome)));
    EXPECT_TRUE(picture->getFilter(QString::fromLatin1(platform::ColorFilter::kExposureAdjust)));

    EXPECT_EQ(mat2->theFrame(), matFrame);
    EXPECT_EQ(mat2->controlNibName(), QStringLiteral("ColorMatFrameControl"));
    EXPECT_EQ(mat2->matColor().rgb(), QColor(10, 20, 30).rgb()); // the archived colour wins
    EXPECT_EQ(mat2->bevelColor().rgb(), QColor(40, 50, 60).rgb());
    EXPECT_DOUBLE_EQ(mat2->opacity(), 0.5);
    EXPECT_DOUBLE_EQ(mat2->bevelWidth(), double(0.07f));
    EXPECT_DOUBLE_EQ(mat2->leftWidth(), double(0.1f));
    EXPECT_DOUBLE_EQ(mat2->bottomWidth(), double(0.35f));
    EXPECT_TRUE(mat2->hidden());
    const QByteArray again = back->dataForArchiving();
    EXPECT_EQ(designtest::archivedContents(KTTemplate::templateFromData(again, libraryContext())->dataForArchiving()),
              designtest::archivedContents(again));
}

TEST(FrameLayerArchive, DamagedValuesAreBroughtIntoRangeNotRaisedOver)
{
    Frame *ring = ringFrame(QStringLiteral("Pine"));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto fullWith = [&](float saturation, float lightness, double scale, qint64 rotation) {
        return std::make_shared<ScriptedLayer>(QStringLiteral("KTFullFrameLayer"), [=](platform::KeyedArchiver &c) {
            c.encodeString(QStringLiteral("Pine"), QStringLiteral("layerName"));
            c.encodeBool(false, QStringLiteral("hidden"));
            c.encodeString(ring->guid(), QStringLiteral("frameGUID"));
            c.encodeBool(true, QStringLiteral("dropShadow"));
            c.encodeFloat(nan, QStringLiteral("shadowLength"));
            c.encodeFloat(0.03f, QStringLiteral("shadowOffsetScaleFactor"));
            c.encodeFloat(saturation, QStringLiteral("saturationShift"));
            c.encodeFloat(lightness, QStringLiteral("lightnessShift"));
            c.encodeFloat(nan, QStringLiteral("opacity"));
            c.encodeInteger(rotation, QStringLiteral("rotation"));
            c.encodeBool(false, QStringLiteral("colorize"));
            c.encodeDouble(scale, QStringLiteral("scale"));
        });
    };
    auto layer = decodeLayer<KTFullFrameLayer>(archiveOf(fullWith(7.0f, -50.0f, 0.05, 9)));
    ASSERT_TRUE(layer);
    EXPECT_DOUBLE_EQ(layer->saturationShift(), 2.0);
    EXPECT_DOUBLE_EQ(layer->lightnessShift(), -10.0);
    EXPECT_DOUBLE_EQ(layer->scale(), 1.0);
    EXPECT_EQ(layer->rotation(), 1u);
    EXPECT_DOUBLE_EQ(layer->opacity(), 1.0);
    EXPECT_DOUBLE_EQ(layer->shadowLength(), 1.0);

    layer = decodeLayer<KTFullFrameLayer>(archiveOf(fullWith(nan, nan, std::nan(""), 0)));
    ASSERT_TRUE(layer);
    EXPECT_DOUBLE_EQ(layer->saturationShift(), 1.0);
    EXPECT_DOUBLE_EQ(layer->lightnessShift(), 0.0);
    EXPECT_DOUBLE_EQ(layer->scale(), 1.0);
    // Drawing it is sound.
    auto design = designWithPhoto(writePhoto(40, 30));
    design->addTopmostFrameLayer(layer);
    EXPECT_EQ(at(render(*design, 40, 30), 1, 15), kFrameBrown);

    // A mat's side widths are clamped, its bevel and opacity kept unless unusable.
    auto mat = decodeLayer<KTColorMatLayer>(archiveOf(std::make_shared<ScriptedLayer>(
        QStringLiteral("KTColorMatLayer"), [&](platform::KeyedArchiver &c) {
            c.encodeString(QStringLiteral("Mat"), QStringLiteral("layerName"));
            c.encodeBool(false, QStringLiteral("hidden"));
            c.encodeFloat(0.2f, QStringLiteral("opacity"));
            c.encodeFloat(nan, QStringLiteral("bevelWidth"));
            c.encodeFloat(0.9f, QStringLiteral("leftWidth"));
            c.encodeFloat(-1.0f, QStringLiteral("rightWidth"));
            c.encodeFloat(nan, QStringLiteral("topWidth"));
            c.encodeFloat(0.1f, QStringLiteral("bottomWidth"));
        })));
    ASSERT_TRUE(mat);
    EXPECT_DOUBLE_EQ(mat->leftWidth(), 0.4);
    EXPECT_DOUBLE_EQ(mat->rightWidth(), 0.0);
    EXPECT_DOUBLE_EQ(mat->topWidth(), 0.0);
    EXPECT_DOUBLE_EQ(mat->bottomWidth(), double(0.1f));
    EXPECT_DOUBLE_EQ(mat->opacity(), double(0.2f));
    EXPECT_TRUE(std::isfinite(mat->bevelWidth()));
}

TEST(FrameLayerArchive, FullFramesMouldingsAndMatsShareTheirColourSettingsRules)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto damaged = [&](const char *cls) {
        return archiveOf(std::make_shared<ScriptedLayer>(QString::fromLatin1(cls), [&](platform::KeyedArchiver &c) {
            c.encodeString(QStringLiteral("Damaged"), QStringLiteral("layerName"));
            c.encodeFloat(-4.0f, QStringLiteral("saturationShift"));
            c.encodeFloat(nan, QStringLiteral("lightnessShift"));
            c.encodeFloat(5.0f, QStringLiteral("opacity"));
            c.encodeInteger(6, QStringLiteral("rotation"));
        }));
    };
    auto full = decodeLayer<KTFullFrameLayer>(damaged("KTFullFrameLayer"));
    auto molding = decodeLayer<KTMoldingFrameLayer>(damaged("KTMoldingFrameLayer"));
    auto mat = decodeLayer<KTColorMatLayer>(damaged("KTColorMatLayer"));
    ASSERT_TRUE(full && molding && mat);
    for (KTFrameLayer *layer : {static_cast<KTFrameLayer *>(full.get()), static_cast<KTFrameLayer *>(molding.get())}) {
        EXPECT_DOUBLE_EQ(layer->property("saturationShift").toDouble(), 0.0);
        EXPECT_DOUBLE_EQ(layer->property("lightnessShift").toDouble(), 0.0);
        EXPECT_DOUBLE_EQ(layer->property("opacity").toDouble(), 1.0);
        EXPECT_EQ(layer->property("rotation").toUInt(), 2u);
        // A turn is always one of four, and every change is announced.
        QSignalSpy changed(layer, &KTFrameLayer::settingsChanged);
        layer->setProperty("rotation", 7u);
        EXPECT_EQ(layer->property("rotation").toUInt(), 3u);
        layer->setProperty("opacity", 0.5);
        EXPECT_EQ(changed.count(), 2);
    }
    EXPECT_DOUBLE_EQ(mat->opacity(), 1.0);
}

TEST(FrameLayerArchive, MissingFrameGivesThePlaceholderAndOneWarning)
{
    Frame *ring = ringFrame(QStringLiteral("Cherry"));
    auto original = designWithPhoto(writePhoto(80, 60));
    original->addTopmostFrameLayer(KTFrameLayer::frameLayerFromFrame(ring));
    const QString guid = ring->guid();
    const QByteArray data = original->dataForArchiving();

    // The library loses the frame (a real delete, saved to the store).
    libraryContext()->deleteObject(ring);
    saveLibrary();
    ASSERT_EQ(Frame::frameWithGUID(guid, libraryContext()), nullptr);

    WarningLog warnings;
    auto decoded = KTTemplate::templateFromData(data, libraryContext());
    ASSERT_TRUE(decoded);
    ASSERT_EQ(warnings.messages.size(), 1);
    EXPECT_EQ(warnings.messages.first(), QStringLiteral("Couldn't find frame 'Cherry' in the frame library"));
    auto layer = std::dynamic_pointer_cast<KTFullFrameLayer>(decoded->layers().first());
    ASSERT_TRUE(layer);
    EXPECT_TRUE(layer->missesFrameInLibrary());
    EXPECT_FALSE(layer->theFrame());
    EXPECT_FALSE(layer->imagesLoaded());
    ASSERT_TRUE(layer->icon());
    const QImage placeholder = KTFrameLayer::noIconImage();
    EXPECT_EQ(layer->icon()->bitmapCtx().size(), placeholder.size());
    EXPECT_EQ(layer->icon()->bitmapCtx().pixel(46, 46), placeholder.pixel(46, 46));
    EXPECT_EQ(layer->icon()->bitmapCtx().pixel(2, 2), placeholder.pixel(2, 2));
    EXPECT_TRUE(decoded->hasLayersThatMissGraphics());

    // Applied to a photo, the design draws the photo and nothing of the lost
    // frame, and posts nothing more.
    auto design = designWithPhoto(writePhoto(80, 60, QColor(200, 200, 20)));
    design->replaceDesignWith(decoded);
    const QImage out = render(*design, 80, 60);
    EXPECT_EQ(at(out, 1, 30), QColor(200, 200, 20));
    EXPECT_EQ(at(out, 40, 30), QColor(200, 200, 20));
    EXPECT_EQ(warnings.messages.size(), 1);

    // Saving again keeps the link, so the frame comes back with the library.
    EXPECT_EQ(keysOfObjectWith(design->dataForArchiving(), QStringLiteral("frameGUID")).count("frameGUID"), 1);
    EXPECT_EQ(layer->frameGUID(), guid);

    // A mat without its frame still draws from its archived colour.
    auto mat = std::make_shared<KTColorMatLayer>();
    mat->setMatColor(QColor(0, 0, 255));
    const QByteArray matData = archiveOf(mat);
    auto matBack = decodeLayer<KTColorMatLayer>(matData);
    ASSERT_TRUE(matBack);
    EXPECT_EQ(warnings.messages.size(), 2);
    EXPECT_EQ(matBack->matColor().rgb(), QColor(0, 0, 255).rgb());
}

TEST(FrameLayerArchive, FramesWhosePicturesAreDamagedOrGoneCountAsMissing)
{
    Frame *ring = ringFrame(QStringLiteral("Walnut"));
    Frame *moulding = newFrame(QStringLiteral("Moulding"), QStringLiteral("Baroque Gold"));
    for (const char *side : {"Left Image", "Top Image", "Right Image", "Bottom Image"})
        setPicture(moulding, side, ringPicture(40, 12));
    saveLibrary();
    auto original = designWithPhoto(writePhoto(80, 60));
    original->addTopmostFrameLayer(KTFrameLayer::frameLayerFromFrame(ring));
    original->addTopmostFrameLayer(KTFrameLayer::frameLayerFromFrame(moulding));
    ASSERT_FALSE(original->hasLayersThatMissGraphics());
    const QByteArray data = original->dataForArchiving();

    // The full frame's picture turns to noise; one side of the moulding goes.
    {
        QFile noise(ring->valueForAttribute(QString::fromLatin1(KTFullFrameLayer::kLandscapeImageAttribute)).value<FrameImage *>()->imagePath());
        ASSERT_TRUE(noise.open(QIODevice::WriteOnly | QIODevice::Truncate));
        noise.write(QByteArray(5000, '\x5a'));
    }
    ASSERT_TRUE(QFile::remove(moulding->valueForAttribute(QStringLiteral("Top Image")).value<FrameImage *>()->imagePath()));

    WarningLog warnings;
    auto decoded = KTTemplate::templateFromData(data, libraryContext());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->namesOfLayersThatMissGraphics(), (QStringList{"Baroque Gold", "Walnut"}));
    warnings.messages.sort();
    EXPECT_EQ(warnings.messages,
              (QStringList{"The pictures of frame 'Baroque Gold' are missing from the frame library or damaged",
                           "The pictures of frame 'Walnut' are missing from the frame library or damaged"}));
    const QImage placeholder = KTFrameLayer::noIconImage();
    for (const auto &layer : decoded->layers()) {
        if (const auto frame = std::dynamic_pointer_cast<KTFrameLayer>(layer)) {
            EXPECT_EQ(frame->icon()->bitmapCtx().pixel(46, 46), placeholder.pixel(46, 46)) << "the missing-frame mark";
            EXPECT_FALSE(frame->frameGUID().isEmpty()) << "the link to the library is kept";
        }
    }
}
