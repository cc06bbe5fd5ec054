#include "platform/imaging/JpegDecoder.h"

#include "platform/ThreadPools.h"
#include "platform/imaging/CmykConversion.h"
#include "platform/imaging/ImageBuffer.h"
#include "platform/imaging/ParallelRows.h"
#include "platform/imaging/PhotoRows.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace platform {

namespace {

using Status = JpegDecoder::Status;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool truncated = false;
    char message[JMSG_LENGTH_MAX] = {};
    JOCTET *profile = nullptr; // a CMYK picture's, read before the jump that may follow (freed then)
};

void onError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level)
{
    // Level -1 is a warning about the data. A file that ends early is damaged;
    // other warnings (stray bytes) are common in camera files and harmless.
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        reinterpret_cast<ErrorManager *>(cinfo->err)->truncated = true;
}

} // namespace

bool JpegDecoder::canDecode(const QByteArray &data)
{
    return data.size() > 3 && data.startsWith("\xFF\xD8\xFF");
}

namespace {

// libjpeg-turbo scales by eighths while decoding, far cheaper than decoding
// everything and scaling down afterwards: the fewest eighths that still give
// `atLeast`, 8 for the whole size.
unsigned eighthsFor(int width, int height, QSize atLeast)
{
    if (atLeast.width() <= 0 || atLeast.height() <= 0)
        return 8;
    for (unsigned num = 1; num < 8; ++num) {
        const qint64 w = (qint64(width) * num + 7) / 8;
        const qint64 h = (qint64(height) * num + 7) / 8;
        if (w >= atLeast.width() && h >= atLeast.height())
            return num;
    }
    return 8;
}

// --- a picture with restart markers, in pieces on several threads ---
//
// Cameras (and our own writer) put a restart marker after every row of
// blocks or so. The coding starts afresh at each one, so a run of intervals
// decodes on its own: a piece is the picture's header, with the height of
// its rows, and its intervals, their markers numbered from zero. Each piece
// also decodes one interval past each of its ends and drops those rows: the
// colour of a row is smoothed with the rows around it, and at the edge of a
// picture the decoder has none.

struct ScanLayout {
    int width = 0;
    int height = 0;
    int rowsPerInterval = 0; // pixel rows at full size
    qsizetype heightAt = 0; // the frame header's height field
    qsizetype dataStart = 0; // just past the scan header
    std::vector<qsizetype> intervalStart; // where each interval's coded data begins
    std::vector<qsizetype> intervalEnd; // and ends (its marker or the end of the picture)
};

constexpr qint64 kPiecePixels = 1 << 20;
std::atomic<int> g_piecewise{0};
constexpr int kMinIntervalsPerPiece = 4;

// The layout of a baseline picture of one interleaved scan whose restart
// intervals are whole rows of blocks; nothing when it is otherwise.
std::optional<ScanLayout> scanLayout(const QByteArray &data)
{
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const qsizetype size = data.size();
    ScanLayout layout;
    int components = 0;
    int hMax = 1, vMax = 1;
    bool oneByOne = true;
    int restartInterval = 0;
    qsizetype pos = 2;
    for (;;) {
        while (pos < size && p[pos] == 0xff && pos + 1 < size && p[pos + 1] == 0xff)
            ++pos; // fill bytes
        if (pos + 4 > size || p[pos] != 0xff)
            return std::nullopt;
        const uchar marker = p[pos + 1];
        const qsizetype length = (qsizetype(p[pos + 2]) << 8) | p[pos + 3];
        const qsizetype end = pos + 2 + length;
        if (length < 2 || end > size)
            return std::nullopt;
        if (marker == 0xc0 || marker == 0xc1) {
            if (components || length < 8)
                return std::nullopt;
            layout.heightAt = pos + 5;
            layout.height = (p[pos + 5] << 8) | p[pos + 6];
            layout.width = (p[pos + 7] << 8) | p[pos + 8];
            components = p[pos + 9];
            if ((components != 1 && components != 3) || length != 8 + 3 * components)
                return std::nullopt;
            for (int c = 0; c < components; ++c) {
                const int h = p[pos + 11 + 3 * c] >> 4, v = p[pos + 11 + 3 * c] & 15;
                if (h < 1 || v < 1 || h > 4 || v > 4)
                    return std::nullopt;
                hMax = std::max(hMax, h);
                vMax = std::max(vMax, v);
                oneByOne = oneByOne && h == 1 && v == 1;
            }
        } else if ((marker >= 0xc2 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc)
                   || marker == 0xdc) {
            return std::nullopt; // progressive, lossless, arithmetic coding, a height given later
        } else if (marker == 0xdd) {
            if (length != 4)
                return std::nullopt;
            restartInterval = (p[pos + 4] << 8) | p[pos + 5];
        } else if (marker == 0xda) {
            if (!components || length < 3 || p[pos + 4] != components)
                return std::nullopt;
            layout.dataStart = end;
            break;
        } else if (marker < 0xc0 || marker == 0xd8 || marker == 0xd9 || (marker >= 0xd0 && marker <= 0xd7)) {
            return std::nullopt;
        }
        pos = end;
    }
    if (layout.width <= 0 || layout.height <= 0 || restartInterval <= 0 || (components == 1 && !oneByOne))
        return std::nullopt;
    const int blockWidth = components == 1 ? 8 : 8 * hMax;
    const int blockHeight = components == 1 ? 8 : 8 * vMax;
    const qint64 perRow = (layout.width + blockWidth - 1) / blockWidth;
    const qint64 blockRows = (layout.height + blockHeight - 1) / blockHeight;
    if (restartInterval % perRow != 0)
        return std::nullopt;
    layout.rowsPerInterval = int(restartInterval / perRow) * blockHeight;
    const qint64 intervals = (perRow * blockRows + restartInterval - 1) / restartInterval;

    // The markers between intervals, numbered 0 to 7 in turn, up to the end of the picture.
    layout.intervalStart.reserve(size_t(intervals));
    layout.intervalEnd.reserve(size_t(intervals));
    layout.intervalStart.push_back(layout.dataStart);
    pos = layout.dataStart;
    for (;;) {
        const void *found = std::memchr(p + pos, 0xff, size_t(size - pos));
        if (!found)
            return std::nullopt;
        pos = static_cast<const uchar *>(found) - p;
        qsizetype next = pos + 1;
        while (next < size && p[next] == 0xff)
            ++next;
        if (next >= size)
            return std::nullopt;
        const uchar marker = p[next];
        if (marker == 0) {
            pos = next + 1;
            continue;
        }
        if (marker == 0xd9) {
            layout.intervalEnd.push_back(pos);
            break;
        }
        const qsizetype count = qsizetype(layout.intervalEnd.size());
        if (marker < 0xd0 || marker > 0xd7 || marker - 0xd0 != (count & 7) || count + 1 >= intervals)
            return std::nullopt;
        layout.intervalEnd.push_back(pos);
        layout.intervalStart.push_back(next + 1);
        pos = next + 1;
    }
    if (qsizetype(layout.intervalStart.size()) != intervals)
        return std::nullopt;
    return layout;
}

// Serves a piece to the decoder: the header, then the intervals with their
// markers renumbered, then the end of the picture; never a copy of the data.
struct PieceSource {
    jpeg_source_mgr pub;
    std::vector<std::pair<const uchar *, size_t>> chunks;
    size_t next = 0;
    bool ranOut = false;
};

const uchar kRestartMarkers[8][2] = {{0xff, 0xd0}, {0xff, 0xd1}, {0xff, 0xd2}, {0xff, 0xd3},
                                     {0xff, 0xd4}, {0xff, 0xd5}, {0xff, 0xd6}, {0xff, 0xd7}};
const uchar kEndOfPicture[2] = {0xff, 0xd9};

void pieceInit(j_decompress_ptr) {}

boolean pieceFill(j_decompress_ptr cinfo)
{
    auto *src = reinterpret_cast<PieceSource *>(cinfo->src);
    if (src->next < src->chunks.size()) {
        src->pub.next_input_byte = src->chunks[src->next].first;
        src->pub.bytes_in_buffer = src->chunks[src->next].second;
        ++src->next;
        return TRUE;
    }
    // Past the end: the piece is not what its header said.
    src->ranOut = true;
    src->pub.next_input_byte = kEndOfPicture;
    src->pub.bytes_in_buffer = 2;
    return TRUE;
}

void pieceSkip(j_decompress_ptr cinfo, long count)
{
    auto *src = reinterpret_cast<PieceSource *>(cinfo->src);
    while (count > long(src->pub.bytes_in_buffer)) {
        count -= long(src->pub.bytes_in_buffer);
        pieceFill(cinfo);
    }
    if (count > 0) {
        src->pub.next_input_byte += count;
        src->pub.bytes_in_buffer -= size_t(count);
    }
}

void pieceTerm(j_decompress_ptr) {}

struct Piece {
    int firstInterval = 0; // decoded, including the interval before the kept ones
    int endInterval = 0;
    int keepFrom = 0; // output rows of the whole picture
    int keepTo = 0;
};

void onPieceMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        reinterpret_cast<ErrorManager *>(cinfo->err)->truncated = true; // any warning: not trusted
}

