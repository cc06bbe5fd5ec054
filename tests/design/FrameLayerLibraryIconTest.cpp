#include "FrameLayerTestSupport.h"

#include "stores/FrameArchiveTestSupport.h"
#include "stores/FrameSet.h"

#include <gtest/gtest.h>

// The library's icons come from frame layers also when the frame archive
// importer builds them, in its child context on its own queue.
TEST(FrameLayerLibraryIcons, ImportedFramesGetTheirLayersIcons)
{
    using namespace archivetest;
    librarytest::sharedLibrary();
    librarytest::Library source;
    platform::ManagedObjectContext *moc = source.moc();
    seedFrameTypes(moc);
    FrameCollection *collection = FrameCollection::insertInManagedObjectContext(moc);
    collection->setName(QStringLiteral("Icons"));
    FrameSet *set = FrameSet::insertInManagedObjectContext(moc);
    set->setName(QStringLiteral("Mixed"));
    set->setFramecollection(collection);
    Frame *full = makeFrame(moc, set, QStringLiteral("Ring"), QStringLiteral("Full frame"));
    FrameImage *ring = FrameImage::frameImageFromImageAtPath(frametest::writePng(frametest::ringPicture(90, 60),
                                                                                 QStringLiteral("ring")), moc);
    ASSERT_TRUE(ring);
    full->frameAttributeWithName(QStringLiteral("Landscape Image"))->setImageVal(ring);
    Frame *mat = makeFrame(moc, set, QStringLiteral("Blue mat"), QStringLiteral("Color Mat"));
    mat->frameAttributeWithName(QStringLiteral("Mat color"))->setColorVal(archivedColour(0, 0, 1));
    ASSERT_TRUE(moc->save());

    const QString archive = librarytest::freshFolder() + QStringLiteral("/Icons.ktframes");
    ExportRecorder exported;
    ASSERT_TRUE(exportItems({collection}, {}, archive, 5, &exported));

    librarytest::Library target;
    seedFrameTypes(target.moc());
    ImportRecorder imported;
    importArchive(archive, target.moc(), &imported);
    ASSERT_TRUE(imported.finished) << imported.error.description.toStdString();

    const auto byName = [&](const QString &name) -> Frame * {
        for (Frame *frame : target.moc()->fetchObjects<Frame>())
            if (frame->name() == name)
                return frame;
        return nullptr;
    };
    Frame *importedFull = byName(QStringLiteral("Ring"));
    Frame *importedMat = byName(QStringLiteral("Blue mat"));
    ASSERT_TRUE(importedFull && importedMat);
    const QImage fullIcon = importedFull->iconImage();
    ASSERT_EQ(fullIcon.size(), QSize(92, 92));
    EXPECT_EQ(frametest::at(fullIcon, 2, 46).rgb(), frametest::kFrameBrown.rgb());
    EXPECT_EQ(frametest::at(fullIcon, 46, 46).alpha(), 0);
    const QImage matIcon = importedMat->iconImage();
    ASSERT_EQ(matIcon.size(), QSize(92, 92));
    EXPECT_EQ(frametest::at(matIcon, 10, 80).rgb(), qRgb(0, 0, 255));
    EXPECT_EQ(frametest::at(matIcon, 85, 5).alpha(), 0);
}
