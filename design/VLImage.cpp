#include "design/VLImage.h"

#include "design/BitmapHelpers.h"
#include "kit/ImageAdditions.h"
#include "platform/FileBytes.h"
#include "platform/Log.h"
#include "platform/ThreadPools.h"
#include "platform/TypeTable.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/imaging/BitmapTransform.h"
#include "platform/imaging/DecodeErrors.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/imaging/PdfDocument.h"
#include "platform/imaging/PhotoRows.h"
#include "platform/render/DrawingContext.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cmath>
#include <mutex>

namespace {

// A rect of the picture as turned by `turns` clockwise quarter turns, given in
// the turned picture's pixels, mapped back to the unturned picture (w x h).
QRect unturnedRect(const QRect &r, int turns, int w, int h)
{
    const int x0 = r.x();
    const int y0 = r.y();
    const int x1 = r.x() + r.width();
    const int y1 = r.y() + r.height();
    switch (turns) {
    case 1:
        return QRect(y0, h - x1, y1 - y0, x1 - x0);
    case 2:
        return QRect(w - x1, h - y1, x1 - x0, y1 - y0);
    case 3:
        return QRect(w - y1, x0, y1 - y0, x1 - x0);
    default:
        return r;
    }
}

double roundHalfEven(double v)
{
    return std::nearbyint(v);
}

QColorSpace colorSpaceFor(const QImage &image, const platform::ImageMetadata &metadata)
{
    if (image.colorSpace().isValid())
        return image.colorSpace();
    const QByteArray icc = metadata.iccProfile();
    if (!icc.isEmpty()) {
        const QColorSpace space = QColorSpace::fromIccProfile(icc);
        if (space.isValid())
            return space;
    }
    return QColorSpace(QColorSpace::SRgb);
}

} // namespace

VLImage::VLImage()
{
    initCommon();
}

VLImage::~VLImage() = default;

void VLImage::initCommon()
{
    m_opacity = 1.0;
    m_lastRotation = ~0u;
    m_lastSize = QSizeF();
    m_metadata = platform::ImageMetadata();
    m_colorSpace = QColorSpace();
    m_filters.clear();
    m_filters.reserve(4);
}

// --- construction ---

QString VLImage::couldNotOpenMessage(const QString &fileName, const QString &reason)
{
    QString text = QStringLiteral("The picture \u201c%1\u201d could not be opened.").arg(fileName);
    if (!reason.isEmpty())
        text += QLatin1Char(' ') + reason;
    return text;
}

QString VLImage::damagedReason(const QString &why)
{
    return why.isEmpty() ? QStringLiteral("It is damaged or of a kind not read here.")
                         : QStringLiteral("It is damaged or of a kind not read here (%1).").arg(why);
}

QString VLImage::unreadReason(const platform::Error &decodeError)
{
    if (decodeError.code == int(platform::DecodeError::KindNotRead) && !decodeError.description.isEmpty())
        return decodeError.description;
    return damagedReason(decodeError.description);
}

namespace {
thread_local VLImage::SharedReads *t_sharedReads = nullptr;
} // namespace

VLImage::SharedReads::SharedReads()
    : m_previous(t_sharedReads)
{
    t_sharedReads = this;
}

VLImage::SharedReads::~SharedReads()
{
    t_sharedReads = m_previous;
}

VLImage::SharedReads *VLImage::SharedReads::current()
{
    return t_sharedReads;
}

std::shared_ptr<VLImage> VLImage::initWithContentsOfFile(const QString &path, bool saveMetadata, platform::Error *error)
{
    SharedReads *shared = SharedReads::current();
    if (!shared)
        return readContentsOfFile(path, saveMetadata, error);
    const QFileInfo file(path);
    // The same file unchanged, read for the same use.
    const QString key = QStringLiteral("%1\n%2\n%3\n%4")
                            .arg(file.absoluteFilePath())
                            .arg(file.size())
                            .arg(file.lastModified().toMSecsSinceEpoch())
                            .arg(saveMetadata);
    auto it = shared->m_files.find(key);
    if (it == shared->m_files.end()) {
        SharedReads::Read read;
        read.image = readContentsOfFile(path, saveMetadata, &read.error);
        it = shared->m_files.insert(key, read);
    }
    if (!it->image) {
        if (error)
            *error = it->error;
        return nullptr;
    }
    return it->image->copyForRendering();
}

