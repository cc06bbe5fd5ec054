#include "stores/FrameArchiveTestSupport.h"

#include "design/KTColorMatLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "design/VLImage.h"
#include "frameeditor/KTFEPreviewView.h"

#include <gtest/gtest.h>

using namespace archivetest;
using namespace librarytest;

namespace {

struct PreviewFixture : ::testing::Test {
    Library lib;
    FrameSet *set = nullptr;
    Frame *moulding = nullptr;
    Frame *mat = nullptr;
    Frame *layerless = nullptr;

    void SetUp() override
    {
        sharedLibrary();
        platform::ManagedObjectContext *moc = lib.moc();
        seedFrameTypes(moc);
        set = newSet(moc, nullptr, "Woods");
        moulding = makeFrame(moc, set, "Oak", "Moulding");
        FrameImage *side = makeImage(moc, QColor(120, 70, 30), "oak.png");
        for (const char *name : {"Top Image", "Bottom Image", "Left Image", "Right Image"})
            moulding->frameAttributeWithName(name)->setImageVal(side);
        mat = makeFrame(moc, set, "Cream", "Color Mat");
        mat->frameAttributeWithName("Mat color")->setColorVal(archivedColour(0.95, 0.9, 0.8));
        FrameType *engraving = FrameType::insertInManagedObjectContext(moc);
        engraving->setName("Engraving");
        layerless = Frame::insertInManagedObjectContext(moc);
        layerless->setName("Etched");
        layerless->setFrameset(set);
        layerless->setFrametype(engraving);
        ASSERT_TRUE(moc->save());
    }
};

} // namespace

TEST_F(PreviewFixture, HoldsOneFrameLayerUnderTheCaptionAndKeepsItForALayerlessType)
{
    KTFEPreviewView view;
    KTTemplate &design = *view.previewTemplate();
    EXPECT_TRUE(design.usedForIconGeneration());
    EXPECT_FALSE(design.drawShadows());
    ASSERT_EQ(design.layers().size(), 2);
    auto *caption = qobject_cast<KTTextOverlayLayer *>(design.layerAtIndex(0).get());
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->overlayText().string(), "Frame preview");
    EXPECT_EQ(caption->scale(), 0.25);
    EXPECT_EQ(caption->positioning(), (KTOverlayPositioning{QPointF(0, 0), 2, 2}));
    const platform::StyledText::Attributes look = caption->overlayText().attributesAt(0);
    ASSERT_TRUE(look.font && look.color);
    EXPECT_EQ(look.font->size, 12.0);
    EXPECT_EQ(*look.color, platform::Color::white(1.0, 0.6));
    // The sample picture of the built-in content.
    ASSERT_NE(design.imageLayer(), nullptr);
    ASSERT_NE(design.imageLayer()->image(), nullptr);
    EXPECT_EQ(design.imageLayer()->image()->originalSize(), QSizeF(800, 400));

    view.displayPreviewWithFrame(moulding);
    ASSERT_EQ(design.layers().size(), 3);
    auto *mouldingLayer = qobject_cast<KTMoldingFrameLayer *>(design.layerAtIndex(1).get());
    ASSERT_NE(mouldingLayer, nullptr);
    EXPECT_EQ(mouldingLayer->frameOverImage(), 1.0);

    view.displayPreviewWithFrame(mat);
    view.displayPreviewWithFrame(layerless);
    view.displayPreviewWithFrame(nullptr);
    ASSERT_EQ(design.layers().size(), 3);
    EXPECT_TRUE(qobject_cast<KTTextOverlayLayer *>(design.layerAtIndex(0).get()));
    EXPECT_TRUE(qobject_cast<KTColorMatLayer *>(design.layerAtIndex(1).get()));
    EXPECT_EQ(design.layerAtIndex(2), design.imageLayer());
    // Previewing is no use of a frame.
    EXPECT_FALSE(moulding->lastUsed().isValid());
}

TEST_F(PreviewFixture, DrawsLowQualityWhileResizingThenOnceMoreAtHighQuality)
{
    KTFEPreviewView view;
    view.displayPreviewWithFrame(mat);
    view.resize(300, 240);
    view.show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.lastDrawingWasHighQuality(); }));
    const QImage settled = view.grab().toImage();
    // The grey ground at the edge, the cream mat and the picture inside.
    EXPECT_EQ(settled.pixelColor(1, 1), QColor(128, 128, 128));
    const QColor middle = settled.pixelColor(150, 120);
    EXPECT_NE(middle, QColor(128, 128, 128));

    view.resize(320, 250);
    EXPECT_TRUE(view.inLiveResize());
    view.grab();
    EXPECT_FALSE(view.lastDrawingWasHighQuality());
    EXPECT_TRUE(testsupport::waitUntil([&] { return !view.inLiveResize() && view.lastDrawingWasHighQuality(); }));
}
