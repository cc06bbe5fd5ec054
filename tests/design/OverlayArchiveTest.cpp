#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTImageOverlayLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTemplatePackage.h"
#include "design/KTTextOverlayLayer.h"
#include "design/TemplatesStore.h"
#include "design/VLImage.h"
#include "design/Variation.h"
#include "platform/FileWrapper.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/imaging/Exiv2Support.h"
#include "platform/render/DrawingContext.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QScopeGuard>
#include <QUrl>

using namespace testsupport;
using platform::StyledText;

namespace {

StyledText::Attributes attributes(double size, QColor colour)
{
    StyledText::Attributes a;
    a.font = StyledText::Font{QStringLiteral("Helvetica-Bold"), size, std::nullopt};
    a.color = platform::Color::fromQColor(colour);
    a.paragraphStyle = StyledText::ParagraphStyle{StyledText::Right};
    return a;
}

QString photo()
{
    const QString path = scratchFile(QStringLiteral("jpg"), QStringLiteral("archived"));
    EXPECT_TRUE(runTool(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("90x60"),
                                                    QStringLiteral("xc:gray"), path}));
    platform::initializeExiv2();
    auto image = Exiv2::ImageFactory::open(path.toStdString());
    image->readMetadata();
    image->iptcData()["Iptc.Application2.Headline"] = std::string("Harbour");
    image->writeMetadata();
    return path;
}

QImage drawLayer(KTLayer &layer)
{
    QImage image(400, 300, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    platform::DrawingContext ctx(image);
    layer.drawLayerForRect(QRectF(0, 0, 400, 300), true, true);
    return image;
}

// Writes an archive as an older version did: its class name and keys.
class OldLayer : public platform::Coding
{
public:
    OldLayer(QString name, std::function<void(platform::KeyedArchiver &)> write)
        : m_name(std::move(name)), m_write(std::move(write))
    {
    }
    QStringList archiveClassNames() const override { return {m_name, QStringLiteral("KTLayer"), QStringLiteral("NSObject")}; }
    void encode(platform::KeyedArchiver &c) const override
    {
        c.encodeString(QStringLiteral("Old layer"), QStringLiteral("layerName"));
        c.encodeBool(false, QStringLiteral("hidden"));
        m_write(c);
    }
    void decode(platform::KeyedUnarchiver &) override {}

private:
    QString m_name;
    std::function<void(platform::KeyedArchiver &)> m_write;
};

class OldDesign : public platform::Coding
{
public:
    QList<std::shared_ptr<platform::Coding>> layers;
    QByteArray archived() const
    {
        return platform::KeyedArchiver::archivedDataWithRootObject(
            std::shared_ptr<const platform::Coding>(std::shared_ptr<const platform::Coding>(), this),
            QString::fromLatin1(KTTemplate::kTemplateArchiveKey));
    }
    QStringList archiveClassNames() const override { return {QStringLiteral("KTTemplate"), QStringLiteral("NSObject")}; }
    void encode(platform::KeyedArchiver &c) const override
    {
        c.encodeObjects(layers, QStringLiteral("layers"), true);
        c.encodeString(QStringLiteral("Old"), QStringLiteral("name"));
    }
    void decode(platform::KeyedUnarchiver &) override {}
};

} // namespace

