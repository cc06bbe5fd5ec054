#include "platform/imaging/ImageDecoder.h"

#include "platform/FileBytes.h"
#include "platform/imaging/DecodeErrors.h"
#include "platform/imaging/HeifDecoder.h"
#include "platform/imaging/JpegDecoder.h"
#include "platform/imaging/PdfDocument.h"
#include "platform/imaging/PsdReader.h"
#include "platform/imaging/TiffCmykReader.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QRegularExpression>
#include <QtEndian>

#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <mutex>
#include <sys/resource.h>
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

// libtiff, under Qt's TIFF reader, says why it gives up only to handlers of
// the whole process: the first error of a read on this thread is kept as
// its reason, and nothing of it reaches standard error.
thread_local QString t_tiffError;
thread_local bool t_watchingTiff = false;

void keepTiffError(const char *, const char *format, va_list arguments)
{
    if (!t_watchingTiff || !t_tiffError.isEmpty())
        return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    t_tiffError = QString::fromLocal8Bit(text);
}

void dropTiffWarning(const char *, const char *, va_list) {}

// Set as the program loads, before any thread can be in libtiff.
const struct TiffHandlers {
    TiffHandlers()
    {
        TIFFSetErrorHandler(keepTiffError);
        TIFFSetWarningHandler(dropTiffWarning);
    }
} tiffHandlers;

// Keeps libtiff's first error on this thread while it lives.
struct TiffErrorWatch {
    TiffErrorWatch()
    {
        t_tiffError.clear();
        t_watchingTiff = true;
    }
    ~TiffErrorWatch() { t_watchingTiff = false; }
};

// libtiff's reason for a TIFF Qt could not read: its "Sorry, ..." is a kind
// it does not read, anything else damage.
Error tiffReadError(QString reason)
{
    // Some reasons begin with the name the reader gave the file.
    static const QRegularExpression fileName(QStringLiteral("^\\S+: "));
    reason.remove(fileName);
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    static const QLatin1String sorry("Sorry, ");
    if (reason.startsWith(sorry))
        return describedError(
            QStringLiteral("It is a TIFF picture of a kind not read here (%1).").arg(reason.mid(sorry.size())),
            int(DecodeError::KindNotRead));
    return describedError(reason, int(DecodeError::Damaged));
}

std::atomic<qint64> simulatedMemory{0};
std::atomic<qint64> decodes{0};

// A photo is held decoded once; framing it draws a canvas larger by its
// frames and, for a shadow, a layer the size of that canvas.
constexpr qint64 kBytesPerPixel = 4;
constexpr qint64 kCopiesWhileFraming = 4;
constexpr qint64 kUnlimited = std::numeric_limits<qint64>::max();

// The number in a small text file ("max" and unreadable files are no limit).
qint64 numberInFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return kUnlimited;
    bool ok = false;
    const qint64 value = file.readAll().trimmed().toLongLong(&ok);
    return ok && value >= 0 ? value : kUnlimited;
}

// A "Name:   1234 kB" line of a /proc file, in bytes.
qint64 procField(const QString &path, const QByteArray &name)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.startsWith(name + ':'))
            continue;
        const QList<QByteArray> parts = line.mid(name.size() + 1).simplified().split(' ');
        bool ok = false;
        const qint64 kb = parts.value(0).toLongLong(&ok);
        return ok ? kb * 1024 : -1;
    }
    return -1;
}

