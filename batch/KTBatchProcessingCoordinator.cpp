#include "batch/KTBatchProcessingCoordinator.h"

#include "batch/KTBatchProcessingOptions.h"
#include "batch/KTImageFileFormat.h"
#include "batch/KTImageProcessor.h"
#include "design/KTPreparedPictureCache.h"
#include "design/KTTemplate.h"
#include "kit/VLWAnalytics.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/TypeTable.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/ImageBuffer.h"
#include "platform/imaging/ParallelRows.h"
#include "platform/render/ShadowCache.h"
#include "platform/render/TransparencyLayer.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>

struct KTBatchProcessingCoordinator::Run {
    // Photos of a batch come in a few sizes: their buffers are used again.
    platform::ImageBuffer::RecyclingScope recycling;
    // Every file is framed with one design, mostly at one size: its shadows
    // are worked out once for all the workers (none for a lone file).
    std::unique_ptr<platform::ShadowCache> shadows;
    // Likewise the pictures it prepares for drawing (a moulding's tiles
    // scaled and filtered), shared by the workers instead of made by each;
    // let go after a file once they grow past kKeptPictureBytes (photos of
    // many sizes would pile them up).
    std::unique_ptr<KTPreparedPictureCache> pictures;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> stopping{false}; // no new files; those begun are finished
    // Files not finished on the workers; while there are as many as workers,
    // each file is drawn by its worker alone, after that the files left
    // share the cores whose workers have none.
    std::atomic<int> unfinished{0};
    std::atomic<bool> crowded{true};
    // The first files begun, one a worker: each works out a share of the
    // bands' shadows before it draws.
    std::atomic<int> sharing{0};
    int total = 0;
    int written = 0;
    int failed = 0;
    int finished = 0; // results seen on the main thread, cancelled ones included
};

KTBatchProcessingCoordinator::KTBatchProcessingCoordinator(QObject *parent)
    : QObject(parent)
    , m_pool(std::make_unique<platform::WorkQueue>(platform::Pool::Batch,
                                                   platform::poolThreadCount(platform::Pool::Batch)))
    , m_commits(std::make_unique<platform::WorkQueue>(platform::Pool::Background,
                                                      platform::poolThreadCount(platform::Pool::Batch)))
{
    m_pool->setObjectName(QString::fromLatin1(kProcessingQueueLabel));
}

KTBatchProcessingCoordinator::~KTBatchProcessingCoordinator()
{
    if (m_run)
        m_run->cancelled = true;
    m_pool->waitForDone();
    // Every file written is put in place, cancelled or not.
    m_commits->waitForDone();
    purgeAllGeneratedPreviewsFromCurrentSession();
}

// --- finding pictures ---

namespace {

bool isHidden(const QFileInfo &info)
{
    return info.fileName().startsWith(QLatin1Char('.')) || info.isHidden();
}

bool isPackage(const QFileInfo &info)
{
    return info.isDir()
           && platform::TypeTable::conformsTo(platform::TypeTable::typeForFile(info.filePath()),
                                              QStringLiteral("com.apple.package"));
}

void walk(const QString &folder, QSet<QString> &visited, QStringList &found)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || visited.contains(canonical))
        return;
    visited.insert(canonical);
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (isHidden(entry))
            continue;
        if (entry.isDir()) {
            if (!isPackage(entry))
                walk(entry.filePath(), visited, found);
            continue;
        }
        const QString type = platform::TypeTable::typeForFile(entry.filePath());
        if (type.isEmpty()) {
            platform::logLine(QStringLiteral("Failed to fetch a resource value for NSURLTypeIdentifierKey: %1")
                                  .arg(QStringLiteral("no type for %1").arg(entry.filePath())));
            continue;
        }
        if (KTImageFileFormat::isImageUTI(type))
            found.append(entry.absoluteFilePath());
    }
}

} // namespace

