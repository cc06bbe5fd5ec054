#include "batch/KTImageProcessor.h"

#include "batch/KTBatchProcessingOptions.h"
#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTemplateRenderer.h"
#include "design/VLImage.h"
#include "platform/Dispatch.h"
#include "platform/FileBytes.h"
#include "platform/Log.h"
#include "platform/ReplacingFile.h"
#include "platform/ThreadPools.h"
#include "platform/TimingLog.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/BitmapTransform.h"
#include "platform/imaging/ImageBuffer.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/imaging/ImageProperties.h"
#include "platform/imaging/JpegDecoder.h"
#include "platform/imaging/ParallelRows.h"
#include "platform/imaging/PhotoRows.h"
#include "platform/render/DrawingContext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include <sys/stat.h>

namespace {

void fail(platform::Error *error, const QString &description)
{
    // Whole: nothing of an earlier failure (its advice) stays with this one.
    if (error)
        *error = platform::Error{QString::fromLatin1(platform::kKanteloErrorDomain), 1, description, {}, {}};
}

// The canvas a worker thread renders into, kept for its next file: a fresh
// canvas costs more to fault in than to draw.
struct WorkerCanvas {
    QImage storage;
    qint64 capacity = 0;

    QImage canvas(int w, int h)
    {
        const qint64 bytes = qint64(w) * h * 4;
        if (bytes > KTImageProcessor::kKeptCanvasBytes) {
            storage = QImage();
            capacity = 0;
            return platform::ImageBuffer::allocate(w, h);
        }
        if (bytes > capacity) {
            storage = QImage();
            capacity = 0;
            storage = platform::ImageBuffer::allocate(w, h);
            if (storage.isNull())
                return {};
            capacity = bytes;
        }
        // A view on the kept memory: the storage is never shared, so it never detaches.
        return QImage(storage.bits(), w, h, qsizetype(w) * 4, QImage::Format_ARGB32_Premultiplied);
    }
};

thread_local WorkerCanvas t_canvas;

struct LoadedPhoto {
    QImage upright;
    bool isPdf = false; // drawn by the design's own reader, page by page
    platform::ImageMetadata metadata;
    QString error;
    QString advice; // what the user can do about it
};

// The colour space the photo is drawn in.
void setColorSpace(QImage &upright, const platform::ImageMetadata &metadata)
{
    QColorSpace space = upright.colorSpace();
    if (!space.isValid()) {
        const QByteArray icc = metadata.iccProfile();
        if (!icc.isEmpty())
            space = QColorSpace::fromIccProfile(icc);
        if (!space.isValid())
            space = QColorSpace(QColorSpace::SRgb);
        upright.setColorSpace(space);
    }
}

// The photo decoded a piece of rows at a time as the bands are drawn: a
// JPEG that needs no turning, at full size; null otherwise.
QImage photoAsDrawn(const QByteArray &data, const platform::ImageMetadata &metadata)
{
    // The rows the first bands draw, decoded while the stores open and the
    // design is read: as many as the bands hold at their peak anyway.
    constexpr int kFirstRows = 2048;
    if (metadata.orientation() != 1 || !platform::JpegDecoder::canDecode(data)
        || !platform::ImageDecoder::fitsInMemory(platform::ImageDecoder::headerSize(data)))
        return {};
    // The bytes are the photo's own, read from the file: its rows are
    // decoded from them while it is drawn, whatever happens to the file.
    const std::shared_ptr<platform::PhotoRows> rows = platform::JpegDecoder::decodeAsDrawn(data);
    if (!rows)
        return {};
    QImage upright = rows->picture();
    setColorSpace(upright, metadata);
    rows->ahead(0, kFirstRows);
    return upright;
}

// The photo's bytes, read once for its metadata and its pixels.
struct PhotoFile {
    platform::Result<QByteArray> bytes;
    platform::ImageMetadata metadata; // null when the file could not be read
    platform::FileIdentity identity;  // which file was read
};

PhotoFile readPhotoFile(const QString &path, bool reduced)
{
    // A photo its header shows too large is not read: a file of gigabytes
    // would fill the memory before the same refusal.
    if (platform::Error tooLarge; !platform::ImageDecoder::fileFitsInMemory(path, reduced, &tooLarge)) {
        PhotoFile refused{platform::Result<QByteArray>(tooLarge), platform::ImageMetadata::fromData({}), {}};
        refused.metadata.expandWithAttributesOfItemAtPath(path);
        return refused;
    }
    platform::FileIdentity identity;
    PhotoFile file{platform::FileBytes::read(path, -1, &identity), {}, {}};
    file.identity = identity;
    if (file.bytes.ok())
        file.metadata = platform::ImageMetadata::fromData(file.bytes.value());
    else if (file.bytes.error().code == platform::FileBytes::kCutShortCode)
        file.metadata = platform::ImageMetadata::fromData({}); // loadPhoto tells it damaged
    else
        return file;
    file.metadata.expandWithAttributesOfItemAtPath(path);
    return file;
}

// The photo upright, decoded at `atLeast` (upright pixels) or larger; with
// `asDrawn`, decoded as it is drawn where it can be.
LoadedPhoto loadPhoto(const platform::Result<QByteArray> &read, const platform::ImageMetadata &metadata,
                      const QSize &atLeastStored, bool asDrawn = false)
{
    LoadedPhoto photo;
    photo.metadata = metadata;
    if (!read.ok()) {
        // Cut short while it was read, it is as damaged as one cut short before.
        const bool cutShort = read.error().code == platform::FileBytes::kCutShortCode;
        photo.error = cutShort ? VLImage::damagedReason(read.error().description) : read.error().description;
        if (cutShort)
            photo.advice = QString::fromLatin1(KTImageProcessor::kDamagedPhotoAdvice);
        return photo;
    }
    const QByteArray &data = read.value();
    if (data.startsWith("%PDF-") || platform::ImageDecoder::isPdf(data)) {
        photo.isPdf = true;
        return photo;
    }
    if (asDrawn && atLeastStored.isEmpty()) {
        photo.upright = photoAsDrawn(data, metadata);
        if (!photo.upright.isNull())
            return photo;
    }
    platform::ImageDecoder::Result decoded = platform::ImageDecoder::decodeAtLeast(data, atLeastStored);
    // Refused for its size, it is not damaged: the reason says its size and the memory.
    if (decoded.tooLarge) {
        photo.error = decoded.error.description;
        return photo;
    }
    if (decoded.image.isNull()) {
        photo.error = VLImage::unreadReason(decoded.error);
        photo.advice = decoded.error.recoverySuggestion.isEmpty()
                           ? QString::fromLatin1(KTImageProcessor::kDamagedPhotoAdvice)
                           : decoded.error.recoverySuggestion;
        return photo;
    }
    QImage upright = std::move(decoded.image);
    if (!decoded.orientationApplied)
        upright = platform::BitmapTransform::applyExifOrientation(upright, metadata.orientation());
    if (upright.isNull()) {
        photo.error = QStringLiteral("There is not enough memory for it.");
        return photo;
    }
    // Set here so the design's own use of the picture shares, not copies, the pixels.
    setColorSpace(upright, metadata);
    photo.upright = std::move(upright);
    return photo;
}

} // namespace