std::shared_ptr<VLImage> VLImage::readContentsOfFile(const QString &path, bool saveMetadata, platform::Error *error)
{
    const QString name = QFileInfo(path).fileName();
    auto fail = [&](const QString &reason, platform::DecodeError code = platform::DecodeError::Damaged) {
        if (error)
            *error = platform::describedError(couldNotOpenMessage(name, reason), int(code));
        return std::shared_ptr<VLImage>();
    };
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return fail(QStringLiteral("There is no such file."));
    // Refused by its header before its bytes fill the memory.
    if (platform::Error tooLarge; !platform::ImageDecoder::fileFitsInMemory(path, false, &tooLarge))
        return fail(tooLarge.description, platform::DecodeError::OutOfMemory);
    platform::Result<QByteArray> read = platform::FileBytes::read(path);
    if (!read.ok())
        return fail(read.error().code == platform::FileBytes::kCutShortCode ? damagedReason(read.error().description)
                                                                            : read.error().description);
    const QByteArray data = std::move(read).value();

    std::shared_ptr<VLImage> image(new VLImage);
    image->m_originalImageFilePath = path;
    image->m_originalImageFileName = QFileInfo(path).fileName();
    image->m_originalImageFileData = data;
    platform::Error why;
    if (!image->loadFromData(data, saveMetadata, path, &why))
        return fail(why.description, platform::DecodeError(why.code));
    return image;
}

bool VLImage::loadFromData(const QByteArray &data, bool keepMetadata, const QString &pathForEntries,
                           platform::Error *error)
{
    auto fail = [error](const QString &why, platform::DecodeError code = platform::DecodeError::Damaged) {
        if (error)
            *error = platform::describedError(why, int(code));
        return false;
    };
    if (data.isEmpty())
        return fail(QStringLiteral("The file is empty."));
    const QString type = pathForEntries.isEmpty() ? QString() : platform::TypeTable::typeForFile(pathForEntries);
    const bool pdf = platform::TypeTable::conformsTo(type, QLatin1String(platform::TypeTable::kPDF))
                     || platform::ImageDecoder::isPdf(data);
    if (pdf) {
        auto document = platform::PdfDocument::fromData(data);
        if (!document)
            return fail(QStringLiteral("It is not a readable PDF document."));
        m_pdf = document;
        m_isPDF = true;
        m_PDFRotationDegrees = 0;
        m_originalSize = document->pageSize();
        // A PDF has no picture properties, but its placeholders still want the file entries.
        if (keepMetadata && !pathForEntries.isEmpty())
            m_metadata = expandImageMetadata(platform::ImageMetadata::fromData(QByteArray()), pathForEntries);
        return true;
    }

    // Metadata (needed for the orientation) is read beside the pixels.
    platform::ImageMetadata metadata;
    platform::PoolJob properties(platform::Pool::Parallel, [&metadata, &data] {
        metadata = platform::ImageMetadata::fromData(data);
    });
    platform::ImageDecoder::Result decoded = platform::ImageDecoder::decode(data);
    properties.wait();
    if (decoded.tooLarge)
        return fail(decoded.error.description, platform::DecodeError::OutOfMemory);
    if (decoded.image.isNull())
        return fail(unreadReason(decoded.error), decoded.error.code == int(platform::DecodeError::KindNotRead)
                                                     ? platform::DecodeError::KindNotRead
                                                     : platform::DecodeError::Damaged);

    QImage upright = decoded.image;
    decoded.image = QImage();
    // All eight orientations, mirrored ones included: a mirrored photo would
    // otherwise be drawn, and exported, the wrong way round.
    if (!decoded.orientationApplied)
        upright = platform::BitmapTransform::applyExifOrientation(upright, metadata.orientation());
    if (upright.isNull())
        return fail(QStringLiteral("There is not enough memory for it."), platform::DecodeError::OutOfMemory);
    upright.setColorSpace(colorSpaceFor(upright, metadata));
    buildFromCGImage(upright, 0);
    if (m_bitmap.isNull())
        return fail(QStringLiteral("There is not enough memory for it."), platform::DecodeError::OutOfMemory);
    m_metadata = keepMetadata ? expandImageMetadata(metadata, pathForEntries) : platform::ImageMetadata();
    return true;
}

