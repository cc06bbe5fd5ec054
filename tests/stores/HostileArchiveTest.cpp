// Archives that once crashed or filled the disk, replayed from tests/data,
// and what imports leave behind.
#include "FrameArchiveTestSupport.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

using namespace archivetest;
using namespace librarytest;

TEST(HostileArchive, DeeplyNestedItemIsRefusedAndTheImportEnds)
{
    // 4.6 KB: a collection item of 200,000 nested arrays in XML.
    sharedLibrary();
    Library target;
    ImportRecorder imported;
    auto importer = importArchive(QString(KANTELO_TEST_DATA_DIR) + "/deep-array.ktframes", target.moc(), &imported);
    EXPECT_TRUE(imported.finished);
    EXPECT_TRUE(importer->importedCollectionIDs().isEmpty());
    EXPECT_TRUE(target.moc()->fetchObjects<FrameCollection>().isEmpty());
}

TEST(HostileArchive, StaleImportFoldersAreRemovedAndLiveOnesKept)
{
    const QString support = freshFolder();
    const QString live = QString("%1/.ktframes-import-%2-AbC123").arg(support).arg(QCoreApplication::applicationPid());
    const QString older = support + "/.ktframes-import-Xy12Zq";      // named before folders carried a process
    const QString dead = support + "/.ktframes-import-999999999-Qq"; // no such process
    for (const QString &folder : {live, older + "/Graphics", dead + "/Frames"}) {
        QDir().mkpath(folder);
        QFile file(folder + "/item");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QDir().mkpath(support + "/Frames");
    EXPECT_EQ(KTFrameLibraryImporter::removeStaleImportFolders(support), 2);
    EXPECT_TRUE(QFileInfo::exists(live + "/item"));
    EXPECT_FALSE(QFileInfo::exists(older));
    EXPECT_FALSE(QFileInfo::exists(dead));
    EXPECT_TRUE(QFileInfo::exists(support + "/Frames"));
}