class KTImageProcessor::PhotoRead
{
public:
    explicit PhotoRead(QString path)
        : m_path(std::move(path))
        , m_job(platform::Pool::Parallel, [this] {
            const PhotoFile file = readPhotoFile(m_path, false);
            m_metadata = file.metadata;
            m_identity = file.identity;
            if (!m_metadata.isNull())
                m_photo = loadPhoto(file.bytes, m_metadata, QSize(), true);
        })
    {
    }
    ~PhotoRead()
    {
        // A run that ends before its photo is wanted does not decode it.
        if (!m_job.cancelIfNotStarted())
            m_job.wait();
    }
    PhotoRead(const PhotoRead &) = delete;
    PhotoRead &operator=(const PhotoRead &) = delete;

    // The photo and its metadata, once; false when taken before or of another file.
    bool take(const QString &path, platform::ImageMetadata *metadata, LoadedPhoto *photo,
              platform::FileIdentity *identity)
    {
        if (m_taken || path != m_path)
            return false;
        m_job.wait();
        m_taken = true;
        *metadata = m_metadata;
        *identity = m_identity;
        *photo = std::move(m_photo);
        return true;
    }

private:
    const QString m_path;
    platform::ImageMetadata m_metadata;
    platform::FileIdentity m_identity;
    LoadedPhoto m_photo;
    bool m_taken = false;
    platform::PoolJob m_job; // last: begins once the rest is made, waited for first
};

