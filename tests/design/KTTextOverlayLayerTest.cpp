#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "design/VLImage.h"
#include "design/VLImageMetadataManager.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/imaging/Exiv2Support.h"
#include "platform/render/DrawingContext.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

#include <QColorSpace>
#include <QDate>
#include <QLocale>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QUrl>

using namespace testsupport;
using platform::StyledText;

namespace {

StyledText::Attributes attributes(double size, int alignment = StyledText::Center, QColor colour = Qt::black)
{
    StyledText::Attributes a;
    a.font = StyledText::Font{testFontName(), size, std::nullopt};
    a.color = platform::Color::fromQColor(colour);
    a.paragraphStyle = StyledText::ParagraphStyle{alignment};
    return a;
}

StyledText styled(const QString &text, double size = 12, int alignment = StyledText::Center)
{
    return StyledText(text, attributes(size, alignment));
}

QImage draw(KTTextOverlayLayer &layer, const QRectF &rect, QSize canvas = QSize(800, 600))
{
    QImage image(canvas, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    platform::DrawingContext ctx(image);
    layer.drawLayerForRect(rect, true, true);
    return image;
}

QColor at(const QImage &image, double x, double y)
{
    return image.pixelColor(int(x), image.height() - 1 - int(y));
}

// The y-up bounds of the dark (text) pixels; null when there are none.
QRectF inkBounds(const QImage &image)
{
    int minX = INT_MAX, minY = INT_MAX, maxX = -1, maxY = -1;
    for (int row = 0; row < image.height(); ++row) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, row);
            if (c.alpha() > 100 && c.red() < 90 && c.green() < 90 && c.blue() < 90) {
                const int y = image.height() - 1 - row;
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
    }
    if (maxX < 0)
        return {};
    return QRectF(minX, minY, maxX - minX + 1, maxY - minY + 1);
}

bool isGuide(const QColor &c)
{
    return c.alpha() > 60 && c.red() > 180 && c.green() < 60 && c.blue() < 60;
}

bool isBlank(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).alpha() != 0)
                return false;
    return true;
}

QMouseEvent mouseEvent(Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    return QMouseEvent(QEvent::MouseMove, QPointF(), QPointF(), Qt::LeftButton, Qt::LeftButton, modifiers);
}

// A real JPEG whose EXIF capture date and IPTC headline Exiv2 writes.
QString photoWithMetadata(const QString &stem, const std::string &headline)
{
    const QString path = scratchFile(QStringLiteral("jpg"), stem);
    EXPECT_TRUE(runTool(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("60x40"),
                                                    QStringLiteral("xc:gray"), path}));
    platform::initializeExiv2();
    auto image = Exiv2::ImageFactory::open(path.toStdString());
    image->readMetadata();
    image->exifData()["Exif.Photo.DateTimeOriginal"] = std::string("2014:07:21 18:03:09");
    image->iptcData()["Iptc.Application2.Headline"] = headline;
    image->writeMetadata();
    return path;
}

std::shared_ptr<KTTemplate> designWithPhoto(const QString &path)
{
    auto design = std::make_shared<KTTemplate>();
    EXPECT_TRUE(design->importImage(QUrl::fromLocalFile(path)));
    EXPECT_TRUE(design->metadataManager());
    return design;
}

} // namespace

