#include "platform/codec/JpegWriter.h"

#include "platform/Log.h"
#include "platform/ThreadPools.h"
#include "platform/codec/CodecErrors.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/PhotoshopResources.h"
#include "platform/codec/PixelRows.h"
#include "platform/imaging/ParallelRows.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csetjmp>
#include <cstring>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace platform {

namespace {

constexpr size_t kChunk = 1 << 16;
constexpr int kMaxMarker = 65533; // a marker's payload, after its length field

struct Destination {
    jpeg_destination_mgr pub;
    QIODevice *device;
    bool writeFailed;
    JOCTET buffer[kChunk];
};

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void errorExit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void quietMessage(j_common_ptr) {}

void initDestination(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kChunk;
}

boolean emptyOutputBuffer(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    if (dest->device->write(reinterpret_cast<const char *>(dest->buffer), qint64(kChunk)) != qint64(kChunk)) {
        dest->writeFailed = true;
        cinfo->err->msg_code = JERR_FILE_WRITE;
        (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
    }
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kChunk;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    const qint64 n = qint64(kChunk - dest->pub.free_in_buffer);
    if (n > 0 && dest->device->write(reinterpret_cast<const char *>(dest->buffer), n) != n) {
        dest->writeFailed = true;
        cinfo->err->msg_code = JERR_FILE_WRITE;
        (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
    }
}

enum class Outcome { Done, Failed, Cancelled };

// How rows reach the compressor: the picture's own 32-bit pixels where the
// row is opaque (no copy at all), a flattened copy where it is not. A large
// picture's rows are made ready on a pool thread a few bands ahead, so
// flattening costs the compressor no time; with no pool thread free, the
// compressor prepares its rows itself. Pixels its maker vouches for as
// opaque (`opaque`) are not looked at.
class RowFeed
{
public:
    RowFeed(const QImage &image, bool direct, const RowReadHook &hook, bool allowAhead = true, QRect opaque = {})
        : m_image(image)
        , m_direct(direct)
        , m_hook(hook)
        , m_opaque(opaque.intersected(image.rect()))
        , m_rowBytes(size_t(image.width()) * (direct ? 4 : 3))
    {
        const bool ahead = allowAhead && qint64(image.width()) * image.height() >= kPipelinePixels
                           && poolThreadCount(Pool::Parallel) > 1;
        const int rows = ahead ? kSlots * kBandRows : 1;
        m_buffer.resize(m_rowBytes * size_t(rows));
        m_rows.resize(size_t(rows));
        if (ahead)
            m_producer = std::make_unique<PoolJob>(Pool::Parallel, [this] { produce(); });
    }

    ~RowFeed()
    {
        if (m_producer) {
            {
                const std::lock_guard<std::mutex> guard(m_lock);
                m_stop = true;
            }
            m_changed.notify_all();
            if (!m_producer->cancelIfNotStarted())
                m_producer->wait();
        }
    }

    RowFeed(const RowFeed &) = delete;
    RowFeed &operator=(const RowFeed &) = delete;

    const QImage &image() const { return m_image; }
    bool direct() const { return m_direct; }
    const RowReadHook &hook() const { return m_hook; }

    // Row `y`, asked for in order; valid until the next call.
    const uchar *row(int y)
    {
        if (!m_producer)
            return prepare(y, m_buffer.data());
        const int band = y / kBandRows;
        std::unique_lock<std::mutex> lock(m_lock);
        if (band != m_consuming) {
            // The band before is in the compressor's hands now: its slot is free.
            m_consuming = band;
            m_changed.notify_all();
        }
        const auto ready = [&] { return m_produced > band; };
        // A producer not begun after a while waits behind busy pool threads:
        // the compressor takes it back and goes on alone.
        if (!m_changed.wait_for(lock, kProducerGrace, ready) && !m_started) {
            lock.unlock();
            if (m_producer->cancelIfNotStarted()) {
                m_producer.reset();
                return prepare(y, m_buffer.data());
            }
            lock.lock();
        }
        m_changed.wait(lock, ready);
        return m_rows[size_t((band % kSlots) * kBandRows + y % kBandRows)];
    }

private:
    static constexpr qint64 kPipelinePixels = 1 << 20;
    static constexpr int kBandRows = 16;
    static constexpr int kSlots = 3;
    static constexpr std::chrono::milliseconds kProducerGrace{20};

    const uchar *prepare(int y, uchar *scratch) const
    {
        if (!m_direct) {
            PixelRows::rgbOnWhite(m_image, y, scratch);
            return scratch;
        }
        const bool opaque = y >= m_opaque.top() && y <= m_opaque.bottom()
                                ? PixelRows::isSpanOpaque(m_image, y, 0, m_opaque.left())
                                      && PixelRows::isSpanOpaque(m_image, y, m_opaque.right() + 1, m_image.width())
                                : PixelRows::isRowOpaque(m_image, y);
        if (opaque)
            return m_image.constScanLine(y);
        PixelRows::flattenOntoWhite32(m_image, y, scratch);
        return scratch;
    }

    void produce()
    {
        {
            const std::lock_guard<std::mutex> guard(m_lock);
            m_started = true;
        }
        const int bands = (m_image.height() + kBandRows - 1) / kBandRows;
        for (int band = 0; band < bands; ++band) {
            {
                std::unique_lock<std::mutex> lock(m_lock);
                // A slot is free once the compressor has moved past the band it held.
                m_changed.wait(lock, [&] { return m_stop || band - m_consuming < kSlots; });
                if (m_stop)
                    return;
            }
            const int slot = band % kSlots;
            const int first = band * kBandRows;
            const int end = std::min(first + kBandRows, m_image.height());
            for (int y = first; y < end; ++y) {
                const size_t index = size_t(slot * kBandRows + (y - first));
                m_rows[index] = prepare(y, m_buffer.data() + index * m_rowBytes);
            }
            {
                const std::lock_guard<std::mutex> guard(m_lock);
                m_produced = band + 1;
            }
            m_changed.notify_all();
        }
    }

    const QImage &m_image;
    const bool m_direct;
    const RowReadHook &m_hook;
    const QRect m_opaque;
    const size_t m_rowBytes;
    std::vector<uchar> m_buffer;
    std::vector<const uchar *> m_rows;
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_produced = 0;
    int m_consuming = 0;
    bool m_stop = false;
    bool m_started = false;
    std::unique_ptr<PoolJob> m_producer;
};

// Everything between setjmp and the end lives here, with no C++ object that
// a longjmp would skip.
Outcome compress(jpeg_compress_struct *cinfo, ErrorManager *err, Destination *dest, RowFeed &feed,
                 int quality, std::optional<double> dpi, const QByteArray *markers, int markerCount,
                 const QByteArray &icc, bool restartEveryRow = false, int *blockRows = nullptr)
{
    if (setjmp(err->jump)) {
        jpeg_destroy_compress(cinfo);
        return Outcome::Failed;
    }
    const QImage &image = feed.image();
    jpeg_create_compress(cinfo);
    cinfo->dest = &dest->pub;
    cinfo->image_width = JDIMENSION(image.width());
    cinfo->image_height = JDIMENSION(image.height());
    if (feed.direct()) {
        cinfo->input_components = 4;
        cinfo->in_color_space = PixelRows::isRgbaLayout(image.format()) ? JCS_EXT_RGBX : JCS_EXT_BGRX;
    } else {
        cinfo->input_components = 3;
        cinfo->in_color_space = JCS_RGB;
    }
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, quality, TRUE);
    if (restartEveryRow)
        cinfo->restart_in_rows = 1;
    if (dpi) {
        cinfo->density_unit = 1; // dots per inch
        const UINT16 d = UINT16(std::clamp<long>(std::lround(*dpi), 1, 65535));
        cinfo->X_density = d;
        cinfo->Y_density = d;
    }
    jpeg_start_compress(cinfo, TRUE);
    if (blockRows)
        *blockRows = cinfo->max_v_samp_factor * DCTSIZE;
    for (int i = 0; i < markerCount; ++i) {
        const QByteArray &m = markers[2 * i + 1];
        jpeg_write_marker(cinfo, JPEG_APP0 + markers[2 * i].at(0), reinterpret_cast<const JOCTET *>(m.constData()),
                          unsigned(m.size()));
    }
    if (!icc.isEmpty())
        jpeg_write_icc_profile(cinfo, reinterpret_cast<const JOCTET *>(icc.constData()), unsigned(icc.size()));
    const qint64 total = image.height();
    while (cinfo->next_scanline < cinfo->image_height) {
        const int y = int(cinfo->next_scanline);
        if (feed.hook() && !feed.hook()(y + 1, total)) {
            jpeg_destroy_compress(cinfo);
            return Outcome::Cancelled;
        }
        JSAMPROW rows[1] = {const_cast<JSAMPROW>(feed.row(y))};
        jpeg_write_scanlines(cinfo, rows, 1);
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return Outcome::Done;
}


// --- a large picture in strips, on several threads ---
//
// Each strip is a picture of its own, compressed with a restart marker after
// every row of blocks; the strips' block data then join into one picture,
// the restart markers numbered on. A restart sets the coefficients' coding
// back to its start, so the strips decode to the very pixels one pass gives.

constexpr qint64 kStripPixels = qint64(4) << 20;
constexpr int kStripRowMultiple = 16; // a row of blocks at 4:2:0
constexpr int kMinBandStripRows = 32;
// How long a strip may wait for a pool thread before the writer takes it on.
constexpr std::chrono::milliseconds kStripGrace{20};

struct Strip {
    QImage rows;
    QRect opaque; // of `rows`, known to be opaque
    int firstRow = 0;
    std::chrono::steady_clock::time_point launched;
    QByteArray bytes;
    qsizetype dataStart = -1; // where its block data start, once done
    int blockRowsAbove = 0;
    std::atomic<int> rowsDone{0};
    std::atomic<bool> finished{false};
    Outcome outcome = Outcome::Failed;
    QString message;
};

struct StripProgress {
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<bool> cancel{false};
};

int stripCountFor(const QImage &image)
{
    const int threads = std::min(8, poolThreadCount(Pool::Parallel));
    if (threads < 2 || qint64(image.width()) * image.height() < kStripPixels)
        return 1;
    return std::max(1, std::min(threads, image.height() / (kStripRowMultiple * 8)));
}

// The offset just past the segment that starts at `pos` (a marker with a
// length); -1 when the bytes end first.
qsizetype segmentEnd(const QByteArray &bytes, qsizetype pos)
{
    if (pos + 4 > bytes.size())
        return -1;
    const int length = (uchar(bytes[pos + 2]) << 8) | uchar(bytes[pos + 3]);
    return pos + 2 + length <= bytes.size() ? pos + 2 + length : -1;
}

// Where the block data of a strip's picture start (past its scan header);
// -1 when the bytes are not as the compressor writes them.
qsizetype scanDataStart(const QByteArray &bytes)
{
    qsizetype pos = 2;
    while (pos + 4 <= bytes.size() && uchar(bytes[pos]) == 0xff) {
        const uchar marker = uchar(bytes[pos + 1]);
        const qsizetype end = segmentEnd(bytes, pos);
        if (end < 0)
            return -1;
        if (marker == 0xda)
            return end;
        pos = end;
    }
    return -1;
}

// Sets the picture height in the frame header of the first strip.
bool setFrameHeight(QByteArray &bytes, int height)
{
    qsizetype pos = 2;
    while (pos + 4 <= bytes.size() && uchar(bytes[pos]) == 0xff) {
        const uchar marker = uchar(bytes[pos + 1]);
        const qsizetype end = segmentEnd(bytes, pos);
        if (end < 0 || marker == 0xda)
            return false;
        if (marker >= 0xc0 && marker <= 0xc2) {
            if (pos + 9 > bytes.size())
                return false;
            bytes[pos + 5] = char((height >> 8) & 0xff);
            bytes[pos + 6] = char(height & 0xff);
            return true;
        }
        pos = end;
    }
    return false;
}

// Numbers the restart markers of block data (up to its end-of-picture
// marker) on from `restarts`, in place; answers the restarts it held.
int renumberRestarts(QByteArray &bytes, qsizetype from, int restarts)
{
    const qsizetype end = bytes.size() - 2; // the end-of-picture marker
    char *data = bytes.data();
    int count = 0;
    qsizetype i = from;
    while (i + 1 < end) {
        const void *found = std::memchr(data + i, 0xff, size_t(end - 1 - i));
        if (!found)
            break;
        i = static_cast<const char *>(found) - data;
        const uchar next = uchar(data[i + 1]);
        if (next >= 0xd0 && next <= 0xd7) {
            data[i + 1] = char(0xd0 + ((restarts + count) & 7));
            ++count;
        }
        i += 2; // past the 0xff and a stuffed zero or the marker's second byte
    }
    return count;
}

// `here`, when given, is asked every row of blocks whether to go on: the
// strip is then compressed on the thread that writes the picture.
void compressStrip(Strip &strip, bool first, bool direct, int quality, std::optional<double> dpi,
                   const std::vector<QByteArray> &markers, const QByteArray &icc, StripProgress &progress,
                   const std::function<bool()> &here = {})
{
    // Room for the compressed rows up front: growing the bytes would copy
    // them into fresh memory again and again. Pages not written cost nothing.
    strip.bytes.reserve(qsizetype(strip.rows.width()) * strip.rows.height());
    QBuffer buffer(&strip.bytes);
    buffer.open(QIODevice::WriteOnly);
    std::unique_ptr<Destination> dest(new (std::nothrow) Destination);
    if (!dest) {
        strip.message = QStringLiteral("Not enough memory to encode the JPEG picture.");
        return;
    }
    dest->pub.init_destination = initDestination;
    dest->pub.empty_output_buffer = emptyOutputBuffer;
    dest->pub.term_destination = termDestination;
    dest->device = &buffer;
    dest->writeFailed = false;
    const RowReadHook hook = [&strip, &progress, &here](qint64 rowsRead, qint64) {
        strip.rowsDone.store(int(rowsRead - 1));
        if (rowsRead % kStripRowMultiple == 0) {
            progress.changed.notify_all();
            if (here && !here())
                return false;
        }
        return !progress.cancel.load();
    };
    RowFeed feed(strip.rows, direct, hook, false, strip.opaque);
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.output_message = quietMessage;
    int blockRows = 0;
    strip.outcome = compress(&cinfo, &err, dest.get(), feed, quality, dpi, first ? markers.data() : nullptr,
                             first ? int(markers.size() / 2) : 0, first ? icc : QByteArray(), true, &blockRows);
    if (strip.outcome == Outcome::Done) {
        // Its restart markers numbered on from the rows of blocks above it,
        // here rather than on the thread that writes the strips in turn.
        strip.dataStart = scanDataStart(strip.bytes);
        if (strip.dataStart >= 0 && blockRows > 0 && strip.firstRow % blockRows == 0) {
            strip.blockRowsAbove = strip.firstRow / blockRows;
            renumberRestarts(strip.bytes, strip.dataStart, strip.blockRowsAbove);
        } else {
            strip.dataStart = -1;
        }
        strip.rowsDone.store(strip.rows.height());
    } else {
        strip.message = QString::fromLocal8Bit(err.message);
    }
    {
        const std::lock_guard<std::mutex> guard(progress.lock);
        strip.finished = true;
    }
    progress.changed.notify_all();
}

// The picture's rows [first, first + count) as a picture of their own (null
// stops the encoding), and the part of them known to be opaque.
struct BandRows {
    QImage rows;
    QRect opaque;
};
using StripRows = std::function<BandRows(int first, int count)>;

// Bands of `bandRows` rows from `rowsOf`, at most `bandsInFlight` of them
// held at once, each cut into strips of `stripRows()` rows (asked at each
// band) compressed side by side on pool threads and written in order as they
// are done. While it waits, this thread compresses strips no pool thread has
// begun.
Outcome compressInStrips(QIODevice *device, QSize size, int bandRows, int bandsInFlight,
                         const std::function<int()> &stripRows, const StripRows &rowsOf, bool direct, int quality,
                         std::optional<double> dpi, const std::vector<QByteArray> &markers, const QByteArray &icc,
                         const RowReadHook &hook, QString *message, bool *writeFailed)
{
    const int height = size.height();
    const int bandCount = (height + bandRows - 1) / bandRows;
    std::vector<std::unique_ptr<Strip>> strips;
    std::vector<std::unique_ptr<PoolJob>> workers;
    std::vector<size_t> bandEnds; // past each started band's last strip
    StripProgress progress;
    const qint64 total = height;
    qint64 reported = 0;
    qint64 writtenRows = 0;
    bool cancelled = false;
    int bandsStarted = 0;
    int bandsWritten = 0;
    size_t written = 0;
    Outcome outcome = Outcome::Done;
    // Progress and cancel are told on this thread, in the order of the rows.
    const auto report = [&] {
        qint64 contiguous = writtenRows;
        for (size_t i = written; i < strips.size(); ++i) {
            const int done = strips[i]->rowsDone.load();
            contiguous += done;
            if (done < strips[i]->rows.height())
                break;
        }
        contiguous = std::min(contiguous, total);
        while (reported < contiguous && !cancelled) {
            ++reported;
            if (hook && !hook(reported, total))
                cancelled = true;
        }
    };
    // Written strip by strip: the joined picture is never held whole.
    const auto put = [&](const char *bytes, qsizetype size) {
        if (device->write(bytes, size) == size)
            return true;
        *writeFailed = true;
        *message = device->errorString();
        return false;
    };
    const auto writeStrip = [&](Strip &strip, bool first) {
        QByteArray &bytes = strip.bytes;
        const qsizetype data = strip.dataStart;
        if (data < 0 || bytes.size() < data + 2 || (first && !setFrameHeight(bytes, size.height()))) {
            *message = QStringLiteral("The picture's strips could not be joined.");
            return false;
        }
        if (!first) {
            // The marker that ends the row of blocks above.
            const char marker[2] = {char(0xff), char(0xd0 + ((strip.blockRowsAbove - 1) & 7))};
            if (!put(marker, 2))
                return false;
        }
        const qsizetype from = first ? 0 : data;
        const bool ok = put(bytes.constData() + from, bytes.size() - 2 - from);
        bytes = QByteArray();
        return ok;
    };
    while (outcome == Outcome::Done) {
        while (bandsStarted < bandCount && bandsStarted - bandsWritten < bandsInFlight && !cancelled) {
            const int first = bandsStarted * bandRows;
            const int count = std::min(bandRows, height - first);
            const BandRows made = rowsOf(first, count);
            const QImage &band = made.rows;
            if (band.isNull()) {
                cancelled = true;
                break;
            }
            const int rowsOfStrip = stripRows();
            for (int y = 0; y < count; y += rowsOfStrip) {
                auto strip = std::make_unique<Strip>();
                strip->firstRow = first + y;
                strip->rows = QImage(band.constScanLine(y), band.width(), std::min(rowsOfStrip, count - y),
                                     band.bytesPerLine(), band.format());
                strip->opaque = made.opaque.translated(0, -y).intersected(strip->rows.rect());
                strip->launched = std::chrono::steady_clock::now();
                Strip *target = strip.get();
                StripProgress *shared = &progress;
                const bool opening = strip->firstRow == 0;
                strips.push_back(std::move(strip));
                workers.push_back(std::make_unique<PoolJob>(
                    Pool::Parallel, [target, shared, opening, direct, quality, dpi, &markers, &icc] {
                        compressStrip(*target, opening, direct, quality, dpi, markers, icc, *shared);
                    }));
            }
            bandEnds.push_back(strips.size());
            ++bandsStarted;
            report();
        }
        if (cancelled || written == strips.size())
            break;
        Strip &next = *strips[written];
        PoolJob &job = *workers[written];
        for (;;) {
            report();
            if (cancelled || next.finished.load())
                break;
            // A strip no pool thread has begun is compressed here, telling
            // progress as it goes: the one waited for after a grace (pool
            // threads may be busy elsewhere), a later one at once.
            bool helped = false;
            for (size_t i = written; i < strips.size() && !helped; ++i) {
                if (strips[i]->finished.load() || (i == written && std::chrono::steady_clock::now() - next.launched < kStripGrace))
                    continue;
                if (workers[i]->cancelIfNotStarted()) {
                    compressStrip(*strips[i], strips[i]->firstRow == 0, direct, quality, dpi, markers, icc, progress,
                                  [&] {
                                      report();
                                      return !cancelled;
                                  });
                    helped = true;
                }
            }
            if (helped)
                continue;
            std::unique_lock<std::mutex> lock(progress.lock);
            progress.changed.wait_for(lock, std::chrono::milliseconds(20), [&] { return next.finished.load(); });
        }
        if (cancelled)
            break;
        job.wait();
        if (next.outcome != Outcome::Done) {
            *message = next.message;
            outcome = next.outcome == Outcome::Cancelled ? Outcome::Cancelled : Outcome::Failed;
            break;
        }
        writtenRows += next.rows.height();
        next.rows = QImage();
        if (!writeStrip(next, written == 0))
            outcome = Outcome::Failed;
        ++written;
        if (written == bandEnds[size_t(bandsWritten)])
            ++bandsWritten;
        report();
    }
    if (cancelled && outcome == Outcome::Done)
        outcome = Outcome::Cancelled;
    if (outcome != Outcome::Done)
        progress.cancel = true;
    for (const std::unique_ptr<PoolJob> &w : workers) {
        if (w && !w->cancelIfNotStarted())
            w->wait();
    }
    if (outcome == Outcome::Done && !put("\xff\xd9", 2))
        outcome = Outcome::Failed;
    return outcome;
}

// The APPn markers of the metadata as (index, payload) pairs.
std::vector<QByteArray> markersFor(const ExportMetadata &metadata)
{
    std::vector<QByteArray> markers;
    const QByteArray exif = metadata.exifBlob();
    if (!exif.isEmpty()) {
        const QByteArray payload = QByteArrayLiteral("Exif\0\0") + exif;
        if (payload.size() <= kMaxMarker) {
            markers.push_back(QByteArray(1, char(1)));
            markers.push_back(payload);
        } else {
            logLine(QStringLiteral("Warning: EXIF of %1 bytes is too large for JPEG and was left out").arg(exif.size()));
        }
    }
    const QByteArray xmp = metadata.xmpPacket();
    if (!xmp.isEmpty()) {
        const QByteArray payload = QByteArray("http://ns.adobe.com/xap/1.0/", 29) + xmp;
        if (payload.size() <= kMaxMarker) {
            markers.push_back(QByteArray(1, char(1)));
            markers.push_back(payload);
        } else {
            logLine(QStringLiteral("Warning: XMP of %1 bytes is too large for JPEG and was left out").arg(xmp.size()));
        }
    }
    const QByteArray iptc = metadata.iptcBlob();
    if (!iptc.isEmpty()) {
        const QByteArray payload = QByteArray("Photoshop 3.0", 14)
            + PhotoshopResources::block(PhotoshopResources::kIptc, iptc);
        if (payload.size() <= kMaxMarker) {
            markers.push_back(QByteArray(1, char(13)));
            markers.push_back(payload);
        } else {
            logLine(QStringLiteral("Warning: IPTC of %1 bytes is too large for JPEG and was left out").arg(iptc.size()));
        }
    }
    return markers;
}

int qualityFor(double quality)
{
    return std::clamp(int(std::lround(std::clamp(quality, 0.0, 1.0) * 100)), 1, 100);
}

bool tooLarge(QSize size, Error *error)
{
    if (size.width() <= JPEG_MAX_DIMENSION && size.height() <= JPEG_MAX_DIMENSION)
        return false;
    codecError(error, CodecError::TooLarge,
               QStringLiteral("A JPEG picture can be at most %1 pixels wide and high.").arg(JPEG_MAX_DIMENSION));
    return true;
}

bool reportStrips(Outcome outcome, bool writeFailed, const QString &message, Error *error)
{
    if (outcome == Outcome::Cancelled)
        codecError(error, CodecError::Cancelled, QStringLiteral("The picture was not written: cancelled."));
    else if (outcome == Outcome::Failed)
        codecError(error, writeFailed ? CodecError::WriteFailed : CodecError::EncoderFailed, message);
    return outcome == Outcome::Done;
}

} // namespace

bool JpegWriter::write(QIODevice *device, const QImage &image, const ExportMetadata &metadata, double quality,
                       Error *error, const RowReadHook &hook)
{
    if (tooLarge(image.size(), error))
        return false;
    const std::vector<QByteArray> markers = markersFor(metadata);
    const int q = qualityFor(quality);
    // 32-bit rows go to the compressor as they are (libjpeg-turbo converts
    // them with its own vector code); other layouts through a packed copy.
    const bool direct = Q_BYTE_ORDER == Q_LITTLE_ENDIAN && PixelRows::is32BitPixels(image.format());
    if (const int strips = stripCountFor(image); strips > 1) {
        const int rowsPerStrip = (image.height() + strips - 1) / strips;
        const int stripRows = (rowsPerStrip + kStripRowMultiple - 1) / kStripRowMultiple * kStripRowMultiple;
        QString message;
        bool writeFailed = false;
        // Views of the picture's rows: nothing is copied.
        const auto rowsOf = [&image](int first, int count) {
            return BandRows{
                QImage(image.constScanLine(first), image.width(), count, image.bytesPerLine(), image.format()),
                QRect()};
        };
        const Outcome outcome = compressInStrips(
            device, image.size(), image.height(), 1, [stripRows] { return stripRows; }, rowsOf, direct, q,
            metadata.dpi(), markers, metadata.iccProfile(), hook, &message, &writeFailed);
        return reportStrips(outcome, writeFailed, message, error);
    }
    std::unique_ptr<Destination> dest(new (std::nothrow) Destination);
    std::unique_ptr<RowFeed> feed;
    try {
        feed = std::make_unique<RowFeed>(image, direct, hook);
    } catch (const std::bad_alloc &) {
        dest.reset();
    }
    if (!dest) {
        codecError(error, CodecError::OutOfMemory, QStringLiteral("Not enough memory to encode the JPEG picture."));
        return false;
    }
    dest->pub.init_destination = initDestination;
    dest->pub.empty_output_buffer = emptyOutputBuffer;
    dest->pub.term_destination = termDestination;
    dest->device = device;
    dest->writeFailed = false;

    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.output_message = quietMessage;
    const Outcome outcome = compress(&cinfo, &err, dest.get(), *feed, q, metadata.dpi(), markers.data(),
                                     int(markers.size() / 2), metadata.iccProfile());
    const bool ok = outcome == Outcome::Done;
    if (outcome == Outcome::Cancelled) {
        codecError(error, CodecError::Cancelled, QStringLiteral("The picture was not written: cancelled."));
    } else if (!ok) {
        if (dest->writeFailed)
            codecError(error, CodecError::WriteFailed, device->errorString());
        else
            codecError(error, CodecError::EncoderFailed, QString::fromLocal8Bit(err.message));
    }
    return ok;
}

bool JpegWriter::writeBands(QIODevice *device, const Bands &bands, const ExportMetadata &metadata, double quality,
                            Error *error, const RowReadHook &hook)
{
    if (tooLarge(bands.size, error))
        return false;
    if (bands.size.isEmpty() || !bands.band || bands.rows < 1) {
        codecError(error, CodecError::EmptyImage, QStringLiteral("There is no picture to write."));
        return false;
    }
    const int bandRows = (bands.rows + kStripRowMultiple - 1) / kStripRowMultiple * kStripRowMultiple;
    // A band in strips for every core; a band a strip for a batch's worker,
    // whose neighbours have the other cores (until they have no file left).
    const auto stripRows = [bandRows] {
        const int threads = rowsRunSerially() ? 1 : poolThreadCount(Pool::Parallel);
        const int perCore =
            (bandRows / std::max(1, threads) + kStripRowMultiple - 1) / kStripRowMultiple * kStripRowMultiple;
        return threads > 1 ? std::min(bandRows, std::max(kMinBandStripRows, perCore)) : bandRows;
    };
    const auto rowsOf = [&bands](int first, int count) {
        BandRows made{bands.band(first, count), QRect()};
        if (!made.rows.isNull() && bands.opaque)
            made.opaque = bands.opaque().translated(0, -first);
        return made;
    };
    QString message;
    bool writeFailed = false;
    const Outcome outcome = compressInStrips(
        device, bands.size, bandRows, std::max(1, bands.inFlight), stripRows, rowsOf, Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
        qualityFor(quality), metadata.dpi(), markersFor(metadata), metadata.iccProfile(), hook, &message, &writeFailed);
    return reportStrips(outcome, writeFailed, message, error);
}

} // namespace platform