// Decodes one piece into its rows of `out`; false on any trouble.
bool decodePiece(const QByteArray &data, const QByteArray &header, const ScanLayout &layout, unsigned eighths,
                 const Piece &piece, QImage *out, std::vector<uchar> &scratch)
{
    PieceSource src{};
    src.pub.init_source = pieceInit;
    src.pub.fill_input_buffer = pieceFill;
    src.pub.skip_input_data = pieceSkip;
    src.pub.resync_to_restart = jpeg_resync_to_restart;
    src.pub.term_source = pieceTerm;
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    src.chunks.reserve(size_t(2 * (piece.endInterval - piece.firstInterval) + 2));
    src.chunks.push_back({reinterpret_cast<const uchar *>(header.constData()), size_t(header.size())});
    for (int i = piece.firstInterval; i < piece.endInterval; ++i) {
        if (i > piece.firstInterval)
            src.chunks.push_back({kRestartMarkers[(i - piece.firstInterval - 1) & 7], 2});
        const qsizetype from = layout.intervalStart[size_t(i)];
        src.chunks.push_back({p + from, size_t(layout.intervalEnd[size_t(i)] - from)});
    }
    src.chunks.push_back({kEndOfPicture, 2});

    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onPieceMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.src = &src.pub;
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = eighths;
    cinfo.scale_denom = 8;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    cinfo.out_color_space = JCS_EXT_BGRA;
#else
    cinfo.out_color_space = JCS_EXT_ARGB;
#endif
    jpeg_start_decompress(&cinfo);
    const int rowsPerInterval = layout.rowsPerInterval * int(eighths) / 8;
    const int top = piece.firstInterval * rowsPerInterval;
    if (int(cinfo.output_width) != out->width() || int(cinfo.output_height) != std::min(out->height() - top,
                                                                                      (piece.endInterval - piece.firstInterval) * rowsPerInterval)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    scratch.resize(size_t(out->width()) * 4);
    uchar *bits = out->bits();
    const qsizetype bpl = out->bytesPerLine();
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height && !err.truncated) {
        const int first = top + int(cinfo.output_scanline);
        const int count = std::min<int>(16, int(cinfo.output_height - cinfo.output_scanline));
        for (int i = 0; i < count; ++i) {
            const int y = first + i;
            rows[i] = y >= piece.keepFrom && y < piece.keepTo ? bits + bpl * qsizetype(y) : scratch.data();
        }
        if (jpeg_read_scanlines(&cinfo, rows, JDIMENSION(count)) == 0)
            break;
    }
    const bool whole = !err.truncated && !src.ranOut && cinfo.output_scanline == cinfo.output_height;
    if (whole)
        jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return whole && !err.truncated && !src.ranOut;
}

