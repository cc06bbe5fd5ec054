#include "DesignTestLayers.h"

#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/LibraryTestSupport.h"

#include <gtest/gtest.h>

using namespace designtest;

TEST(KTFrameLayerLibrary, DescriptionAndLastUsedComeFromTheFrame)
{
    librarytest::sharedLibrary();
    librarytest::Library lib;
    platform::ManagedObjectContext *moc = lib.moc();
    FrameCollection *collection = FrameCollection::insertInManagedObjectContext(moc);
    collection->setName(QStringLiteral("Woods"));
    FrameSet *set = FrameSet::insertInManagedObjectContext(moc);
    set->setName(QStringLiteral("Oak"));
    set->setFramecollection(collection);
    Frame *frame = Frame::insertInManagedObjectContext(moc);
    frame->setName(QStringLiteral("Oak moulding"));
    frame->setFrameset(set);
    frame->setLastUsed(QDateTime());

    auto layer = std::make_shared<RingFrameLayer>(0.1, 0.1, 0.1, 0.1);
    layer->setLayerName(QStringLiteral("Oak moulding"));
    EXPECT_TRUE(layer->description().endsWith(
        QStringLiteral("-- Collection (null), Set (null), frameName (null), images not loaded")));
    layer->setTheFrame(frame);
    EXPECT_EQ(layer->description().toStdString(),
              QStringLiteral("Layer Oak moulding of class designtest::RingFrameLayer, control nib:   -- "
                             "Collection Woods, Set Oak, frameName Oak moulding, images not loaded").toStdString());

    // Taking the layer into a design marks its frame as just used.
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    auto design = std::make_shared<KTTemplate>();
    design->addTopmostLayer(layer);
    EXPECT_TRUE(frame->lastUsed().isValid());
    EXPECT_GE(frame->lastUsed(), before);
    // A copy for rendering, drawn on other threads, names its frame by GUID
    // only: it never reaches into the store, nor marks the frame used.
    frame->setLastUsed(QDateTime());
    auto copy = std::static_pointer_cast<KTFrameLayer>(layer->copyForRendering());
    EXPECT_EQ(copy->theFrame(), nullptr);
    EXPECT_EQ(copy->frameGUID(), frame->guid());
    std::make_shared<KTTemplate>()->addTopmostLayer(copy);
    EXPECT_FALSE(frame->lastUsed().isValid());
}