std::shared_ptr<VLImage> VLImage::initWithPDF(const QString &path)
{
    auto document = platform::PdfDocument::fromFile(path);
    if (!document)
        return nullptr;
    return initWithPDFDocument(document);
}

std::shared_ptr<VLImage> VLImage::initWithPDFDocument(std::shared_ptr<platform::PdfDocument> document)
{
    if (!document || document->pageCount() < 1)
        return nullptr;
    std::shared_ptr<VLImage> image(new VLImage);
    image->m_isPDF = true;
    image->m_PDFRotationDegrees = 0;
    image->m_pdf = std::move(document);
    image->m_originalSize = image->m_pdf->pageSize();
    return image;
}

std::shared_ptr<VLImage> VLImage::initWithNSImage(const QImage &nsImage, unsigned rotate)
{
    std::shared_ptr<VLImage> image(new VLImage);
    const QImage cg = VLKit::newCGImage(nsImage);
    if (!cg.isNull())
        image->buildFromCGImage(cg, rotate);
    return image;
}

std::shared_ptr<VLImage> VLImage::initWithCGImage(const QImage &cgImage, const QUrl &originatedFrom, unsigned rotate,
                                                  const platform::ImageMetadata &known)
{
    std::shared_ptr<VLImage> image(new VLImage);
    const QString path = originatedFrom.toLocalFile();
    image->m_originalImageFilePath = path;
    image->m_originalImageFileName = QFileInfo(path).fileName();
    const platform::ImageMetadata properties = known.isNull() ? platform::ImageMetadata::fromFile(path) : known;
    if (properties.isNull())
        return nullptr;
    image->m_metadata = properties;
    if (!cgImage.isNull())
        image->buildFromCGImage(cgImage, rotate);
    return image;
}

std::shared_ptr<VLImage> VLImage::initWithBitmapContext(const QImage &bitmap)
{
    std::shared_ptr<VLImage> image(new VLImage);
    image->m_bitmap = bitmap.format() == QImage::Format_ARGB32_Premultiplied
                          ? bitmap
                          : bitmap.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    image->m_originalSize = QSizeF(image->m_bitmap.size());
    image->m_colorSpace = image->m_bitmap.colorSpace();
    return image;
}

std::shared_ptr<VLImage> VLImage::initWithCoder(const QVariantMap &archive)
{
    if (!archive.contains(QLatin1String(kFileDataKey)) || !archive.contains(QLatin1String(kFileNameKey)))
        return nullptr;
    std::shared_ptr<VLImage> image(new VLImage);
    if (!image->loadArchived(archive.value(QLatin1String(kFileNameKey)).toString(),
                             archive.value(QLatin1String(kFileDataKey)).toByteArray()))
        return nullptr;
    return image;
}

bool VLImage::loadArchived(const QString &archivedName, const QByteArray &data)
{
    // The archived name is untrusted: only its last component, and only a safe one.
    QString name = QFileInfo(archivedName).fileName();
    if (!platform::isSafeFileName(name))
        name = QStringLiteral("image");

    auto folder = std::make_shared<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kantelo-image-XXXXXXXXX"));
    if (!folder->isValid())
        return false;
    const QString path = QDir(folder->path()).filePath(name);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.flush() || !file.commit())
        return false;

    m_originalImageFilePath = path;
    m_originalImageFileName = name;
    m_originalImageFileData = data;
    m_temporaryFolder = folder;
    // Decoded from the bytes in memory; the copy only gives the picture a path.
    if (loadFromData(data, false, path))
        return true;
    m_temporaryFolder.reset();
    m_originalImageFilePath.clear();
    return false;
}

QStringList VLImage::archiveClassNames() const
{
    return {QStringLiteral("VLImage"), QStringLiteral("NSObject")};
}

void VLImage::encode(platform::KeyedArchiver &coder) const
{
    for (const auto &[key, value] : encodeWithCoder()) {
        if (value.typeId() == QMetaType::QByteArray)
            coder.encodeData(value.toByteArray(), key);
        else
            coder.encodeString(value.toString(), key);
    }
}

