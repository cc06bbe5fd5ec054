#include "LibraryTestSupport.h"

#include "platform/UserDefaults.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameType.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <thread>

using namespace platform;
using namespace librarytest;

namespace {

struct PresentedErrors {
    QList<Error> errors;
    PresentedErrors()
    {
        setErrorPresenter([this](const Error &e) { errors.append(e); });
    }
    ~PresentedErrors() { setErrorPresenter(nullptr); }
};

void setImported(bool imported)
{
    UserDefaults::standard().setBool(kImportedInitialFramesKey, imported);
}

QStringList typeNames(ManagedObjectContext *moc)
{
    QStringList names;
    for (FrameType *type : moc->fetchObjects<FrameType>())
        names << type->name();
    names.sort();
    return names;
}

} // namespace

TEST(LibraryStoreFirstRun, ANewStoreIsSeededAndAsksForTheInitialImportLater)
{
    PresentedErrors presented;
    setImported(false);
    ShellDouble shell;
    const QString support = freshFolder() + "/Kantelo";
    LibraryStore library(&shell, support);
    EXPECT_FALSE(QFileInfo::exists(support)) << "asking for paths creates nothing";
    EXPECT_EQ(library.framesGraphicsFolder(), support + "/Frames");
    EXPECT_EQ(library.libraryDatabasePath(), support + "/KTLibrary.db");
    EXPECT_EQ(library.libraryDatabaseURL().toLocalFile(), support + "/KTLibrary.db");

    ManagedObjectContext *moc = library.managedObjectContext();
    ASSERT_TRUE(moc);
    EXPECT_TRUE(QFileInfo::exists(support + "/KTLibrary.db"));
    EXPECT_EQ(typeNames(moc), (QStringList{"Color Mat", "Full frame", "Moulding", "Moulding with corners"}));
    EXPECT_TRUE(moc->hasChanges()) << "seeded, not saved";
    EXPECT_TRUE(moc->undoManager());
    EXPECT_FALSE(moc->undoManager()->canUndo()) << "seeding is not the user's edit";
    EXPECT_TRUE(shell.needTemplates);
    EXPECT_EQ(shell.importRequests, 0) << "queued, not run at once";
    QCoreApplication::processEvents();
    EXPECT_EQ(shell.importRequests, 1);
    EXPECT_TRUE(presented.errors.isEmpty());
}

TEST(LibraryStoreFirstRun, AnUnfinishedImportIsAskedForAgainAndAFinishedOneIsNot)
{
    const QString support = freshFolder();
    {
        ShellDouble shell;
        LibraryStore library(&shell, support);
        ASSERT_TRUE(library.managedObjectContext()->save());
    }
    setImported(false);
    {
        ShellDouble shell;
        LibraryStore library(&shell, support);
        library.managedObjectContext();
        QCoreApplication::processEvents();
        EXPECT_EQ(shell.importRequests, 1);
        EXPECT_TRUE(shell.needTemplates);
    }
    setImported(true);
    ShellDouble shell;
    LibraryStore library(&shell, support);
    library.managedObjectContext();
    QCoreApplication::processEvents();
    EXPECT_EQ(shell.importRequests, 0);
    EXPECT_FALSE(shell.needTemplates);
    EXPECT_EQ(typeNames(library.managedObjectContext()).size(), 4) << "types were saved and not seeded twice";
}

TEST(LibraryStoreFirstRun, AStoreWithSomeTypesGetsNoMore)
{
    const QString support = freshFolder();
    {
        ShellDouble shell;
        LibraryStore library(&shell, support);
        ManagedObjectContext *moc = library.managedObjectContext();
        for (FrameType *type : moc->fetchObjects<FrameType>())
            if (type->name() != "Moulding")
                moc->deleteObject(type);
        ASSERT_TRUE(moc->save());
    }
    ShellDouble shell;
    LibraryStore library(&shell, support);
    EXPECT_EQ(typeNames(library.managedObjectContext()), QStringList{"Moulding"});
}

TEST(LibraryStoreFirstRun, TheImportedFlagWaitsForARealSave)
{
    PresentedErrors presented;
    setImported(false);
    const QString support = freshFolder();
    QDir().mkpath(support);
    {
        QFile junk(support + "/KTLibrary.db");
        ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
    }
    ShellDouble shell; // declines moving the file
    LibraryStore library(&shell, support);
    Frame::insertInManagedObjectContext(library.managedObjectContext());
    Error error;
    EXPECT_FALSE(library.recordInitialFramesImported(&error));
    EXPECT_EQ(error.code, StoreMissing);
    EXPECT_FALSE(UserDefaults::standard().boolForKey(kImportedInitialFramesKey));

    Library good;
    ShellDouble other;
    LibraryStore working(&other, QFileInfo(good.path).absolutePath());
    EXPECT_TRUE(working.recordInitialFramesImported());
    EXPECT_TRUE(UserDefaults::standard().boolForKey(kImportedInitialFramesKey));
}

