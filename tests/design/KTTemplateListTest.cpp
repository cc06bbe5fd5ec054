#include "DesignTestLayers.h"

#include "platform/Assert.h"

#include <gtest/gtest.h>

using namespace designtest;

namespace {

std::shared_ptr<KTTemplate> makeDesign()
{
    return std::make_shared<KTTemplate>();
}

QList<KTLayer *> order(const KTTemplate &design)
{
    QList<KTLayer *> out;
    for (const auto &layer : design.layers())
        out.append(layer.get());
    return out;
}

} // namespace

TEST(KTTemplateList, NewDesignDefaults)
{
    KTTemplate design;
    EXPECT_EQ(design.name(), QStringLiteral("Kantelo Design Template"));
    EXPECT_TRUE(design.layers().isEmpty());
    EXPECT_TRUE(design.drawShadows());
    EXPECT_EQ(design.shadowAngle(), 180);
    EXPECT_DOUBLE_EQ(design.shadowOffset(), 0.2);
    EXPECT_EQ(design.realWidth(), 10);
    EXPECT_EQ(design.lockedAspectRatio(), 0);
    EXPECT_FALSE(design.exportExternalShadow());
    EXPECT_EQ(design.onlyHQLayer(), nullptr);
    EXPECT_EQ(design.topmostLayer(), nullptr);
    EXPECT_EQ(design.layerAtIndex(0), nullptr);
    EXPECT_EQ(design.layerAtIndex(-1), nullptr);
    EXPECT_EQ(design.imageLayer(), nullptr);
}

TEST(KTTemplateList, TopmostFrameGoesJustInsideTheOverlays)
{
    auto design = makeDesign();
    auto photo = std::make_shared<FillLayer>();
    auto text1 = std::make_shared<KTTextOverlayLayer>();
    auto text2 = std::make_shared<KTTextOverlayLayer>();
    design->insertLayer(photo, 0);
    design->addTopmostLayer(text1);
    design->addTopmostLayer(text2);
    EXPECT_EQ(design->topmostFrameLayer(), nullptr); // first non-overlay is the photo

    auto frame = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    design->addTopmostFrameLayer(frame);
    EXPECT_EQ(order(*design), (QList<KTLayer *>{text2.get(), text1.get(), frame.get(), photo.get()}));
    EXPECT_EQ(design->topmostFrameLayer(), frame);
    EXPECT_EQ(frame->inTemplate(), design.get());

    // A second frame goes outside the first, still inside the overlays.
    auto outer = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    design->addTopmostFrameLayer(outer);
    EXPECT_EQ(design->indexOfLayer(outer.get()), 2);

    // A design of overlays only takes the frame at the end.
    auto overlays = makeDesign();
    auto img = std::make_shared<KTImageOverlayLayer>();
    auto txt = std::make_shared<KTTextOverlayLayer>();
    overlays->addTopmostLayer(img);
    overlays->addTopmostLayer(txt);
    auto f = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    overlays->addTopmostFrameLayer(f);
    EXPECT_EQ(order(*overlays), (QList<KTLayer *>{txt.get(), img.get(), f.get()}));
}

TEST(KTTemplateList, AddAboveNilOrStrangerChangesNothing)
{
    auto design = makeDesign();
    auto photo = std::make_shared<FillLayer>();
    design->insertLayer(photo, 0);
    NotificationLog log(design.get());
    design->addLayer(std::make_shared<FillLayer>(), nullptr);
    design->addLayer(std::make_shared<FillLayer>(), std::make_shared<FillLayer>());
    EXPECT_EQ(design->layers().size(), 1);
    EXPECT_TRUE(log.posted.empty());

    auto frame = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    design->addLayer(frame, photo);
    EXPECT_EQ(order(*design), (QList<KTLayer *>{frame.get(), photo.get()}));
    EXPECT_EQ(log.count("modelChanged"), 1);
}

TEST(KTTemplateList, ReplaceLayerPostsModelChangedThreeTimes)
{
    auto design = makeDesign();
    auto photo = std::make_shared<FillLayer>();
    auto oldFrame = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    design->insertLayer(photo, 0);
    design->addTopmostLayer(oldFrame);
    NotificationLog log(design.get());
    auto newFrame = std::make_shared<RingFrameLayer>(0.2, 0.2, 0.2, 0.2);
    design->replaceLayer(oldFrame, newFrame);
    EXPECT_EQ(log.count("modelChanged"), 3);
    EXPECT_EQ(log.count("layerChanged"), 0);
    for (const auto &n : log.posted)
        EXPECT_FALSE(n.userInfo.has_value()); // edits carry no user info
    EXPECT_EQ(order(*design), (QList<KTLayer *>{newFrame.get(), photo.get()}));

    // The removed layer is no longer heard; the new one is.
    log.posted.clear();
    oldFrame->emitChanged();
    EXPECT_TRUE(log.posted.empty());
    newFrame->emitChanged();
    EXPECT_EQ(log.count("layerChanged"), 1);
}