void VLImage::decode(platform::KeyedUnarchiver &coder)
{
    const QByteArray data = coder.decodeDataForKey(QLatin1String(kFileDataKey));
    const QString name = coder.decodeStringForKey(QLatin1String(kFileNameKey));
    if (data.isNull() || name.isNull())
        return;
    loadArchived(name, data);
}

void VLImage::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::KeyedClassRegistry::shared().registerClass(QStringLiteral("VLImage"), [] {
            return std::static_pointer_cast<platform::Coding>(std::shared_ptr<VLImage>(new VLImage));
        });
    });
}

std::vector<std::pair<QString, QVariant>> VLImage::encodeWithCoder() const
{
    if (m_originalImageFileData.isEmpty()) {
        platform::logLine(QStringLiteral("VLImage: No Data for image %1").arg(m_originalImageFileName));
        return {};
    }
    if (m_originalImageFileName.isEmpty()) {
        platform::logLine(QStringLiteral("VLImage: No image name"));
        return {};
    }
    return {{QLatin1String(kFileNameKey), m_originalImageFileName}, {QLatin1String(kFileDataKey), m_originalImageFileData}};
}

std::shared_ptr<VLImage> VLImage::imageRotatedBy(unsigned quarterTurns) const
{
    if (m_isPDF) {
        auto image = initWithPDFDocument(m_pdf);
        if (image)
            image->setPDFRotationDegrees(quarterTurns >= 1 && quarterTurns <= 3 ? int(90 * quarterTurns) : 0);
        return image;
    }
    const auto turn = [&] {
        platform::PhotoRows::needAllOf(m_bitmap);
        return initWithBitmapContext(
            VLW_vImage::VLW_vImageRotateContext(m_bitmap, VLW_vImage::vImageRotationForQuarterTurns(quarterTurns)));
    };
    SharedReads *shared = SharedReads::current();
    if (!shared || m_bitmap.isNull())
        return turn();
    std::shared_ptr<VLImage> &turned = shared->m_turned[qMakePair(m_bitmap.cacheKey(), quarterTurns)];
    if (!turned)
        turned = turn();
    return turned->copyForRendering();
}

std::shared_ptr<VLImage> VLImage::pageAsPhoto(platform::Error *error) const
{
    if (!m_pdf)
        return nullptr;
    const auto pixelsAt = [this](double dpi) {
        return QSize(std::max(1, int(std::lround(m_originalSize.width() * dpi / 72))),
                     std::max(1, int(std::lround(m_originalSize.height() * dpi / 72))));
    };
    double dpi = kPhotoDpi;
    while (dpi > 72 && !platform::ImageDecoder::fitsInMemory(pixelsAt(dpi)))
        dpi = std::max(72.0, std::round(dpi * 0.8));
    if (!platform::ImageDecoder::fitsInMemory(pixelsAt(dpi), error))
        return nullptr;
    QImage page = m_pdf->render(pixelsAt(dpi), m_PDFRotationDegrees);
    if (page.isNull()) {
        platform::setError(error, QStringLiteral("The PDF page could not be drawn."));
        return nullptr;
    }
    {
        QPainter paper(&page);
        paper.setCompositionMode(QPainter::CompositionMode_DestinationOver);
        paper.fillRect(page.rect(), Qt::white);
    }
    page.setColorSpace(QColorSpace(QColorSpace::SRgb));
    std::shared_ptr<VLImage> photo = initWithBitmapContext(page);
    photo->m_originalImageFilePath = m_originalImageFilePath;
    photo->m_originalImageFileName = m_originalImageFileName;
    photo->m_originalImageFileData = m_originalImageFileData;
    photo->m_metadata = m_metadata.isNull() ? platform::ImageMetadata::fromData({}) : m_metadata;
    photo->m_metadata.setResolution(dpi, dpi);
    return photo;
}