TEST(KTTextOverlaySize, FirstLineTakesScaleOfTheRectHeight)
{
    KTTextOverlayLayer layer;
    EXPECT_DOUBLE_EQ(layer.scale(), 0.1);
    EXPECT_EQ(layer.positioning(), KTOverlayPositioning());
    layer.setOverlayText(styled(QStringLiteral("Hello")));
    ASSERT_TRUE(layer.icon());
    EXPECT_EQ(layer.icon()->originalSize(), QSizeF(76, 76));

    // 12-point text laid out at 72 dpi: one line is 14 points high.
    const QImage image = draw(layer, QRectF(0, 0, 800, 600));
    const double factor = 0.1 * 600 / 14;
    ASSERT_TRUE(layer.stringToDraw());
    EXPECT_NEAR(layer.stringToDraw()->runs().first().attributes.font->size, 12 * factor, 1e-9);
    EXPECT_NEAR(layer.lastScale(), factor, 1e-12);
    const QRectF drawn = layer.lastDrawingRect();
    EXPECT_NEAR(drawn.height(), 60, 1.5);
    EXPECT_NEAR(drawn.center().x(), 400, 0.01);
    EXPECT_NEAR(drawn.center().y(), 300, 0.01);
    // The ink lies inside the drawn rect and fills most of its width.
    const QRectF ink = inkBounds(image);
    ASSERT_FALSE(ink.isNull());
    EXPECT_TRUE(drawn.adjusted(-1, -1, 1, 1).contains(ink)) << ink.x() << "," << ink.y() << " " << ink.width();
    EXPECT_GT(ink.width(), drawn.width() * 0.8);
    EXPECT_GT(ink.height(), 30);
    // Twice the rect, twice the text.
    draw(layer, QRectF(0, 0, 800, 1200), QSize(800, 1200));
    EXPECT_NEAR(layer.lastDrawingRect().height(), 120, 3);
}

TEST(KTTextOverlaySize, OnlyTheFirstLineSetsTheFactor)
{
    StyledText text(QStringLiteral("Big\n"), attributes(24));
    text.append(QStringLiteral("small line"), attributes(12));
    KTTextOverlayLayer layer;
    layer.setOverlayText(text);
    draw(layer, QRectF(0, 0, 800, 1000), QSize(800, 1000));
    // The 24-point first line is 28 high: 100 / 28 for every font.
    const double factor = 100.0 / 28;
    ASSERT_TRUE(layer.stringToDraw());
    const QList<StyledText::Run> runs = layer.stringToDraw()->runs();
    ASSERT_EQ(runs.size(), 2);
    EXPECT_NEAR(runs[0].attributes.font->size, 24 * factor, 1e-9);
    EXPECT_NEAR(runs[1].attributes.font->size, 12 * factor, 1e-9);
    EXPECT_NEAR(layer.lastDrawingRect().height(), 100 + 50, 3);
}

TEST(KTTextOverlaySize, EmptyFirstLineDrawsNothing)
{
    KTTextOverlayLayer layer;
    KTOverlayPositioning placed;
    placed.hSnap = 0;
    placed.vSnap = 1;
    placed.position = QPointF(0.1, 0.1);
    layer.setPositioning(placed);
    layer.setIsSelected(true);
    // An empty text, and a text that begins with a line break.
    for (const QString &s : {QString(), QStringLiteral("\nsecond line")}) {
        layer.setOverlayText(styled(s));
        const QImage image = draw(layer, QRectF(0, 0, 400, 300), QSize(400, 300));
        EXPECT_TRUE(isBlank(image));
        EXPECT_TRUE(layer.lastDrawingRect().isEmpty());
        EXPECT_EQ(layer.lastDrawingRect().topLeft(), QPointF(40, 270));
    }
    // A zero-height rect draws nothing either.
    layer.setOverlayText(styled(QStringLiteral("x")));
    EXPECT_TRUE(isBlank(draw(layer, QRectF(0, 0, 400, 0), QSize(400, 300))));
}

