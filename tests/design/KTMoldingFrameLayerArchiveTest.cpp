#include "FrameLayerTestSupport.h"
#include "MouldingTestSupport.h"

#include "design/DesignArchiveClasses.h"
#include "design/KTCornerFrameLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/VLImage.h"
#include "platform/archive/Color.h"
#include "platform/imaging/ColorFilter.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cmath>

namespace {

QByteArray archived(const std::shared_ptr<const platform::Coding> &object)
{
    registerDesignArchiveClasses();
    return platform::KeyedArchiver::archivedDataWithRootObject(object, QStringLiteral("root"));
}

template<class T>
std::shared_ptr<T> unarchived(const QByteArray &data)
{
    registerDesignArchiveClasses();
    platform::KeyedUnarchiver unarchiver(data);
    unarchiver.setDecodingContext(frametest::libraryContext());
    const QVariant root = unarchiver.decodeObjectForKey(QStringLiteral("root"));
    return unarchiver.hasError() ? nullptr
                                 : std::dynamic_pointer_cast<T>(root.value<std::shared_ptr<platform::Coding>>());
}

// The keys of the archived object of that class, in the order written, as
// Python's own property-list reader sees them.
QStringList archivedKeys(const QByteArray &data, const QString &className)
{
    const QString path = testsupport::scratchDir() + QStringLiteral("/moulding.archive");
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    file.close();
    const QString script = QStringLiteral(R"(
import json, plistlib, sys
a = plistlib.load(open(sys.argv[1], 'rb'))
objs = a['$objects']
for o in objs:
    if isinstance(o, dict) and '$class' in o:
        c = objs[o['$class'].data]
        if c.get('$classname') == sys.argv[2]:
            print(json.dumps([k for k in o.keys() if not k.startswith('$')]))
)");
    const testsupport::ProgramRun python =
        testsupport::runProgram(testsupport::python3(), {QStringLiteral("-c"), script, path, className});
    EXPECT_TRUE(python.succeeded()) << python.err.toStdString();
    QStringList keys;
    for (const auto &v : QJsonDocument::fromJson(python.out).array())
        keys << v.toString();
    return keys;
}

} // namespace

TEST(MouldingLayerArchive, SettingsComeBackUnderTheirKeysInOrder)
{
    auto layer = std::make_shared<KTMoldingFrameLayer>();
    layer->setLayerName(QStringLiteral("Walnut"));
    layer->setSaturationShift(0.25);
    layer->setLightnessShift(-2.5);
    layer->setOpacity(0.5);
    layer->setRotation(3);
    layer->setColorizationColor(QColor::fromRgbF(0.2f, 0.4f, 0.6f, 0.75f));
    layer->setColorize(true);
    layer->setFrameOverImage(0.3);
    layer->setFrameWidth(0.15);
    const QByteArray data = archived(layer);

    const QStringList keys = archivedKeys(data, QStringLiteral("KTMoldingFrameLayer"));
    ASSERT_GE(keys.size(), 10);
    EXPECT_EQ(keys.mid(0, 2), (QStringList{"layerName", "hidden"}));
    EXPECT_EQ(keys.mid(keys.size() - 8),
              (QStringList{"saturationShift", "lightnessShift", "opacity", "rotation", "colorize", "colorizationColor",
                           "frameOverImage", "frameWidth"}));

    auto back = unarchived<KTMoldingFrameLayer>(data);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->saturationShift(), 0.25);
    EXPECT_EQ(back->lightnessShift(), -2.5);
    EXPECT_EQ(back->opacity(), 0.5);
    EXPECT_EQ(back->rotation(), 3u);
    EXPECT_TRUE(back->colorize());
    EXPECT_NEAR(back->colorizationColor().blueF(), 0.6, 1e-3);
    EXPECT_NEAR(back->colorizationColor().alphaF(), 0.75, 1e-3);
    EXPECT_NEAR(back->frameOverImage(), 0.3, 1e-6);
    EXPECT_NEAR(back->frameWidth(), 0.15, 1e-6);
    EXPECT_EQ(back->controlNibName(), "MoldingFrameControl");

    // A corner layer writes the moulding's keys and comes back as itself.
    auto corner = std::make_shared<KTCornerFrameLayer>();
    corner->setFrameWidth(0.05);
    const QByteArray cornerData = archived(corner);
    EXPECT_EQ(archivedKeys(cornerData, QStringLiteral("KTCornerFrameLayer")).mid(keys.size() - 8), keys.mid(keys.size() - 8));
    auto cornerBack = unarchived<KTCornerFrameLayer>(cornerData);
    ASSERT_TRUE(cornerBack);
    EXPECT_NEAR(cornerBack->frameWidth(), 0.05, 1e-6);
}

TEST(MouldingLayerArchive, ValuesOutOfRangeInADamagedArchiveAreBroughtIntoRange)
{
    // An archive that claims to be a moulding with impossible settings.
    class Damaged : public platform::Coding
    {
    public:
        QStringList archiveClassNames() const override
        {
            return {"KTMoldingFrameLayer", "KTFrameLayer", "KTLayer", "NSObject"};
        }
        void encode(platform::KeyedArchiver &c) const override
        {
            c.encodeString("Broken", "layerName");
            c.encodeFloat(7.0f, "saturationShift");
            c.encodeFloat(std::nanf(""), "lightnessShift");
            c.encodeFloat(-3.0f, "opacity");
            c.encodeInteger(-7, "rotation");
            c.encodeBool(true, "colorize");
            c.encodeString("not a colour", "colorizationColor");
            c.encodeFloat(std::numeric_limits<float>::infinity(), "frameOverImage");
            c.encodeFloat(9.0f, "frameWidth");
        }
        void decode(platform::KeyedUnarchiver &) override {}
    };
    std::shared_ptr<KTMoldingFrameLayer> back;
    EXPECT_NO_THROW(back = unarchived<KTMoldingFrameLayer>(archived(std::make_shared<Damaged>())));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->saturationShift(), 2.0);
    // No number at all: the setting full frames fall back to as well.
    EXPECT_EQ(back->lightnessShift(), 0.0);
    EXPECT_EQ(back->opacity(), 0.0);
    EXPECT_LT(back->rotation(), 4u);
    EXPECT_TRUE(back->colorizationColor().isValid());
    EXPECT_EQ(back->frameOverImage(), 1.0);
    EXPECT_EQ(back->frameWidth(), 0.4);
}