std::shared_ptr<VLImage> VLImage::copyForRendering() const
{
    std::shared_ptr<VLImage> copy(new VLImage);
    for (const auto &filter : m_filters) {
        if (!filter)
            continue;
        auto f = platform::ColorFilter::filterWithName(filter->name());
        const QVariantMap values = filter->values();
        for (auto it = values.begin(); it != values.end(); ++it)
            f->setValue(it.key(), it.value());
        copy->m_filters.push_back(f);
    }
    copy->m_filtersDirty = true;
    copy->m_pdf = m_pdf;
    copy->m_isPDF = m_isPDF;
    copy->m_PDFRotationDegrees = m_PDFRotationDegrees;
    copy->m_opacity = m_opacity;
    copy->m_colorSpace = m_colorSpace;
    copy->m_metadata = m_metadata;
    copy->m_rotation = m_rotation;
    copy->m_originalImageFilePath = m_originalImageFilePath;
    copy->m_bitmap = m_bitmap;
    copy->m_originalImageFileName = m_originalImageFileName;
    copy->m_originalImageFileData = m_originalImageFileData;
    copy->m_originalSize = m_originalSize;
    copy->m_crop = m_crop;
    copy->m_temporaryFolder = m_temporaryFolder;
    return copy;
}

void VLImage::buildFromCGImage(const QImage &image, unsigned turns)
{
    const QImage rgb = VLW_vImage::VLW_vImageCreateRGBContextFromImage(image);
    m_bitmap = VLW_vImage::VLW_vImageRotateContext(rgb, VLW_vImage::vImageRotationForQuarterTurns(turns));
    m_colorSpace = m_bitmap.colorSpace();
    m_originalSize = QSizeF(m_bitmap.size());
}

platform::ImageMetadata VLImage::expandImageMetadata(const platform::ImageMetadata &properties, const QString &path)
{
    platform::ImageMetadata out = properties;
    out.expandWithAttributesOfItemAtPath(path);
    return out;
}

// --- drawing ---

namespace {
thread_local VLImage::PreparedCopies *t_preparedCopies = nullptr;

QByteArray copyKey(const VLImage *image, char kind, std::initializer_list<double> values)
{
    QByteArray key(1, kind);
    const quintptr at = quintptr(image);
    key.append(reinterpret_cast<const char *>(&at), sizeof at);
    for (double v : values)
        key.append(reinterpret_cast<const char *>(&v), sizeof v);
    return key;
}
} // namespace

VLImage::PreparedCopies::PreparedCopies()
    : m_previous(t_preparedCopies)
{
    t_preparedCopies = this;
}

VLImage::PreparedCopies::~PreparedCopies()
{
    t_preparedCopies = m_previous;
}

VLImage::PreparedCopies *VLImage::PreparedCopies::current()
{
    return t_preparedCopies;
}

void VLImage::drawInRect(const QRectF &rect, bool skipCache)
{
    if (skipCache && drawUnscaledInRect(rect))
        return;
    PreparedCopies *copies = skipCache ? PreparedCopies::current() : nullptr;
    if (!copies) {
        QImage context = newContextToDrawInRect(rect, skipCache);
        if (skipCache)
            context = matchedToCurrentContext(std::move(context));
        drawImage(context, rect, skipCache);
        return;
    }
    const QByteArray key = copyKey(this, 's', {rect.x(), rect.y(), rect.width(), rect.height()});
    QImage context = copies->find(key);
    if (context.isNull()) {
        context = matchedToCurrentContext(newContextToDrawInRect(rect, skipCache));
        copies->keep(key, context);
    }
    drawImage(context, rect, skipCache);
}