TEST(KTTextOverlaySize, AnchorsPlaceAndAlignTheText)
{
    KTTextOverlayLayer layer;
    StyledText text(QStringLiteral("Wide first line\n"), attributes(12));
    text.append(QStringLiteral("ab"), attributes(12));
    layer.setOverlayText(text);
    const QRectF container(0, 0, 800, 600);
    // Offsets 0.1 of the width and 0.05 of the height from each anchor.
    for (std::uint64_t h = 0; h < 3; ++h) {
        for (std::uint64_t v = 0; v < 3; ++v) {
            KTOverlayPositioning placed;
            placed.position = QPointF(0.1, 0.05);
            placed.hSnap = h;
            placed.vSnap = v;
            layer.setPositioning(placed);
            const QImage image = draw(layer, container);
            const QRectF r = layer.lastDrawingRect();
            const QRectF ink = inkBounds(image);
            SCOPED_TRACE(testing::Message() << h << "/" << v << " ink " << ink.x() << "," << ink.y() << " "
                                            << ink.width() << "x" << ink.height());
            const double x = h == 0 ? 80 : h == 1 ? 800 - 80 - r.width() : 400 + 80 - r.width() / 2;
            const double y = v == 0 ? 30 : v == 1 ? 600 - 30 - r.height() : 300 + 30 - r.height() / 2;
            EXPECT_NEAR(r.x(), x, 1e-9);
            EXPECT_NEAR(r.y(), y, 1e-9);
            EXPECT_TRUE(r.adjusted(-1, -1, 1, 1).contains(ink));
            // The wide first line spans the rect; the short second line
            // follows the anchor's alignment.
            const QImage second = image.copy(0, int(600 - (r.y() + r.height() / 2)), 800, int(r.height() / 2));
            const QRectF secondInk = inkBounds(second);
            ASSERT_FALSE(secondInk.isNull());
            const double leftGap = secondInk.x() - r.x();
            const double rightGap = r.right() - secondInk.right();
            if (h == 0)
                EXPECT_LT(leftGap, 5);
            else if (h == 1)
                EXPECT_LT(rightGap, 5);
            else
                EXPECT_NEAR(leftGap, rightGap, 4);
        }
    }
}

TEST(KTTextOverlaySize, ScaleOpacityAndValidation)
{
    KTTextOverlayLayer layer;
    layer.setScale(0.9);
    EXPECT_DOUBLE_EQ(layer.scale(), 0.8);
    layer.setScale(0.001);
    EXPECT_DOUBLE_EQ(layer.scale(), 0.005);
    QVariant v(0.7);
    EXPECT_TRUE(layer.validateValue(v, QStringLiteral("scale")));
    EXPECT_DOUBLE_EQ(v.toDouble(), 0.5);
    v = -0.2;
    EXPECT_TRUE(layer.validateValue(v, QStringLiteral("opacity")));
    EXPECT_DOUBLE_EQ(v.toDouble(), 0.0);

    layer.setScale(0.1);
    layer.setOverlayText(styled(QStringLiteral("Fade")));
    layer.setOpacity(0.5);
    const QImage image = draw(layer, QRectF(0, 0, 400, 300), QSize(400, 300));
    int maxAlpha = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            maxAlpha = std::max(maxAlpha, image.pixelColor(x, y).alpha());
    EXPECT_NEAR(maxAlpha, 128, 3);
}

TEST(KTTextOverlayPlaceholders, FilledFromThePhotosMetadata)
{
    const QString path = photoWithMetadata(QStringLiteral("harbour"), "Harbour");
    auto design = designWithPhoto(path);
    auto layer = std::make_shared<KTTextOverlayLayer>();
    layer->setOverlayText(styled(QStringLiteral("{{IPTC headline}} {{EXIF long date}}")));
    // Before the layer is in a design the text is drawn as typed.
    EXPECT_FALSE(layer->processedOverlayString());
    auto raw = std::make_shared<KTTextOverlayLayer>();
    raw->setOverlayText(styled(QStringLiteral("{{IPTC headline}} {{EXIF long date}}")));
    EXPECT_EQ(draw(*layer, QRectF(0, 0, 800, 200), QSize(800, 200)), draw(*raw, QRectF(0, 0, 800, 200), QSize(800, 200)));

    design->addTopmostLayer(layer);
    const QImage filled = draw(*layer, QRectF(0, 0, 800, 200), QSize(800, 200));
    const QString expected =
        QStringLiteral("Harbour ") + QLocale().toString(QDate(2014, 7, 21), QLocale::LongFormat);
    ASSERT_TRUE(layer->processedOverlayString());
    EXPECT_EQ(layer->processedOverlayString()->string(), expected);
    // Pixel for pixel the same as the values typed by hand.
    auto typed = std::make_shared<KTTextOverlayLayer>();
    typed->setOverlayText(styled(expected));
    EXPECT_EQ(filled, draw(*typed, QRectF(0, 0, 800, 200), QSize(800, 200)));
    // The typed text keeps its placeholders; the icon shows them too.
    EXPECT_EQ(layer->overlayText().string(), QStringLiteral("{{IPTC headline}} {{EXIF long date}}"));

    // Another photo: a new manager, the text follows.
    const QString other = photoWithMetadata(QStringLiteral("meadow"), "Meadow");
    ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(other)));
    draw(*layer, QRectF(0, 0, 800, 200), QSize(800, 200));
    EXPECT_TRUE(layer->processedOverlayString()->string().startsWith(QStringLiteral("Meadow ")));

    // Once removed, the design's later managers no longer reach the layer.
    design->removeLayer(layer);
    auto manager = std::make_shared<VLImageMetadataManager>();
    design->setMetadataManager(manager);
    EXPECT_TRUE(layer->processedOverlayString()->string().startsWith(QStringLiteral("Meadow ")));
}