TEST(KTTemplateList, MoveLayerEndsAtTheOtherLayersIndex)
{
    auto design = makeDesign();
    std::vector<std::shared_ptr<FillLayer>> l;
    for (int i = 0; i < 5; ++i) {
        l.push_back(std::make_shared<FillLayer>());
        design->insertLayer(l.back(), i);
    }
    design->moveLayer(l[0], l[3]);
    EXPECT_EQ(order(*design), (QList<KTLayer *>{l[1].get(), l[2].get(), l[3].get(), l[0].get(), l[4].get()}));
    design->moveLayer(l[4], l[2]);
    EXPECT_EQ(order(*design), (QList<KTLayer *>{l[1].get(), l[4].get(), l[2].get(), l[3].get(), l[0].get()}));
    NotificationLog log(design.get());
    design->moveLayer(l[1], std::make_shared<FillLayer>()); // not in the design: no move, still a post
    EXPECT_EQ(design->indexOfLayer(l[1].get()), 0);
    EXPECT_EQ(log.count("modelChanged"), 1);
}

TEST(KTTemplateList, InsertBeyondTheEndIsMisuse)
{
    auto design = makeDesign();
    EXPECT_THROW(design->insertLayer(std::make_shared<FillLayer>(), 1), platform::Exception);
    EXPECT_TRUE(design->layers().isEmpty());
}

TEST(KTTemplateList, EditsAreRefusedWhileDrawing)
{
    auto design = makeDesign();
    auto photo = std::make_shared<FillLayer>();
    auto frame = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    design->insertLayer(photo, 0);
    design->addTopmostLayer(frame);

    // Edits arriving from inside a drawing (as events handled while an
    // export draws) are dropped silently.
    bool refused = false;
    photo->onDraw = [&] {
        EXPECT_TRUE(design->isDrawing());
        design->addTopmostLayer(std::make_shared<FillLayer>());
        design->removeLayer(frame);
        design->moveLayer(photo, frame);
        design->replaceLayer(frame, std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1));
        design->replaceDesignWith(std::make_shared<KTTemplate>());
        refused = !design->importImage(QUrl::fromLocalFile(QStringLiteral("/nonexistent.jpg")));
    };
    NotificationLog log(design.get());
    QImage canvas = blankCanvas(50, 50);
    {
        platform::DrawingContext ctx(canvas);
        design->drawToRect(QRectF(0, 0, 50, 50), true, false, nullptr, false);
    }
    EXPECT_TRUE(refused);
    EXPECT_FALSE(design->isDrawing());
    EXPECT_EQ(order(*design), (QList<KTLayer *>{frame.get(), photo.get()}));
    EXPECT_EQ(log.count("modelChanged"), 0);
}

TEST(KTTemplateList, ReplaceDesignTakesTheOtherOrder)
{
    auto design = makeDesign();
    auto photo = std::make_shared<FillLayer>();
    design->insertLayer(photo, 0);
    design->addTopmostLayer(std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1));

    auto other = makeDesign();
    auto a = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    auto b = std::make_shared<RingFrameLayer>(0.2, 0.2, 0.2, 0.2);
    auto c = std::make_shared<KTTextOverlayLayer>();
    other->insertLayer(b, 0);
    other->insertLayer(a, 0);
    other->insertLayer(c, 0);
    other->setName(QStringLiteral("Gallery"));
    other->setShadowAngle(90);
    other->setDrawShadows(false);
    other->setExportExternalShadow(true);

    NotificationLog theirs(other.get());
    NotificationLog mine(design.get());
    design->replaceDesignWith(other);
    // Once for the outer shadow, once for all the layers (each telling measures them all).
    EXPECT_EQ(mine.count("modelChanged"), 2);
    EXPECT_EQ(design->name(), QStringLiteral("Gallery"));
    EXPECT_EQ(design->shadowAngle(), 90);
    EXPECT_FALSE(design->drawShadows());
    EXPECT_TRUE(design->exportExternalShadow());
    // Without a photo of its own nothing stays; the layers come over in order.
    EXPECT_EQ(order(*design), (QList<KTLayer *>{c.get(), a.get(), b.get()}));
    EXPECT_EQ(a->inTemplate(), design.get());
    // Taken-over layers speak to their new design only.
    a->emitChanged();
    EXPECT_EQ(theirs.count("layerChanged"), 0);
}

TEST(KTTemplateList, NoneVersusEmptyUserInfo)
{
    auto design = makeDesign();
    NotificationLog log(design.get());
    design->postLayerChangedNotification();
    design->forceRedraw();
    design->postModelChangedNotification();
    ASSERT_EQ(log.posted.size(), 3u);
    EXPECT_EQ(log.posted[0].name, QStringLiteral("layerChanged"));
    EXPECT_FALSE(log.posted[0].userInfo.has_value());
    EXPECT_EQ(log.posted[1].name, QStringLiteral("layerChanged"));
    ASSERT_TRUE(log.posted[1].userInfo.has_value());
    EXPECT_TRUE(log.posted[1].userInfo->isEmpty());
    EXPECT_EQ(log.posted[2].name, QStringLiteral("modelChanged"));
    EXPECT_FALSE(log.posted[2].userInfo.has_value());
    EXPECT_EQ(log.posted[0].sender, design.get());
}

