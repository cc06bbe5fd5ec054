#include "FrameArchiveTestSupport.h"

#include "platform/Log.h"
#include "stores/LibraryItemDictionary.h"

#include <gtest/gtest.h>

using namespace archivetest;
using namespace librarytest;
using namespace LibraryItemDictionary;

namespace {
struct Logged {
    QStringList lines;
    Logged() { platform::setLogSink([this](const QString &l) { lines << l; }); }
    ~Logged() { platform::setLogSink(nullptr); }
};
} // namespace

TEST(LibraryItemDictionaryApply, CollectionWithoutIconKeepsTheExistingIcon)
{
    sharedLibrary();
    Library lib;
    platform::ManagedObjectContext *moc = lib.moc();
    FrameCollection *plain = FrameCollection::insertInManagedObjectContext(moc);
    plain->setName("Plain");
    const QVariantMap d = asDictionary(*plain);
    EXPECT_FALSE(d.contains("iconGUID"));
    EXPECT_FALSE(d.contains("adescription"));
    EXPECT_EQ(d.value("name"), "Plain");

    FrameImage *icon = makeImage(moc, Qt::red, "icon.png");
    plain->setIcon(icon);
    QVariantMap renamed = d;
    renamed["name"] = "Renamed";
    EXPECT_EQ(collectionFromDictionary(renamed, moc), plain);
    EXPECT_EQ(plain->name(), "Renamed");
    EXPECT_EQ(plain->icon(), icon);

    // A collection dictionary without GUID is passed over silently.
    Logged log;
    EXPECT_EQ(collectionFromDictionary({{"name", "Nobody"}}, moc), nullptr);
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST(LibraryItemDictionaryApply, FrameDictionaryCarriesKindsAndAppliesTwiceAsOne)
{
    sharedLibrary();
    Library lib;
    platform::ManagedObjectContext *moc = lib.moc();
    seedFrameTypes(moc);
    FrameCollection *collection = FrameCollection::insertInManagedObjectContext(moc);
    FrameSet *set = FrameSet::insertInManagedObjectContext(moc);
    set->setFramecollection(collection);
    FrameImage *top = makeImage(moc, Qt::red, "top.png");
    Frame *frame = makeFrame(moc, set, "Birch", "Moulding");
    frame->frameAttributeWithName("Top Image")->setImageVal(top);
    frame->frameAttributeWithName("Bottom Image")->setImageVal(top);
    frame->frameAttributeWithName("Act as mask")->setBoolVal(true);
    frame->frameAttributeWithName("Mirror images")->setBoolVal(false);

    const QVariantMap d = asDictionary(*frame);
    const QVariantMap attributes = d.value("attributes").toMap();
    const QVariantMap kinds = d.value("attributeKinds").toMap();
    EXPECT_EQ(attributes.value("Top Image"), top->guid());
    EXPECT_EQ(attributes.value("Act as mask"), true);
    EXPECT_EQ(attributes.value("Mirror images"), false);
    EXPECT_FALSE(attributes.contains("Left Image")) << "empty attributes are left out";
    EXPECT_EQ(kinds.value("Top Image").toInt(), 1);
    EXPECT_EQ(kinds.value("Act as mask").toInt(), 4);
    EXPECT_EQ(d.value("frametype"), "Moulding");
    EXPECT_EQ(d.value("framesetGUID"), set->guid());

    // Applied again without the bottom image: the same frame, the attributes
    // made anew, the missing value empty.
    QVariantMap second = d;
    QVariantMap fewer = attributes;
    fewer.remove("Bottom Image");
    second["attributes"] = fewer;
    EXPECT_EQ(frameFromDictionary(second, moc), frame);
    EXPECT_EQ(moc->fetchObjects<Frame>().size(), 1);
    EXPECT_EQ(frame->attributes().size(), 6);
    EXPECT_EQ(frame->frameAttributeWithName("Top Image")->imageVal(), top);
    EXPECT_EQ(frame->frameAttributeWithName("Bottom Image")->imageVal(), nullptr);
    EXPECT_EQ(frame->frameAttributeWithName("Act as mask")->boolVal(), std::optional<bool>(true));
}

TEST(LibraryItemDictionaryApply, ColourSurvivesAndWrongTypesAreCoerced)
{
    sharedLibrary();
    Library lib;
    platform::ManagedObjectContext *moc = lib.moc();
    seedFrameTypes(moc);
    FrameSet *set = FrameSet::insertInManagedObjectContext(moc);
    set->setFramecollection(FrameCollection::insertInManagedObjectContext(moc));
    Frame *mat = makeFrame(moc, set, "Mat", "Color Mat");
    const QByteArray colour = archivedColour(0.2, 0.4, 0.6);
    mat->frameAttributeWithName("Mat color")->setColorVal(colour);
    QVariantMap d = asDictionary(*mat);
    EXPECT_EQ(d.value("attributes").toMap().value("Mat color"), colour);
    EXPECT_EQ(d.value("attributeKinds").toMap().value("Mat color").toInt(), 5);

    mat->frameAttributeWithName("Mat color")->setColorVal(QByteArray());
    EXPECT_EQ(frameFromDictionary(d, moc), mat);
    EXPECT_EQ(mat->frameAttributeWithName("Mat color")->colorVal(), colour);

    // Damaged colour data, or a string where colour data belongs, is
    // dropped, never stored.
    Logged log;
    d["attributes"] = QVariantMap{{"Mat color", colour.left(colour.size() - 3)}};
    EXPECT_EQ(frameFromDictionary(d, moc), mat);
    EXPECT_TRUE(mat->frameAttributeWithName("Mat color")->colorVal().isNull());
    d["attributes"] = QVariantMap{{"Mat color", "red"}};
    d["name"] = 17;
    EXPECT_EQ(frameFromDictionary(d, moc), mat);
    EXPECT_TRUE(mat->frameAttributeWithName("Mat color")->colorVal().isNull());
    EXPECT_EQ(mat->name(), "17");
    EXPECT_FALSE(log.lines.isEmpty());
}

TEST(LibraryItemDictionaryApply, RejectionsChangeNothingAndSayWhy)
{
    sharedLibrary();
    Library lib;
    platform::ManagedObjectContext *moc = lib.moc();
    seedFrameTypes(moc);
    ASSERT_TRUE(moc->save());
    Logged log;

    EXPECT_EQ(setFromDictionary({{"name", "S"}}, moc), nullptr);
    EXPECT_TRUE(log.lines.last().startsWith("ERROR: Set doesn't have a GUID in dictionary"));
    EXPECT_EQ(setFromDictionary({{"guid", "S1"}}, moc), nullptr);
    EXPECT_EQ(log.lines.last(), "ERROR: set S1 doesn't have a frameCollectionGUID");
    EXPECT_EQ(setFromDictionary({{"guid", "S1"}, {"framecollectionGUID", "C9"}}, moc), nullptr);
    EXPECT_EQ(log.lines.last(), "Couldn't find frame collection with GUID C9");

    EXPECT_EQ(frameFromDictionary({{"name", "F"}}, moc), nullptr);
    EXPECT_TRUE(log.lines.last().startsWith("ERROR: Frame doesn't have a GUID in dictionary"));
    EXPECT_EQ(frameFromDictionary({{"guid", "F1"}}, moc), nullptr);
    EXPECT_EQ(log.lines.last(), "ERROR: Frame F1 doesn't have a framesetGUID");
    EXPECT_EQ(frameFromDictionary({{"guid", "F1"}, {"framesetGUID", "S9"}}, moc), nullptr);
    EXPECT_EQ(log.lines.last(), "Couldn't find frame set with GUID S9");

    FrameSet *set = FrameSet::insertInManagedObjectContext(moc);
    set->setGuid("S2");
    EXPECT_EQ(frameFromDictionary({{"guid", "F1"}, {"framesetGUID", "S2"}}, moc), nullptr);
    EXPECT_EQ(log.lines.last(), "No frame type information for frame F1");
    EXPECT_EQ(frameFromDictionary({{"guid", "F1"}, {"framesetGUID", "S2"}, {"frametype", "Oval"}}, moc), nullptr);
    EXPECT_EQ(log.lines.last(), "No frame type found with name Oval");
    EXPECT_TRUE(moc->fetchObjects<Frame>().isEmpty());

    // An image attribute naming an unknown FrameImage stays empty.
    Frame *frame = frameFromDictionary({{"guid", "F1"}, {"framesetGUID", "S2"}, {"frametype", "Full frame"},
                                        {"attributes", QVariantMap{{"Landscape Image", "UNKNOWN.png"}}}},
                                       moc);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->frameAttributeWithName("Landscape Image")->imageVal(), nullptr);
    EXPECT_EQ(frame->frameset(), set);
}

TEST(LibraryItemDictionaryApply, FrameImageUpsertByGuid)
{
    sharedLibrary();
    Library lib;
    platform::ManagedObjectContext *moc = lib.moc();
    FrameImage *made = frameImageFromDictionary("G-1.png", {{"filename", "one.png"}}, moc);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->guid(), "G-1.png");
    EXPECT_TRUE(made->dateAdded().isValid());
    EXPECT_EQ(frameImageFromDictionary("G-1.png", {{"filename", "renamed.png"}}, moc), made);
    EXPECT_EQ(made->filename(), "renamed.png");
    EXPECT_EQ(asDictionary(*made), (QVariantMap{{"filename", "renamed.png"}}));
    EXPECT_EQ(frameImageFromDictionary("../escape", {{"filename", "x"}}, moc), nullptr);
    EXPECT_EQ(moc->fetchObjects<FrameImage>().size(), 1);
}