TEST(KTTextOverlayPlaceholders, InsertedValuesAreNeverSearchedAgain)
{
    // A photo whose file name holds another placeholder.
    const QString path = photoWithMetadata(QStringLiteral("{{IPTC headline}}"), "Harbour");
    auto design = designWithPhoto(path);
    const QString name = QFileInfo(path).fileName();
    auto manager = design->metadataManager();
    EXPECT_EQ(manager->processTemplateString(QStringLiteral("{{File name}}|{{IPTC headline}}")),
              name + QStringLiteral("|Harbour"));

    auto layer = std::make_shared<KTTextOverlayLayer>();
    StyledText text(QStringLiteral("A "), attributes(12));
    text.append(QStringLiteral("{{File name}}"), attributes(18, StyledText::Center, Qt::blue));
    text.append(QStringLiteral(" {{IPTC headline}}"), attributes(12));
    layer->setOverlayText(text);
    design->addTopmostLayer(layer);
    draw(*layer, QRectF(0, 0, 400, 300), QSize(400, 300));
    ASSERT_TRUE(layer->processedOverlayString());
    const StyledText processed = *layer->processedOverlayString();
    EXPECT_EQ(processed.string(), QStringLiteral("A ") + name + QStringLiteral(" Harbour"));
    // The file name took the placeholder's style.
    const StyledText::Attributes nameStyle = processed.attributesAt(3);
    ASSERT_TRUE(nameStyle.font);
    EXPECT_DOUBLE_EQ(nameStyle.font->size, 18);
    EXPECT_EQ(nameStyle.color->toQColor(), QColor(Qt::blue));
}