namespace {

QSize storedSizeOf(const QString &path, const platform::ImageMetadata &metadata)
{
    QSize size = metadata.pixelSize();
    if (size.isValid() && !size.isEmpty())
        return size;
    QImageReader reader(path);
    reader.setAutoTransform(false);
    size = platform::ImageDecoder::readsRaster(reader) ? reader.size() : QSize();
    if (size.isValid() && !size.isEmpty())
        return size;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        size = platform::JpegDecoder::storedSize(file.read(1 << 20));
    return size;
}

// The fractions of width and height the design's crop keeps.
QSizeF keptFraction(const KTTemplate &design)
{
    const auto layer = design.imageLayer();
    if (!layer)
        return QSizeF(1, 1);
    const double w = 1 - layer->cropLeft() - layer->cropRight();
    const double h = 1 - layer->cropTop() - layer->cropBottom();
    return QSizeF(std::clamp(std::isfinite(w) ? w : 1.0, 0.01, 1.0), std::clamp(std::isfinite(h) ? h : 1.0, 0.01, 1.0));
}

// A per-file design: the photo as its image layer, and a copy of the run's
// design (sharing its decoded frame pictures) around it.
std::shared_ptr<KTTemplate> framedTemplate(const LoadedPhoto &photo, const QUrl &origin,
                                           const std::shared_ptr<const KTTemplate> &design, platform::Error *error)
{
    auto framed = std::make_shared<KTTemplate>();
    framed->setExportMode(true);
    // Its metadata is the photo's, read with it: a large file is not read again.
    const bool imported =
        photo.isPdf ? framed->importImage(origin) : framed->importCGImage(photo.upright, origin, photo.metadata);
    if (!imported || !framed->imageLayer() || !framed->imageLayer()->image()) {
        fail(error, QStringLiteral("The picture “%1” could not be opened.").arg(QFileInfo(origin.toLocalFile()).fileName()));
        return nullptr;
    }
    framed->replaceDesignWith(design->copyForRendering());
    return framed;
}

// Renders into the worker's canvas; null (and the reason) on failure or cancel.
QImage render(KTTemplate &framed, const QSize &size, const KTImageProcessor::CancelCheck &cancelled, platform::Error *error)
{
    QImage canvas;
    try {
        canvas = t_canvas.canvas(size.width(), size.height());
    } catch (const std::bad_alloc &) {
        canvas = QImage();
    }
    if (canvas.isNull()) {
        const qint64 bytes = qint64(size.width()) * size.height() * 4;
        fail(error, QString::fromLatin1(KTTemplateRenderer::kMemoryAllocationErrorText));
        if (error)
            error->recoverySuggestion = QString::fromLatin1(KTTemplateRenderer::kCouldNotAllocateText).arg(bytes);
        return {};
    }
    std::memset(canvas.bits(), 0, size_t(canvas.bytesPerLine()) * size_t(canvas.height()));
    canvas.setColorSpace(framed.copyColorSpaceForOutput());
    bool stopped = false;
    {
        platform::DrawingContext context(canvas);
        framed.drawToRect(QRectF(0, 0, size.width(), size.height()), true, true,
                          [&](unsigned, unsigned) {
                              if (cancelled && cancelled())
                                  stopped = true;
                              return stopped;
                          },
                          true);
    }
    if (stopped) {
        fail(error, QStringLiteral("Cancelled."));
        return {};
    }
    return canvas;
}

} // namespace

