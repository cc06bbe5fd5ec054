#include "LibraryTestSupport.h"

#include "platform/Assert.h"
#include "platform/TypeTable.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryDates.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

using namespace platform;
using namespace librarytest;

namespace {

QString writePicture(const QString &name, const QColor &colour = Qt::red)
{
    const QString path = freshFolder() + '/' + name;
    QImage image(8, 6, QImage::Format_ARGB32);
    image.fill(colour);
    image.save(path, "PNG");
    return path;
}

} // namespace

TEST(LibraryEntitiesDefaults, NewItemsGetTheirDefaults)
{
    Library lib;
    Frame *frame = Frame::insertInManagedObjectContext(lib.moc());
    EXPECT_EQ(frame->name(), "New Frame");
    EXPECT_EQ(frame->author(), accountFullName());
    EXPECT_FALSE(frame->guid().isEmpty());
    EXPECT_TRUE(isSafeFileName(frame->guid()));
    EXPECT_EQ(frame->lastUpdated(), LibraryDates::distantPast());
    EXPECT_TRUE(frame->lastModified().isValid());
    EXPECT_FALSE(frame->lastUsed().isValid()) << "not used until it goes into a design";
    EXPECT_TRUE(frame->hasGraphics());
    EXPECT_TRUE(frame->iconImage().isNull());
    EXPECT_EQ(frame->icon(), nullptr);
    EXPECT_EQ(frame->numberOfChildren(), 0);

    FrameCollection *collection = FrameCollection::insertInManagedObjectContext(lib.moc());
    FrameSet *set = FrameSet::insertInManagedObjectContext(lib.moc());
    EXPECT_EQ(collection->name(), "New Collection");
    EXPECT_EQ(set->name(), "New Set");
    EXPECT_NE(collection->guid(), set->guid());
    EXPECT_EQ(set->lastUpdated(), LibraryDates::distantPast());
    EXPECT_TRUE(collection->iconImage().isNull()) << "no icon, no picture";
    EXPECT_EQ(collection->catalogRef(), "");
    EXPECT_EQ(collection->author(), "");
    EXPECT_FALSE(collection->lastModifiedString().isEmpty());
}

TEST(LibraryEntitiesDefaults, MissingDatesBecomeTheSaveTimeAndHasGraphicsIsNotStored)
{
    Library lib;
    Frame *frame = Frame::insertInManagedObjectContext(lib.moc());
    const QString guid = frame->guid();
    frame->setLastModified(QDateTime());
    frame->setLastUpdated(QDateTime());
    frame->setHasGraphics(false);
    const QDateTime before = LibraryDates::now();
    ASSERT_TRUE(lib.moc()->save());
    lib.open();
    Frame *again = Frame::frameWithGUID(guid, lib.moc());
    ASSERT_TRUE(again);
    EXPECT_GE(again->lastModified(), before);
    EXPECT_GE(again->lastUpdated(), before);
    EXPECT_TRUE(again->hasGraphics()) << "YES after every fetch";
}

TEST(LibraryEntitiesLookups, LookupsByGUIDAnswerNullWhenNothingMatches)
{
    Library lib;
    FrameCollection *collection = FrameCollection::insertInManagedObjectContext(lib.moc());
    FrameSet *set = FrameSet::insertInManagedObjectContext(lib.moc());
    FrameImage *image = FrameImage::insertFrameImageWithGUIDAndDisplayName("img-1.png", "Wood.png", lib.moc());
    EXPECT_EQ(FrameCollection::frameCollectionWithGUID(collection->guid(), lib.moc()), collection);
    EXPECT_EQ(FrameSet::frameSetWithGUID(set->guid(), lib.moc()), set);
    EXPECT_EQ(FrameImage::frameImageWithGUID("img-1.png", lib.moc()), image);
    EXPECT_EQ(image->filename(), "Wood.png");
    EXPECT_TRUE(image->dateAdded().isValid());
    EXPECT_EQ(FrameSet::frameSetWithGUID(collection->guid(), lib.moc()), nullptr) << "per entity";
    EXPECT_EQ(Frame::frameWithGUID("nope", lib.moc()), nullptr);
    EXPECT_EQ(Frame::frameWithGUID(QString(), lib.moc()), nullptr);
    EXPECT_EQ(Frame::fetchRequest().entityName, "Frame");
    EXPECT_EQ(FrameType::entityInManagedObjectContext(lib.moc())->name, "FrameType");

    // A picture's file is in the graphics folder of its own library: the
    // store's contexts and their children know it, a bare context does not.
    LibraryStore &shared = sharedLibrary();
    FrameImage *mainImage = FrameImage::insertFrameImageWithGUIDAndDisplayName(
        QStringLiteral("main.png"), QStringLiteral("main.png"), shared.managedObjectContext());
    EXPECT_EQ(mainImage->imagePath(), shared.framesGraphicsFolder() + QStringLiteral("/main.png"));
    EXPECT_EQ(FrameImage::imagesFolder(shared.managedObjectContext()->newChildContext().get()),
              shared.framesGraphicsFolder());
    platform::ManagedObjectContext bare(LibraryModel::shared());
    EXPECT_TRUE(FrameImage::imagesFolder(&bare).isEmpty());
    EXPECT_TRUE(FrameImage::insertFrameImageWithGUIDAndDisplayName(QStringLiteral("b.png"), QString(), &bare)
                    ->imagePath()
                    .isEmpty());
}