TEST(KTTextOverlayMouse, BodyDragSnapsAndReAlignsToTheNewAnchor)
{
    KTTextOverlayLayer layer;
    StyledText text(QStringLiteral("Caption line\n"), attributes(12, StyledText::Left));
    text.append(QStringLiteral("x"), attributes(12, StyledText::Left));
    layer.setOverlayText(text);
    KTOverlayPositioning placed;
    placed.hSnap = 0;
    placed.position = QPointF(0.05, 0);
    layer.setPositioning(placed);
    EXPECT_EQ(layer.overlayText().attributesAt(0).paragraphStyle->alignment, int(StyledText::Left));
    const QRectF container(50, 50, 700, 500);
    draw(layer, container);
    const QRectF start = layer.lastDrawingRect();
    EXPECT_NEAR(start.x(), 50 + 35, 1e-9);

    const QMouseEvent plain = mouseEvent();
    const QPointF grab = start.center();
    layer.mouseDownAtPoint(grab, &plain);
    ASSERT_TRUE(layer.isDragging());
    // Past the middle, near the right edge: right anchor, right-aligned.
    const double toRight = (50 + 700 - 10) - start.right();
    layer.mouseDraggedAtPoint(grab + QPointF(toRight, 0), &plain);
    EXPECT_EQ(layer.positioning().hSnap, 1u);
    EXPECT_EQ(layer.positioning().position.x(), 0.0); // 10 points is within 3.5 %
    EXPECT_EQ(layer.overlayText().attributesAt(0).paragraphStyle->alignment, int(StyledText::Right));
    QImage image = draw(layer, container);
    EXPECT_NEAR(layer.lastDrawingRect().right(), 750, 1e-9);
    // Solid guide on the right edge, reaching 12 points beyond the container.
    EXPECT_TRUE(isGuide(at(image, 750, 44))) << describe(at(image, 750, 44)).toStdString();

    // 0.03 of the width from the centre snaps onto it...
    const double toCentre = 400 + 0.03 * 700 - start.center().x();
    layer.mouseDraggedAtPoint(grab + QPointF(toCentre, 0), &plain);
    EXPECT_EQ(layer.positioning().hSnap, 2u);
    EXPECT_EQ(layer.positioning().position.x(), 0.0);
    EXPECT_EQ(layer.overlayText().attributesAt(0).paragraphStyle->alignment, int(StyledText::Center));
    image = draw(layer, container);
    EXPECT_NEAR(layer.lastDrawingRect().center().x(), 400, 1e-9);
    // ...unless Option is held; the guide is dashed then.
    const QMouseEvent option = mouseEvent(Qt::AltModifier);
    layer.mouseDraggedAtPoint(grab + QPointF(toCentre, 0), &option);
    EXPECT_NEAR(layer.positioning().position.x(), 0.03, 1e-9);
    image = draw(layer, container);
    int clear = 0;
    int red = 0;
    for (int y = 38; y < 62; ++y) {
        clear += at(image, 400, y).alpha() == 0 ? 1 : 0;
        red += isGuide(at(image, 400, y)) ? 1 : 0;
    }
    EXPECT_GT(clear, 3);
    EXPECT_GT(red, 3);

    QSignalSpy fast(&layer, &KTLayer::layerChangedFastRedraw);
    layer.mouseUpAtPoint(QPointF(0, 0), &plain);
    EXPECT_EQ(fast.count(), 1);
    EXPECT_FALSE(layer.isDragging());
    image = draw(layer, container);
    EXPECT_EQ(at(image, 400, 44).alpha(), 0);
}

TEST(KTTextOverlayMouse, HandlesResizeWithinTheirRange)
{
    KTTextOverlayLayer layer;
    layer.setOverlayText(styled(QStringLiteral("Resize me")));
    layer.setScale(0.5);
    const QRectF container(0, 0, 800, 600);
    draw(layer, container);
    const QRectF start = layer.lastDrawingRect();
    const QMouseEvent plain = mouseEvent();
    const double w = start.width();

    // Handle 0 at the upper right: candidates 0.04 and 1.2 change nothing.
    layer.mouseDownAtPoint(start.bottomRight(), &plain); // y-up: (right, top)
    ASSERT_TRUE(layer.isDragging());
    layer.mouseDraggedAtPoint(start.bottomRight() + QPointF(-0.92 * w, 0), &plain);
    EXPECT_DOUBLE_EQ(layer.scale(), 0.5);
    layer.mouseDraggedAtPoint(start.bottomRight() + QPointF(1.4 * w, 0), &plain);
    EXPECT_DOUBLE_EQ(layer.scale(), 0.5);
    // 0.9 is taken and stored as 0.8.
    layer.mouseDraggedAtPoint(start.bottomRight() + QPointF(0.8 * w, 30), &plain);
    EXPECT_DOUBLE_EQ(layer.scale(), 0.8);
    // Shrinking to 0.3 about the centre anchor.
    layer.mouseDraggedAtPoint(start.bottomRight() + QPointF(-0.4 * w, 0), &plain);
    EXPECT_NEAR(layer.scale(), 0.3, 1e-12);
    layer.mouseUpAtPoint(QPointF(0, 0), &plain);
    const QImage image = draw(layer, container);
    EXPECT_NEAR(layer.lastDrawingRect().height(), 0.3 * 600, 4);
    EXPECT_NEAR(layer.lastDrawingRect().center().x(), 400, 1e-9);
    EXPECT_TRUE(layer.lastDrawingRect().adjusted(-1, -1, 1, 1).contains(inkBounds(image)));

    // Handle 3 at the lower left grows when dragged to the left.
    const QRectF now = layer.lastDrawingRect();
    layer.mouseDownAtPoint(now.topLeft(), &plain); // y-up: (left, bottom)
    layer.mouseDraggedAtPoint(now.topLeft() - QPointF(now.width() / 3, 0), &plain);
    EXPECT_NEAR(layer.scale(), 0.4, 1e-12);
    layer.mouseUpAtPoint(QPointF(0, 0), &plain);
}