// The header with the height of the rows a piece decodes.
QByteArray pieceHeader(const QByteArray &data, const ScanLayout &layout, const Piece &piece)
{
    QByteArray header = data.left(layout.dataStart);
    const int intervals = int(layout.intervalStart.size());
    const int rows = piece.endInterval == intervals ? layout.height - piece.firstInterval * layout.rowsPerInterval
                                                    : (piece.endInterval - piece.firstInterval) * layout.rowsPerInterval;
    header[layout.heightAt] = char((rows >> 8) & 0xff);
    header[layout.heightAt + 1] = char(rows & 0xff);
    return header;
}

// The picture decoded in pieces on the pool's threads; null when it is not
// laid out for that, or anything in it is not as expected (the caller then
// decodes it in one go, and reports what is wrong).
QImage decodeInPieces(const QByteArray &data, QSize atLeast)
{
    if (rowsRunSerially())
        return {};
    const int threads = poolThreadCount(Pool::Parallel);
    if (threads < 2 || !JpegDecoder::canDecode(data))
        return {};
    const std::optional<ScanLayout> layout = scanLayout(data);
    if (!layout)
        return {};
    const unsigned eighths = eighthsFor(layout->width, layout->height, atLeast);
    const int width = int((qint64(layout->width) * eighths + 7) / 8);
    const int height = int((qint64(layout->height) * eighths + 7) / 8);
    const int intervals = int(layout->intervalStart.size());
    const int pieces = std::min(threads, intervals / kMinIntervalsPerPiece);
    if (qint64(width) * height < kPiecePixels || pieces < 2)
        return {};
    const int rowsPerInterval = layout->rowsPerInterval * int(eighths) / 8;
    QImage out = ImageBuffer::allocate(width, height);
    if (out.isNull())
        return {};
    std::vector<Piece> plan;
    plan.resize(size_t(pieces));
    for (int i = 0; i < pieces; ++i) {
        const int first = int(qint64(intervals) * i / pieces);
        const int end = int(qint64(intervals) * (i + 1) / pieces);
        Piece &piece = plan[size_t(i)];
        piece.firstInterval = std::max(0, first - 1);
        piece.endInterval = std::min(intervals, end + 1);
        piece.keepFrom = first * rowsPerInterval;
        piece.keepTo = std::min(height, end * rowsPerInterval);
    }
    std::atomic<bool> failed{false};
    platform::parallelRows(pieces, qint64(width) * height, [&](int first, int end) {
        std::vector<uchar> scratch;
        QByteArray header;
        for (int i = first; i < end && !failed; ++i) {
            const Piece &piece = plan[size_t(i)];
            header = pieceHeader(data, *layout, piece);
            if (!decodePiece(data, header, *layout, eighths, piece, &out, scratch))
                failed = true;
        }
    });
    if (failed)
        return {};
    ++g_piecewise;
    return out;
}