std::shared_ptr<KTImageProcessor::PhotoRead> KTImageProcessor::startReading(const QUrl &input)
{
    return std::make_shared<PhotoRead>(input.toLocalFile());
}

std::shared_ptr<KTTemplate> KTImageProcessor::resolveDesign(const QByteArray &templateData,
                                                            const KTDesignStores &stores)
{
    std::shared_ptr<KTTemplate> design;
    if (templateData.isEmpty())
        return design;
    platform::runOnMainThread([&] { design = KTTemplate::templateFromData(templateData, stores.library); }, true);
    return design;
}

QString KTImageProcessor::refusalOfDesign(const KTTemplate &design)
{
    // A design with no layers, not even the photo's, holds nothing to frame
    // with: the photo would be written again as it was and reported framed.
    if (design.layers().isEmpty())
        return QString::fromLatin1(KTTemplate::kEmptyDesignFormat).arg(design.name());
    // Written without its frames, the photo would come out wrong and be
    // reported as done.
    if (const QStringList lacking = design.namesOfFramesLackingMemory(); !lacking.isEmpty())
        return QString::fromLatin1(KTTemplate::kFramesLackMemoryFormat)
            .arg(design.name(), lacking.join(QStringLiteral(", ")));
    if (const QStringList missing = design.namesOfLayersThatMissGraphics(true); !missing.isEmpty())
        return QString::fromLatin1(KTTemplate::kFramesMissingFormat)
            .arg(design.name(), missing.join(QStringLiteral(", ")));
    if (const QStringList unread = design.namesOfUnreadOverlayPictures(); !unread.isEmpty())
        return QString::fromLatin1(KTTemplate::kPicturesUnreadFormat)
            .arg(design.name(), unread.join(QStringLiteral(", ")));
    if (const QStringList missing = design.namesOfMissingOverlayPictures(); !missing.isEmpty())
        return QString::fromLatin1(KTTemplate::kPicturesMissingFormat)
            .arg(design.name(), missing.join(QStringLiteral(", ")));
    return {};
}

int KTImageProcessor::proposedOrientationForImageSource(const platform::ImageMetadata &metadata)
{
    return metadata.isNull() ? 1 : metadata.orientation();
}

QSize KTImageProcessor::sizeOfImageAtURL(const QUrl &url)
{
    const QString path = url.toLocalFile();
    const platform::ImageMetadata metadata = platform::ImageMetadata::fromFile(path);
    if (metadata.isNull())
        return {};
    QSize size = storedSizeOf(path, metadata);
    if (!size.isValid() || size.isEmpty())
        return {};
    if (proposedOrientationForImageSource(metadata) >= 5)
        size.transpose();
    return size;
}

QSize KTImageProcessor::decodeSizeFor(const QSize &storedSize, int orientation, const QSizeF &kept,
                                      const QSize &outputSize, bool sizeFollowsPhoto)
{
    if (sizeFollowsPhoto || storedSize.isEmpty() || outputSize.isEmpty())
        return {};
    QSizeF upright(storedSize);
    if (orientation >= 5)
        upright.transpose();
    // The photo is drawn inside the output: its kept part never wider or
    // taller than the output. One scale for both sides.
    const double scale = std::max(outputSize.width() / (upright.width() * kept.width()),
                                  outputSize.height() / (upright.height() * kept.height()));
    if (!(scale < 1))
        return {};
    return QSize(int(std::ceil(storedSize.width() * scale)), int(std::ceil(storedSize.height() * scale)));
}