TEST(KTTextOverlayMouse, SelectionHandlesAtFullOpacity)
{
    KTTextOverlayLayer layer;
    layer.setOverlayText(styled(QStringLiteral("Handles")));
    layer.setOpacity(0.3);
    QSignalSpy fast(&layer, &KTLayer::layerChangedFastRedraw);
    layer.setIsSelected(true);
    EXPECT_EQ(fast.count(), 1);
    QImage image = draw(layer, QRectF(0, 0, 400, 300), QSize(400, 300));
    const QRectF r = layer.lastDrawingRect();
    // Just outside the upper right corner, inside its handle square.
    const QColor handle = at(image, r.right() + 2, r.bottom() + 2);
    EXPECT_GT(handle.alpha(), 190);
    EXPECT_TRUE(layer.isHitAtPoint(QPointF(r.right() + 3, r.bottom() + 3)));
    EXPECT_FALSE(layer.isHitAtPoint(QPointF(r.right() + 8, r.bottom() + 8)));
    layer.setIsSelected(false);
    image = draw(layer, QRectF(0, 0, 400, 300), QSize(400, 300));
    EXPECT_EQ(at(image, r.right() + 2, r.bottom() + 2).alpha(), 0);
}

TEST(KTTextOverlayArchive, StyledTextWithPlaceholdersRoundTrips)
{
    KTTextOverlayLayer layer;
    StyledText text(QStringLiteral("Shot on "), attributes(14, StyledText::Right, QColor(200, 30, 40)));
    text.append(QStringLiteral("{{EXIF short date}}"), attributes(20, StyledText::Right, Qt::blue));
    layer.setOverlayText(text);
    layer.setScale(0.2);
    layer.setOpacity(0.75);
    KTOverlayPositioning placed;
    placed.position = QPointF(0.1, -0.2);
    placed.hSnap = 1;
    placed.vSnap = 0;
    layer.setPositioning(placed);

    platform::KeyedArchiver archiver;
    layer.encodeTextOverlayKeys(archiver);
    archiver.finishEncoding();
    platform::KeyedUnarchiver reader(archiver.encodedData());
    EXPECT_EQ(reader.decodeIntegerForKey(QStringLiteral("version")), 2);

    KTTextOverlayLayer back;
    platform::KeyedUnarchiver unarchiver(archiver.encodedData());
    back.decodeTextOverlayKeys(unarchiver);
    EXPECT_FALSE(unarchiver.hasError());
    EXPECT_EQ(back.overlayText(), layer.overlayText());
    EXPECT_DOUBLE_EQ(back.scale(), double(0.2f));
    EXPECT_DOUBLE_EQ(back.opacity(), double(0.75f));
    EXPECT_EQ(back.positioning(), placed);
    EXPECT_FALSE(back.needToAdjustScale());
    ASSERT_TRUE(back.icon());
    EXPECT_EQ(draw(back, QRectF(0, 0, 400, 300)), draw(layer, QRectF(0, 0, 400, 300)));
}

