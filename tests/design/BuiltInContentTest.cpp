#include "DesignTestArchives.h"
#include "design/DesignArchiveClasses.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTCornerFrameLayer.h"
#include "design/KTImageOverlayLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "design/TemplatesStore.h"
#include "design/VLImage.h"
#include "platform/Bundle.h"
#include "platform/render/DrawingContext.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/KTFrameLibraryImporter.h"
#include "stores/LibraryStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QUuid>

namespace {

struct ImportDone : KTFrameLibraryImporterDelegate {
    bool finished = false;
    bool failed = false;
    void importerDidFinish(KTFrameLibraryImporter *) override { finished = true; }
    void importerFailedWithError(KTFrameLibraryImporter *, const platform::Error &) override { failed = true; }
    void importerProgress(KTFrameLibraryImporter *, double) override {}
};

// The shipped library imported into a fresh store made shared for this process.
class BuiltInContent : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resources = platform::Bundle::resourcePath();
        archive = resources + QStringLiteral("/InitialFrames.ktframes");
        ASSERT_TRUE(QFileInfo::exists(archive)) << "the content generator runs with the build";
        folder = testsupport::scratchDir() + QStringLiteral("/content-") + QUuid::createUuid().toString(QUuid::Id128);
        store = std::make_unique<LibraryStore>(nullptr, folder);
        LibraryStore::setShared(store.get());
        QDir().mkpath(store->framesGraphicsFolder());
        registerDesignArchiveClasses();
        ImportDone done;
        auto importer = std::make_shared<KTFrameLibraryImporter>(QUrl::fromLocalFile(archive),
                                                                 QUrl::fromLocalFile(store->framesGraphicsFolder()),
                                                                 store->managedObjectContext());
        importer->setDelegate(&done);
        importer->startImport();
        // Generous: several of these import at once in instrumented builds.
        ASSERT_TRUE(testsupport::waitUntil([&] { return done.finished || done.failed; }, 300000));
        ASSERT_TRUE(done.finished);
        testsupport::waitUntil([] { return false; }, 50);
    }
    void TearDown() override { LibraryStore::setShared(nullptr); }

    QString resources, archive, folder;
    std::unique_ptr<LibraryStore> store;
};

} // namespace

TEST_F(BuiltInContent, EveryFrameHasItsGraphicsALayerAndAnIcon)
{
    const QList<Frame *> frames = store->managedObjectContext()->fetchObjects<Frame>();
    EXPECT_GE(frames.size(), 45);
    QSet<QString> types;
    for (Frame *frame : frames) {
        SCOPED_TRACE(frame->name().toStdString());
        types.insert(frame->frametype() ? frame->frametype()->name() : QString());
        for (FrameAttribute *attribute : frame->attributes()) {
            if (attribute->kind() != FrameAttribute::KindImage || !attribute->imageVal())
                continue;
            EXPECT_TRUE(QFileInfo(attribute->imageVal()->imagePath()).isFile());
        }
        auto layer = KTFrameLayer::frameLayerFromFrame(frame);
        ASSERT_TRUE(layer);
        EXPECT_FALSE(layer->iconOfSize(QSizeF(64, 64)).isNull());
        EXPECT_FALSE(frame->iconImage().isNull());
    }
    EXPECT_EQ(types, (QSet<QString>{"Moulding", "Moulding with corners", "Full frame", "Color Mat"}));

    // The library panel shows collections and sets by their icons too.
    for (FrameCollection *collection : store->managedObjectContext()->fetchObjects<FrameCollection>())
        EXPECT_FALSE(collection->iconImage().isNull()) << collection->name().toStdString();
    for (FrameSet *set : store->managedObjectContext()->fetchObjects<FrameSet>())
        EXPECT_FALSE(set->iconImage().isNull()) << set->name().toStdString();
}