// Everything libjpeg may jump out of lives here; the picture belongs to the
// caller's frame so no C++ object is skipped by the jump.
Status decodeInto(const QByteArray &data, QImage *out, QString *message, QSize atLeast = QSize(),
                  QSize *headerOnly = nullptr, bool intoOut = false)
{
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(err.profile);
        *message = QString::fromLatin1(err.message);
        return Status::Damaged;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(data.constData()), static_cast<unsigned long>(data.size()));
    // A CMYK picture's profile says what colours its inks make.
    if (!headerOnly)
        jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xffff);
    jpeg_read_header(&cinfo, TRUE);
    if (headerOnly) {
        *headerOnly = QSize(int(cinfo.image_width), int(cinfo.image_height));
        jpeg_destroy_decompress(&cinfo);
        return Status::Ok;
    }
    if (const unsigned num = eighthsFor(int(cinfo.image_width), int(cinfo.image_height), atLeast); num < 8) {
        cinfo.scale_num = num;
        cinfo.scale_denom = 8;
    }
    // Four components are inks: decoded as they are, then turned into colours.
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    if (cmyk && cinfo.num_components != 4) {
        jpeg_destroy_decompress(&cinfo);
        *message = QStringLiteral("a CMYK picture without four components");
        return Status::Damaged;
    }
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
#else
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_ARGB;
#endif
    jpeg_start_decompress(&cinfo);
    if (!intoOut || out->size() != QSize(int(cinfo.output_width), int(cinfo.output_height)))
        *out = ImageBuffer::allocate(int(cinfo.output_width), int(cinfo.output_height));
    if (out->isNull()) {
        jpeg_destroy_decompress(&cinfo);
        *message = QStringLiteral("picture too large for memory");
        return Status::Damaged;
    }
    // libjpeg-turbo writes 0xFF alpha: opaque, so already premultiplied.
    uchar *bits = out->bits();
    const qsizetype bpl = out->bytesPerLine();
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height && !err.truncated) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(16, cinfo.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = bits + bpl * qsizetype(first + i);
        if (jpeg_read_scanlines(&cinfo, rows, count) == 0)
            break;
    }
    if (err.truncated || cinfo.output_scanline < cinfo.output_height) {
        jpeg_destroy_decompress(&cinfo);
        *message = QStringLiteral("the file ends early");
        return Status::Damaged;
    }
    // Adobe's marker says the inks are stored inverted (0 is full ink).
    const bool inverted = cinfo.saw_Adobe_marker;
    unsigned int profileLength = 0;
    if (cmyk && !jpeg_read_icc_profile(&cinfo, &err.profile, &profileLength))
        err.profile = nullptr;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    // No jump comes after this: C++ objects may live from here on.
    const QByteArray icc(reinterpret_cast<const char *>(err.profile), err.profile ? qsizetype(profileLength) : 0);
    std::free(err.profile);
    if (err.truncated) {
        *message = QStringLiteral("the file ends early");
        return Status::Damaged;
    }
    if (cmyk)
        CmykConversion::make(icc, 8, inverted)->convertInPlace(*out);
    return Status::Ok;
}

} // namespace