TEST(MouldingLayerFactory, LibraryFramesOfBothMouldingTypesBecomeTheirLayersAndComeBackFromArchives)
{
    registerDesignArchiveClasses();
    const QColor tint = QColor::fromRgbF(0.9f, 0.1f, 0.2f, 0.6f);
    for (const char *type : {"Moulding", "Moulding with corners"}) {
        SCOPED_TRACE(type);
        const bool corners = QLatin1String(type) == QLatin1String("Moulding with corners");
        Frame *frame = frametest::newFrame(QString::fromLatin1(type), QStringLiteral("Walnut %1").arg(type));
        frametest::setPicture(frame, "Left Image", mouldingtest::markedPicture(10, 40, Qt::darkRed, Qt::red));
        if (corners)
            frametest::setPicture(frame, "Top-Left corner", mouldingtest::cornerPicture(20, Qt::darkRed, Qt::white));
        frametest::saveLibrary();

        auto layer = KTFrameLayer::frameLayerFromFrame(frame);
        ASSERT_TRUE(layer);
        EXPECT_EQ(layer->className(), corners ? "KTCornerFrameLayer" : "KTMoldingFrameLayer");
        EXPECT_EQ(layer->layerName(), frame->name());
        EXPECT_EQ(layer->controlNibName(), "MoldingFrameControl");
        EXPECT_TRUE(layer->imagesLoaded());
        auto moulding = std::dynamic_pointer_cast<KTMoldingFrameLayer>(layer);
        ASSERT_TRUE(moulding);
        EXPECT_EQ(moulding->allFrameImages().size(), corners ? 8u : 4u);
        EXPECT_EQ(layer->iconOfSize(QSizeF(92, 92)).size(), QSize(92, 92));

        moulding->setColorizationColor(tint);
        moulding->setColorize(true);
        moulding->setFrameWidth(0.2);
        // Decoded, the layer finds its frame again and the archived colour
        // reaches every picture, whatever colour it had before.
        auto back = unarchived<KTMoldingFrameLayer>(archived(moulding));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->className(), layer->className());
        EXPECT_EQ(back->theFrame(), frame);
        ASSERT_TRUE(back->imagesLoaded());
        ASSERT_EQ(back->allFrameImages().size(), corners ? 8u : 4u);
        for (const auto &image : back->allFrameImages()) {
            ASSERT_TRUE(image);
            auto filter = image->getFilter(platform::ColorFilter::kColorMonochrome);
            ASSERT_TRUE(filter);
            EXPECT_NEAR(filter->value(platform::ColorFilter::kInputIntensity).toDouble(), 0.6, 1e-3);
            EXPECT_NEAR(filter->value(platform::ColorFilter::kInputColor).value<QColor>().redF(), 0.9, 1e-3);
        }
        EXPECT_NEAR(back->frameWidth(), 0.2, 1e-6);
    }
}

TEST(MouldingLayerFactory, LayersShowingOneFrameShareItsPicturesOnceDecoded)
{
    registerDesignArchiveClasses();
    Frame *frame = frametest::newFrame(QStringLiteral("Moulding"), QStringLiteral("Shared oak"));
    frametest::setPicture(frame, "Left Image", mouldingtest::markedPicture(10, 40, Qt::darkRed, Qt::red));
    frametest::saveLibrary();
    auto design = frametest::designWithPhoto(frametest::writePhoto(60, 40));
    for (int i = 0; i < 6; ++i)
        design->addTopmostFrameLayer(KTFrameLayer::frameLayerFromFrame(frame));
    const qint64 decodedBefore = platform::ImageDecoder::decodeCount();
    auto back = KTTemplate::templateFromData(design->dataForArchiving(), frametest::libraryContext());
    ASSERT_TRUE(back);
    // The photo layer's picture is none of the frame's: one decode for the frame's picture.
    EXPECT_EQ(platform::ImageDecoder::decodeCount() - decodedBefore, 1);
    const auto first = std::dynamic_pointer_cast<KTMoldingFrameLayer>(back->layers()[0]);
    ASSERT_TRUE(first);
    for (int i = 1; i < 6; ++i) {
        const auto other = std::dynamic_pointer_cast<KTMoldingFrameLayer>(back->layers()[i]);
        ASSERT_TRUE(other);
        for (size_t side = 0; side < 4; ++side) {
            // The same pixels, turned ones too, in pictures of their own.
            EXPECT_EQ(other->allFrameImages()[side]->bitmapCtx().constBits(),
                      first->allFrameImages()[side]->bitmapCtx().constBits());
            EXPECT_NE(other->allFrameImages()[side], first->allFrameImages()[side]);
        }
    }
    first->setOpacity(0.5);
    EXPECT_EQ(std::dynamic_pointer_cast<KTMoldingFrameLayer>(back->layers()[1])->allFrameImages()[0]->opacity(), 1.0);
}
