#pragma once

#include "design/KTDesignStores.h"
#include "platform/Error.h"
#include "platform/ThreadPools.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <memory>
#include <mutex>

class KTBatchProcessingOptions;
class KTTemplate;

// One batch session's engine: finds the pictures among chosen files and
// folders, plans the output names, processes every file on a pool of its own
// (one file per core) and reports each result on the main thread; it makes
// the design-applied thumbnails and large previews and owns the session's
// preview folder. The windows of a session talk to it; it shows none.
class KTBatchProcessingCoordinator : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *kProcessingQueueLabel = "com.velmoorsoft.Kantelo3.KTBatchProcessingCoordinator.Processing";
    static constexpr const char *kPreviewsFolderName = "BatchProcessingPreviews";
    static constexpr const char *kBatchEvent = "Batch";
    static constexpr int kLargePreviewSide = 600;
    // The prepared pictures a run keeps for its next files at most.
    static constexpr qint64 kKeptPictureBytes = qint64(64) << 20;
    static constexpr const char *kDirectoryFailedFormat = "Could not create a temporary directory at %1: %2";
    static constexpr const char *kRemovePreviewFailedFormat = "Could not remove a generated preview image at %1: %2";
    static constexpr const char *kNoImagesTitle = "No images were found";
    static constexpr const char *kNoImagesText = "Please select one or more image files or a directory with images.";

    explicit KTBatchProcessingCoordinator(QObject *parent = nullptr);
    // The stores the designs of runs and thumbnails are read against; set
    // by the window before any run.
    void setStores(const KTDesignStores &stores) { m_stores = stores; }
    const KTDesignStores &stores() const { return m_stores; }
    // Cancels a run and waits for its files (workers never wait for the
    // main thread), then removes the session's previews.
    ~KTBatchProcessingCoordinator() override;

    // --- finding pictures ---
    // Each item once, in path order: files as they are, folders by their pictures.
    static QList<QUrl> scanItemsForImages(const QList<QUrl> &items);
    // The JPEG, PNG, TIFF and Photoshop files at any depth, leaving out hidden
    // entries and the insides of packages.
    static QList<QUrl> scanDirectoryForImages(const QUrl &folder);
    // The one folder holding all the files; empty when they lie in several.
    static QUrl sharedParentDirectoryForFiles(const QList<QUrl> &files);

    // --- a run ---
    struct OutputPlan {
        QList<QUrl> inputs;
        QStringList outputPaths; // one per input, same order
        QStringList problems;    // names that would collide or write over a photo
    };
    // Every output path, worked out before anything is written.
    static OutputPlan planOutputs(const KTBatchProcessingOptions &options, const QUrl &destinationDirectory);

    // Starts processing on the main thread's behalf: the design is resolved
    // here, once; each file then renders a copy of it. False, with nothing
    // written, when a run is going, the design can't be read, the folder is
    // missing or names collide (error's userInfo "problems" lists them).
    bool startBatchProcessingWithOptions(std::shared_ptr<const KTBatchProcessingOptions> options,
                                         const QUrl &destinationDirectory, platform::Error *error = nullptr);
    // Files not yet begun are skipped; files being written are abandoned
    // whole. processingFinished follows.
    void cancelProcessing();
    // Files not yet begun are skipped; files being written are finished
    // whole. processingFinished follows.
    void stopAfterCurrentFiles();
    bool isProcessing() const { return m_processing; }
    platform::WorkQueue *processingQueue() const { return m_pool.get(); }

    // --- thumbnails and previews (any thread) ---
    QImage thumbnailForImageAtURL(const QUrl &url, const QByteArray &templateData, const QSize &enclosingRectSize);
    QUrl largePreviewFileURLForImageAtURL(const QUrl &url, const QByteArray &templateData);
    // Deletes the file when it lies directly in this session's preview folder.
    void purgeGeneratedPreview(const QUrl &url);

    // The user's "BatchProcessingPreviews" under the cache folder.
    static QString previewsRootFolder();
    // At start-up: previews of sessions that ended without cleaning up.
    static void purgeStaleBatchProcessingPreviews();
    // The session's folder, made once on first use (any thread); empty when
    // it can't be made (the next call tries again).
    QUrl temporaryDirectoryForPreviews();
    void purgeAllGeneratedPreviewsFromCurrentSession();
    // Ends the session: removes its previews and says didFinish (queued).
    void finish();

signals:
    void processingStarted(int count);
    void fileSucceeded(const QUrl &input, const QString &outputPath);
    // The reason is kept for the list of failed files.
    void fileFailed(const QUrl &input, const QString &reason);
    void processingFinished(int written, int failed, bool cancelled);
    void didFinish();

private:
    struct Run;
    void fileDone(const std::shared_ptr<Run> &run, const QUrl &input, const QString &output, bool ok, bool skipped,
                  const QString &reason);

    std::unique_ptr<platform::WorkQueue> m_pool;
    // Written files made durable and put in place while their workers go on.
    std::unique_ptr<platform::WorkQueue> m_commits;
    std::shared_ptr<Run> m_run;
    bool m_processing = false;
    // The design of the thumbnails, decoded once for the data they come with.
    std::shared_ptr<const KTTemplate> designForThumbnails(const QByteArray &templateData);
    KTDesignStores m_stores;
    std::mutex m_thumbnailsMutex;
    QByteArray m_thumbnailsData;
    std::shared_ptr<const KTTemplate> m_thumbnailsDesign;
    std::mutex m_previewsMutex;
    QString m_previewsFolder;
};