Result<QImage> JpegDecoder::decodeAtLeast(const QByteArray &data, const QSize &atLeast, Status *status)
{
    QImage image = decodeInPieces(data, atLeast);
    if (!image.isNull()) {
        if (status)
            *status = Status::Ok;
        return image;
    }
    QString message;
    const Status s = decodeInto(data, &image, &message, atLeast);
    if (status)
        *status = s;
    if (s != Status::Ok)
        return describedError(message);
    return image;
}

namespace {

// A picture with no restart markers to cut it at: one decoder goes down it
// a piece at a time, and starts again from the top for a piece above it.
class InOrderPieces
{
public:
    InOrderPieces(QByteArray data, std::vector<int> ends)
        : m_data(std::move(data))
        , m_ends(std::move(ends))
    {
    }
    ~InOrderPieces() { close(); }
    InOrderPieces(const InOrderPieces &) = delete;
    InOrderPieces &operator=(const InOrderPieces &) = delete;

    // Rows above piece `index` are passed over; its own go to `out`, or are
    // passed over too when it is null.
    bool decode(int index, QImage *out)
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        const int first = index > 0 ? m_ends[size_t(index) - 1] : 0;
        if (!open(first))
            return false;
        return readInto(first, m_ends[size_t(index)], out ? out->bits() : nullptr, out ? out->bytesPerLine() : 0, 0);
    }

    // Rows [first, end) into `bits`, row `first` there.
    bool decodeRows(int first, int end, uchar *bits, qsizetype bpl)
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (!open(first))
            return false;
        return readInto(first, end, bits, bpl, first);
    }

