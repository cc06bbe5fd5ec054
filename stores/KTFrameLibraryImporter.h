#pragma once

#include "platform/objectstore/ManagedObjectContext.h"

#include <QPointer>

#include "platform/Error.h"
#include "platform/objectstore/ObjectID.h"

#include <QList>
#include <QMutex>
#include <QUrl>

#include <memory>

namespace platform {
class ManagedObjectContext;
}

class KTFrameLibraryImporter;

// Told of an import's progress and end. Calls arrive on the main thread.
// Destroying the delegate is safe while an import runs: the importer holds it
// weakly and stops calling it.
class KTFrameLibraryImporterDelegate
{
public:
    virtual ~KTFrameLibraryImporterDelegate() = default;
    // The archive was imported, pushed into the target context and saved to
    // its store.
    virtual void importerDidFinish(KTFrameLibraryImporter *importer) = 0;
    // Nothing (or not everything) could be imported.
    virtual void importerFailedWithError(KTFrameLibraryImporter *importer, const platform::Error &error) = 0;
    // Overall progress, 0 to 1; a successful import always ends with 1.
    virtual void importerProgress(KTFrameLibraryImporter *importer, double progress) = 0;

private:
    friend class KTFrameLibraryImporter;
    std::shared_ptr<char> m_liveness = std::make_shared<char>();
};

// Reads a frame archive into the library in the background: unpacks it into
// a temporary folder, moves its graphics into the graphics folder and applies
// its item dictionaries in a private child context of the target context,
// whose save pushes them into the target. Create it with std::make_shared:
// a running import keeps itself alive, the caller need not.
class KTFrameLibraryImporter : public std::enable_shared_from_this<KTFrameLibraryImporter>
{
public:
    static constexpr const char *kFinishedImportingFramesNotification = "KTFinishedImportingFrames";
    static constexpr const char *kErrorDomain = "KTFrameLibraryImporterErrorDomain";
    static constexpr const char *kImportFramesEvent = "Import Frames";
    static constexpr const char *kImportFramesEventFrames = "Frames";

    // `framesFolder` is the graphics folder (a file URL); `targetMOC` the
    // main-thread context that receives the items.
    KTFrameLibraryImporter(const QUrl &url, const QUrl &framesFolder, platform::ManagedObjectContext *targetMOC);
    ~KTFrameLibraryImporter();

    void setDelegate(KTFrameLibraryImporterDelegate *delegate);
    KTFrameLibraryImporterDelegate *delegate() const;

    // Starts the import and returns at once. Call on the main thread, once.
    void startImport();

    // Removes the unpacking folders that imports killed or crashed midway
    // left in `supportFolder` (the graphics folder's parent); those of
    // imports still running stay. Answers how many went.
    static int removeStaleImportFolders(const QString &supportFolder);

    const QUrl &url() const { return m_url; }
    const QUrl &framesFolder() const { return m_framesFolder; }
    platform::ManagedObjectContext *targetMOC() const { return m_targetMOC.data(); }

    // Complete once importerDidFinish has been sent. Only what the import
    // added: items the library had already are updated but not listed.
    QList<platform::ObjectID> importedCollectionIDs() const;
    QList<platform::ObjectID> importedSetIDs() const;
    QList<platform::ObjectID> importedFrameIDs() const;
    // Items the library had already whose content the archive changed.
    QList<platform::ObjectID> updatedCollectionIDs() const;
    QList<platform::ObjectID> updatedSetIDs() const;
    QList<platform::ObjectID> updatedFrameIDs() const;
    // The collections, sets and frames the archive holds, new or not.
    qint64 itemsInArchive() const;

private:
    struct Run;

    void unzipAndContinue();
    void importInChildContext(std::shared_ptr<Run> run);
    void importFromFolder(const QString &folder, platform::ManagedObjectContext *moc);
    void importFrameImagesFromFolder(const QString &folder, platform::ManagedObjectContext *moc);
    void importCollectionsFromFolder(const QString &folder, platform::ManagedObjectContext *moc);
    void importSetsFromFolder(const QString &folder, platform::ManagedObjectContext *moc);
    void importFramesFromFolder(const QString &folder, platform::ManagedObjectContext *moc);
    // Lists an applied item as added or updated.
    void noteItem(const platform::ManagedObject *item, bool inserted, bool changed, QList<platform::ObjectID> &added,
                  QList<platform::ObjectID> &updated);
    void calculateTotalForProgressWithURL(const QString &folder);
    void increaseImportProgress();
    void setProgress(double progress, int stage);
    void finishWithError(const platform::Error &error);
    void finishSuccessfully();

    QUrl m_url;
    QUrl m_framesFolder;
    // Watched: the context may go before a running import reaches it.
    QPointer<platform::ManagedObjectContext> m_targetMOC;
    KTFrameLibraryImporterDelegate *m_delegate = nullptr;
    std::weak_ptr<char> m_delegateLiveness;

    mutable QMutex m_mutex;
    QList<platform::ObjectID> m_collectionIDs;
    QList<platform::ObjectID> m_setIDs;
    QList<platform::ObjectID> m_framesIDs;
    QList<platform::ObjectID> m_updatedCollectionIDs;
    QList<platform::ObjectID> m_updatedSetIDs;
    QList<platform::ObjectID> m_updatedFrameIDs;
    qint64 m_totalProgressValue = 0;
    qint64 m_itemsInArchive = 0;
    qint64 m_progressCount = 0;
    double m_lastProgressValue = 0;
    bool m_started = false;
};