TEST(OverlayArchiveInDesign, BothOverlaysTravelWithTheirSettings)
{
    auto design = std::make_shared<KTTemplate>();
    ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(photo())));

    auto picture = std::make_shared<KTImageOverlayLayer>();
    QImage logo(40, 20, QImage::Format_RGB32);
    logo.fill(QColor(0, 90, 200));
    picture->setImagePath(scratchFile(QStringLiteral("png"), QStringLiteral("logo")));
    ASSERT_TRUE(logo.save(picture->imagePath()));
    ASSERT_TRUE(picture->loadImage());
    picture->setLayerName(QStringLiteral("Logo"));
    picture->setScale(0.25);
    picture->setOpacity(0.5);
    KTOverlayPositioning corner;
    corner.hSnap = 1;
    corner.vSnap = 0;
    corner.position = QPointF(0.05, 0.05);
    picture->setPositioning(corner);
    design->addTopmostLayer(picture);

    auto text = std::make_shared<KTTextOverlayLayer>();
    StyledText styled(QStringLiteral("Seen at "), attributes(14, QColor(220, 20, 20)));
    styled.append(QStringLiteral("{{IPTC headline}}"), attributes(18, QColor(20, 20, 220)));
    text->setOverlayText(styled);
    text->setScale(0.12);
    text->setOpacity(0.9);
    text->setHidden(true);
    design->addTopmostLayer(text);

    const QByteArray data = design->dataForArchiving();
    platform::Error error;
    auto back = KTTemplate::templateFromData(data, nullptr, &error);
    ASSERT_TRUE(back) << error.description.toStdString();
    ASSERT_EQ(back->layers().size(), 3);
    auto backText = std::dynamic_pointer_cast<KTTextOverlayLayer>(back->layers()[0]);
    auto backPicture = std::dynamic_pointer_cast<KTImageOverlayLayer>(back->layers()[1]);
    ASSERT_TRUE(backText);
    ASSERT_TRUE(backPicture);
    EXPECT_EQ(backText->overlayText(), text->overlayText());
    EXPECT_DOUBLE_EQ(backText->scale(), double(0.12f));
    EXPECT_TRUE(backText->hidden());
    EXPECT_FALSE(backText->needToAdjustScale());
    EXPECT_EQ(backPicture->layerName(), QStringLiteral("Logo"));
    EXPECT_EQ(backPicture->positioning(), corner);
    ASSERT_TRUE(backPicture->image());
    EXPECT_EQ(backPicture->image()->originalSize(), QSizeF(40, 20));
    EXPECT_EQ(drawLayer(*backPicture), drawLayer(*picture));

    // The decoded design takes a photo; the placeholder follows it.
    ASSERT_TRUE(back->importImage(QUrl::fromLocalFile(photo())));
    drawLayer(*backText);
    ASSERT_TRUE(backText->processedOverlayString());
    EXPECT_EQ(backText->processedOverlayString()->string(), QStringLiteral("Seen at Harbour"));
    EXPECT_EQ(drawLayer(*backText), drawLayer(*text));
    EXPECT_EQ(back->dictionaryForAnalytics().value(QStringLiteral("Text Overlay")).toInt(), 1);
    EXPECT_EQ(back->dictionaryForAnalytics().value(QStringLiteral("Image Overlay")).toInt(), 1);
}

TEST(OverlayArchiveInDesign, EarlierClassNamesDecodeAsTheOverlays)
{
    auto design = std::make_shared<OldDesign>();
    design->layers.append(std::make_shared<OldLayer>(QStringLiteral("KTTextWatermarkLayer"), [](platform::KeyedArchiver &c) {
        c.encodeFloat(0.3f, QStringLiteral("scale"));
        c.encodePoint(QPointF(0.5, 0.5), QStringLiteral("position"));
        c.encodeFloat(1.0f, QStringLiteral("opacity"));
        c.encodeObject(QVariant::fromValue(StyledText(QStringLiteral("Old text"), attributes(12, Qt::black))),
                       QStringLiteral("watermarkText"));
    }));
    design->layers.append(std::make_shared<OldLayer>(QStringLiteral("KTImageWatermarkLayer"), [](platform::KeyedArchiver &c) {
        c.encodeFloat(0.4f, QStringLiteral("scale"));
        c.encodePoint(QPointF(0.75, 0.5), QStringLiteral("position"));
        c.encodeFloat(1.0f, QStringLiteral("opacity"));
        c.encodeString(QStringLiteral("/nonexistent/logo.png"), QStringLiteral("imagePath"));
    }));
    design->layers.append(std::make_shared<OldLayer>(QStringLiteral("KTImageLayer"), [](platform::KeyedArchiver &) {}));
    const QByteArray data = platform::KeyedArchiver::archivedDataWithRootObject(
        std::static_pointer_cast<const platform::Coding>(design), QString::fromLatin1(KTTemplate::kTemplateArchiveKey));

    platform::Error error;
    auto back = KTTemplate::templateFromData(data, nullptr, &error);
    ASSERT_TRUE(back) << error.description.toStdString();
    ASSERT_EQ(back->layers().size(), 3);
    auto text = std::dynamic_pointer_cast<KTTextOverlayLayer>(back->layers()[0]);
    auto picture = std::dynamic_pointer_cast<KTImageOverlayLayer>(back->layers()[1]);
    ASSERT_TRUE(text);
    ASSERT_TRUE(picture);
    EXPECT_EQ(text->className(), QStringLiteral("KTTextOverlayLayer"));
    EXPECT_TRUE(text->needToAdjustScale());
    EXPECT_EQ(text->positioning(), KTOverlayPositioning());
    EXPECT_EQ(text->overlayText().string(), QStringLiteral("Old text"));
    EXPECT_EQ(picture->positioning().position, QPointF(0.25, 0));
    EXPECT_EQ(picture->imagePath(), QStringLiteral("/nonexistent/logo.png"));
    EXPECT_FALSE(picture->image()); // the file is gone: drawn as nothing, path kept
    // Written again, they carry today's class names and keys.
    const QByteArray again = back->dataForArchiving();
    EXPECT_FALSE(again.contains("Watermark"));
    EXPECT_TRUE(again.contains("KTTextOverlayLayer"));
}