TEST(KTTemplateList, LayerChangesPickTheHighQualityLayer)
{
    auto design = makeDesign();
    auto photo = std::make_shared<FillLayer>();
    auto frame = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    design->insertLayer(photo, 0);
    design->addTopmostLayer(frame);
    NotificationLog log(design.get());

    frame->emitChanged();
    EXPECT_EQ(design->onlyHQLayer(), frame.get());
    EXPECT_EQ(log.count("layerChanged"), 1);

    frame->emitFastRedraw();
    EXPECT_EQ(design->onlyHQLayer(), design.get());

    design->clearOnlyHQLayer();
    design->setShadowOffset(0.5);
    EXPECT_EQ(design->onlyHQLayer(), design.get());
    EXPECT_EQ(log.count("layerChanged"), 3);
    EXPECT_EQ(log.count("modelChanged"), 0);
}

TEST(KTTemplateList, ExportModeIgnoresChanges)
{
    auto design = makeDesign();
    auto frame = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    design->insertLayer(frame, 0);
    design->setExportMode(true);
    int framedUpdates = 0;
    QObject::connect(design.get(), &KTTemplate::framedSizeStringChanged, [&] { ++framedUpdates; });
    NotificationLog log(design.get());
    design->setShadowAngle(45);
    frame->emitChanged();
    EXPECT_TRUE(log.posted.empty());
    EXPECT_EQ(framedUpdates, 0);
    EXPECT_EQ(design->onlyHQLayer(), nullptr);
}

TEST(KTTemplateList, LayerChangedIsNotPostedFromWithinItself)
{
    auto design = makeDesign();
    auto frame = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    design->insertLayer(frame, 0);
    int seen = 0;
    auto id = platform::NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("layerChanged"), design.get(), [&](const platform::Notification &) {
            ++seen;
            frame->emitChanged(); // a change while the notification is out is swallowed
        });
    frame->emitChanged();
    platform::NotificationCenter::defaultCenter().removeObserver(id);
    EXPECT_EQ(seen, 1);
    EXPECT_FALSE(design->suppressLayerChangedNotification());
}

TEST(KTTemplateList, AnalyticsAndMetadata)
{
    auto design = makeDesign();
    design->insertLayer(std::make_shared<FillLayer>(), 0);
    QVariantMap d = design->dictionaryForAnalytics();
    EXPECT_EQ(d.value("Total Layers").toInt(), 0);
    EXPECT_EQ(d.size(), 8);
    design->addTopmostLayer(std::make_shared<KTTextOverlayLayer>());
    design->addTopmostLayer(std::make_shared<KTTextOverlayLayer>());
    design->setExportExternalShadow(true);
    d = design->dictionaryForAnalytics();
    EXPECT_EQ(d.value("Total Layers").toInt(), 2);
    EXPECT_EQ(d.value("Text Overlay").toInt(), 2);
    EXPECT_EQ(d.value("Image Overlay").toInt(), 0);
    EXPECT_TRUE(d.value("Shadow").toBool());

    design->setMetadataValue(300, QStringLiteral("kCGImagePropertyDPIWidth"));
    EXPECT_EQ(design->exportMetadataForKey(QStringLiteral("kCGImagePropertyDPIWidth")).toInt(), 300);
    design->setMetadataValue(QVariant(), QStringLiteral("kCGImagePropertyDPIWidth"));
    EXPECT_FALSE(design->metadataForExport().contains(QStringLiteral("kCGImagePropertyDPIWidth")));
}

TEST(KTTemplateList, MissingGraphicsAndHitTesting)
{
    auto design = makeDesign();
    auto frame = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    design->insertLayer(std::make_shared<FillLayer>(), 0);
    design->addTopmostLayer(frame);
    EXPECT_FALSE(design->hasLayersThatMissGraphics());
    frame->setMissesFrameInLibrary(true);
    EXPECT_TRUE(design->hasLayersThatMissGraphics());
    EXPECT_EQ(design->layerAtHitPoint(QPointF(1, 1)), nullptr);
}

TEST(KTTemplateList, ReleasingTheDesignLetsItsLayersGo)
{
    std::weak_ptr<RingFrameLayer> weakFrame;
    auto frame = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    {
        auto design = makeDesign();
        design->insertLayer(frame, 0);
        weakFrame = frame;
    }
    EXPECT_EQ(frame->inTemplate(), nullptr);
    // No design hears the layer any more: emitting must not reach a dead one.
    frame->emitChanged();
    frame.reset();
    EXPECT_TRUE(weakFrame.expired());
}