TEST_F(BuiltInContent, MaskPicturesAreCentredOnThePhoto)
{
    // A mask is stretched over the photo: an off-centre window would cut
    // one side of the picture away.
    int masks = 0;
    for (Frame *frame : store->managedObjectContext()->fetchObjects<Frame>()) {
        bool actsAsMask = false;
        for (FrameAttribute *attribute : frame->attributes())
            actsAsMask |= attribute->name() == QLatin1String("Act as mask") && attribute->boolVal().value_or(false);
        if (!actsAsMask)
            continue;
        for (FrameAttribute *attribute : frame->attributes()) {
            if (attribute->kind() != FrameAttribute::KindImage || !attribute->imageVal())
                continue;
            SCOPED_TRACE((frame->name() + QLatin1Char('/') + attribute->name()).toStdString());
            const QImage picture = QImage(attribute->imageVal()->imagePath()).convertToFormat(QImage::Format_ARGB32);
            ASSERT_FALSE(picture.isNull());
            ++masks;
            const int w = picture.width(), h = picture.height();
            for (int i = 1; i < 8; ++i) {
                for (int j = 1; j < 8; ++j) {
                    const int x = w * i / 8, y = h * j / 8;
                    const int a = qAlpha(picture.pixel(x, y));
                    EXPECT_NEAR(a, qAlpha(picture.pixel(x, h - 1 - y)), 12) << "at " << x << "," << y;
                    EXPECT_NEAR(a, qAlpha(picture.pixel(w - 1 - x, y)), 12) << "at " << x << "," << y;
                }
            }
        }
    }
    EXPECT_GE(masks, 2);
}

