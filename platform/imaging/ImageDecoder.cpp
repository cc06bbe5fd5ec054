#include "platform/imaging/ImageDecoder.h"

#include "platform/imaging/HeifDecoder.h"
#include "platform/imaging/JpegDecoder.h"
#include "platform/imaging/PdfDocument.h"
#include "platform/imaging/PsdReader.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <limits>
#include <mutex>
#include <unistd.h>

namespace platform {

void ImageDecoder::raiseAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        long long megabytes = 0;
        if (pages > 0 && pageSize > 0)
            megabytes = (long long)pages * pageSize / (1024 * 1024) / 2;
        megabytes = std::max<long long>(megabytes, 1024);
        megabytes = std::min<long long>(megabytes, INT_MAX);
        QImageReader::setAllocationLimit(int(megabytes));
    });
}

namespace {

std::atomic<qint64> simulatedMemory{0};
std::atomic<qint64> decodes{0};

// A photo is held decoded once, and the framed render needs about twice
// that again (the larger canvas and the layers drawn onto it).
constexpr qint64 kBytesPerPixel = 4;
constexpr qint64 kCopiesWhileFraming = 3;

QString gigabytes(qint64 bytes)
{
    return QString::number(double(bytes) / double(qint64(1) << 30), 'f', 1) + QStringLiteral(" GB");
}

} // namespace

qint64 ImageDecoder::machineMemory()
{
    if (const qint64 simulated = simulatedMemory.load())
        return simulated;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : std::numeric_limits<qint64>::max();
}

qint64 ImageDecoder::decodeCount()
{
    return decodes.load();
}

void ImageDecoder::setMachineMemory(qint64 bytes)
{
    simulatedMemory.store(std::max<qint64>(bytes, 0));
}

namespace {

// A decoder's picture or its error into the result.
void take(ImageDecoder::Result &result, Result<QImage> decoded)
{
    if (decoded.ok())
        result.image = std::move(decoded).value();
    else
        result.error = decoded.error();
}

} // namespace

bool ImageDecoder::fitsInMemory(const QSize &size, Error *error)
{
    if (size.width() <= 0 || size.height() <= 0)
        return true;
    const qint64 needed = qint64(size.width()) * size.height() * kBytesPerPixel * kCopiesWhileFraming;
    const qint64 memory = machineMemory();
    if (needed <= memory)
        return true;
    setError(error, QStringLiteral("The picture is %1 × %2 pixels: opening and framing it needs about %3, "
                                   "more than the %4 of memory this computer has.")
                        .arg(size.width())
                        .arg(size.height())
                        .arg(gigabytes(needed), gigabytes(memory)));
    return false;
}

QSize ImageDecoder::headerSize(const QByteArray &data)
{
    if (JpegDecoder::canDecode(data))
        return JpegDecoder::storedSize(data);
    if (HeifDecoder::canDecode(data))
        return HeifDecoder::storedSize(data);
    if (PsdReader::canRead(data)) {
        // Signature, version, six reserved bytes, channels, then height and width.
        if (data.size() < 22)
            return {};
        const uchar *p = reinterpret_cast<const uchar *>(data.constData());
        const quint32 height = qFromBigEndian<quint32>(p + 14), width = qFromBigEndian<quint32>(p + 18);
        if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX)
            return {};
        return QSize(int(width), int(height));
    }
    if (data.startsWith("%PDF-") || isPdf(data))
        return {};
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    return reader.size();
}

bool ImageDecoder::isPdf(const QByteArray &data)
{
    // The header may follow a little garbage; readers accept it within 1 KB.
    return data.left(1024).contains("%PDF-");
}

ImageDecoder::Result ImageDecoder::decodeAtLeast(const QByteArray &data, const QSize &atLeast)
{
    if (atLeast.isEmpty())
        return decode(data);
    if (JpegDecoder::canDecode(data)) {
        Result result;
        JpegDecoder::Status status = JpegDecoder::Status::Ok;
        take(result, JpegDecoder::decodeAtLeast(data, atLeast, &status));
        if (status != JpegDecoder::Status::Unsupported)
            return result;
    } else if (HeifDecoder::canDecode(data)) {
        Result result;
        take(result, HeifDecoder::decodeAtLeast(data, atLeast));
        result.orientationApplied = true;
        return result;
    } else if (!PsdReader::canRead(data) && !isPdf(data)
               && !data.startsWith("%PDF-")) {
        raiseAllocationLimit();
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setAutoTransform(false);
        reader.setDecideFormatFromContent(true);
        const QSize full = reader.size();
        // These readers decode the whole picture before they scale it.
        Result refused;
        if (!fitsInMemory(full, &refused.error)) {
            refused.tooLarge = true;
            return refused;
        }
        if (full.isValid() && (full.width() > atLeast.width() || full.height() > atLeast.height())) {
            const double s = std::max(double(atLeast.width()) / full.width(), double(atLeast.height()) / full.height());
            reader.setScaledSize(QSize(std::max(1, int(std::ceil(full.width() * s))),
                                       std::max(1, int(std::ceil(full.height() * s)))));
            Result result;
            QImage image;
            if (reader.read(&image) && !image.isNull()) {
                if (image.format() != QImage::Format_ARGB32_Premultiplied)
                    image.convertTo(QImage::Format_ARGB32_Premultiplied);
                result.image = image;
                if (!result.image.isNull())
                    return result;
            }
        }
    }
    return decode(data);
}

ImageDecoder::Result ImageDecoder::decode(const QByteArray &data)
{
    Result result;
    if (data.isEmpty()) {
        setError(&result.error, QStringLiteral("empty file"));
        return result;
    }
    if (!fitsInMemory(headerSize(data), &result.error)) {
        result.tooLarge = true;
        return result;
    }
    ++decodes;
    if (JpegDecoder::canDecode(data)) {
        JpegDecoder::Status status = JpegDecoder::Status::Ok;
        take(result, JpegDecoder::decode(data, &status));
        if (status != JpegDecoder::Status::Unsupported)
            return result;
        result.error = Error{};
    } else if (HeifDecoder::canDecode(data)) {
        take(result, HeifDecoder::decode(data));
        result.orientationApplied = true;
        return result;
    } else if (PsdReader::canRead(data)) {
        take(result, PsdReader::read(data));
        return result;
    } else if (data.startsWith("%PDF-") || isPdf(data)) {
        result.isPdf = true;
        auto pdf = PdfDocument::fromData(data);
        if (!pdf) {
            setError(&result.error, QStringLiteral("not a readable PDF document"));
            return result;
        }
        const QSizeF size = pdf->pageSize();
        result.image = pdf->render(QSize(qRound(size.width()), qRound(size.height())), 0);
        if (result.image.isNull())
            setError(&result.error, QStringLiteral("the PDF page could not be drawn"));
        return result;
    }

    raiseAllocationLimit();
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    reader.setDecideFormatFromContent(true);
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        setError(&result.error, reader.errorString());
        return result;
    }
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    result.image = image;
    if (result.image.isNull())
        setError(&result.error, QStringLiteral("picture too large for memory"));
    return result;
}

ImageDecoder::Result ImageDecoder::decodeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Result r;
        setError(&r.error, file.errorString());
        return r;
    }
    if (file.size() > 0) {
        if (uchar *mapped = file.map(0, file.size())) {
            const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), file.size());
            return decode(data);
        }
    }
    return decode(file.readAll());
}

} // namespace platform