bool KTImageProcessor::processImage(const QUrl &input, const KTBatchProcessingOptions &options,
                                    const std::shared_ptr<const KTTemplate> &design, const QString &outputPath,
                                    platform::Error *error, const CancelCheck &cancelled)
{
    const std::shared_ptr<const KTImageScaling> scaling = options.scaling();
    if (!scaling) {
        fail(error, QStringLiteral("The batch has no output size."));
        return false;
    }
    Output output;
    output.path = outputPath;
    output.uti = options.fileFormat().UTI();
    output.quality = scaling->imageQuality();
    output.dpi = scaling->dpi();
    output.scaling = scaling;
    // One render per core: threads inside this render would fight the other files' workers.
    platform::SerialRowsScope serial;
    return processImage(input, design, output, error, cancelled);
}

bool KTImageProcessor::processImage(const QUrl &input, const std::shared_ptr<const KTTemplate> &design,
                                    const Output &output, platform::Error *error, const CancelCheck &cancelled)
{
    if (!design) {
        fail(error, QStringLiteral("The design of the batch could not be read."));
        return false;
    }
    if (const QString refusal = refusalOfDesign(*design); !refusal.isEmpty()) {
        fail(error, refusal);
        return false;
    }
    const std::shared_ptr<const KTImageScaling> &scaling = output.scaling;
    const QString path = input.toLocalFile();
    const bool followsPhoto = !scaling || scaling->type() == KTImageScalingTypeOriginal;
    platform::ImageMetadata metadata;
    LoadedPhoto photo;
    platform::FileIdentity readAs;
    const bool read = followsPhoto && output.read && output.read->take(path, &metadata, &photo, &readAs);
    std::optional<PhotoFile> file;
    if (!read) {
        file = readPhotoFile(path, !followsPhoto);
        metadata = file->metadata;
        readAs = file->identity;
    }
    if (metadata.isNull()) {
        if (!QFileInfo::exists(path)) {
            fail(error, QStringLiteral("The picture “%1” is no longer there: it was moved or deleted.")
                            .arg(QFileInfo(path).fileName()));
            return false;
        }
        fail(error, QStringLiteral("The picture “%1” could not be opened.").arg(QFileInfo(path).fileName()));
        if (error)
            error->recoverySuggestion = QString::fromLatin1(kDamagedPhotoAdvice);
        return false;
    }
    const int orientation = proposedOrientationForImageSource(metadata);
    const QSize stored = storedSizeOf(path, metadata);

    // The output of a fixed size needs no more of the photo than it shows.
    QSize atLeast;
    if (!followsPhoto && !stored.isEmpty()) {
        QSizeF upright(stored);
        if (orientation >= 5)
            upright.transpose();
        const QRectF framedAtFull = design->finalRectFromStartRect(QRectF(QPointF(0, 0), upright), true);
        const QSize out = scaling->scale(framedAtFull.size());
        atLeast = decodeSizeFor(stored, orientation, keptFraction(*design), out, false);
    }
    if (!read) {
        photo = loadPhoto(file->bytes, metadata, atLeast, true);
        file.reset();
    }
    platform::TimingLog::mark("decoded");
    if (photo.upright.isNull() && !photo.isPdf) {
        fail(error, QStringLiteral("The picture “%1” could not be opened: %2").arg(QFileInfo(path).fileName(), photo.error));
        if (error)
            error->recoverySuggestion = photo.advice;
        return false;
    }
    if (cancelled && cancelled()) {
        fail(error, QStringLiteral("Cancelled."));
        return false;
    }
    std::shared_ptr<KTTemplate> framed = framedTemplate(photo, input, design, error);
    photo.upright = QImage();
    if (!framed)
        return false;
    framed->setExportQuality(output.quality);
    if (output.dpi) {
        framed->setMetadataValue(*output.dpi, QString::fromLatin1(platform::ImageProperty::kDPIWidth));
        framed->setMetadataValue(*output.dpi, QString::fromLatin1(platform::ImageProperty::kDPIHeight));
    }

    // The framed size of the cropped photo, as Save has it; a fixed width or
    // height keeps its proportions, so no empty bands are left.
    const QSize size = scaling ? scaling->scale(framed->sizeFromOriginalWithOuterShadow(true)) : framed->framedPixelSize();
    if (size.isEmpty()) {
        fail(error, QStringLiteral("The design gives no picture for “%1”.").arg(QFileInfo(path).fileName()));
        return false;
    }
    // At its own size a photo smaller than its frames' least widths would
    // come out as frames alone, written over it where it is framed in place.
    if (followsPhoto) {
        if (const std::optional<QSize> least = framed->leastPhotoSizeShown()) {
            const QSizeF own = framed->sizeOfPreFramedImage();
            fail(error, QString::fromUtf8(KTTemplate::kPhotoTooSmallFormat)
                            .arg(QFileInfo(path).fileName())
                            .arg(own.width())
                            .arg(own.height())
                            .arg(least->width())
                            .arg(least->height()));
            return false;
        }
    }
    const QString &uti = output.uti;
    const QString &outputPath = output.path;
    // Written over the photo, the file replaces only the photo as it was
    // read: a file another program moved there since, or a rewrite, stays.
    // The output may name the photo's folder another way (through a link).
    const auto sameFolder = [](const QString &one, const QString &other) {
        struct stat a {};
        struct stat b {};
        return ::stat(QFile::encodeName(QFileInfo(one).absolutePath()).constData(), &a) == 0
               && ::stat(QFile::encodeName(QFileInfo(other).absolutePath()).constData(), &b) == 0
               && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    };
    const bool overPhoto =
        !readAs.isNull()
        && (QDir::cleanPath(outputPath) == QDir::cleanPath(path)
            || (QFileInfo(outputPath).fileName() == QFileInfo(path).fileName() && sameFolder(outputPath, path)));
    std::optional<platform::ReplacingFile::Original> original;
    if (overPhoto)
        original.emplace(outputPath, readAs);
    // Told before anything is drawn: drawing would take far too long, or more memory than there is.
    if (const QString why = framed->reasonNotToDraw(size, platform::ImageEncoder::canWriteBands(uti)); !why.isEmpty()) {
        fail(error,
             QString::fromUtf8(KTTemplate::kNotDrawnFormat).arg(design->name(), QFileInfo(path).fileName(), why));
        return false;
    }
    // A photo decoded as it is drawn may prove damaged only then.
    const auto photoDamaged = [&](platform::Error *failure) {
        const auto layer = framed->imageLayer();
        const auto rows = layer && layer->image() ? layer->image()->rowsAsDrawn() : nullptr;
        if (!rows || !rows->failed())
            return false;
        *failure = platform::Error();
        fail(failure, QStringLiteral("The picture “%1” could not be opened: %2")
                          .arg(QFileInfo(path).fileName(), VLImage::damagedReason()));
        // The same advice as for a photo found damaged before it is drawn.
        failure->recoverySuggestion = QString::fromLatin1(kDamagedPhotoAdvice);
        return true;
    };
    const auto renderFailed = [&] {
        if (!(cancelled && cancelled()))
            platform::logLine(QString::fromLatin1(kRenderFailedFormat)
                                  .arg(framed->name(), QStringLiteral("{%1, %2}").arg(size.width()).arg(size.height())));
    };
    // A row beyond what a picture can hold fails alike however it is drawn.
    if (qint64(size.width()) * 4 > std::numeric_limits<int>::max()) {
        renderFailed();
        fail(error, QString::fromLatin1(KTTemplateRenderer::kMemoryAllocationErrorText));
        if (error)
            error->recoverySuggestion = QString::fromLatin1(KTTemplateRenderer::kCouldNotAllocateText)
                                            .arg(qint64(size.width()) * size.height() * 4);
        return false;
    }
    if (platform::ImageEncoder::canWriteBands(uti)) {
        // Drawn and encoded a band of rows at a time, as Save does: files
        // processed side by side never hold a whole canvas each.
        platform::Error failure;
        const bool written = framed->writeInBandsToURL(
            QUrl::fromLocalFile(outputPath), uti, QSizeF(size), {},
            [&cancelled](KTTemplate *) { return cancelled && cancelled(); }, &failure);
        if (written)
            return true;
        if (photoDamaged(&failure)) {
            if (error)
                *error = failure;
            return false;
        }
        if (failure.description == QLatin1String(KTTemplateRenderer::kMemoryAllocationErrorText))
            renderFailed();
        if (cancelled && cancelled()) {
            failure = platform::Error();
            fail(&failure, QStringLiteral("Cancelled."));
        }
        if (error)
            *error = failure;
        return false;
    }
    platform::Error renderError;
    QImage canvas = render(*framed, size, cancelled, &renderError);
    if (photoDamaged(&renderError))
        canvas = QImage();
    if (canvas.isNull()) {
        renderFailed();
        if (error)
            *error = renderError;
        return false;
    }
    platform::Error writeError;
    const bool written = platform::ImageEncoder::writeToFile(
        outputPath, canvas, uti, framed->prepareMetadataForExport(canvas.size()),
        framed->exportQuality(), &writeError, [&cancelled](qint64, qint64) { return !(cancelled && cancelled()); });
    if (!written && error)
        *error = writeError;
    return written;
}

