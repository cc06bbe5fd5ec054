#include "platform/codec/PsdWriter.h"

#include "platform/codec/BandPipeline.h"
#include "platform/codec/CodecErrors.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/PhotoshopResources.h"
#include "platform/codec/PixelRows.h"

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QTemporaryFile>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <functional>
#include <vector>

namespace platform {

namespace {

class BigEndian
{
public:
    void u8(quint8 v) { bytes.append(char(v)); }
    void u16(quint16 v)
    {
        const quint16 be = qToBigEndian(v);
        bytes.append(reinterpret_cast<const char *>(&be), 2);
    }
    void u32(quint32 v)
    {
        const quint32 be = qToBigEndian(v);
        bytes.append(reinterpret_cast<const char *>(&be), 4);
    }
    // A length: 4 bytes, or 8 where the large document has them.
    void length(quint64 v, bool wide)
    {
        if (wide)
            u32(quint32(v >> 32));
        u32(quint32(v));
    }
    void raw(const char *data, int n) { bytes.append(data, n); }
    QByteArray bytes;
};

struct Output {
    QIODevice *device;
    bool failed = false;
    bool put(const char *data, qint64 n)
    {
        if (failed)
            return false;
        if (device->write(data, n) != n)
            failed = true;
        return !failed;
    }
    bool put(const QByteArray &b) { return put(b.constData(), b.size()); }
};

// Per row and channel, the picture's bytes split into planes: 0..3 straight
// R, G, B, A (the layer), 4..6 R, G, B laid onto white (the merged picture:
// readers take the matte out again with the alpha).
class ChannelRows
{
public:
    static constexpr int kMatted = 4;