private:
    // A decoder at or above row `first`: from the top again when past it.
    bool open(int first)
    {
        if (m_open && int(m_cinfo.output_scanline) > first)
            close();
        if (!m_open) {
            m_err = ErrorManager();
            m_cinfo.err = jpeg_std_error(&m_err.pub);
            m_err.pub.error_exit = onError;
            m_err.pub.emit_message = onMessage;
            if (!start(&m_cinfo, &m_err, m_data, m_ends.back()))
                return false;
            m_open = true;
            m_scratch.resize(size_t(m_cinfo.output_width) * 4);
        }
        return true;
    }

    // Passes over the rows down to `first`, then rows [first, end) go to
    // `bits` (row `bitsRow` there), or are passed over too when it is null.
    bool readInto(int first, int end, uchar *bits, qsizetype bpl, int bitsRow)
    {
        const bool ok = readRows(&m_cinfo, &m_err, nullptr, 0, 0, first, m_scratch.data())
                        && readRows(&m_cinfo, &m_err, bits, bpl, bitsRow, end, m_scratch.data());
        if (!ok || int(m_cinfo.output_scanline) >= m_ends.back())
            m_open = false; // finished or destroyed by readRows
        return ok;
    }

    // Everything libjpeg may jump out of lives in these two.
    static bool start(jpeg_decompress_struct *cinfo, ErrorManager *err, const QByteArray &data, int height)
    {
        if (setjmp(err->jump)) {
            jpeg_destroy_decompress(cinfo);
            return false;
        }
        jpeg_create_decompress(cinfo);
        jpeg_mem_src(cinfo, reinterpret_cast<const unsigned char *>(data.constData()), static_cast<unsigned long>(data.size()));
        jpeg_read_header(cinfo, TRUE);
        if (cinfo->progressive_mode || cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK) {
            jpeg_destroy_decompress(cinfo);
            return false;
        }
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        cinfo->out_color_space = JCS_EXT_BGRA;
#else
        cinfo->out_color_space = JCS_EXT_ARGB;
#endif
        jpeg_start_decompress(cinfo);
        if (int(cinfo->output_height) != height) {
            jpeg_destroy_decompress(cinfo);
            return false;
        }
        return true;
    }

    // Rows up to `end` into `bits`, row `bitsRow` there (into `scratch`
    // when null); the decoder is destroyed when it is done or in trouble.
    static bool readRows(jpeg_decompress_struct *cinfo, ErrorManager *err, uchar *bits, qsizetype bpl, int bitsRow,
                         int end, uchar *scratch)
    {
        if (setjmp(err->jump)) {
            jpeg_destroy_decompress(cinfo);
            return false;
        }
        JSAMPROW rows[16];
        while (int(cinfo->output_scanline) < end && !err->truncated) {
            const int first = int(cinfo->output_scanline);
            const int count = std::min(16, end - first);
            for (int i = 0; i < count; ++i)
                rows[i] = bits ? bits + bpl * qsizetype(first + i - bitsRow) : scratch;
            if (jpeg_read_scanlines(cinfo, rows, JDIMENSION(count)) == 0)
                break;
        }
        if (err->truncated || int(cinfo->output_scanline) < end) {
            jpeg_destroy_decompress(cinfo);
            return false;
        }
        if (cinfo->output_scanline == cinfo->output_height) {
            jpeg_finish_decompress(cinfo);
            jpeg_destroy_decompress(cinfo);
        }
        return true;
    }

    void close()
    {
        if (m_open)
            jpeg_destroy_decompress(&m_cinfo);
        m_open = false;
    }

    std::mutex m_lock;
    const QByteArray m_data;
    const std::vector<int> m_ends;
    jpeg_decompress_struct m_cinfo{};
    ErrorManager m_err;
    bool m_open = false;
    std::vector<uchar> m_scratch;
};

// Whether the picture's frame is a baseline one (a progressive picture is
// only drawn once the decoder has read all of it) of one or three components.
bool isBaseline(const QByteArray &data)
{
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    qsizetype pos = 2;
    while (pos + 4 <= data.size() && p[pos] == 0xff) {
        const uchar marker = p[pos + 1];
        if (marker == 0xff) {
            ++pos;
            continue;
        }
        // Four components (CMYK, YCCK) need the whole decode's conversion.
        if (marker == 0xc0 || marker == 0xc1)
            return pos + 10 <= data.size() && (p[pos + 9] == 1 || p[pos + 9] == 3);
        if ((marker >= 0xc2 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc) || marker == 0xda)
            return false;
        pos += 2 + ((qsizetype(p[pos + 2]) << 8) | p[pos + 3]);
    }
    return false;
}

// No restart markers: pieces in order, for a baseline picture large enough to gain.
std::shared_ptr<PhotoRows> decodeInOrderAsDrawn(const QByteArray &data, int pieceRows)
{
    QImage unused;
    QString message;
    QSize size;
    // A file cut short (no end marker near its end) is found damaged at once by the whole decode.
    if (!isBaseline(data) || data.lastIndexOf("\xff\xd9") < data.size() - 4096 || decodeInto(data, &unused, &message, QSize(), &size) != Status::Ok
        || qint64(size.width()) * size.height() < kPiecePixels * 4 || size.height() < 2 * pieceRows)
        return nullptr;
    std::vector<int> starts;
    std::vector<int> ends;
    for (int y = 0; y < size.height(); y += pieceRows) {
        starts.push_back(y);
        ends.push_back(std::min(size.height(), y + pieceRows));
    }
    auto pieces = std::make_shared<InOrderPieces>(data, std::move(ends));
    auto decodePieceAt = [pieces](int index, QImage *out) { return pieces->decode(index, out); };
    // Decoded on the drawing thread anyway: rows can go straight where they are drawn.
    PhotoRows::DecodeRows decodeRows;
    if (rowsRunSerially())
        decodeRows = [pieces](int first, int end, uchar *bits, qsizetype bpl) {
            return pieces->decodeRows(first, end, bits, bpl);
        };
    auto decodeWhole = [data](QImage *out) {
        QString why;
        const uchar *into = out->constBits();
        return decodeInto(data, out, &why, QSize(), nullptr, true) == Status::Ok && out->constBits() == into;
    };
    return PhotoRows::make(size, std::move(starts), decodePieceAt, decodeWhole, true, decodeRows);
}

} // namespace