TEST(LibraryEntitiesLookups, AMissingContextIsAProgrammingError)
{
    try {
        Frame::insertInManagedObjectContext(nullptr);
        FAIL() << "no exception";
    } catch (const Exception &e) {
        EXPECT_EQ(e.name(), kInternalInconsistencyException);
        EXPECT_TRUE(e.reason().contains("Invalid parameter not satisfying: moc_"));
    }
    EXPECT_THROW(FrameSet::entityInManagedObjectContext(nullptr), Exception);
}

TEST(LibraryEntitiesSearch, ChildrenNamedLikeIgnoreCaseAndDiacritics)
{
    Library lib;
    FrameSet *set = FrameSet::insertInManagedObjectContext(lib.moc());
    FrameSet *other = FrameSet::insertInManagedObjectContext(lib.moc());
    for (const char *name : {"Crème Brûlée", "CREME plain", "Oak", "crèmerie"}) {
        Frame *frame = Frame::insertInManagedObjectContext(lib.moc());
        frame->setName(QString::fromUtf8(name));
        set->addFramesObject(frame);
    }
    Frame *elsewhere = Frame::insertInManagedObjectContext(lib.moc());
    elsewhere->setName("creme elsewhere");
    other->addFramesObject(elsewhere);
    EXPECT_EQ(set->numberOfChildrenNamedLike(QString()), set->numberOfChildren());
    EXPECT_EQ(set->numberOfChildrenNamedLike(""), 4);
    EXPECT_EQ(set->numberOfChildrenNamedLike("creme"), 3);
    EXPECT_EQ(set->numberOfChildrenNamedLike(QString::fromUtf8("BRÛL")), 1);
    EXPECT_EQ(set->numberOfChildrenNamedLike("pine"), 0);
    EXPECT_EQ(set->children().size(), 4);
}

TEST(LibraryEntitiesCopies, ADuplicateSharesGraphicsAndLeavesNoStrayAttributes)
{
    Library lib;
    FrameType *moulding = FrameType::insertInManagedObjectContext(lib.moc());
    moulding->setName("Moulding");
    FrameSet *set = FrameSet::insertInManagedObjectContext(lib.moc());
    Frame *frame = Frame::insertInManagedObjectContext(lib.moc());
    frame->setName("Walnut");
    frame->setAdescription("dark");
    frame->setCatalogRef("W-1");
    frame->setUrl("https://example.invalid/w");
    set->addFramesObject(frame);
    frame->setFrametype(moulding);
    FrameImage *side = FrameImage::insertFrameImageWithGUIDAndDisplayName("side.png", "side.png", lib.moc());
    frame->frameAttributeWithName("Left Image")->setImageVal(side);
    frame->frameAttributeWithName("Top Image")->setImageVal(side);
    frame->frameAttributeWithName("Mirror images")->setBoolVal(true);

    Frame *copy = frame->duplicate();
    EXPECT_EQ(copy->name(), "Walnut copy");
    EXPECT_EQ(copy->adescription(), "dark");
    EXPECT_EQ(copy->catalogRef(), "W-1");
    EXPECT_EQ(copy->url(), "https://example.invalid/w");
    EXPECT_EQ(copy->frametype(), moulding);
    EXPECT_EQ(copy->frameset(), nullptr);
    EXPECT_NE(copy->guid(), frame->guid());
    EXPECT_TRUE(copy->iconImage().isNull());
    ASSERT_EQ(copy->attributes().size(), 6);
    for (FrameAttribute *attribute : frame->attributes()) {
        FrameAttribute *twin = copy->frameAttributeWithName(attribute->name());
        ASSERT_TRUE(twin) << attribute->name().toStdString();
        EXPECT_NE(twin, attribute);
        EXPECT_EQ(twin->kindValue(), attribute->kindValue());
        EXPECT_EQ(twin->attributeValue(), attribute->attributeValue());
    }
    EXPECT_EQ(copy->valueForAttribute("Left Image").value<FrameImage *>(), side);
    EXPECT_EQ(side->timesUsed(), 4);
    const auto strays = lib.moc()->fetchObjects<FrameAttribute>(
        [](const ManagedObject &o) { return static_cast<const FrameAttribute &>(o).frame() == nullptr; });
    EXPECT_TRUE(strays.isEmpty());
    EXPECT_EQ(lib.moc()->count({FrameAttribute::entityName()}), 12);
}