TEST(OverlayArchiveInDesign, ADesignFromAFileDrawsOnlyThePicturesItCarries)
{
    const QString secret = scratchFile(QStringLiteral("png"), QStringLiteral("secret"));
    QImage picture(20, 10, QImage::Format_RGB32);
    picture.fill(Qt::yellow);
    ASSERT_TRUE(picture.save(secret));
    // Names the user's picture, absolutely and relatively, instead of carrying it.
    OldDesign naming;
    for (const QString &path : {secret, QDir::current().relativeFilePath(secret)})
        naming.layers.append(std::make_shared<OldLayer>(QStringLiteral("KTImageOverlayLayer"), [path](auto &c) {
            c.encodeString(path, QStringLiteral("imagePath"));
        }));
    naming.layers.append(std::make_shared<OldLayer>(QStringLiteral("KTImageLayer"), [](auto &) {}));
    const QString package = scratchDir() + QStringLiteral("/Shared.KTTemplate");
    ASSERT_TRUE(QDir().mkpath(package));
    QFile archive(package + QStringLiteral("/Template"));
    ASSERT_TRUE(archive.open(QIODevice::WriteOnly) && archive.write(naming.archived()) > 0);
    archive.close();

    QStringList warnings;
    KTFrameLayer::setWarningPoster([&](const QString &m) { warnings << m; });
    const auto guard = qScopeGuard([] { KTFrameLayer::setWarningPoster(nullptr); });
    const QUrl url = QUrl::fromLocalFile(package);
    auto shared = KTTemplate::templateFromFileWrapper(*KTTemplate::fileWrapperForURL(url), nullptr);
    ASSERT_TRUE(shared);
    const QString name = QFileInfo(secret).fileName();
    EXPECT_EQ(shared->namesOfMissingOverlayPictures(), QStringList({name, name})) << "neither was read";
    EXPECT_EQ(warnings, QStringList(2, QString::fromLatin1(KTImageOverlayLayer::kMissingPictureWarning).arg(name)));

    // Imported among the saved designs, it keeps no path a later read would follow.
    ASSERT_TRUE(QDir().mkpath(scratchDir() + QStringLiteral("/store-shared")));
    TemplatesStore store(scratchDir() + QStringLiteral("/store-shared"));
    ASSERT_EQ(KTTemplate::importTemplatesFromURLs({url}, store.templatesManagedObjectContext(), nullptr), 1);
    const Variation *saved = Variation::variationWithName(QStringLiteral("Old"), store.templatesManagedObjectContext());
    ASSERT_TRUE(saved);
    EXPECT_FALSE(saved->data().contains(QFileInfo(secret).path().toUtf8()));
    EXPECT_EQ(KTTemplate::templateFromVariation(saved, nullptr)->namesOfMissingOverlayPictures().size(), 2);

    // The user's own design still reads the picture picked by its (absolute) path.
    auto own = KTTemplate::templateFromData(naming.archived(), nullptr);
    ASSERT_TRUE(own);
    const auto picked = std::static_pointer_cast<KTImageOverlayLayer>(own->layers()[0])->image();
    EXPECT_TRUE(picked && picked->originalSize() == QSizeF(20, 10));
    EXPECT_EQ(own->namesOfMissingOverlayPictures(), QStringList{name});
}

