#pragma once

#include "platform/Error.h"
#include "platform/objectstore/ObjectID.h"

#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <memory>

namespace platform {
class ManagedObject;
class ManagedObjectContext;
}
class ZCZipArchive;
class FrameCollection;
class FrameSet;
class Frame;
class FrameImage;

// Total and completed units of an export, handed out as a snapshot.
struct KTFrameLibraryExportProgress {
    qint64 totalUnitCount = 0;
    qint64 completedUnitCount = 0;
    double fractionCompleted() const
    {
        return totalUnitCount > 0 ? double(completedUnitCount) / double(totalUnitCount) : 0.0;
    }
};

// Told of an export's progress and end, on the main thread. Destroying the
// delegate while an export runs is safe: it is held weakly.
class KTFrameLibraryExporterDelegate
{
public:
    virtual ~KTFrameLibraryExporterDelegate() = default;
    virtual void progressUpdated(const KTFrameLibraryExportProgress &progress) = 0;
    // True when the archive is at the destination.
    virtual void exportFinished(bool succeeded) = 0;

private:
    friend class KTFrameLibraryExporter;
    std::shared_ptr<char> m_liveness = std::make_shared<char>();
};

// Writes chosen library items into a frame archive on a private child
// context. The archive is built beside the destination and moved over it in
// one step, so a failed export leaves an older file there untouched. Create
// with std::make_shared: a running export keeps itself alive.
class KTFrameLibraryExporter : public std::enable_shared_from_this<KTFrameLibraryExporter>
{
public:
    // Items are written with their children, parents without. Objects of the
    // main-thread context; call on the main thread.
    KTFrameLibraryExporter(const QList<platform::ManagedObject *> &items,
                           const QList<platform::ManagedObject *> &parentObjects, const QUrl &url);
    ~KTFrameLibraryExporter();

    void setCountOfItems(quint64 count) { m_countOfItems = count; }
    quint64 countOfItems() const { return m_countOfItems; }

    void startExportWithDelegate(KTFrameLibraryExporterDelegate *delegate);

    // Why the export failed, for the user; null while it runs and after a success.
    platform::Error error() const;

    // The progress step for `countOfItems` (a fiftieth, halves up).
    static quint64 progressStepForCount(quint64 countOfItems);

private:
    struct Run;

    void exportInChildContext(std::shared_ptr<Run> run);
    bool exportCollection(FrameCollection *collection, bool withChildren);
    bool exportSet(FrameSet *set, bool withChildren);
    bool exportFrame(Frame *frame);
    bool exportImage(FrameImage *image);
    bool writeItem(const char *folder, const QString &guid, const QVariantMap &dictionary);
    static QByteArray plistDataOf(const QVariantMap &dictionary);
    void setItemsProgress(quint64 itemsProgress);
    void report(std::function<void(KTFrameLibraryExporterDelegate *)> call);
    void finish(std::shared_ptr<Run> run, bool succeeded);
    // Keeps the first reason an export fails (worker thread).
    void noteFailure(const QString &description);

    quint64 m_countOfItems = 0;
    QList<platform::ObjectID> m_itemIDs;
    QList<platform::ObjectID> m_missingParentIDs;
    QUrl m_url;
    platform::ManagedObjectContext *m_originalMOC = nullptr;
    ZCZipArchive *m_zipArchive = nullptr;
    QSet<QString> m_savedImageGUIDs;
    quint64 m_itemsProgress = 0;
    QString m_failure;

    mutable QMutex m_mutex;
    KTFrameLibraryExportProgress m_progress;
    platform::Error m_error;
    KTFrameLibraryExporterDelegate *m_delegate = nullptr;
    std::weak_ptr<char> m_delegateLiveness;
    bool m_started = false;
};