bool VLImage::drawUnscaledInRect(const QRectF &rect)
{
    // An export draws the picture straight from its decoded pixels when it
    // is drawn at its own size or larger: a scaled copy would be a second,
    // larger picture in memory for the same bilinear result. Pictures drawn
    // much smaller go through the area-averaging scaler instead.
    platform::DrawingContext *dc = platform::DrawingContext::current();
    if (!dc || m_isPDF || m_bitmap.isNull())
        return false;
    const int turns = int(m_rotation % 4);
    const int bw = m_bitmap.width();
    const int bh = m_bitmap.height();
    const int w = turns % 2 ? bh : bw;
    const int h = turns % 2 ? bw : bh;
    const QRect part = QRect(int(roundHalfEven(m_crop.left * w)), int(roundHalfEven(m_crop.top * h)),
                             int(roundHalfEven((1 - m_crop.left - m_crop.right) * w)),
                             int(roundHalfEven((1 - m_crop.top - m_crop.bottom) * h)))
                           .intersected(QRect(0, 0, w, h));
    const QSizeF s = scaleSize(rect.size());
    const int sw = s.width() > 0 ? int(s.width()) : 0;
    const int sh = s.height() > 0 ? int(s.height()) : 0;
    if (part.isEmpty() || sw <= 0 || sh <= 0 || sw * 4 < part.width() * 3 || sh * 4 < part.height() * 3)
        return false;

    // The visible part as a picture of its own: a view of the decoded pixels
    // when it needs no turning or filtering, else a prepared copy at the
    // picture's own size (never at the larger drawn size). The whole picture
    // is the picture itself, which keeps its key for what the drawing finds
    // out about it once (its clear middle) from band to band.
    const QRect source = unturnedRect(part, turns, bw, bh);
    QImage picture = source == m_bitmap.rect()
                         ? m_bitmap
                         : QImage(m_bitmap.constBits() + qsizetype(source.y()) * m_bitmap.bytesPerLine()
                                      + qsizetype(source.x()) * 4,
                                  source.width(), source.height(), m_bitmap.bytesPerLine(), m_bitmap.format());
    const platform::ColorMatch *match = dc->colorMatch().get();
    const bool matching = match && match->needsMatching(m_colorSpace);
    const bool copied = turns != 0 || !m_filters.empty() || matching;
    if (copied) {
        // A copy reads every row of it.
        if (!platform::PhotoRows::needAllOf(m_bitmap))
            return false;
        PreparedCopies *copies = PreparedCopies::current();
        const QByteArray key = copyKey(this, 'u', {double(source.x()), double(source.y()), double(source.width()),
                                                   double(source.height()), double(turns)});
        QImage prepared = copies ? copies->find(key) : QImage();
        if (prepared.isNull()) {
            if (turns != 0)
                prepared = platform::BitmapTransform::rotateClockwise(picture, turns);
            else
                prepared = m_filters.empty() ? picture : picture.copy(); // matching copies it itself
            if (prepared.isNull())
                return false;
            if (prepared.format() != QImage::Format_ARGB32_Premultiplied)
                prepared.convertTo(QImage::Format_ARGB32_Premultiplied);
            if (!m_filters.empty())
                platform::ColorFilter::applyChain(m_filters, prepared);
            if (matching)
                prepared = match->picture(std::move(prepared), m_colorSpace);
            if (prepared.isNull())
                return false;
            if (copies)
                copies->keep(key, prepared);
        }
        picture = prepared;
    }
    ++m_renderCount;
    dc->saveGState();
    dc->setOpacity(m_opacity);
    dc->drawImage(rect, picture);
    dc->restoreGState();
    // A band draws the picture once: the rows the next band does not reach
    // are not held while the rest of this one is drawn.
    if (const std::shared_ptr<platform::PhotoRows> rows = copied ? nullptr : platform::PhotoRows::of(m_bitmap))
        rows->drawnInBand();
    return true;
}

void VLImage::drawCachedInRect(const QRectF &rect)
{
    if (!m_cache.isNull())
        drawCGLayerInRect(rect);
    else
        drawInRect(rect, false);
}

