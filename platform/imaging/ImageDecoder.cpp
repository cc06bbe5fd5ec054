#include "platform/imaging/ImageDecoder.h"

#include "platform/imaging/HeifDecoder.h"
#include "platform/imaging/JpegDecoder.h"
#include "platform/imaging/PdfDocument.h"
#include "platform/imaging/PsdReader.h"

#include <QBuffer>
#include <algorithm>
#include <cmath>
#include <QFile>
#include <QImageReader>

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
        result.image = JpegDecoder::decodeAtLeast(data, atLeast, &status, &result.error);
        if (status != JpegDecoder::Status::Unsupported)
            return result;
    } else if (HeifDecoder::canDecode(data)) {
        Result result;
        result.image = HeifDecoder::decodeAtLeast(data, atLeast, &result.error);
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
        result.error = QStringLiteral("empty file");
        return result;
    }
    if (JpegDecoder::canDecode(data)) {
        JpegDecoder::Status status = JpegDecoder::Status::Ok;
        result.image = JpegDecoder::decode(data, &status, &result.error);
        if (status != JpegDecoder::Status::Unsupported)
            return result;
        result.error.clear();
    } else if (HeifDecoder::canDecode(data)) {
        result.image = HeifDecoder::decode(data, &result.error);
        result.orientationApplied = true;
        return result;
    } else if (PsdReader::canRead(data)) {
        result.image = PsdReader::read(data, &result.error);
        return result;
    } else if (data.startsWith("%PDF-") || isPdf(data)) {
        result.isPdf = true;
        auto pdf = PdfDocument::fromData(data);
        if (!pdf) {
            result.error = QStringLiteral("not a readable PDF document");
            return result;
        }
        const QSizeF size = pdf->pageSize();
        result.image = pdf->render(QSize(qRound(size.width()), qRound(size.height())), 0);
        if (result.image.isNull())
            result.error = QStringLiteral("the PDF page could not be drawn");
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
        result.error = reader.errorString();
        return result;
    }
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
    result.image = image;
    if (result.image.isNull())
        result.error = QStringLiteral("picture too large for memory");
    return result;
}

ImageDecoder::Result ImageDecoder::decodeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Result r;
        r.error = file.errorString();
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