TEST(LibraryEntitiesGraphics, TimesUsedCountsAttributesAndIcons)
{
    Library lib;
    FrameImage *image = FrameImage::insertFrameImageWithGUIDAndDisplayName("g.png", "g.png", lib.moc());
    for (int i = 0; i < 2; ++i)
        FrameAttribute::insertInManagedObjectContext(lib.moc())->setImageVal(image);
    FrameSet::insertInManagedObjectContext(lib.moc())->setIcon(image);
    EXPECT_EQ(image->timesUsed(), 3);
    EXPECT_EQ(image->setIcons().size(), 1);
}

TEST(LibraryEntitiesGraphics, ImportedPicturesKeepTheirExtensionInTheGUID)
{
    LibraryStore &shared = sharedLibrary();
    Library lib;
    const QString folder = librarytest::imagesFolder();
    EXPECT_EQ(folder, shared.framesGraphicsFolder());

    const QString source = writePicture("Maple Corner.png");
    FrameImage *image = FrameImage::frameImageFromImageAtPath(source, lib.moc());
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->guid().endsWith(".png"));
    EXPECT_EQ(image->filename(), "Maple Corner.png");
    EXPECT_EQ(image->imagePath(), folder + '/' + image->guid());
    EXPECT_TRUE(QFileInfo::exists(image->imagePath()));
    EXPECT_EQ(image->image().size(), QSize(8, 6));

    const QString bare = freshFolder() + "/plain";
    QFile::copy(source, bare);
    FrameImage *plain = FrameImage::frameImageFromImageAtPath(bare, lib.moc());
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->guid().contains('.'));

    const qsizetype before = lib.moc()->count({FrameImage::entityName()});
    EXPECT_EQ(FrameImage::frameImageFromImageAtPath(freshFolder() + "/missing.png", lib.moc()), nullptr);
    EXPECT_EQ(lib.moc()->count({FrameImage::entityName()}), before) << "a failed copy inserts nothing";

    FrameCollection *collection = FrameCollection::insertInManagedObjectContext(lib.moc());
    collection->setIcon(image);
    EXPECT_EQ(collection->iconImage().size(), QSize(8, 6));
}

TEST(LibraryEntitiesGraphics, GUIDsThatAreNotOneFileNameNeverReachOutsideTheFolder)
{
    sharedLibrary();
    Library lib;
    for (const char *guid : {"../escape.png", "a/b.png", "..", ""}) {
        FrameImage *image = FrameImage::insertFrameImageWithGUIDAndDisplayName(QString::fromLatin1(guid), "x", lib.moc());
        EXPECT_TRUE(image->imagePath().isEmpty()) << guid;
        EXPECT_TRUE(image->image().isNull());
    }
}