TEST_F(BuiltInContent, EveryDesignDecodesWithItsFramesRendersAndImportsOnce)
{
    const QList<QUrl> urls = TemplatesStore::builtInTemplateURLs();
    EXPECT_GE(urls.size(), 10);
    int datedDesigns = 0;
    QImage photo(600, 400, QImage::Format_RGB32);
    photo.fill(QColor(0, 160, 60));
    // A shooting date, so the dated design has a text to draw.
    const QString photoPath = folder + QStringLiteral("/photo.jpg");
    ASSERT_TRUE(photo.save(photoPath, "JPEG", 95));
    ASSERT_EQ(testsupport::runProgram(QStringLiteral("exiftool"),
                                      {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                       QStringLiteral("-DateTimeOriginal=2021:05:06 07:08:09"), photoPath})
                  .exitCode,
              0);
    for (const QUrl &url : urls) {
        SCOPED_TRACE(url.toLocalFile().toStdString());
        const auto wrapper = KTTemplate::fileWrapperForURL(url);
        ASSERT_TRUE(wrapper);
        QStringList tags;
        auto design = KTTemplate::templateFromFileWrapper(*wrapper, store->managedObjectContext(), &tags);
        ASSERT_TRUE(design);
        EXPECT_FALSE(tags.isEmpty());
        EXPECT_FALSE(design->variationGUID().isEmpty());
        EXPECT_GE(design->layers().size(), 2);
        for (const auto &layer : design->layers()) {
            if (auto text = std::dynamic_pointer_cast<KTTextOverlayLayer>(layer))
                datedDesigns += text->overlayText().string().contains(QStringLiteral("{{EXIF long date}}")) ? 1 : 0;
            if (auto frameLayer = std::dynamic_pointer_cast<KTFrameLayer>(layer)) {
                EXPECT_FALSE(frameLayer->missesFrameInLibrary()) << frameLayer->layerName().toStdString();
            }
        }
        EXPECT_FALSE(design->hasLayersThatMissGraphics());
        ASSERT_TRUE(design->importImage(QUrl::fromLocalFile(photoPath)));
        EXPECT_EQ(design->reasonNotToDraw(QSize(6000, 4000), true), QString()) << "far from every bound";
        const QImage framed = design->iconOfSize(QSizeF(300, 300), true);
        ASSERT_FALSE(framed.isNull());
        // The photo shows in the middle of the framed picture.
        const QColor centre = framed.pixelColor(framed.width() / 2, framed.height() / 2);
        EXPECT_GT(centre.green(), 120);
        EXPECT_LT(centre.red(), 60);
        // Overlays sit wholly inside the picture they are placed on.
        QImage canvas(400, 300, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        {
            platform::DrawingContext ctx(canvas);
            design->drawToRect(design->finalFramedRectFittingStartRect(QRectF(0, 0, 400, 300)), true, false, {}, false);
        }
        for (const auto &layer : design->layers()) {
            if (auto text = std::dynamic_pointer_cast<KTTextOverlayLayer>(layer)) {
                const QRectF in = text->lastInRect();
                const QRectF drawn = text->lastDrawingRect();
                ASSERT_FALSE(drawn.isEmpty()) << "the text was drawn";
                EXPECT_TRUE(in.contains(drawn)) << "text at " << drawn.x() << "," << drawn.y() << " "
                                                << drawn.width() << "x" << drawn.height();
                EXPECT_LT(drawn.width(), in.width() / 2) << "a stamp, not a headline";
            }
        }
    }

    EXPECT_EQ(datedDesigns, 1);

    TemplatesStore templates(folder);
    EXPECT_EQ(templates.importInitialTemplates(store->managedObjectContext()), urls.size());
    EXPECT_EQ(templates.importInitialTemplates(store->managedObjectContext()), 0);
}

TEST_F(BuiltInContent, NamedPicturesAreThere)
{
    for (const char *name : {"NoIcon.png", "Placeholder.png", "Startup_image.jpg", "mask.png"}) {
        QImage picture(resources + QLatin1Char('/') + QLatin1String(name));
        EXPECT_FALSE(picture.isNull()) << name;
    }
}

TEST_F(BuiltInContent, ADesignWithEveryLayerKindComesBackKeyForKey)
{
    platform::ManagedObjectContext *moc = store->managedObjectContext();
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(std::make_shared<KTImageLayer>(), 0);
    design->imageLayer()->setCropTop(0.1);
    QStringList kinds;
    for (const char *name : {"Cream", "Walnut", "Baroque Gold", "Deckled Paper", "Oval Vignette"}) {
        Frame *frame = nullptr;
        for (Frame *f : moc->fetchObjects<Frame>())
            if (f->name() == QLatin1String(name))
                frame = f;
        ASSERT_TRUE(frame) << name;
        auto layer = KTFrameLayer::frameLayerFromFrame(frame);
        ASSERT_TRUE(layer) << name;
        layer->setShadowLength(0.4);
        design->addTopmostLayer(layer);
        kinds << layer->className();
    }
    auto picture = std::make_shared<KTImageOverlayLayer>();
    picture->setImagePath(resources + QStringLiteral("/Placeholder.png"));
    ASSERT_TRUE(picture->loadImage());
    design->addTopmostLayer(picture);
    auto text = std::make_shared<KTTextOverlayLayer>();
    text->setOverlayText(platform::StyledText(QStringLiteral("{{EXIF long date}}")));
    text->setScale(0.2);
    design->addTopmostLayer(text);
    EXPECT_EQ(QSet<QString>(kinds.begin(), kinds.end()),
              (QSet<QString>{"KTColorMatLayer", "KTMoldingFrameLayer", "KTCornerFrameLayer", "KTFullFrameLayer"}));

    const QByteArray data = design->dataForArchiving();
    auto back = KTTemplate::templateFromData(data, store->managedObjectContext());
    ASSERT_TRUE(back);
    ASSERT_EQ(back->layers().size(), design->layers().size());
    for (qsizetype i = 0; i < design->layers().size(); ++i)
        EXPECT_EQ(back->layers()[i]->className(), design->layers()[i]->className());
    // Every key of every object written again as it was read.
    EXPECT_EQ(designtest::archivedContents(back->dataForArchiving()), designtest::archivedContents(data));
}

namespace {

// The sharpest a moulding's picture can be drawn: its thickness across.
double thickness(const VLImage &picture, bool vertical)
{
    const QSizeF size = picture.originalSize();
    return vertical ? size.width() : size.height();
}

// Mean step between neighbouring columns, and the step from the last column
// round to the first, over the picture's rows.
std::pair<double, double> columnSteps(const QImage &picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const int w = image.width(), h = image.height();
    auto step = [&](int a, int b) {
        double sum = 0;
        for (int y = 0; y < h; ++y) {
            const QRgb p = image.pixel(a, y), q = image.pixel(b, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
        return sum / h;
    };
    double inside = 0;
    for (int x = 0; x + 1 < w; ++x)
        inside = std::max(inside, step(x, x + 1));
    return {inside, step(w - 1, 0)};
}

} // namespace

TEST_F(BuiltInContent, MouldingPicturesHoldUpOnA24MegapixelExport)
{
    // Every built-in design on a 6000 x 4000 photo: each moulding is drawn
    // at most as thick as its pictures, so none is stretched soft.
    int mouldings = 0;
    for (const QUrl &url : TemplatesStore::builtInTemplateURLs()) {
        SCOPED_TRACE(url.toLocalFile().toStdString());
        const auto wrapper = KTTemplate::fileWrapperForURL(url);
        ASSERT_TRUE(wrapper);
        auto design = KTTemplate::templateFromFileWrapper(*wrapper, store->managedObjectContext());
        ASSERT_TRUE(design);
        QRectF rect(0, 0, 6000, 4000);
        const auto layers = design->layers();
        for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
            if (auto moulding = std::dynamic_pointer_cast<KTMoldingFrameLayer>(*it)) {
                const double border = moulding->frameWidth() * std::min(rect.width(), rect.height());
                ++mouldings;
                ASSERT_TRUE(moulding->frameImageTop() && moulding->frameImageLeft());
                EXPECT_GE(thickness(*moulding->frameImageTop(), false), border) << moulding->layerName().toStdString();
                EXPECT_GE(thickness(*moulding->frameImageLeft(), true), border) << moulding->layerName().toStdString();
                if (auto corners = std::dynamic_pointer_cast<KTCornerFrameLayer>(*it)) {
                    ASSERT_TRUE(corners->frameImageTopLeft());
                    EXPECT_GE(corners->frameImageTopLeft()->originalSize().height(), border);
                }
            }
            rect = (*it)->resultingRectForRect(rect);
        }
    }
    EXPECT_GE(mouldings, 8);
    // A frame on its own takes the default tenth of the short side.
    for (Frame *frame : store->managedObjectContext()->fetchObjects<Frame>()) {
        auto moulding = std::dynamic_pointer_cast<KTMoldingFrameLayer>(KTFrameLayer::frameLayerFromFrame(frame));
        if (moulding) {
            EXPECT_GE(thickness(*moulding->frameImageTop(), false), 0.1 * 4000) << frame->name().toStdString();
        }
    }
}

TEST_F(BuiltInContent, MouldingPicturesRunOnAcrossTheirTiles)
{
    // A tile's last column leads into the next tile's first as smoothly as
    // any two neighbouring columns inside it: no seam every tile length.
    int pictures = 0;
    for (Frame *frame : store->managedObjectContext()->fetchObjects<Frame>()) {
        for (FrameAttribute *attribute : frame->attributes()) {
            if (attribute->name() != QLatin1String("Top Image") || !attribute->imageVal())
                continue;
            SCOPED_TRACE(frame->name().toStdString());
            const QImage picture(attribute->imageVal()->imagePath());
            ASSERT_FALSE(picture.isNull());
            const auto [inside, across] = columnSteps(picture);
            EXPECT_LE(across, inside + 1.0);
            ++pictures;
        }
    }
    EXPECT_GE(pictures, 30);
}
