#include "design/KTImageOverlayLayer.h"
#include "design/VLImage.h"
#include "platform/Log.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/render/DrawingContext.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QSignalSpy>

using namespace testsupport;

namespace {

const QColor kPictureColour(0, 160, 0);

// A real PNG file of a solid w x h picture.
QString pictureFile(int w, int h, QColor colour = kPictureColour)
{
    QImage picture(w, h, QImage::Format_RGB32);
    picture.fill(colour);
    const QString path = scratchFile(QStringLiteral("png"), QStringLiteral("overlay"));
    EXPECT_TRUE(picture.save(path));
    return path;
}

std::shared_ptr<KTImageOverlayLayer> overlayWithPicture(int w, int h)
{
    auto layer = std::make_shared<KTImageOverlayLayer>();
    layer->setImagePath(pictureFile(w, h));
    EXPECT_TRUE(layer->loadImage());
    return layer;
}

// Draws the layer into a transparent canvas; the container is `rect` (y-up).
QImage draw(KTImageOverlayLayer &layer, const QRectF &rect, QSize canvas = QSize(800, 600))
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

// The picture fills exactly `r`: inside each corner green, just outside clear.
void expectPictureAt(const QImage &image, const QRectF &r)
{
    SCOPED_TRACE(QStringLiteral("rect %1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString());
    for (QPointF p : {r.topLeft() + QPointF(1, 1), r.topRight() + QPointF(-2, 1), r.bottomLeft() + QPointF(1, -2),
                      r.bottomRight() + QPointF(-2, -2)}) {
        EXPECT_TRUE(near(at(image, p.x(), p.y()), kPictureColour, 8)) << describe(at(image, p.x(), p.y())).toStdString();
    }
    for (QPointF p : {r.topLeft() + QPointF(-2, 1), r.bottomRight() + QPointF(1, -2), r.topLeft() + QPointF(1, -2),
                      r.bottomRight() + QPointF(-2, 1)}) {
        if (p.x() >= 0 && p.y() >= 0 && p.x() < image.width() && p.y() < image.height()) {
            EXPECT_EQ(at(image, p.x(), p.y()).alpha(), 0);
        }
    }
}

// A guide pixel: red, at least partly covered (lines are anti-aliased).
bool isGuide(const QColor &c)
{
    return c.alpha() > 60 && c.red() > 180 && c.green() < 60 && c.blue() < 60;
}

QMouseEvent mouseEvent(Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    return QMouseEvent(QEvent::MouseMove, QPointF(), QPointF(), Qt::LeftButton, Qt::LeftButton, modifiers);
}

} // namespace

TEST(KTImageOverlaySize, PictureKeepsItsProportionsWithinTheContainer)
{
    auto layer = overlayWithPicture(200, 100);
    EXPECT_EQ(layer->icon(), layer->image());
    // The wider side spans 0.4 of the container's width: 320 x 160, centred.
    QImage image = draw(*layer, QRectF(0, 0, 800, 600));
    EXPECT_EQ(layer->lastDrawingRect(), QRectF(240, 220, 320, 160));
    expectPictureAt(image, QRectF(240, 220, 320, 160));
    // A narrow container: still the width rules, 120 x 60.
    draw(*layer, QRectF(0, 0, 300, 600));
    EXPECT_EQ(layer->lastDrawingRect().size(), QSizeF(120, 60));
    // A tall picture is limited by the height: 0.4 x 600 = 240 high.
    auto tall = overlayWithPicture(50, 100);
    draw(*tall, QRectF(0, 0, 800, 600));
    EXPECT_EQ(tall->lastDrawingRect(), QRectF(340, 180, 120, 240));
}

TEST(KTImageOverlaySize, EveryAnchorPlacesThePictureByPixel)
{
    auto layer = overlayWithPicture(200, 100);
    const QRectF container(0, 0, 800, 600);
    // Offsets 0.1 of the width and 0.05 of the height from each anchor.
    const double xs[] = {80, 800 - 80 - 320, 400 + 80 - 160};
    const double ys[] = {30, 600 - 30 - 160, 300 + 30 - 80};
    for (std::uint64_t h = 0; h < 3; ++h) {
        for (std::uint64_t v = 0; v < 3; ++v) {
            KTOverlayPositioning placed;
            placed.position = QPointF(0.1, 0.05);
            placed.hSnap = h;
            placed.vSnap = v;
            layer->setPositioning(placed);
            const QImage image = draw(*layer, container);
            const QRectF expected(xs[h], ys[v], 320, 160);
            EXPECT_EQ(layer->lastDrawingRect(), expected) << h << "/" << v;
            expectPictureAt(image, expected);
        }
    }
}

TEST(KTImageOverlaySize, ClippedToTheContainerAndFaded)
{
    auto layer = overlayWithPicture(200, 100);
    KTOverlayPositioning placed;
    placed.position = QPointF(-0.1, 0); // hangs out over the left edge
    placed.hSnap = 0;
    layer->setPositioning(placed);
    layer->setOpacity(0.5);
    EXPECT_DOUBLE_EQ(layer->image()->opacity(), 0.5);
    const QImage image = draw(*layer, QRectF(100, 50, 600, 500), QSize(800, 600));
    // Container 600 wide: 240 x 120 from x = 100 - 60 = 40, clipped at 100.
    EXPECT_EQ(layer->lastDrawingRect(), QRectF(40, 240, 240, 120));
    EXPECT_EQ(at(image, 60, 300).alpha(), 0);
    const QColor inside = at(image, 150, 300);
    EXPECT_NEAR(inside.alpha(), 128, 3);
    EXPECT_NEAR(inside.green(), 160, 4); // un-premultiplied colour unchanged
}

TEST(KTImageOverlaySize, ScaleAndOpacityStayInRange)
{
    KTImageOverlayLayer layer;
    EXPECT_DOUBLE_EQ(layer.scale(), 0.4);
    EXPECT_DOUBLE_EQ(layer.opacity(), 1.0);
    EXPECT_EQ(layer.positioning(), KTOverlayPositioning());
    EXPECT_FALSE(layer.loadImage()); // no path
    layer.setImagePath(scratchDir() + QStringLiteral("/missing.png"));
    EXPECT_FALSE(layer.loadImage());
    layer.setImagePath(scratchFile(QStringLiteral("png")));
    QFile junk(layer.imagePath());
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a picture");
    junk.close();
    EXPECT_FALSE(layer.loadImage());
    EXPECT_FALSE(layer.image());
    // Without a picture nothing is drawn and nothing breaks.
    draw(layer, QRectF(0, 0, 100, 100));
    EXPECT_TRUE(layer.lastDrawingRect().isNull());

    layer.setScale(3);
    EXPECT_DOUBLE_EQ(layer.scale(), 1.0);
    layer.setScale(0.01);
    EXPECT_DOUBLE_EQ(layer.scale(), 0.05);
    layer.setScale(std::nan(""));
    EXPECT_DOUBLE_EQ(layer.scale(), 0.05);
    QVariant v(1.5);
    EXPECT_TRUE(layer.validateValue(v, QStringLiteral("scale")));
    EXPECT_DOUBLE_EQ(v.toDouble(), 1.0);
    v = -0.3;
    EXPECT_TRUE(layer.validateValue(v, QStringLiteral("opacity")));
    EXPECT_DOUBLE_EQ(v.toDouble(), 0.0);
    v = 7;
    EXPECT_TRUE(layer.validateValue(v, QStringLiteral("other")));
    EXPECT_EQ(v.toInt(), 7);
}

TEST(KTImageOverlayMouse, BodyDragSnapsOntoTheAnchorUnlessOptionIsHeld)
{
    auto layer = overlayWithPicture(200, 100);
    const QRectF container(0, 0, 800, 600);
    draw(*layer, container);
    QSignalSpy fast(layer.get(), &KTLayer::layerChangedFastRedraw);
    EXPECT_TRUE(layer->isHitAtPoint(QPointF(400, 300)));
    EXPECT_FALSE(layer->isHitAtPoint(QPointF(100, 100)));

    // A press outside the picture and its handles starts nothing.
    layer->mouseDownAtPoint(QPointF(100, 100), nullptr);
    EXPECT_FALSE(layer->isDragging());

    // 16 points right is 0.02 of the width: snapped back onto the centre.
    const QMouseEvent plain = mouseEvent();
    layer->mouseDownAtPoint(QPointF(400, 300), &plain);
    EXPECT_TRUE(layer->isDragging());
    EXPECT_EQ(layer->cursorShape(), Qt::ClosedHandCursor);
    layer->mouseDraggedAtPoint(QPointF(416, 300), &plain);
    EXPECT_EQ(layer->positioning(), KTOverlayPositioning());
    QImage image = draw(*layer, container);
    expectPictureAt(image, QRectF(240, 220, 320, 160));
    // The guides show while dragging: solid red through the centre.
    EXPECT_TRUE(isGuide(at(image, 400, 100))) << describe(at(image, 400, 100)).toStdString();
    EXPECT_TRUE(isGuide(at(image, 100, 300))) << describe(at(image, 100, 300)).toStdString();

    // With Option the offset stays.
    const QMouseEvent option = mouseEvent(Qt::AltModifier);
    layer->mouseDraggedAtPoint(QPointF(416, 300), &option);
    EXPECT_NEAR(layer->positioning().position.x(), 0.02, 1e-9);
    EXPECT_EQ(layer->positioning().hSnap, 2u);
    image = draw(*layer, container);
    expectPictureAt(image, QRectF(256, 220, 320, 160));
    // The vertical guide through the centre anchor is dashed now.
    int clear = 0;
    int red = 0;
    for (int y = 0; y < 20; ++y) {
        clear += at(image, 400, y).alpha() == 0 ? 1 : 0;
        red += isGuide(at(image, 400, y)) ? 1 : 0;
    }
    EXPECT_GT(clear, 3);
    EXPECT_GT(red, 3);

    // Far to the lower left: the nearer edges become the anchors.
    layer->mouseDraggedAtPoint(QPointF(400 - 200, 300 - 190), &plain);
    EXPECT_EQ(layer->positioning().hSnap, 0u);
    EXPECT_EQ(layer->positioning().vSnap, 0u);
    EXPECT_NEAR(layer->positioning().position.x(), 0.05, 1e-9);
    image = draw(*layer, container);
    expectPictureAt(image, QRectF(40, 30, 320, 160));

    fast.clear();
    layer->mouseUpAtPoint(QPointF(200, 110), &plain);
    EXPECT_FALSE(layer->isDragging());
    EXPECT_EQ(fast.count(), 1);
    EXPECT_EQ(layer->cursorShape(), Qt::OpenHandCursor);
    // No guides once the drag has ended (they ran along the left and bottom edges).
    image = draw(*layer, container);
    EXPECT_EQ(at(image, 0, 500).alpha(), 0);
    EXPECT_EQ(at(image, 600, 0).alpha(), 0);
}

TEST(KTImageOverlayMouse, CornerHandlesResizeAboutTheAnchor)
{
    auto layer = overlayWithPicture(200, 100);
    const QRectF container(0, 0, 800, 600);
    draw(*layer, container);
    const QMouseEvent plain = mouseEvent();

    // Handle 2 sits at the lower right corner (560, 220): 80 right gives 0.5.
    EXPECT_TRUE(layer->isHitAtPoint(QPointF(564, 216)));
    layer->mouseDownAtPoint(QPointF(560, 220), &plain);
    EXPECT_EQ(layer->currentHandle(), 2);
    layer->mouseDraggedAtPoint(QPointF(640, 400), &plain); // vertical movement plays no part
    EXPECT_DOUBLE_EQ(layer->scale(), 0.5);
    QImage image = draw(*layer, container);
    expectPictureAt(image, QRectF(200, 200, 400, 200));
    // A step that would pass 1 leaves the scale as it was.
    layer->mouseDraggedAtPoint(QPointF(560 + 600, 220), &plain);
    EXPECT_DOUBLE_EQ(layer->scale(), 0.5);
    layer->mouseUpAtPoint(QPointF(0, 0), &plain);

    // Handle 3 at the lower left (200, 200): 100 to the left grows it too.
    layer->mouseDownAtPoint(QPointF(200, 200), &plain);
    EXPECT_EQ(layer->currentHandle(), 3);
    layer->mouseDraggedAtPoint(QPointF(100, 200), &plain);
    EXPECT_DOUBLE_EQ(layer->scale(), 0.625);
    layer->mouseDraggedAtPoint(QPointF(580, 200), &plain); // would be 0.025
    EXPECT_DOUBLE_EQ(layer->scale(), 0.625);
    layer->mouseUpAtPoint(QPointF(0, 0), &plain);
    image = draw(*layer, container);
    expectPictureAt(image, QRectF(150, 175, 500, 250));
}

TEST(KTImageOverlayMouse, SelectionDrawsHandlesAtOnce)
{
    auto layer = overlayWithPicture(200, 100);
    QSignalSpy fast(layer.get(), &KTLayer::layerChangedFastRedraw);
    layer->setIsSelected(true);
    EXPECT_EQ(fast.count(), 1);
    QImage image = draw(*layer, QRectF(0, 0, 800, 600));
    // The handle square centred on the upper right corner (560, 380) reaches
    // outside the picture, dark grey with a white outline.
    const QColor handle = at(image, 562, 382);
    EXPECT_GT(handle.alpha(), 150);
    EXPECT_LT(handle.red(), 60);
    EXPECT_GT(at(image, 564, 380).red(), 110);
    layer->setIsSelected(false);
    EXPECT_EQ(fast.count(), 2);
    image = draw(*layer, QRectF(0, 0, 800, 600));
    EXPECT_EQ(at(image, 562, 382).alpha(), 0);
}

TEST(KTImageOverlayArchive, KeysRoundTripWithThePicture)
{
    VLImage::registerArchiveClass();
    auto layer = overlayWithPicture(30, 20);
    layer->setScale(0.3);
    layer->setOpacity(0.7);
    KTOverlayPositioning placed;
    placed.position = QPointF(0.125, -0.25);
    placed.hSnap = 1;
    placed.vSnap = 0;
    layer->setPositioning(placed);

    platform::KeyedArchiver archiver;
    layer->encodeImageOverlayKeys(archiver);
    archiver.finishEncoding();
    KTImageOverlayLayer back;
    platform::KeyedUnarchiver unarchiver(archiver.encodedData());
    back.decodeImageOverlayKeys(unarchiver);
    EXPECT_FALSE(unarchiver.hasError());
    EXPECT_DOUBLE_EQ(back.scale(), double(0.3f));
    EXPECT_DOUBLE_EQ(back.opacity(), double(0.7f));
    EXPECT_EQ(back.positioning(), placed);
    ASSERT_TRUE(back.image());
    EXPECT_EQ(back.image()->originalSize(), QSizeF(30, 20));
    EXPECT_DOUBLE_EQ(back.image()->opacity(), double(0.7f));
    EXPECT_EQ(back.icon(), back.image());
    EXPECT_EQ(back.imagePath(), back.image()->originalImageFilePath());
    EXPECT_NE(back.imagePath(), layer->imagePath()); // a private copy of the file
}

TEST(KTImageOverlayArchive, MissingPictureKeepsThePathAndEarlierFormatIsCentred)
{
    // A layer whose picture could not be read stores only its path.
    KTImageOverlayLayer lost;
    const QString path = scratchDir() + QStringLiteral("/later.png");
    lost.setImagePath(path);
    QStringList lines;
    platform::setLogSink([&](const QString &line) { lines << line; });
    platform::KeyedArchiver archiver;
    lost.encodeImageOverlayKeys(archiver);
    archiver.finishEncoding();
    platform::setLogSink(nullptr);
    EXPECT_EQ(lines, QStringList{QStringLiteral("KTImageOverlayLayer: No image when encoding ") + path});

    // Decoding the user's own design tries the path again: the picture is there now.
    QImage picture(12, 6, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    ASSERT_TRUE(picture.save(path));
    KTImageOverlayLayer back;
    platform::KeyedUnarchiver unarchiver(archiver.encodedData());
    unarchiver.setReadsNamedFiles(true);
    back.decodeImageOverlayKeys(unarchiver);
    EXPECT_EQ(back.imagePath(), path);
    ASSERT_TRUE(back.image());
    EXPECT_EQ(back.image()->originalSize(), QSizeF(12, 6));

    // The earlier format: the picture's centre, without anchors.
    platform::KeyedArchiver old;
    old.encodeFloat(0.4f, QStringLiteral("scale"));
    old.encodePoint(QPointF(0.5, 0.75), QStringLiteral("position"));
    old.encodeInteger(1, QStringLiteral("hsnap"));
    old.encodeFloat(1.0f, QStringLiteral("opacity"));
    old.finishEncoding();
    KTImageOverlayLayer centred;
    platform::KeyedUnarchiver oldReader(old.encodedData());
    centred.decodeImageOverlayKeys(oldReader);
    EXPECT_EQ(centred.positioning().hSnap, 2u);
    EXPECT_EQ(centred.positioning().vSnap, 2u);
    EXPECT_EQ(centred.positioning().position, QPointF(0, 0.25));
    EXPECT_FALSE(centred.image());
}

TEST(KTImageOverlayArchive, CopyForRenderingSharesThePixels)
{
    auto layer = overlayWithPicture(40, 20);
    layer->setScale(0.25);
    layer->setOpacity(0.6);
    auto copy = std::dynamic_pointer_cast<KTImageOverlayLayer>(layer->copyForRendering());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->image()->bitmapCtx().constBits(), layer->image()->bitmapCtx().constBits());
    EXPECT_DOUBLE_EQ(copy->scale(), 0.25);
    EXPECT_DOUBLE_EQ(copy->image()->opacity(), 0.6);
    const QImage a = draw(*layer, QRectF(0, 0, 400, 300));
    const QImage b = draw(*copy, QRectF(0, 0, 400, 300));
    EXPECT_EQ(a, b);
}