TEST(LibraryEntitiesGraphics, VerifyHasGraphicsNoticesAMissingFile)
{
    sharedLibrary();
    Library lib;
    FrameType *full = FrameType::insertInManagedObjectContext(lib.moc());
    full->setName("Full frame");
    Frame *frame = Frame::insertInManagedObjectContext(lib.moc());
    frame->setFrametype(full);
    FrameImage *image = FrameImage::frameImageFromImageAtPath(writePicture("l.png"), lib.moc());
    ASSERT_TRUE(image);
    frame->frameAttributeWithName("Landscape Image")->setImageVal(image);
    frame->verifyHasGraphics();
    EXPECT_TRUE(frame->hasGraphics()) << "an image attribute without a FrameImage counts as present";

    ASSERT_TRUE(QFile::remove(image->imagePath()));
    frame->verifyHasGraphics();
    EXPECT_FALSE(frame->hasGraphics());

    image->setGuid("../elsewhere.png");
    frame->verifyHasGraphics();
    EXPECT_FALSE(frame->hasGraphics());
}

TEST(LibraryEntitiesIcons, BuildIconDrawsThroughTheInstalledHook)
{
    Library lib;
    Frame *frame = Frame::insertInManagedObjectContext(lib.moc());
    Frame::setIconBuilder(nullptr);
    frame->buildIcon();
    EXPECT_TRUE(frame->iconImage().isNull());
    QSize asked;
    Frame::setIconBuilder([&](Frame &, const QSize &size) {
        asked = size;
        QImage icon(size, QImage::Format_ARGB32);
        icon.fill(Qt::blue);
        return icon;
    });
    frame->buildIcon();
    Frame::setIconBuilder(nullptr);
    EXPECT_EQ(asked, QSize(92, 92));
    EXPECT_EQ(frame->iconImage().size(), QSize(92, 92));
    EXPECT_EQ(frame->iconImage().pixelColor(5, 5), QColor(Qt::blue));
}

TEST(LibraryEntitiesStore, AWholeLibrarySavesReopensAndCascadesOnDelete)
{
    Library lib;
    FrameType *corners = FrameType::insertInManagedObjectContext(lib.moc());
    corners->setName("Moulding with corners");
    FrameCollection *collection = FrameCollection::insertInManagedObjectContext(lib.moc());
    collection->setName("Classics");
    FrameImage *image = FrameImage::insertFrameImageWithGUIDAndDisplayName("corner.png", "corner.png", lib.moc());
    collection->setIcon(image);
    QStringList frameGuids;
    for (int s = 0; s < 2; ++s) {
        FrameSet *set = FrameSet::insertInManagedObjectContext(lib.moc());
        set->setFramecollection(collection);
        for (int f = 0; f < 3; ++f) {
            Frame *frame = Frame::insertInManagedObjectContext(lib.moc());
            frame->setFrameset(set);
            frame->setFrametype(corners);
            frame->setIsFavorite(f == 0);
            frame->frameAttributeWithName("Top-Left corner")->setImageVal(image);
            frameGuids << frame->guid();
        }
    }
    const QString collectionGuid = collection->guid();
    ASSERT_TRUE(lib.moc()->save());

    lib.open();
    collection = FrameCollection::frameCollectionWithGUID(collectionGuid, lib.moc());
    ASSERT_TRUE(collection);
    EXPECT_EQ(collection->name(), "Classics");
    EXPECT_EQ(collection->numberOfChildren(), 2);
    ASSERT_TRUE(collection->icon());
    EXPECT_EQ(collection->icon()->guid(), "corner.png");
    for (const QString &guid : frameGuids) {
        Frame *frame = Frame::frameWithGUID(guid, lib.moc());
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->frametype()->name(), "Moulding with corners");
        EXPECT_EQ(frame->attributes().size(), 9);
        EXPECT_EQ(frame->frameset()->framecollection(), collection);
    }
    EXPECT_EQ(collection->icon()->timesUsed(), 7);

    lib.moc()->deleteObject(collection);
    EXPECT_EQ(lib.moc()->count({Frame::entityName()}), 0);
    EXPECT_EQ(lib.moc()->count({FrameSet::entityName()}), 0);
    EXPECT_EQ(lib.moc()->count({FrameAttribute::entityName()}), 0);
    EXPECT_EQ(lib.moc()->count({FrameImage::entityName()}), 1) << "graphics stay for the frame editor to decide";
    EXPECT_EQ(lib.moc()->count({FrameType::entityName()}), 1);
    ASSERT_TRUE(lib.moc()->save());
    lib.open();
    EXPECT_EQ(lib.moc()->count({FrameAttribute::entityName()}), 0);
    EXPECT_EQ(lib.moc()->fetchObjects<FrameImage>().first()->timesUsed(), 0);
}