TEST(KTTextOverlayArchive, EarlierFormatIsRealignedAndRescaledOnce)
{
    // No "version", "hsnap" without "vsnap": the text's centre, and a scale
    // that fitted the whole text into the rect.
    platform::KeyedArchiver old;
    old.encodeFloat(0.5f, QStringLiteral("scale"));
    old.encodePoint(QPointF(0.5, 0.6), QStringLiteral("position"));
    old.encodeInteger(0, QStringLiteral("hsnap"));
    old.encodeFloat(1.0f, QStringLiteral("opacity"));
    StyledText text(QStringLiteral("Wide first line here\n"), attributes(12, StyledText::Left));
    text.append(QStringLiteral("and a second one"), attributes(12, StyledText::Left));
    old.encodeObject(QVariant::fromValue(text), QStringLiteral("watermarkText"));
    old.finishEncoding();

    KTTextOverlayLayer layer;
    platform::KeyedUnarchiver unarchiver(old.encodedData());
    layer.decodeTextOverlayKeys(unarchiver);
    EXPECT_EQ(layer.positioning().hSnap, 2u);
    EXPECT_EQ(layer.positioning().vSnap, 2u);
    EXPECT_NEAR(layer.positioning().position.y(), 0.1, 1e-9);
    EXPECT_TRUE(layer.needToAdjustScale());
    EXPECT_EQ(layer.overlayText().attributesAt(0).paragraphStyle->alignment, int(StyledText::Center));

    // The whole text was 0.5 of the width wide; now the first line is.
    draw(layer, QRectF(0, 0, 800, 600));
    EXPECT_FALSE(layer.needToAdjustScale());
    const double converted = layer.scale();
    EXPECT_LT(converted, 0.5);
    EXPECT_NEAR(layer.lastDrawingRect().width(), 400, 6); // glyph advances do not scale exactly
    draw(layer, QRectF(0, 0, 400, 300), QSize(400, 300));
    EXPECT_DOUBLE_EQ(layer.scale(), converted);

    // A missing text reads as an empty one.
    platform::KeyedArchiver bare;
    bare.encodeInteger(2, QStringLiteral("version"));
    bare.finishEncoding();
    KTTextOverlayLayer empty;
    platform::KeyedUnarchiver bareReader(bare.encodedData());
    empty.decodeTextOverlayKeys(bareReader);
    EXPECT_TRUE(empty.overlayText().isEmpty());
    EXPECT_DOUBLE_EQ(empty.scale(), 0.005);
    EXPECT_TRUE(isBlank(draw(empty, QRectF(0, 0, 400, 300))));
}

TEST(KTTextOverlayArchive, CopyForRenderingDrawsTheSame)
{
    const QString path = photoWithMetadata(QStringLiteral("copy"), "Copied");
    auto design = designWithPhoto(path);
    auto layer = std::make_shared<KTTextOverlayLayer>();
    layer->setOverlayText(styled(QStringLiteral("{{IPTC headline}}")));
    design->addTopmostLayer(layer);
    auto copy = design->copyForRendering();
    auto copied = std::dynamic_pointer_cast<KTTextOverlayLayer>(copy->layerAtIndex(0));
    ASSERT_TRUE(copied);
    EXPECT_EQ(draw(*copied, QRectF(0, 0, 400, 300)), draw(*layer, QRectF(0, 0, 400, 300)));
    EXPECT_EQ(copied->processedOverlayString()->string(), QStringLiteral("Copied"));
}

TEST(KTTextOverlayDrawing, TextKeepsItsColourInAPictureOfAWideGamutProfile)
{
    KTTextOverlayLayer layer;
    const QColor red(200, 30, 30);
    layer.setOverlayText(StyledText(QStringLiteral("MW"), attributes(12, StyledText::Center, red)));
    QImage image(400, 300, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setColorSpace(QColorSpace(QColorSpace::ProPhotoRgb));
    {
        platform::DrawingContext ctx(image);
        layer.drawLayerForRect(QRectF(0, 0, 400, 300), true, true);
    }
    // Where the ink covers whole pixels, a colour-managed viewer shows the text's own red.
    const QImage shown = image.convertedToColorSpace(QColorSpace(QColorSpace::SRgb));
    int solid = 0, worst = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            if (qAlpha(shown.pixel(x, y)) == 255) {
                ++solid;
                worst = std::max(worst, channelDifference(shown.pixel(x, y), red.rgb()));
            }
        }
    }
    EXPECT_GT(solid, 50);
    EXPECT_LE(worst, 3);
}
