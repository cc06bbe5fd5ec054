#pragma once

#include "platform/Error.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/PersistentStore.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class AppDelegateServices;
class QLockFile;

inline constexpr const char *kImportedInitialFramesKey = "ImportedInitialFrames";
inline constexpr const char *kLastUpdateDateKey = "lastUpdateDate";
inline constexpr const char *kProUpdatedKey = "proUpdated";
// In the store's metadata: the built-in frames went into this very file.
inline constexpr const char *kStoreImportedInitialFramesKey = "KTImportedInitialFrames";

// The persistent side of the frame library: the support folder, the graphics
// folder, the store "KTLibrary.db" with its metadata, and the main context
// every window of the library works in. Everything is made on first use, on
// the main thread; the metadata may be read and written from any thread.
class LibraryStore : public QObject
{
    Q_OBJECT
public:
    // With an empty `supportFolder` the folder is the user's data folder +
    // "Kantelo", and the first request moves an old "Kantelo3" folder there.
    explicit LibraryStore(AppDelegateServices *services, const QString &supportFolder = QString(),
                          QObject *parent = nullptr);
    ~LibraryStore() override;

    // The store the entities' main-context look-ups use.
    static LibraryStore *shared();
    static void setShared(LibraryStore *store);
    // The shared store's main context (null without a shared store): what the
    // program's windows hand to the designs they read.
    static platform::ManagedObjectContext *sharedContext();

    QString applicationSupportFolder();
    QString framesGraphicsFolder();
    std::shared_ptr<const platform::ManagedObjectModel> managedObjectModel() const;
    QString libraryDatabasePath();
    QUrl libraryDatabaseURL();
    // Opens the store (null when it could not be opened) and, on a first run
    // or after an unfinished first-run import, queues the import.
    platform::PersistentStore *persistentStoreCoordinator();
    platform::ManagedObjectContext *managedObjectContext();

    QVariant valueForLibraryMetadataKey(const QString &key);
    // An invalid value removes the key.
    void setValueForLibraryMetadataKey(const QVariant &value, const QString &key);

    // Ends the first-run import: saves the main context and only then marks
    // the store (its metadata) and raises "ImportedInitialFrames". Answers
    // whether it was saved.
    bool recordInitialFramesImported(platform::Error *error = nullptr);
    // The first-run import (the built-in designs after the frames) is over,
    // recorded or not: other processes on this profile may look again.
    void releaseImportLock();
    // This process runs (or is about to run) the first-run import.
    bool isImportingInitialFrames() const { return m_importLock != nullptr; }

    // Moves `oldPath` to `newPath` when the old one exists and the new one
    // does not; logs a failure. Answers whether it moved.
    static bool moveOldSupportFolder(const QString &oldPath, const QString &newPath);
    // Renames a damaged store file (and its journal files) beside itself;
    // answers the new path, empty on failure.
    static QString moveStoreAside(const QString &path);

private:
    AppDelegateServices *m_services;
    QString m_supportFolder;
    bool m_fixedFolder;
    bool m_coordinatorMade = false;
    std::shared_ptr<platform::PersistentStore> m_store;
    std::unique_ptr<platform::ManagedObjectContext> m_context;
    // Held from opening the store until the first-run import is recorded or
    // not needed: one process on a profile imports, the others wait and see.
    std::unique_ptr<QLockFile> m_importLock;
};
