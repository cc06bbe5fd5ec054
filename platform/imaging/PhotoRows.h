#pragma once

#include <QImage>
#include <QSize>

#include <functional>
#include <memory>
#include <vector>

namespace platform {

// A large picture decoded a piece of rows at a time as drawing asks for
// them, so that a picture drawn a band of rows at a time is never held
// whole. The picture is one block of address space; rows not made yet, or
// dropped, read as zero (never as another picture's rows), so whatever reads
// its pixels asks for them first (needRowsOf / needAllOf). Pieces just below
// the rows asked for are decoded ahead on the pool's threads. In a batch,
// the pages of rows dropped are moved to the rows decoded next, and kept for
// the next picture (ImageBuffer::takePages), so its pictures go down through
// a window of the same pages.
class PhotoRows : public std::enable_shared_from_this<PhotoRows>
{
public:
    // Decodes piece `index` into `picture` (its rows only); false when the
    // data is not as expected. Called from several threads at once, or, for
    // pieces in order, one piece after another, `picture` null for one whose
    // rows are held already (the decoder only goes past it).
    using DecodePiece = std::function<bool(int index, QImage *picture)>;
    // Decodes the whole picture into `picture`, when a piece could not be.
    using DecodeAll = std::function<bool(QImage *picture)>;
    // Decodes rows [first, end) into `bits` (row `first` there, the next
    // ones `bytesPerLine` apart), going on down from where the decoder in
    // order is, or from the top when it is past them.
    using DecodeRows = std::function<bool(int first, int end, uchar *bits, qsizetype bytesPerLine)>;

    // Piece i covers rows [pieceStarts[i], pieceStarts[i + 1]), the last one
    // to the bottom; null when memory is short. Pieces `inOrder` are decoded
    // one after another by one decoder (asked for a piece above the one it
    // is at, it starts again from the top); others each on their own.
    // `decodeRows`, for pieces in order, lets writeRows decode rows where
    // they are drawn.
    static std::shared_ptr<PhotoRows> make(QSize size, std::vector<int> pieceStarts, DecodePiece decodePiece,
                                           DecodeAll decodeAll, bool inOrder = false, DecodeRows decodeRows = {});
    ~PhotoRows();
    PhotoRows(const PhotoRows &) = delete;
    PhotoRows &operator=(const PhotoRows &) = delete;

    // The picture (premultiplied 32-bit); it keeps these rows alive.
    QImage picture();
    QSize size() const { return m_size; }

    // Rows [first, end) made before it returns; false when they could not be.
    bool need(int first, int end);
    bool needAll() { return need(0, m_size.height()); }
    // Starts decoding rows [first, end) on the pool, unless rows run serially.
    void ahead(int first, int end);
    // A new band of rows begins: rows well above those the last band asked
    // for are dropped (asked for again, they are decoded again).
    void beginBand();
    // The picture is drawn in this band: rows above those the next band
    // reaches back to are dropped now, not held while the rest of the band
    // is drawn. Once a band asks for such rows again, not any more.
    void drawnInBand();
    bool failed() const;
    // Rows resident now (for tests).
    int rowsHeld() const;

    // The rows of `image` (a picture of these rows or a view into one) that
    // something is about to read; false when they could not be made. True
    // at once for any other picture.
    static bool needRowsOf(const QImage &image, int first, int end);
    static bool needAllOf(const QImage &image) { return needRowsOf(image, 0, image.height()); }
    // Rows [first, end) of `image` (a picture of these rows or a view into
    // whole rows of one) written to `bits`, `bytesPerLine` apart, for a
    // picture given `decodeRows` and no loop decoding it: the rows held are copied, the
    // others decoded straight there, not into the picture, and the last few
    // kept for the next band, which begins a few rows above. Once rows it
    // went past are asked for again, the picture's own rows are used from
    // then on. False where this does not apply or the rows could not be made
    // (what was written then is not to be relied on): the caller asks for
    // the rows instead.
    static bool writeRowsOf(const QImage &image, int first, int end, uchar *bits, qsizetype bytesPerLine);
    // The rows `image` is a picture of or a view into; null for any other.
    static std::shared_ptr<PhotoRows> of(const QImage &image);

private:
    struct Private;
    // Decodes pieces in order, up to `upTo` (or the goal, for the pool's job).
    void runInOrder(int upTo);
    bool needInOrder(int firstPiece, int lastPiece);
    bool needEach(int firstPiece, int lastPiece);
    bool decodeWhole();
    void dropAbove(int below);
    // Piece `i` decoded into its rows (passed over when `held`).
    bool decodePiece(int i, bool held);
    bool writeRows(int first, int end, uchar *bits, qsizetype bytesPerLine);
    explicit PhotoRows(std::unique_ptr<Private> d, QSize size);
    std::unique_ptr<Private> d;
    QSize m_size;
};

} // namespace platform