QImage VLImage::newContextToDrawInRect(const QRectF &rect, bool skipCache)
{
    // A skipping rendering records its size too but leaves no cache: only a
    // cache that exists can stand in for the rendering.
    if (!skipCache && !m_cache.isNull() && !m_filtersDirty && m_lastSize == rect.size()
        && m_lastRotation == m_rotation && m_lastCrop == m_crop)
        return {};
    m_filtersDirty = false;
    m_lastSize = rect.size();
    m_lastRotation = m_rotation;
    m_lastCrop = m_crop;
    ++m_renderCount;

    const QSizeF s = scaleSize(rect.size());
    QImage context;
    if (m_isPDF) {
        context = newBitmapContextFromPDFOfSize(rect.size(), m_rotation);
    } else {
        if (m_bitmap.isNull() || !platform::PhotoRows::needAllOf(m_bitmap))
            return {};
        const int turns = int(m_rotation % 4);
        const int bw = m_bitmap.width();
        const int bh = m_bitmap.height();
        const int w = turns % 2 ? bh : bw;
        const int h = turns % 2 ? bw : bh;
        QRect part(int(roundHalfEven(m_crop.left * w)), int(roundHalfEven(m_crop.top * h)),
                   int(roundHalfEven((1 - m_crop.left - m_crop.right) * w)), int(roundHalfEven((1 - m_crop.top - m_crop.bottom) * h)));
        part = part.intersected(QRect(0, 0, w, h));
        const int sw = s.width() > 0 ? int(s.width()) : 0;
        const int sh = s.height() > 0 ? int(s.height()) : 0;
        if (part.isEmpty() || sw <= 0 || sh <= 0)
            return {};
        // Crop and scale the unturned picture, then turn only the small result.
        const QRect source = unturnedRect(part, turns, bw, bh);
        const QImage scaled = VLW_vImage::VLW_vImageScaleContextRect(m_bitmap, false, QRectF(source),
                                                                     turns % 2 ? sh : sw, turns % 2 ? sw : sh);
        context = VLW_vImage::VLW_vImageRotateContext(scaled, VLW_vImage::vImageRotationForQuarterTurns(unsigned(turns)));
    }
    if (context.isNull() || m_filters.empty())
        return context;
    // The rendering is ours alone; the filters work on it in place.
    platform::ColorFilter::applyChain(m_filters, context);
    return context;
}

void VLImage::drawImage(const QImage &context, const QRectF &rect, bool skipCache)
{
    platform::DrawingContext *dc = platform::DrawingContext::current();
    if (skipCache) {
        if (!dc || context.isNull())
            return;
        dc->saveGState();
        dc->setOpacity(m_opacity);
        dc->drawImage(rect, context);
        dc->restoreGState();
        return;
    }
    if (!context.isNull())
        m_cache = context;
    if (!m_cache.isNull())
        drawCGLayerInRect(rect);
}

void VLImage::drawCGLayerInRect(const QRectF &rect)
{
    platform::DrawingContext *dc = platform::DrawingContext::current();
    if (!dc || m_cache.isNull())
        return;
    dc->setOpacity(m_opacity);
    // The screen's cache stays as it is; a context in another colour space gets a matched copy.
    dc->drawImage(rect, matchedToCurrentContext(m_cache));
    dc->setOpacity(1.0);
}

QImage VLImage::matchedToCurrentContext(QImage picture) const
{
    const platform::DrawingContext *dc = platform::DrawingContext::current();
    if (!dc || !dc->colorMatch())
        return picture;
    return dc->colorMatch()->picture(std::move(picture), m_colorSpace);
}

QImage VLImage::bitmapCtx() const
{
    // Whoever takes the picture may read any row of it.
    platform::PhotoRows::needAllOf(m_bitmap);
    return m_bitmap;
}

std::shared_ptr<platform::PhotoRows> VLImage::rowsAsDrawn() const
{
    return platform::PhotoRows::of(m_bitmap);
}

QSizeF VLImage::scaleSize(const QSizeF &size) const
{
    const platform::DrawingContext *dc = platform::DrawingContext::current();
    if (!dc)
        return size;
    const double scale = dc->deviceScale();
    return QSizeF(std::abs(size.width() * scale), std::abs(size.height() * scale));
}

QImage VLImage::newBitmapContextFromPDFOfSize(const QSizeF &size, unsigned rotation)
{
    if (!m_pdf)
        return {};
    const QSizeF s = scaleSize(size);
    const int sw = s.width() > 0 ? int(s.width()) : 0;
    const int sh = s.height() > 0 ? int(s.height()) : 0;
    if (sw <= 0 || sh <= 0)
        return {};
    const int degrees = m_PDFRotationDegrees + (rotation >= 1 && rotation <= 3 ? int(90 * rotation) : 0);
    // The crop applies to a PDF page as to a bitmap: to the sides as turned.
    const QRectF visible(m_crop.left, m_crop.top, 1 - m_crop.left - m_crop.right, 1 - m_crop.top - m_crop.bottom);
    QImage image = m_pdf->render(QSize(sw, sh), degrees, visible);
    if (!image.isNull())
        image.setColorSpace(QColorSpace(QColorSpace::SRgb));
    return image;
}