TEST(OverlayArchiveInDesign, ACarriedDrawingIsNotReadNorAnyFileItNames)
{
    const QString secret = scratchFile(QStringLiteral("png"), QStringLiteral("private"));
    QImage picture(40, 40, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(secret));
    const QByteArray svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" "
                                          "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"40\" height=\"40\">"
                                          "<image xlink:href=\"%1\" width=\"40\" height=\"40\"/></svg>")
                               .arg(secret)
                               .toUtf8();
    ASSERT_FALSE(QImage::fromData(svg).isNull()) << "scripts/setup installs Qt's SVG reader";
    // A shared design's overlay carries the drawing as its picture's bytes.
    class Carried : public platform::Coding
    {
    public:
        explicit Carried(QByteArray bytes)
            : m_bytes(std::move(bytes))
        {
        }
        QStringList archiveClassNames() const override
        {
            return {QStringLiteral("VLImage"), QStringLiteral("NSObject")};
        }
        void encode(platform::KeyedArchiver &c) const override
        {
            c.encodeString(QStringLiteral("logo.png"), QString::fromLatin1(VLImage::kFileNameKey));
            c.encodeData(m_bytes, QString::fromLatin1(VLImage::kFileDataKey));
        }
        void decode(platform::KeyedUnarchiver &) override {}

    private:
        QByteArray m_bytes;
    };
    OldDesign shared;
    shared.layers.append(std::make_shared<OldLayer>(QStringLiteral("KTImageOverlayLayer"), [svg](auto &c) {
        c.encodeFloat(1.0f, QStringLiteral("scale"));
        c.encodeFloat(1.0f, QStringLiteral("opacity"));
        c.encodeObject(std::make_shared<const Carried>(svg), QStringLiteral("image"));
    }));
    shared.layers.append(std::make_shared<OldLayer>(QStringLiteral("KTImageLayer"), [](auto &) {}));
    KTFrameLayer::setWarningPoster([](const QString &) {});
    const auto guard = qScopeGuard([] { KTFrameLayer::setWarningPoster(nullptr); });
    auto design = KTTemplatePackage::templateFromData(shared.archived(), nullptr, nullptr, false);
    ASSERT_TRUE(design);
    auto overlay = std::static_pointer_cast<KTImageOverlayLayer>(design->layers()[0]);
    EXPECT_FALSE(overlay->image());
    EXPECT_EQ(design->namesOfMissingOverlayPictures(), QStringList{QStringLiteral("logo.png")});
    EXPECT_EQ(design->namesOfUnreadOverlayPictures(), QStringList{QStringLiteral("logo.png")});
    const QImage drawn = drawLayer(*overlay);
    for (int y = 0; y < drawn.height(); y += 5)
        for (int x = 0; x < drawn.width(); x += 5)
            ASSERT_EQ(drawn.pixelColor(x, y).alpha(), 0) << x << "," << y;
}

TEST(OverlayArchiveInDesign, ATextBeyondWhatADesignMayHoldIsRefusedFromOutsideButTheUsersOwnReadsBack)
{
    const auto archivedWithText = [](const QString &text) {
        OldDesign design;
        design.layers.append(std::make_shared<OldLayer>(QStringLiteral("KTTextOverlayLayer"), [text](auto &c) {
            c.encodeObject(QVariant::fromValue(StyledText(text)), QStringLiteral("watermarkText"));
        }));
        design.layers.append(std::make_shared<OldLayer>(QStringLiteral("KTImageLayer"), [](auto &) {}));
        return design.archived();
    };
    const auto withText = [&](const QString &text) {
        platform::Error error;
        const auto file = platform::FileWrapper::regularFile(archivedWithText(text));
        return KTTemplate::templateFromFileWrapper(file, nullptr, nullptr, &error) ? QString() : error.description;
    };
    const QString date = QStringLiteral("{{EXIF long date}}");
    EXPECT_EQ(withText(date.repeated(KTTextOverlayLayer::kMaxPlaceholders)), QString());
    EXPECT_TRUE(withText(date.repeated(101)).startsWith("A text overlay holds 101 placeholders, more than"));
    EXPECT_TRUE(withText(QString(10001, QLatin1Char('x'))).contains("10001 characters"));

    // The user's own, as saved: it reads back, whole.
    ASSERT_TRUE(QDir().mkpath(scratchDir() + QStringLiteral("/store-long-text")));
    TemplatesStore store(scratchDir() + QStringLiteral("/store-long-text"));
    Variation *saved = Variation::insertInManagedObjectContext(store.templatesManagedObjectContext());
    saved->setData(archivedWithText(date.repeated(KTTextOverlayLayer::kMaxPlaceholders + 1) + QString(10001, 'x')));
    EXPECT_TRUE(KTTemplate::templateFromVariation(saved, nullptr));
    // One that can't be read still says why, for the command line to tell.
    saved->setData(QByteArrayLiteral("no design"));
    platform::Error error;
    EXPECT_FALSE(KTTemplate::templateFromVariation(saved, nullptr, &error));
    EXPECT_FALSE(error.description.isEmpty());
}