// What the control groups this process runs in still let it have: the
// tightest of the limits less their use, from its own group up.
qint64 controlGroupRoom()
{
    qint64 room = kUnlimited;
    const auto walk = [&room](QString group, const QString &root, const QString &limitFile, const QString &usageFile) {
        for (;;) {
            const QString dir = root + group;
            const qint64 limit = numberInFile(dir + limitFile);
            // Version 1 writes "no limit" as a huge number.
            if (limit < (qint64(1) << 60)) {
                const qint64 used = numberInFile(dir + usageFile);
                room = std::min(room, used == kUnlimited ? limit : std::max<qint64>(0, limit - used));
            }
            if (group.isEmpty() || group == QLatin1String("/"))
                return;
            group.truncate(std::max<qsizetype>(0, group.lastIndexOf(QLatin1Char('/'))));
        }
    };
    QFile own(QStringLiteral("/proc/self/cgroup"));
    if (!own.open(QIODevice::ReadOnly))
        return room;
    for (const QByteArray &line : own.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        const QString group = QString::fromUtf8(fields.mid(2).join(':'));
        if (fields[0] == "0" && fields[1].isEmpty())
            walk(group, QStringLiteral("/sys/fs/cgroup"), QStringLiteral("/memory.max"),
                 QStringLiteral("/memory.current"));
        else if (fields[1].split(',').contains("memory"))
            walk(group, QStringLiteral("/sys/fs/cgroup/memory"), QStringLiteral("/memory.limit_in_bytes"),
                 QStringLiteral("/memory.usage_in_bytes"));
    }
    return room;
}

// What a resource limit leaves above what the process already uses.
qint64 resourceLimitRoom(int resource, const QByteArray &usedField)
{
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kUnlimited;
    const qint64 cap = limit.rlim_cur > rlim_t(kUnlimited) ? kUnlimited : qint64(limit.rlim_cur);
    const qint64 used = procField(QStringLiteral("/proc/self/status"), usedField);
    return std::max<qint64>(0, cap - std::max<qint64>(0, used));
}

QString gigabytes(qint64 bytes)
{
    return QString::number(double(bytes) / double(qint64(1) << 30), 'f', 1) + QStringLiteral(" GB");
}

} // namespace

