#include "FrameArchiveTestSupport.h"

#include "platform/Error.h"
#include "stores/KTImportOldCollections.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace archivetest;
using namespace librarytest;

namespace {

void picture(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(6, 6, QImage::Format_ARGB32);
    image.fill(Qt::darkGreen);
    ASSERT_TRUE(image.save(path, "PNG"));
}

Frame *frameNamed(platform::ManagedObjectContext *moc, const QString &name)
{
    for (Frame *frame : moc->fetchObjects<Frame>())
        if (frame->name() == name)
            return frame;
    return nullptr;
}

QStringList graphicsFiles()
{
    return QDir(librarytest::imagesFolder()).entryList(QDir::Files);
}

} // namespace

TEST(KTImportOldCollectionsNames, FrameNamesSuffixesAndTypes)
{
    EXPECT_EQ(KTImportOldCollections::frameNameFromFilename("Oak_tl.png"), "Oak");
    EXPECT_EQ(KTImportOldCollections::suffixFromFilename("Oak_tl.png"), "tl");
    EXPECT_EQ(KTImportOldCollections::frameNameFromFilename("Old_Oak_tl.png"), "Old");
    EXPECT_EQ(KTImportOldCollections::suffixFromFilename("Old_Oak_tl.png"), "Oak_tl");
    EXPECT_TRUE(KTImportOldCollections::frameNameFromFilename("README").isNull());
    EXPECT_TRUE(KTImportOldCollections::suffixFromFilename("README").isNull());

    auto type = [](QStringList suffixes) {
        QMap<QString, QString> m;
        for (const QString &s : suffixes)
            m.insert(s, "/x");
        return KTImportOldCollections::typeOfFrame(m);
    };
    EXPECT_EQ(type({"h", "tl"}), "Full frame");
    EXPECT_EQ(type({"v"}), "Full frame");
    EXPECT_EQ(type({"br", "l"}), "Moulding with corners");
    EXPECT_EQ(type({"l"}), "Moulding");
    EXPECT_EQ(type({"Oak_tl"}), "Unknown");
}

TEST(KTImportOldCollectionsImport, FolderBecomesCollectionSetsAndFrames)
{
    sharedLibrary();
    Library lib;
    platform::ManagedObjectContext *moc = lib.moc();
    seedFrameTypes(moc);
    ASSERT_TRUE(moc->save());

    const QString root = freshFolder() + "/Classics";
    for (const char *s : {"tl", "tr", "bl", "br", "t", "b", "l", "r"})
        picture(root + "/Woods/Oak_" + s + ".png");
    picture(root + "/Woods/Birch_l.png");
    picture(root + "/Gold/Gilt_h.jpg");
    picture(root + "/Gold/Gilt_v.jpg");
    QFile readme(root + "/Gold/README");
    ASSERT_TRUE(readme.open(QIODevice::WriteOnly));
    readme.close();
    QFile junk(root + "/Gold/.DS_Store");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.close();

    KTImportOldCollections importer;
    importer.setMoc(moc);
    importer.setAuthor("Grace");
    importer.setURL("");
    importer.setUseFilenameAsCatalogRef(false);
    ASSERT_TRUE(importer.importCollectionFromPath(root));

    const QList<FrameCollection *> collections = moc->fetchObjects<FrameCollection>();
    ASSERT_EQ(collections.size(), 1);
    EXPECT_EQ(collections[0]->name(), "Classics");
    EXPECT_EQ(collections[0]->url(), KTImportOldCollections::kCollectionURL);
    EXPECT_EQ(collections[0]->framesets().size(), 2);

    Frame *oak = frameNamed(moc, "Oak");
    ASSERT_NE(oak, nullptr);
    EXPECT_EQ(oak->frametype()->name(), "Moulding with corners");
    for (FrameAttribute *attribute : oak->attributes()) {
        if (attribute->kindValue() == 1) {
            EXPECT_NE(attribute->imageVal(), nullptr) << attribute->name().toStdString();
        }
    }
    EXPECT_EQ(oak->author(), "Grace");
    EXPECT_TRUE(oak->url().isEmpty());
    EXPECT_TRUE(oak->catalogRef().isEmpty());
    EXPECT_EQ(oak->frameset()->name(), "Woods");
    EXPECT_EQ(oak->frameAttributeWithName("Top-Left corner")->imageVal()->filename(), "Oak_tl.png");

    Frame *birch = frameNamed(moc, "Birch");
    ASSERT_NE(birch, nullptr);
    EXPECT_EQ(birch->frametype()->name(), "Moulding");
    EXPECT_NE(birch->frameAttributeWithName("Left Image")->imageVal(), nullptr);
    EXPECT_EQ(birch->frameAttributeWithName("Right Image")->imageVal(), nullptr);

    Frame *gilt = frameNamed(moc, "Gilt");
    ASSERT_NE(gilt, nullptr);
    EXPECT_EQ(gilt->frametype()->name(), "Full frame");
    EXPECT_NE(gilt->frameAttributeWithName("Landscape Image")->imageVal(), nullptr);
    EXPECT_NE(gilt->frameAttributeWithName("Portrait Image")->imageVal(), nullptr);
    EXPECT_EQ(moc->fetchObjects<Frame>().size(), 3);

    // The graphics were copied in; saving keeps everything.
    EXPECT_TRUE(QFileInfo::exists(gilt->frameAttributeWithName("Landscape Image")->imageVal()->imagePath()));
    ASSERT_TRUE(moc->save());
}

TEST(KTImportOldCollectionsImport, FailedImportLeavesTheLibraryAsItWas)
{
    sharedLibrary();
    Library lib;
    platform::ManagedObjectContext *moc = lib.moc();
    seedFrameTypes(moc);
    ASSERT_TRUE(moc->save());

    const QString root = freshFolder() + "/Broken";
    picture(root + "/A/Fine_l.png");
    picture(root + "/B/Old_Oak_tl.png"); // suffix "Oak_tl" names no type
    const QStringList before = graphicsFiles();

    KTImportOldCollections importer;
    importer.setMoc(moc);
    importer.setURL("https://example.org/frames");
    importer.setUseFilenameAsCatalogRef(true);
    EXPECT_FALSE(importer.importCollectionFromPath(root));
    EXPECT_TRUE(moc->fetchObjects<FrameCollection>().isEmpty());
    EXPECT_TRUE(moc->fetchObjects<FrameSet>().isEmpty());
    EXPECT_TRUE(moc->fetchObjects<Frame>().isEmpty());
    EXPECT_FALSE(moc->hasChanges());
    EXPECT_EQ(graphicsFiles(), before) << "copied graphics are taken back";

    // A folder that can't be listed is presented and fails.
    QList<platform::Error> presented;
    platform::setErrorPresenter([&](const platform::Error &e) { presented << e; });
    EXPECT_FALSE(importer.importCollectionFromPath(freshFolder() + "/missing"));
    platform::setErrorPresenter(nullptr);
    EXPECT_EQ(presented.size(), 1);
    EXPECT_TRUE(moc->fetchObjects<FrameCollection>().isEmpty());

    // With a URL and catalogue references on, the frames carry them.
    QDir(root + "/B").removeRecursively();
    ASSERT_TRUE(importer.importCollectionFromPath(root));
    Frame *fine = frameNamed(moc, "Fine");
    ASSERT_NE(fine, nullptr);
    EXPECT_EQ(fine->url(), "https://example.org/frames");
    EXPECT_EQ(fine->catalogRef(), "Fine");
}