QList<QUrl> KTBatchProcessingCoordinator::scanDirectoryForImages(const QUrl &folder)
{
    QSet<QString> visited;
    QStringList found;
    walk(folder.toLocalFile(), visited, found);
    QList<QUrl> urls;
    for (const QString &path : std::as_const(found))
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

QList<QUrl> KTBatchProcessingCoordinator::scanItemsForImages(const QList<QUrl> &items)
{
    QStringList paths;
    QSet<QString> seen;
    auto add = [&](const QString &path) {
        const QString key = QFileInfo(path).canonicalFilePath().isEmpty() ? path : QFileInfo(path).canonicalFilePath();
        if (!seen.contains(key)) {
            seen.insert(key);
            paths.append(QFileInfo(path).absoluteFilePath());
        }
    };
    for (const QUrl &item : items) {
        const QFileInfo info(item.toLocalFile());
        if (!info.exists())
            platform::logLine(QStringLiteral("Failed to fetch a resource value for NSURLIsDirectoryKey: %1")
                                  .arg(QStringLiteral("nothing at %1").arg(info.filePath())));
        if (info.isDir()) {
            for (const QUrl &url : scanDirectoryForImages(item))
                add(url.toLocalFile());
        } else {
            add(info.filePath());
        }
    }
    std::sort(paths.begin(), paths.end());
    QList<QUrl> urls;
    for (const QString &path : std::as_const(paths))
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

QUrl KTBatchProcessingCoordinator::sharedParentDirectoryForFiles(const QList<QUrl> &files)
{
    QString shared;
    for (const QUrl &file : files) {
        const QString parent = QFileInfo(file.toLocalFile()).absolutePath();
        if (shared.isNull())
            shared = parent;
        else if (parent != shared)
            return {};
    }
    return shared.isNull() ? QUrl() : QUrl::fromLocalFile(shared);
}

// --- a run ---

KTBatchProcessingCoordinator::OutputPlan KTBatchProcessingCoordinator::planOutputs(const KTBatchProcessingOptions &options,
                                                                                   const QUrl &destinationDirectory)
{
    OutputPlan plan;
    const QDir destination(destinationDirectory.toLocalFile());
    QHash<QString, QString> inputByKey;
    auto keyOf = [](const QString &path) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
    };
    for (const QUrl &input : options.files())
        inputByKey.insert(keyOf(input.toLocalFile()), input.toLocalFile());
    QHash<QString, QString> firstInputOfOutput;
    for (const QUrl &input : options.files()) {
        const QString output = destination.filePath(options.outputFileNameForInput(input));
        // The output's own canonical path when it exists, else its folder's plus the name.
        QString key = QFileInfo(output).canonicalFilePath();
        if (key.isEmpty())
            key = QDir(QFileInfo(output).absolutePath()).canonicalPath() + QLatin1Char('/') + QFileInfo(output).fileName();
        plan.inputs.append(input);
        plan.outputPaths.append(output);
        // A prefix or suffix from a damaged preset must not lead out of the folder.
        if (!platform::isSafeFileName(options.outputFileNameForInput(input))) {
            plan.problems.append(QStringLiteral("“%1” is no name for a file in the destination folder.")
                                     .arg(options.outputFileNameForInput(input)));
        } else if (inputByKey.contains(key)) {
            plan.problems.append(QStringLiteral("“%1” would be written over the photo “%2”.")
                                     .arg(QFileInfo(output).fileName(), inputByKey.value(key)));
        } else if (firstInputOfOutput.contains(key)) {
            plan.problems.append(QStringLiteral("“%1” and “%2” would both be written as “%3”.")
                                     .arg(firstInputOfOutput.value(key), input.toLocalFile(), QFileInfo(output).fileName()));
        } else {
            firstInputOfOutput.insert(key, input.toLocalFile());
        }
    }
    return plan;
}

bool KTBatchProcessingCoordinator::startBatchProcessingWithOptions(std::shared_ptr<const KTBatchProcessingOptions> options,
                                                                   const QUrl &destinationDirectory,
                                                                   platform::Error *error)
{
    auto refuse = [error](const QString &text, const QStringList &problems = {}) {
        if (error) {
            error->domain = QString::fromLatin1(platform::kKanteloErrorDomain);
            error->code = 1;
            error->description = text;
            if (!problems.isEmpty())
                error->userInfo.insert(QStringLiteral("problems"), problems);
        }
        return false;
    };
    if (m_processing)
        return refuse(QStringLiteral("A batch is already being processed."));
    if (!options || options->files().isEmpty())
        return refuse(QStringLiteral("There are no pictures to process."));
    if (!QFileInfo(destinationDirectory.toLocalFile()).isDir())
        return refuse(QStringLiteral("The destination folder “%1” doesn't exist.").arg(destinationDirectory.toLocalFile()));
    const OutputPlan plan = planOutputs(*options, destinationDirectory);
    if (!plan.problems.isEmpty())
        return refuse(QStringLiteral("Some pictures would be written over others or over their photos."), plan.problems);
    // Once, here on the main thread: frame layers find their frames, and
    // every file shares the decoded frame pictures.
    const auto reference = options->batchTemplate();
    const std::shared_ptr<const KTTemplate> design =
        reference ? KTImageProcessor::resolveDesign(reference->encoded(), reference->stores()) : nullptr;
    if (!design)
        return refuse(QStringLiteral("The design of the batch could not be read."));

    auto run = std::make_shared<Run>();
    run->total = int(plan.inputs.size());
    if (run->total > 1)
        run->shadows = std::make_unique<platform::ShadowCache>();
    run->pictures = std::make_unique<KTPreparedPictureCache>();
    const int workers = m_pool->maxThreadCount();
    run->unfinished = run->total;
    run->crowded = run->total >= workers;
    m_run = run;
    m_processing = true;
    emit processingStarted(run->total);
    for (qsizetype i = 0; i < plan.inputs.size(); ++i) {
        const QUrl input = plan.inputs.at(i);
        const QString output = plan.outputPaths.at(i);
        m_pool->start([this, run, options, design, input, output, workers] {
            // After a sentence, the suggestion is a sentence of its own.
            const auto reasonFor = [](const platform::Error &failure) {
                QString reason = failure.description;
                if (!failure.recoverySuggestion.isEmpty())
                    reason += (reason.endsWith(QLatin1Char('.')) ? QStringLiteral(" ") : QStringLiteral(": "))
                              + failure.recoverySuggestion;
                return reason;
            };
            QString reason;
            bool ok = false;
            const bool skipped = run->cancelled || run->stopping;
            // The file's sync and rename wait for the disk: they are done
            // off the worker, and the file is told written only after them.
            auto held = std::make_shared<platform::ImageEncoder::HeldFile>();
            if (skipped) {
                reason = QStringLiteral("Cancelled.");
            } else {
                const platform::SerialRowsScope serial(&run->crowded);
                platform::Error failure;
                const platform::ShadowCache::Scope shadows(run->shadows.get());
                const KTPreparedPictureCache::Scope pictures(run->pictures.get());
                platform::ShadowCache::Share share;
                share.index = run->shadows && run->crowded ? run->sharing.fetch_add(1) : workers;
                share.count = workers;
                const platform::ShadowCache::ShareScope sharing(share.index < workers ? &share : nullptr);
                const platform::ImageEncoder::HeldFile::Scope holding(held.get());
                ok = KTImageProcessor::processImage(input, *options, design, output, &failure,
                                                    [run] { return run->cancelled.load(); });
                reason = reasonFor(failure);
                // The groups a file drew are soon found in the run's cache:
                // spare buffers kept for them on every worker would only
                // hold memory through the rest of the run.
                platform::TransparencyLayer::releaseSpareBuffer();
            }
            if (run->pictures->bytes() > kKeptPictureBytes)
                run->pictures->clear();
            if (run->unfinished.fetch_sub(1) - 1 < workers)
                run->crowded = false;
            const auto done = [this, run, input, output, skipped](bool written, const QString &why) {
                platform::runOnThreadOf(
                    this,
                    [this, run, input, output, written, why, skipped] {
                        fileDone(run, input, output, written, skipped, why);
                    },
                    false);
            };
            if (!ok || !held->holds()) {
                done(ok, reason);
                return;
            }
            m_commits->start([held, done, reasonFor] {
                platform::Error failure;
                const bool written = held->commit(&failure);
                done(written, written ? QString() : reasonFor(failure));
            });
        });
    }
    return true;
}

void KTBatchProcessingCoordinator::fileDone(const std::shared_ptr<Run> &run, const QUrl &input, const QString &output,
                                            bool ok, bool skipped, const QString &reason)
{
    ++run->finished;
    if (ok) {
        ++run->written;
        VLWAnalytics::trackEventProperties(QString::fromLatin1(kBatchEvent),
                                           QVariantMap{{QStringLiteral("Action"), QStringLiteral("Perform")},
                                                       {QStringLiteral("Count"), quint64(run->total)}});
        emit fileSucceeded(input, output);
    } else if (!run->cancelled && !skipped) {
        ++run->failed;
        emit fileFailed(input, reason);
    }
    if (run->finished == run->total && run == m_run) {
        m_processing = false;
        m_run.reset();
        emit processingFinished(run->written, run->failed, run->cancelled || run->stopping);
    }
}

void KTBatchProcessingCoordinator::cancelProcessing()
{
    if (m_run)
        m_run->cancelled = true;
}

void KTBatchProcessingCoordinator::stopAfterCurrentFiles()
{
    if (m_run)
        m_run->stopping = true;
}

// --- thumbnails and previews ---

std::shared_ptr<const KTTemplate> KTBatchProcessingCoordinator::designForThumbnails(const QByteArray &templateData)
{
    {
        std::lock_guard<std::mutex> lock(m_thumbnailsMutex);
        if (m_thumbnailsDesign && m_thumbnailsData == templateData)
            return m_thumbnailsDesign;
    }
    // Decoded without the lock: the main thread does it, and may itself ask.
    std::shared_ptr<const KTTemplate> design = KTImageProcessor::resolveDesign(templateData, m_stores);
    std::lock_guard<std::mutex> lock(m_thumbnailsMutex);
    if (design) {
        m_thumbnailsData = templateData;
        m_thumbnailsDesign = design;
    }
    return design;
}

QImage KTBatchProcessingCoordinator::thumbnailForImageAtURL(const QUrl &url, const QByteArray &templateData,
                                                            const QSize &enclosingRectSize)
{
    return KTImageProcessor::thumbnailForImageAtURL(url, designForThumbnails(templateData),
                                                    std::max(enclosingRectSize.width(), enclosingRectSize.height()));
}

QUrl KTBatchProcessingCoordinator::largePreviewFileURLForImageAtURL(const QUrl &url, const QByteArray &templateData)
{
    const QSize size = KTImageProcessor::sizeOfImageAtURL(url);
    const int side = size.isEmpty() ? kLargePreviewSide : std::min(kLargePreviewSide, std::max(size.width(), size.height()));
    const QImage image = KTImageProcessor::thumbnailForImageAtURL(url, designForThumbnails(templateData), side);
    if (image.isNull())
        return {};
    const QUrl folder = temporaryDirectoryForPreviews();
    if (folder.isEmpty())
        return {};
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".tiff");
    const QString path = QDir(folder.toLocalFile()).filePath(name);
    platform::Error error;
    platform::ImageEncoder::writeToFile(path, image, QString::fromLatin1(platform::TypeTable::kTIFF),
                                        platform::ExportMetadata(), std::nullopt, &error);
    return QUrl::fromLocalFile(path);
}