QImage VLImage::newCGImageOfSize(const QSizeF &size, const QRectF &fromRect)
{
    const Crop saved = m_crop;
    const double w = m_originalSize.width();
    const double h = m_originalSize.height();
    if (w > 0 && h > 0) {
        m_crop.left = fromRect.x() / w;
        m_crop.top = 1 - (fromRect.y() + fromRect.height()) / h;
        m_crop.right = 1 - (fromRect.x() + fromRect.width()) / w;
        m_crop.bottom = fromRect.y() / h;
    }
    const QImage image = newContextToDrawInRect(QRectF(QPointF(0, 0), size), true);
    m_crop = saved;
    return image;
}

QImage VLImage::nsimageWithSide(double side)
{
    const double w0 = m_originalSize.width();
    const double h0 = m_originalSize.height();
    if (!(w0 > 0) || !(h0 > 0) || !(side > 0))
        return {};
    const double r = w0 / h0;
    double width = side;
    double height = side;
    if (r > 1)
        height = roundHalfEven(side / r);
    else
        width = roundHalfEven(r * side);
    QImage image(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    image.fill(Qt::transparent);
    {
        platform::DrawingContext context(image);
        drawInRect(QRectF(0, 0, width, height), false);
    }
    return image;
}

QImage VLImage::debugQuickLookObject()
{
    return nsimageWithSide(300);
}

QString VLImage::debugDescription() const
{
    return QStringLiteral("VLImage (%1) %2[%3x%4] lastSize:%5x%6")
        .arg(quintptr(this), 0, 16)
        .arg(m_isPDF ? QStringLiteral("PDF") : QString())
        .arg(m_originalSize.width())
        .arg(m_originalSize.height())
        .arg(m_lastSize.width())
        .arg(m_lastSize.height());
}

// --- geometry and crop ---

QSizeF VLImage::rotatedOriginalSize() const
{
    if (m_rotation == 1 || m_rotation == 3)
        return m_originalSize.transposed();
    return m_originalSize;
}

void VLImage::setPDFRotationDegrees(int degrees)
{
    while (degrees < 0)
        degrees += 360;
    m_PDFRotationDegrees = degrees;
    if (degrees % 180 != 0)
        m_originalSize.transpose();
}

void VLImage::updateCropWithPercentageLeft(double left, double top, double right, double bottom)
{
    m_crop = Crop{left, top, right, bottom};
    emit cropChanged();
}

QSizeF VLImage::croppedSizeFromSize(const QSizeF &size) const
{
    return QSizeF(roundHalfEven(size.width() * (1 - m_crop.left - m_crop.right)),
                  roundHalfEven(size.height() * (1 - m_crop.top - m_crop.bottom)));
}

QColorSpace VLImage::copyColorSpaceForExport() const
{
    // Qt's colour spaces are RGB ones; anything else (or none) exports as sRGB.
    if (m_colorSpace.isValid())
        return m_colorSpace;
    return QColorSpace(QColorSpace::SRgb);
}

// --- filters ---

std::shared_ptr<platform::ColorFilter> VLImage::getFilter(const QString &name) const
{
    for (const auto &filter : m_filters) {
        if (filter && filter->value(QLatin1String(platform::ColorFilter::kFilterNameAttribute)).toString() == name)
            return filter;
    }
    return nullptr;
}

std::shared_ptr<platform::ColorFilter> VLImage::addFilter(const QString &name)
{
    auto filter = platform::ColorFilter::filterWithName(name);
    if (!filter)
        return nullptr;
    filter->setDefaults();
    m_filters.insert(m_filters.begin(), filter);
    m_filtersDirty = true;
    return filter;
}

void VLImage::setValue(const QVariant &value, const QString &key, const QString &filterName)
{
    auto filter = getFilter(filterName);
    if (!filter)
        filter = addFilter(filterName);
    if (!filter)
        return;
    filter->setValue(key, value);
    m_filtersDirty = true;
}

void VLImage::removeFilter(const QString &name)
{
    auto filter = getFilter(name);
    if (filter)
        m_filters.erase(std::find(m_filters.begin(), m_filters.end(), filter));
    m_filtersDirty = true;
}