std::shared_ptr<PhotoRows> JpegDecoder::decodeAsDrawn(const QByteArray &data)
{
    // Pieces of about this many rows: each decodes an interval more at either end.
    constexpr int kPieceRows = 256;
    // Pieces in order cost nothing at their edges: short ones hold fewer
    // rows past the band.
    constexpr int kInOrderRows = 64;
    if (!canDecode(data))
        return nullptr;
    std::optional<ScanLayout> found = scanLayout(data);
    if (!found)
        return decodeInOrderAsDrawn(data, rowsRunSerially() ? kInOrderRows : kPieceRows);
    // Rows decoded on this thread alone: one decoder going down the picture
    // decodes no interval twice.
    if (rowsRunSerially()) {
        if (std::shared_ptr<PhotoRows> rows = decodeInOrderAsDrawn(data, kInOrderRows))
            return rows;
    }
    if (qint64(found->width) * found->height < kPiecePixels * 4)
        return nullptr;
    auto layout = std::make_shared<const ScanLayout>(std::move(*found));
    const int intervals = int(layout->intervalStart.size());
    const int perPiece = std::max(kMinIntervalsPerPiece, (kPieceRows + layout->rowsPerInterval - 1) / layout->rowsPerInterval);
    const int pieces = (intervals + perPiece - 1) / perPiece;
    if (pieces < 2)
        return nullptr;
    std::vector<int> starts;
    for (int i = 0; i < pieces; ++i)
        starts.push_back(i * perPiece * layout->rowsPerInterval);
    const QSize size(layout->width, layout->height);
    auto decodePieceAt = [data, layout, perPiece, intervals](int index, QImage *out) {
        const int first = index * perPiece;
        const int end = std::min(intervals, first + perPiece);
        Piece piece;
        piece.firstInterval = std::max(0, first - 1);
        piece.endInterval = std::min(intervals, end + 1);
        piece.keepFrom = first * layout->rowsPerInterval;
        piece.keepTo = std::min(layout->height, end * layout->rowsPerInterval);
        std::vector<uchar> scratch;
        return decodePiece(data, pieceHeader(data, *layout, piece), *layout, 8, piece, out, scratch);
    };
    auto decodeWhole = [data](QImage *out) {
        QString message;
        const uchar *into = out->constBits();
        return decodeInto(data, out, &message, QSize(), nullptr, true) == Status::Ok && out->constBits() == into;
    };
    std::shared_ptr<PhotoRows> rows = PhotoRows::make(size, std::move(starts), decodePieceAt, decodeWhole);
    if (rows)
        ++g_piecewise;
    return rows;
}

int JpegDecoder::piecewiseDecodes()
{
    return g_piecewise.load();
}

QSize JpegDecoder::decodedSize(const QSize &stored, const QSize &atLeast)
{
    if (!stored.isValid())
        return stored;
    const unsigned eighths = eighthsFor(stored.width(), stored.height(), atLeast);
    return QSize(int((qint64(stored.width()) * eighths + 7) / 8), int((qint64(stored.height()) * eighths + 7) / 8));
}

QSize JpegDecoder::storedSize(const QByteArray &data)
{
    if (!canDecode(data))
        return {};
    QImage unused;
    QString message;
    QSize size;
    if (decodeInto(data, &unused, &message, QSize(), &size) != Status::Ok)
        return {};
    return size;
}

Result<QImage> JpegDecoder::decode(const QByteArray &data, Status *status)
{
    QImage image = decodeInPieces(data, QSize());
    if (!image.isNull()) {
        if (status)
            *status = Status::Ok;
        return image;
    }
    QString message;
    const Status s = decodeInto(data, &image, &message);
    if (status)
        *status = s;
    if (s != Status::Ok)
        return describedError(message);
    return image;
}

} // namespace platform