    ChannelRows(const QImage &image, const RowReadHook &hook, qint64 reads)
        : m_image(image)
        , m_plane(size_t(image.width()))
        , m_packed(size_t(PsdWriter::packBitsBound(image.width())))
        , m_hook(hook)
        , m_reads(reads)
    {
    }
    // The packed length, or -1 when the reader was told to stop.
    int pack(int y, int c)
    {
        if (m_hook && !m_hook(++m_done, m_reads)) {
            m_cancelled = true;
            return -1;
        }
        PixelRows::plane(m_image, y, c < kMatted ? c : c - kMatted, c >= kMatted, m_plane.data());
        return PsdWriter::packBits(m_plane.data(), m_image.width(), m_packed.data());
    }
    const char *packed() const { return reinterpret_cast<const char *>(m_packed.data()); }
    bool cancelled() const { return m_cancelled; }

private:
    const QImage &m_image;
    std::vector<uchar> m_plane;
    std::vector<uchar> m_packed;
    const RowReadHook &m_hook;
    qint64 m_reads;
    qint64 m_done = 0;
    bool m_cancelled = false;
};

} // namespace

int PsdWriter::packBits(const uchar *data, int length, uchar *out)
{
    int o = 0;
    int i = 0;
    while (i < length) {
        // A run of three or more repeats pays for itself.
        int run = 1;
        while (i + run < length && run < 128 && data[i + run] == data[i])
            ++run;
        if (run >= 3 || (run == 2 && i + run == length)) {
            out[o++] = uchar(257 - run);
            out[o++] = data[i];
            i += run;
            continue;
        }
        // Literals until the next run of three.
        int start = i;
        int n = 0;
        while (i < length && n < 128) {
            if (i + 2 < length && data[i] == data[i + 1] && data[i] == data[i + 2])
                break;
            ++i;
            ++n;
        }
        out[o++] = uchar(n - 1);
        for (int k = 0; k < n; ++k)
            out[o++] = data[start + k];
    }
    return o;
}

namespace {

bool tooLarge(QSize size, bool large, Error *error)
{
    const int most = large ? PsdWriter::kMaxSideLarge : PsdWriter::kMaxSide;
    if (size.width() <= most && size.height() <= most)
        return false;
    codecError(error, CodecError::TooLarge,
               QStringLiteral("The picture is %1 × %2 pixels; a Photoshop %3 can be at most %4 pixels "
                              "wide and high.")
                   .arg(size.width())
                   .arg(size.height())
                   .arg(large ? QStringLiteral("large document") : QStringLiteral("file"),
                        large ? QStringLiteral("300,000") : QStringLiteral("30,000")));
    return true;
}

// Everything of the file around the channels' packed rows. `counts` holds
// the packed length of every row, plane by plane (planes as ChannelRows
// numbers them; 0..2 only without alpha); `writeChannel(c)` puts plane c's
// packed rows out in order; `stopped()` ends the writing early. `large`
// writes the large document (version 2: 8-byte section and channel lengths,
// 4-byte row counts). False (with the error) only when the picture is too
// large for the format.
bool writeFile(Output &out, QSize size, bool alpha, bool large, const ExportMetadata &metadata,
               const std::vector<quint32> &counts, const std::function<void(int)> &writeChannel,
               const std::function<bool()> &stopped, Error *error)
{
    const int w = size.width();
    const int h = size.height();
    const int planes = alpha ? 7 : 3;
    std::vector<quint64> channelBytes(size_t(planes), 0);
    for (int c = 0; c < planes; ++c) {
        for (int y = 0; y < h; ++y)
            channelBytes[size_t(c)] += counts[size_t(c) * size_t(h) + size_t(y)];
    }

    // Header, colour mode data (none), image resources.
    BigEndian head;
    head.raw("8BPS", 4);
    head.u16(large ? 2 : 1);
    head.raw("\0\0\0\0\0\0", 6);
    head.u16(quint16(alpha ? 4 : 3));
    head.u32(quint32(h));
    head.u32(quint32(w));
    head.u16(8);
    head.u16(3); // RGB
    head.u32(0);
    QByteArray resources;
    if (metadata.dpi())
        resources += PhotoshopResources::block(PhotoshopResources::kResolutionInfo,
                                               PhotoshopResources::resolutionInfo(*metadata.dpi()));
    if (const QByteArray iptc = metadata.iptcBlob(); !iptc.isEmpty())
        resources += PhotoshopResources::block(PhotoshopResources::kIptc, iptc);
    if (!metadata.iccProfile().isEmpty())
        resources += PhotoshopResources::block(PhotoshopResources::kIccProfile, metadata.iccProfile());
    if (const QByteArray exif = metadata.exifBlob(); !exif.isEmpty())
        resources += PhotoshopResources::block(PhotoshopResources::kExif, exif);
    if (const QByteArray xmp = metadata.xmpPacket(); !xmp.isEmpty())
        resources += PhotoshopResources::block(PhotoshopResources::kXmp, xmp);
    head.u32(quint32(resources.size()));
    head.raw(resources.constData(), int(resources.size()));

    const int countBytes = large ? 4 : 2;
    auto countTable = [&](int c) {
        BigEndian t;
        t.bytes.reserve(h * countBytes);
        for (int y = 0; y < h; ++y) {
            const quint32 count = counts[size_t(c) * size_t(h) + size_t(y)];
            if (large)
                t.u32(count);
            else
                t.u16(quint16(count));
        }
        return t.bytes;
    };

    // Layer and mask information: one layer holding the whole picture.
    if (alpha) {
        static const qint16 ids[4] = {0, 1, 2, -1};
        static const int order[4] = {3, 0, 1, 2}; // transparency first, as Photoshop writes it
        BigEndian record;
        record.u32(0);
        record.u32(0);
        record.u32(quint32(h));
        record.u32(quint32(w));
        record.u16(4);
        quint64 layerData = 0;
        for (int k = 0; k < 4; ++k) {
            const int c = order[k];
            const quint64 len = 2 + quint64(h) * countBytes + channelBytes[size_t(c)];
            record.u16(quint16(ids[c]));
            record.length(len, large);
            layerData += len;
        }
        record.raw("8BIMnorm", 8);
        record.u8(255); // opacity
        record.u8(0);   // clipping
        record.u8(0);   // flags
        record.u8(0);   // filler
        const char name[] = "\7Layer 1"; // Pascal string, padded to 4
        record.u32(4 + 4 + 8);
        record.u32(0); // no mask
        record.u32(0); // no blending ranges
        record.raw(name, 8);

        quint64 layerInfo = 2 + quint64(record.bytes.size()) + layerData;
        const bool pad = layerInfo % 2;
        layerInfo += pad;
        const quint64 section = (large ? 8 : 4) + layerInfo + 4;
        if (!large && section > 0xFFFFFFFFull) {
            codecError(error, CodecError::TooLarge, QStringLiteral("The picture is too large for a Photoshop file."));
            return false;
        }
        head.length(section, large);
        head.length(layerInfo, large);
        head.u16(quint16(qint16(-1)));
        head.raw(record.bytes.constData(), int(record.bytes.size()));
        out.put(head.bytes);
        for (int k = 0; k < 4 && !out.failed && !stopped(); ++k) {
            const int c = order[k];
            BigEndian comp;
            comp.u16(1); // PackBits
            out.put(comp.bytes);
            out.put(countTable(c));
            writeChannel(c);
        }
        if (pad)
            out.put("\0", 1);
        const char noGlobalMask[4] = {0, 0, 0, 0};
        out.put(noGlobalMask, 4);
    } else {
        head.length(0, large);
        out.put(head.bytes);
    }

    // The merged picture: all row tables first, then the channels in turn.
    BigEndian comp;
    comp.u16(1);
    out.put(comp.bytes);
    // With transparency the colour planes are the matted ones, then alpha.
    const std::vector<int> merged = alpha ? std::vector<int>{4, 5, 6, 3} : std::vector<int>{0, 1, 2};
    for (int c : merged) {
        if (!out.failed)
            out.put(countTable(c));
    }
    for (int c : merged) {
        if (!out.failed && !stopped())
            writeChannel(c);
    }
    return true;
}

// Why the bands' channels could not wait in their temporary file, in words a
// user can act on. A short write there reports no error of its own ("Unknown
// error"): the disk under the temporary folder is full.
void storeFailed(const QTemporaryFile &store, Error *error)
{
    const QString folder = QDir::toNativeSeparators(
        store.fileName().isEmpty() ? QDir::tempPath() : QFileInfo(store.fileName()).absolutePath());
    const QString reported = store.errorString();
    const bool full = store.error() == QFileDevice::ResourceError || store.error() == QFileDevice::NoError
                      || reported.isEmpty() || reported == QLatin1String("Unknown error");
    codecError(
        error, CodecError::WriteFailed,
        full ? QStringLiteral("the temporary folder “%1”, where its channels wait until the last band, is "
                              "full. Make room there, or set TMPDIR to a folder with room.")
                   .arg(folder)
             : QStringLiteral("its channels could not wait in the temporary folder “%1”: %2").arg(folder, reported));
}

bool cancelled(Error *error)
{
    codecError(error, CodecError::Cancelled, QStringLiteral("The picture was not written: cancelled."));
    return false;
}

bool writePicture(QIODevice *device, const QImage &image, const ExportMetadata &metadata, bool large, Error *error,
                  const RowReadHook &hook)
{
    if (tooLarge(image.size(), large, error))
        return false;
    const int h = image.height();
    const bool alpha = PixelRows::hasTransparency(image);
    Output out{device};

    // First pass: the packed length of every row of every channel, so the
    // tables that precede the data can be written before it.
    // Planes: the layer's straight RGBA, then (with transparency) the
    // merged picture's matted RGB.
    const int planes = alpha ? 7 : 3;
    std::vector<quint32> counts(size_t(h) * size_t(planes));
    // Every plane is read twice: once to measure, once to write.
    ChannelRows rows(image, hook, 2 * qint64(planes) * h);
    for (int y = 0; y < h; ++y) {
        for (int c = 0; c < planes; ++c) {
            const int n = rows.pack(y, c);
            if (n < 0)
                return cancelled(error);
            counts[size_t(c) * size_t(h) + size_t(y)] = quint32(n);
        }
    }
    const auto writeChannel = [&](int c) {
        for (int y = 0; y < h && !out.failed && !rows.cancelled(); ++y) {
            const int n = rows.pack(y, c);
            if (n >= 0)
                out.put(rows.packed(), n);
        }
    };
    if (!writeFile(
            out, image.size(), alpha, large, metadata, counts, writeChannel, [&] { return rows.cancelled(); }, error))
        return false;
    if (rows.cancelled())
        return cancelled(error);
    if (out.failed) {
        codecError(error, CodecError::WriteFailed, device->errorString());
        return false;
    }
    return true;
}

bool writePictureBands(QIODevice *device, const PictureBands &bands, const ExportMetadata &metadata, bool large,
                       Error *error, const RowReadHook &hook)
{
    if (BandPipeline::isEmpty(bands, error))
        return false;
    if (tooLarge(bands.size, large, error))
        return false;
    const int w = bands.size.width();
    const int h = bands.size.height();
    // The channels are written one after another, each whole: the bands'
    // packed rows wait in a temporary file, plane by plane, until the last
    // band tells whether there is alpha at all.
    QTemporaryFile store;
    if (!store.open()) {
        storeFailed(store, error);
        return false;
    }
    bool storeFull = false;
    struct Segment {
        qint64 offset;
        qint64 length;
    };
    // Per band and plane where its packed rows are in the store. An opaque
    // band keeps only planes 0..3: its matted colour is its straight colour.
    std::vector<std::array<Segment, 7>> segments;
    std::vector<quint32> counts(size_t(h) * 7);
    bool alpha = false;
    std::vector<uchar> plane(static_cast<size_t>(w));
    std::vector<uchar> packed(size_t(PsdWriter::packBitsBound(w)));
    QByteArray chunk;
    const auto outcome = BandPipeline::run(bands, hook, [&](const QImage &band, int first, BandPipeline::Rows &rows) {
        const bool opaque = !PixelRows::hasTransparency(band);
        alpha = alpha || !opaque;
        std::array<Segment, 7> here{};
        for (int c = 0; c < (opaque ? 4 : 7); ++c) {
            here[size_t(c)].offset = store.pos();
            chunk.clear();
            for (int y = 0; y < band.height(); ++y) {
                PixelRows::plane(band, y, c < ChannelRows::kMatted ? c : c - ChannelRows::kMatted,
                                 c >= ChannelRows::kMatted, plane.data());
                const int n = PsdWriter::packBits(plane.data(), w, packed.data());
                counts[size_t(c) * size_t(h) + size_t(first + y)] = quint32(n);
                chunk.append(reinterpret_cast<const char *>(packed.data()), n);
            }
            if (store.write(chunk) != chunk.size()) {
                storeFull = true;
                return false;
            }
            here[size_t(c)].length = chunk.size();
        }
        for (int c = 4; opaque && c < 7; ++c) {
            here[size_t(c)] = here[size_t(c - 4)];
            for (int y = 0; y < band.height(); ++y)
                counts[size_t(c) * size_t(h) + size_t(first + y)] =
                    counts[size_t(c - 4) * size_t(h) + size_t(first + y)];
        }
        segments.push_back(here);
        return rows.written(band.height());
    });
    if (outcome == BandPipeline::Outcome::Cancelled)
        return cancelled(error);
    // What is still buffered must reach the file before it is read back.
    if (storeFull || (outcome == BandPipeline::Outcome::Done && !store.flush())) {
        storeFailed(store, error);
        return false;
    }
    if (outcome != BandPipeline::Outcome::Done) {
        codecError(error, CodecError::WriteFailed, QStringLiteral("The picture could not be drawn."));
        return false;
    }
    if (!alpha)
        counts.resize(size_t(h) * 3);
    Output out{device};
    bool readFailed = false;
    const auto writeChannel = [&](int c) {
        for (const std::array<Segment, 7> &band : segments) {
            const Segment &segment = band[size_t(c)];
            if (!store.seek(segment.offset)) {
                readFailed = true;
                return;
            }
            for (qint64 left = segment.length; left > 0 && !out.failed;) {
                chunk = store.read(std::min<qint64>(left, 1 << 20));
                if (chunk.isEmpty()) {
                    readFailed = true;
                    return;
                }
                out.put(chunk);
                left -= chunk.size();
            }
        }
    };
    if (!writeFile(
            out, bands.size, alpha, large, metadata, counts, writeChannel, [&] { return readFailed; }, error))
        return false;
    if (out.failed) {
        codecError(error, CodecError::WriteFailed, device->errorString());
        return false;
    }
    if (readFailed) {
        codecError(error, CodecError::EncoderFailed,
                   QStringLiteral("The picture's channels could not be read back: %1").arg(store.errorString()));
        return false;
    }
    return true;
}

} // namespace

bool PsdWriter::write(QIODevice *device, const QImage &image, const ExportMetadata &metadata, Error *error,
                      const RowReadHook &hook)
{
    return writePicture(device, image, metadata, false, error, hook);
}

bool PsdWriter::writeBands(QIODevice *device, const PictureBands &bands, const ExportMetadata &metadata, Error *error,
                           const RowReadHook &hook)
{
    return writePictureBands(device, bands, metadata, false, error, hook);
}

bool PsdWriter::writeLarge(QIODevice *device, const QImage &image, const ExportMetadata &metadata, Error *error,
                           const RowReadHook &hook)
{
    return writePicture(device, image, metadata, true, error, hook);
}

bool PsdWriter::writeBandsLarge(QIODevice *device, const PictureBands &bands, const ExportMetadata &metadata,
                                Error *error, const RowReadHook &hook)
{
    return writePictureBands(device, bands, metadata, true, error, hook);
}

} // namespace platform