void KTBatchProcessingCoordinator::purgeGeneratedPreview(const QUrl &url)
{
    const QFileInfo info(url.toLocalFile());
    QString folder;
    {
        std::lock_guard<std::mutex> lock(m_previewsMutex);
        folder = m_previewsFolder;
    }
    if (folder.isEmpty() || !url.isLocalFile() || QDir::cleanPath(info.absolutePath()) != QDir::cleanPath(folder))
        return;
    if (info.exists() && !QFile::remove(info.filePath()))
        platform::logLine(QString::fromLatin1(kRemovePreviewFailedFormat).arg(url.toString(), QStringLiteral("not removed")));
}

QString KTBatchProcessingCoordinator::previewsRootFolder()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return QDir(cache.isEmpty() ? QDir::tempPath() : cache).filePath(QStringLiteral("Kantelo/%1").arg(QLatin1String(kPreviewsFolderName)));
}

void KTBatchProcessingCoordinator::purgeStaleBatchProcessingPreviews()
{
    QDir(previewsRootFolder()).removeRecursively();
}

QUrl KTBatchProcessingCoordinator::temporaryDirectoryForPreviews()
{
    std::lock_guard<std::mutex> lock(m_previewsMutex);
    if (!m_previewsFolder.isEmpty())
        return QUrl::fromLocalFile(m_previewsFolder);
    const QString folder =
        QDir(previewsRootFolder()).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    if (!QDir().mkpath(folder)) {
        platform::logLine(QString::fromLatin1(kDirectoryFailedFormat)
                              .arg(QUrl::fromLocalFile(folder).toString(), QStringLiteral("the folder can't be made")));
        return {};
    }
    m_previewsFolder = folder;
    return QUrl::fromLocalFile(folder);
}

void KTBatchProcessingCoordinator::purgeAllGeneratedPreviewsFromCurrentSession()
{
    std::lock_guard<std::mutex> lock(m_previewsMutex);
    if (!m_previewsFolder.isEmpty())
        QDir(m_previewsFolder).removeRecursively();
    m_previewsFolder.clear();
}

void KTBatchProcessingCoordinator::finish()
{
    QMetaObject::invokeMethod(this, [this] { emit didFinish(); }, Qt::QueuedConnection);
    purgeAllGeneratedPreviewsFromCurrentSession();
}