bool KTImageProcessor::processImageAtURL(const QUrl &input, const KTBatchProcessingOptions &options,
                                         const QUrl &destinationDirectory, platform::Error *error)
{
    const QString outputPath = QDir(destinationDirectory.toLocalFile()).filePath(options.outputFileNameForInput(input));
    if (QFileInfo(outputPath).canonicalFilePath() == QFileInfo(input.toLocalFile()).canonicalFilePath()
        && QFileInfo::exists(outputPath)) {
        fail(error, QStringLiteral("“%1” would be written over its own photo.").arg(QFileInfo(outputPath).fileName()));
        return false;
    }
    const auto reference = options.batchTemplate();
    const std::shared_ptr<const KTTemplate> design =
        reference ? resolveDesign(reference->encoded(), reference->stores()) : nullptr;
    return processImage(input, options, design, outputPath, error);
}

QImage KTImageProcessor::thumbnailForImageAtURL(const QUrl &url, const std::shared_ptr<const KTTemplate> &design,
                                                int maxSide)
{
    if (!design || maxSide <= 0)
        return {};
    const QString path = url.toLocalFile();
    const PhotoFile file = readPhotoFile(path, true);
    const platform::ImageMetadata &metadata = file.metadata;
    if (metadata.isNull())
        return {};
    const QSize stored = storedSizeOf(path, metadata);
    QSize atLeast;
    if (!stored.isEmpty()) {
        const double scale = double(maxSide) / std::max(stored.width(), stored.height());
        if (scale < 1)
            atLeast = QSize(int(std::ceil(stored.width() * scale)), int(std::ceil(stored.height() * scale)));
    }
    LoadedPhoto photo = loadPhoto(file.bytes, metadata, atLeast);
    if (photo.upright.isNull() && !photo.isPdf)
        return {};
    // The decoder's reduced sizes go by eighths: bring it down to the side asked for.
    if (!photo.isPdf && std::max(photo.upright.width(), photo.upright.height()) > maxSide) {
        const QSize fitted = photo.upright.size().scaled(maxSide, maxSide, Qt::KeepAspectRatio);
        photo.upright = platform::BitmapTransform::scaled(photo.upright, std::max(1, fitted.width()),
                                                          std::max(1, fitted.height()));
        if (photo.upright.isNull())
            return {};
    }
    platform::SerialRowsScope serial;
    std::shared_ptr<KTTemplate> framed = framedTemplate(photo, url, design, nullptr);
    if (!framed)
        return {};
    QSizeF size = framed->originalImageSize();
    if (photo.isPdf && size.isValid() && !size.isEmpty())
        size = size.scaled(QSizeF(maxSide, maxSide), Qt::KeepAspectRatio);
    QImage image = framed->imageWithSize(size);
    return image;
}