TEST(LibraryStoreFirstRun, TheStoreNotTheSettingsTellsWhetherTheBuiltInFramesAreIn)
{
    auto importsAsked = [](const QString &support) {
        ShellDouble shell;
        shell.agreeToMove = true;
        LibraryStore library(&shell, support);
        library.managedObjectContext();
        QCoreApplication::processEvents();
        if (shell.importRequests) {
            EXPECT_TRUE(library.recordInitialFramesImported());
        }
        return shell.importRequests;
    };
    // A 0-byte file, and a damaged one moved aside, start new stores that
    // get the built-in frames although the settings say they were imported.
    for (const QByteArray &content : {QByteArray(), QByteArray("not a library ").repeated(300)}) {
        PresentedErrors presented;
        const QString support = freshFolder();
        QFile file(support + "/KTLibrary.db");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        setImported(true);
        EXPECT_EQ(importsAsked(support), 1) << content.size();
        // Once in, a lost settings file imports nothing over the library.
        setImported(false);
        EXPECT_EQ(importsAsked(support), 0);
    }
}

TEST(LibraryStoreDamage, ADamagedFileIsReportedOnceAndKeptWhenTheUserDeclines)
{
    PresentedErrors presented;
    const QString support = freshFolder();
    const QByteArray junk = QByteArray("not a library ").repeated(300);
    {
        QFile f(support + "/KTLibrary.db");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(junk);
    }
    ShellDouble shell;
    LibraryStore library(&shell, support);
    ManagedObjectContext *moc = library.managedObjectContext();
    ASSERT_TRUE(moc) << "the library goes on without a store";
    EXPECT_FALSE(library.persistentStoreCoordinator());
    ASSERT_EQ(presented.errors.size(), 1);
    EXPECT_EQ(presented.errors.first().code, StoreDamaged);
    EXPECT_EQ(shell.movePrompts, 1);
    library.managedObjectContext();
    EXPECT_EQ(presented.errors.size(), 1) << "reported once";
    QFile f(support + "/KTLibrary.db");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), junk);
    EXPECT_FALSE(moc->hasChanges()) << "nothing seeded whose every save would fail again";
    FrameCollection::insertInManagedObjectContext(moc);
    EXPECT_FALSE(moc->save());
}

TEST(LibraryStoreDamage, WithConsentTheFileIsMovedAsideAndANewStoreStarts)
{
    PresentedErrors presented;
    const QString support = freshFolder();
    const QByteArray junk = QByteArray("not a library ").repeated(300);
    {
        QFile f(support + "/KTLibrary.db");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(junk);
    }
    ShellDouble shell;
    shell.agreeToMove = true;
    LibraryStore library(&shell, support);
    ASSERT_TRUE(library.persistentStoreCoordinator());
    EXPECT_EQ(presented.errors.size(), 1);
    const QStringList aside = QDir(support).entryList({"KTLibrary.db.damaged-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile f(support + '/' + aside.first());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), junk) << "the damaged file is kept as it was";
    EXPECT_TRUE(library.managedObjectContext()->save());
}

TEST(LibraryStoreMetadata, ValuesAreSetAndRemovedOnTheFileFromAnyThread)
{
    PresentedErrors presented;
    ShellDouble shell;
    LibraryStore library(&shell, freshFolder());
    EXPECT_FALSE(library.valueForLibraryMetadataKey(kLastUpdateDateKey).isValid());
    EXPECT_TRUE(presented.errors.isEmpty()) << "no store file yet is not an error";

    library.managedObjectContext();
    const QDateTime when(QDate(2019, 5, 6), QTime(7, 8, 9), QTimeZone::utc());
    std::thread worker([&] {
        library.setValueForLibraryMetadataKey(when, kLastUpdateDateKey);
        library.setValueForLibraryMetadataKey(QStringLiteral("YES"), kProUpdatedKey);
        EXPECT_EQ(library.valueForLibraryMetadataKey(kProUpdatedKey).toString(), "YES");
        library.setValueForLibraryMetadataKey(QVariant(), kProUpdatedKey);
    });
    worker.join();
    EXPECT_EQ(library.valueForLibraryMetadataKey(kLastUpdateDateKey).toDateTime(), when);
    EXPECT_FALSE(library.valueForLibraryMetadataKey(kProUpdatedKey).isValid());
    EXPECT_TRUE(presented.errors.isEmpty());
}

TEST(LibraryStoreSupportFolder, TheOldFolderMovesOnlyWhenTheNewOneIsMissing)
{
    const QString base = freshFolder();
    QDir().mkpath(base + "/Kantelo3/Frames");
    EXPECT_TRUE(LibraryStore::moveOldSupportFolder(base + "/Kantelo3", base + "/Kantelo"));
    EXPECT_TRUE(QFileInfo::exists(base + "/Kantelo/Frames"));
    EXPECT_FALSE(QFileInfo::exists(base + "/Kantelo3"));

    QDir().mkpath(base + "/Kantelo3");
    EXPECT_FALSE(LibraryStore::moveOldSupportFolder(base + "/Kantelo3", base + "/Kantelo"));
    EXPECT_TRUE(QFileInfo::exists(base + "/Kantelo3")) << "both exist: nothing moves";
    EXPECT_FALSE(LibraryStore::moveOldSupportFolder(base + "/Nothing3", base + "/Nothing"));
}