qint64 ImageDecoder::machineMemory()
{
    if (const qint64 simulated = simulatedMemory.load())
        return simulated;
    // Not all of RAM: what the system has free or can give back, what the
    // control group allows, and what the address-space and data limits leave.
    qint64 room = procField(QStringLiteral("/proc/meminfo"), "MemAvailable");
    if (room < 0) {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        room = pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : kUnlimited;
    }
    room = std::min(room, controlGroupRoom());
    room = std::min(room, resourceLimitRoom(RLIMIT_AS, "VmSize"));
    room = std::min(room, resourceLimitRoom(RLIMIT_DATA, "VmData"));
    return room;
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

bool ImageDecoder::fitsInMemory(const QSize &size, Error *error, const QSize &pictureSize)
{
    if (size.width() <= 0 || size.height() <= 0)
        return true;
    const qint64 needed = qint64(size.width()) * size.height() * kBytesPerPixel * kCopiesWhileFraming;
    const qint64 memory = machineMemory();
    if (needed <= memory)
        return true;
    setError(error, QStringLiteral("The picture is %1 × %2 pixels: opening and framing it needs about %3, "
                                   "more than the %4 of memory Kantelo can have now. Close other programs, "
                                   "or open a smaller copy of the picture.")
                        .arg(pictureSize.isValid() ? pictureSize.width() : size.width())
                        .arg(pictureSize.isValid() ? pictureSize.height() : size.height())
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
    return readsRaster(reader) ? reader.size() : QSize();
}

bool ImageDecoder::isRasterFormat(const QByteArray &format)
{
    static const QByteArrayList kinds = {"bmp", "cur", "gif", "icns", "ico",  "jpeg", "jpg",  "mng", "pbm", "pgm",
                                         "png", "ppm", "tga", "tif",  "tiff", "wbmp", "webp", "xbm", "xpm"};
    return kinds.contains(format.toLower());
}

bool ImageDecoder::readsRaster(QImageReader &reader, Error *error)
{
    reader.setDecideFormatFromContent(true);
    // Asking for the kind looks at the first bytes only: a drawing is not
    // parsed, so nothing it names is read.
    const QByteArray format = reader.format();
    if (isRasterFormat(format))
        return true;
    if (error) {
        *error = format.isEmpty()
                     ? describedError(reader.errorString(), int(DecodeError::Damaged))
                     : describedError(QStringLiteral("Pictures of the kind \u201c%1\u201d are not read here.")
                                          .arg(QString::fromLatin1(format.toUpper())),
                                      int(DecodeError::KindNotRead));
    }
    return false;
}

QImage ImageDecoder::rasterFromData(const QByteArray &data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return readsRaster(reader) ? reader.read() : QImage();
}

namespace {

// The size in a JPEG's frame header, found by going from marker to marker.
QSize jpegSize(QFile &file)
{
    qint64 pos = 2;
    for (int markers = 0; markers < 100000; ++markers) {
        if (!file.seek(pos))
            return {};
        const QByteArray head = file.read(9);
        if (head.size() < 4 || uchar(head[0]) != 0xff)
            return {};
        const uchar marker = uchar(head[1]);
        if (marker == 0xff) { // a fill byte
            ++pos;
            continue;
        }
        const auto *p = reinterpret_cast<const uchar *>(head.constData());
        const bool frame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (frame) {
            if (head.size() < 9)
                return {};
            const int height = (p[5] << 8) | p[6], width = (p[7] << 8) | p[8];
            return width > 0 && height > 0 ? QSize(width, height) : QSize();
        }
        if (marker == 0xda || marker == 0xd9)
            return {};
        pos += 2 + ((qint64(p[2]) << 8) | p[3]);
    }
    return {};
}

// A TIFF's size and bits a sample, from its first directory (classic or
// big), read as libtiff would but without its complaints on standard error.
void readTiffHeader(QFile &file, ImageDecoder::FileHeader *header)
{
    file.seek(0);
    const QByteArray head = file.read(16);
    const bool little = head.startsWith("II");
    if (head.size() < 16 || (!little && !head.startsWith("MM")))
        return;
    const auto u16 = [little](const char *p) {
        return little ? qFromLittleEndian<quint16>(p) : qFromBigEndian<quint16>(p);
    };
    const auto u32 = [little](const char *p) {
        return little ? qFromLittleEndian<quint32>(p) : qFromBigEndian<quint32>(p);
    };
    const auto u64 = [little](const char *p) {
        return little ? qFromLittleEndian<quint64>(p) : qFromBigEndian<quint64>(p);
    };
    const quint16 version = u16(head.constData() + 2);
    const bool big = version == 43;
    if (version != 42 && !big)
        return;
    const quint64 directory = big ? u64(head.constData() + 8) : u32(head.constData() + 4);
    if (directory > quint64(std::numeric_limits<qint64>::max()) || !file.seek(qint64(directory)))
        return;
    const QByteArray countBytes = file.read(big ? 8 : 2);
    if (countBytes.size() < (big ? 8 : 2))
        return;
    const quint64 count = std::min<quint64>(big ? u64(countBytes.constData()) : u16(countBytes.constData()), 4096);
    const int entryBytes = big ? 20 : 12;
    const QByteArray entries = file.read(qint64(count) * entryBytes);
    constexpr quint16 kWidth = 256, kLength = 257, kBitsPerSample = 258, kShort = 3, kLong = 4;
    quint64 width = 0;
    quint64 length = 0;
    int bits = 1; // none given: one bit
    for (qsizetype at = 0; at + entryBytes <= entries.size(); at += entryBytes) {
        const char *e = entries.constData() + at;
        const quint16 tag = u16(e), type = u16(e + 2);
        const quint64 values = big ? u64(e + 4) : u32(e + 4);
        const char *field = e + (big ? 12 : 8);
        if ((tag == kWidth || tag == kLength) && values == 1 && (type == kShort || type == kLong))
            (tag == kWidth ? width : length) = type == kShort ? u16(field) : u32(field);
        if (tag != kBitsPerSample || type != kShort || values == 0)
            continue;
        // The first sample's bits, in the entry or where it points.
        if (values * 2 <= quint64(big ? 8 : 4)) {
            bits = u16(field);
            continue;
        }
        const quint64 offset = big ? u64(field) : u32(field);
        const qint64 back = file.pos();
        const QByteArray first = offset <= quint64(std::numeric_limits<qint64>::max()) && file.seek(qint64(offset))
                                     ? file.read(2)
                                     : QByteArray();
        bits = first.size() == 2 ? u16(first.constData()) : 8;
        file.seek(back);
    }
    header->bitsPerChannel = bits;
    if (width > 0 && length > 0 && width <= quint64(INT_MAX) && length <= quint64(INT_MAX))
        header->size = QSize(int(width), int(length));
}

} // namespace

ImageDecoder::FileHeader ImageDecoder::readHeader(const QString &path)
{
    FileHeader header;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return header;
    // Enough for every header read from the front of the file.
    const QByteArray front = file.read(64 * 1024);
    if (JpegDecoder::canDecode(front)) {
        header.jpeg = true;
        header.size = jpegSize(file);
        return header;
    }
    if (HeifDecoder::canDecode(front) || front.startsWith("%PDF-") || isPdf(front))
        return header;
    if (PsdReader::canRead(front)) {
        header.size = headerSize(front);
        header.bitsPerChannel = PsdReader::bitsPerChannel(front);
        return header;
    }
    if (front.startsWith("II") || front.startsWith("MM")) {
        readTiffHeader(file, &header);
        return header;
    }
    if (front.startsWith("\x89PNG\r\n\x1a\n") && front.size() > 24 && front.mid(12, 4) == "IHDR")
        header.bitsPerChannel = uchar(front[24]);
    // The other readers read their headers from the file as they need them.
    file.seek(0);
    QImageReader reader(&file);
    if (readsRaster(reader))
        header.size = reader.size();
    return header;
}

bool ImageDecoder::fileFitsInMemory(const QString &path, bool reduced, Error *error)
{
    const FileHeader header = readHeader(path);
    if (reduced && header.jpeg)
        return fitsInMemory(JpegDecoder::decodedSize(header.size, QSize(1, 1)), error, header.size);
    return fitsInMemory(header.size, error);
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
        const QSize stored = JpegDecoder::storedSize(data);
        if (!fitsInMemory(JpegDecoder::decodedSize(stored, atLeast), &result.error, stored)) {
            result.tooLarge = true;
            return result;
        }
        JpegDecoder::Status status = JpegDecoder::Status::Ok;
        take(result, JpegDecoder::decodeAtLeast(data, atLeast, &status));
        if (status != JpegDecoder::Status::Unsupported)
            return result;
    } else if (HeifDecoder::canDecode(data)) {
        Result result;
        // Without a thumbnail large enough, the whole picture is decoded.
        if (!fitsInMemory(HeifDecoder::storedSize(data), &result.error)) {
            result.tooLarge = true;
            return result;
        }
        take(result, HeifDecoder::decodeAtLeast(data, atLeast));
        result.orientationApplied = true;
        return result;
    } else if (!PsdReader::canRead(data) && !isPdf(data) && !data.startsWith("%PDF-")
               && !TiffCmykReader::isCmyk(data)) {
        raiseAllocationLimit();
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setAutoTransform(false);
        if (!readsRaster(reader))
            return decode(data);
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
    } else if (TiffCmykReader::isCmyk(data)) {
        take(result, TiffCmykReader::read(data));
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
    if (!readsRaster(reader, &result.error))
        return result;
    QImage image;
    const TiffErrorWatch watch;
    if (!reader.read(&image) || image.isNull()) {
        if (!t_tiffError.isEmpty())
            result.error = tiffReadError(t_tiffError);
        else
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
    const platform::Result<QByteArray> data = FileBytes::read(path);
    if (!data.ok()) {
        Result r;
        r.error = data.error();
        return r;
    }
    return decode(data.value());
}

} // namespace platform
