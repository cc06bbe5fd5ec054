#include "platform/imaging/PhotoRows.h"

#include "platform/ThreadPools.h"
#include "platform/imaging/ImageBuffer.h"
#include "platform/imaging/ParallelRows.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>

#include <sys/mman.h>

namespace platform {

namespace {

constexpr size_t kBlock = ImageBuffer::kPageBlock;
// Rows kept above where the last band's rows ended: the next band reaches
// back a little (its padding, a shadow's blur around the picture). Once a
// band has shown how far, that and a few rows more.
constexpr int kKeptAbove = 256;
constexpr int kKeptMore = 16;
// Decoded ahead of the rows asked for, at least.
constexpr int kMinAhead = 256;
// Rows written where they are drawn and kept for the next band, until a
// band has shown how far the next one reaches back; then that and a couple
// more (each is copied twice, and bands of one design reach back alike).
constexpr int kFirstKept = 64;
constexpr int kKeptStraightMore = 2;

struct Registered {
    const uchar *base;
    size_t bytes;
    std::weak_ptr<PhotoRows> rows;
};

struct Registry {
    std::mutex lock;
    std::vector<Registered> rows;
};

// Outlives every picture, even one let go at exit.
Registry &registry()
{
    static Registry *r = new Registry;
    return *r;
}

std::atomic<int> g_registered{0};

} // namespace

struct PhotoRows::Private {
    enum class State { Empty, Queued, Done, Failed };

    uchar *base = nullptr;
    size_t mapped = 0;
    qsizetype bpl = 0;
    std::vector<int> starts; // one more than pieces: the height last
    DecodePiece decodePiece;
    DecodeAll decodeAll;
    DecodeRows decodeRows;
    // The last rows writeRows made, [tailFirst, tailEnd): the next band
    // begins a few rows above where this one ended.
    std::vector<uchar> tail;
    int tailFirst = 0;
    int tailEnd = 0;
    // Rows above this were decoded straight, not into the picture. Rows
    // asked for again up there would make the decoder start again from the
    // top every band: the picture is then decoded into its own rows only.
    int straightEnd = 0;
    bool straight = false;

    mutable std::mutex lock;
    std::condition_variable changed;
    std::mutex wholeLock; // one whole decode at a time
    std::vector<State> state;
    std::vector<std::shared_ptr<PoolJob>> jobs;
    bool whole = false;
    bool failed = false;
    // In order: the next piece to decode, the last one wanted, and whether a
    // loop (the pool's job or a waiting thread) is decoding.
    bool inOrder = false;
    int next = 0;
    int goal = -1;
    bool running = false;
    std::shared_ptr<PoolJob> runner;
    int bandFirst = INT_MAX;
    int bandEnd = 0;
    int lastBandEnd = -1; // of the band before, when it asked for rows
    int reachedBack = -1; // the most a band asked for above the end of the one before
    int droppedAbove = -1; // rows above it given back once the picture was drawn in this band
    bool keepUntilBandEnds = false;
    bool decodingWhole = false;
    // Blocks of the address space that may hold pages: written to, or
    // given pages another picture's rows were decoded into.
    std::vector<char> used;

    int pieces() const { return int(starts.size()) - 1; }
    int pieceOf(int row) const { return int(std::upper_bound(starts.begin(), starts.end(), row) - starts.begin()) - 1; }
    QImage view(QSize size) const
    {
        return QImage(base, size.width(), size.height(), bpl, QImage::Format_ARGB32_Premultiplied);
    }

    // Before rows [first, end) are decoded, with the lock held: blocks not
    // in use get the pages of blocks given back (by this picture or an
    // earlier one), else fresh ones. Whatever such pages held outside these
    // rows reads as zero again, as rows not made do, so no reader ever sees
    // another picture's rows. No piece being decoded writes into a block not
    // in use: it would have taken the block first.
    void makeWritable(int first, int end, bool recycle = true)
    {
        const size_t from = size_t(first) * size_t(bpl);
        const size_t to = size_t(end) * size_t(bpl);
        for (size_t b = from / kBlock; b * kBlock < to; ++b) {
            if (used[b])
                continue;
            used[b] = 1;
            uchar *block = base + b * kBlock;
            if (!recycle || !ImageBuffer::takePages(block))
                continue;
            if (from > b * kBlock)
                std::memset(block, 0, from - b * kBlock);
            if (to < (b + 1) * kBlock)
                std::memset(base + to, 0, (b + 1) * kBlock - to);
        }
    }

    // Blocks [0, end) given back, kept for the rows decoded next.
    void giveBack(size_t end)
    {
        for (size_t b = 0; b < end; ++b) {
            if (!used[b])
                continue;
            used[b] = 0;
            if (!ImageBuffer::keepPages(base + b * kBlock))
                madvise(base + b * kBlock, kBlock, MADV_DONTNEED);
        }
    }
};

PhotoRows::PhotoRows(std::unique_ptr<Private> p, QSize size)
    : d(std::move(p))
    , m_size(size)
{
}

std::shared_ptr<PhotoRows> PhotoRows::make(QSize size, std::vector<int> pieceStarts, DecodePiece decodePiece,
                                           DecodeAll decodeAll, bool inOrder, DecodeRows decodeRows)
{
    if (size.isEmpty() || pieceStarts.empty() || pieceStarts.front() != 0 || !decodePiece || !decodeAll)
        return nullptr;
    const qsizetype bpl = qsizetype(size.width()) * 4;
    if (bpl > INT_MAX)
        return nullptr;
    auto p = std::make_unique<Private>();
    p->bpl = bpl;
    p->mapped = (size_t(bpl) * size_t(size.height()) + kBlock - 1) / kBlock * kBlock;
    // Address space only: a page holds memory once a row on it is decoded.
    // Aligned to the blocks, whose pages then move whole.
    void *memory =
        mmap(nullptr, p->mapped + kBlock, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED)
        return nullptr;
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t aligned = (at + kBlock - 1) & ~std::uintptr_t(kBlock - 1);
    if (aligned > at)
        munmap(memory, aligned - at);
    if (aligned - at < kBlock)
        munmap(reinterpret_cast<void *>(aligned + p->mapped), kBlock - (aligned - at));
    p->base = reinterpret_cast<uchar *>(aligned);
    p->used.assign(p->mapped / kBlock, 0);
#ifdef MADV_HUGEPAGE
    if (!rowsRunSerially())
        madvise(p->base, p->mapped, MADV_HUGEPAGE);
#endif
    p->starts = std::move(pieceStarts);
    p->starts.push_back(size.height());
    p->state.assign(size_t(p->pieces()), Private::State::Empty);
    p->jobs.resize(size_t(p->pieces()));
    p->decodePiece = std::move(decodePiece);
    p->decodeAll = std::move(decodeAll);
    p->inOrder = inOrder;
    if (inOrder)
        p->decodeRows = std::move(decodeRows);
    p->straight = bool(p->decodeRows);
    std::shared_ptr<PhotoRows> rows(new PhotoRows(std::move(p), size));
    {
        const std::lock_guard<std::mutex> guard(registry().lock);
        registry().rows.push_back({rows->d->base, rows->d->mapped, rows});
        ++g_registered;
    }
    return rows;
}

PhotoRows::~PhotoRows()
{
    for (const std::shared_ptr<PoolJob> &job : d->jobs) {
        if (job && !job->cancelIfNotStarted())
            job->wait();
    }
    if (d->runner && !d->runner->cancelIfNotStarted())
        d->runner->wait();
    {
        const std::lock_guard<std::mutex> guard(registry().lock);
        std::vector<Registered> &all = registry().rows;
        all.erase(std::remove_if(all.begin(), all.end(), [this](const Registered &r) { return r.base == d->base; }),
                  all.end());
        --g_registered;
    }
    // A batch decodes its next photo into these pages.
    d->giveBack(d->used.size());
    munmap(d->base, d->mapped);
}

QImage PhotoRows::picture()
{
    auto *keep = new std::shared_ptr<PhotoRows>(shared_from_this());
    return QImage(
        d->base, m_size.width(), m_size.height(), d->bpl, QImage::Format_ARGB32_Premultiplied,
        [](void *info) { delete static_cast<std::shared_ptr<PhotoRows> *>(info); }, keep);
}

bool PhotoRows::decodePiece(int i, bool held)
{
    if (!held) {
        const std::lock_guard<std::mutex> guard(d->lock);
        d->makeWritable(d->starts[size_t(i)], d->starts[size_t(i) + 1]);
    }
    QImage view = d->view(m_size);
    const bool ok = d->decodePiece(i, held ? nullptr : &view);
    if (!ok && !held) {
        // Pages taken from another picture may show through what it left.
        const size_t from = size_t(d->starts[size_t(i)]) * size_t(d->bpl);
        std::memset(d->base + from, 0, size_t(d->starts[size_t(i) + 1]) * size_t(d->bpl) - from);
    }
    return ok;
}

void PhotoRows::ahead(int first, int end)
{
    first = std::max(0, first);
    end = std::min(m_size.height(), end);
    if (first >= end || rowsRunSerially())
        return;
    const std::lock_guard<std::mutex> guard(d->lock);
    if (d->whole || d->failed)
        return;
    if (d->inOrder) {
        d->goal = std::max(d->goal, d->pieceOf(end - 1));
        for (int i = d->next; i <= d->goal; ++i) {
            if (d->state[size_t(i)] == Private::State::Empty)
                d->state[size_t(i)] = Private::State::Queued;
        }
        if (!d->running && d->next <= d->goal) {
            d->running = true;
            d->runner = std::make_shared<PoolJob>(Pool::Parallel, [this] { runInOrder(-1); });
        }
        return;
    }
    for (int i = d->pieceOf(first), last = d->pieceOf(end - 1); i <= last; ++i) {
        if (d->state[size_t(i)] != Private::State::Empty)
            continue;
        d->state[size_t(i)] = Private::State::Queued;
        d->jobs[size_t(i)] = std::make_shared<PoolJob>(Pool::Parallel, [this, i] {
            const bool ok = decodePiece(i, false);
            {
                const std::lock_guard<std::mutex> done(d->lock);
                d->state[size_t(i)] = ok ? Private::State::Done : Private::State::Failed;
            }
            d->changed.notify_all();
        });
    }
}

void PhotoRows::runInOrder(int upTo)
{
    for (;;) {
        int i = 0;
        bool held = false;
        {
            const std::lock_guard<std::mutex> guard(d->lock);
            const int last = upTo >= 0 ? std::min(upTo, d->goal) : d->goal;
            if (d->next > last || d->whole || d->failed) {
                d->running = false;
                break;
            }
            i = d->next;
            held = d->state[size_t(i)] == Private::State::Done;
            if (!held)
                d->state[size_t(i)] = Private::State::Queued;
        }
        // Rows still held are passed over, not written again under a reader.
        const bool ok = decodePiece(i, held);
        {
            const std::lock_guard<std::mutex> guard(d->lock);
            d->state[size_t(i)] = ok ? Private::State::Done : Private::State::Failed;
            // Unless asked meanwhile to go back up for a piece dropped.
            if (d->next == i)
                d->next = i + 1;
            if (!ok)
                d->running = false;
        }
        d->changed.notify_all();
        if (!ok)
            break;
    }
    d->changed.notify_all();
}

bool PhotoRows::decodeWhole()
{
    // A piece the decoder would not take alone: the whole picture in one
    // pass, which tells a damaged file from one it only warns about.
    const std::lock_guard<std::mutex> one(d->wholeLock);
    std::vector<std::shared_ptr<PoolJob>> jobs;
    std::shared_ptr<PoolJob> runner;
    {
        const std::lock_guard<std::mutex> guard(d->lock);
        if (d->whole || d->failed)
            return !d->failed;
        d->goal = -1; // a loop in order stops after its piece
        jobs = d->jobs;
        runner = d->runner;
    }
    for (const std::shared_ptr<PoolJob> &job : jobs) {
        if (job && !job->cancelIfNotStarted())
            job->wait();
    }
    if (runner && runner->cancelIfNotStarted()) {
        // Taken back before it began: the loop it was to run is nobody's.
        const std::lock_guard<std::mutex> guard(d->lock);
        if (d->runner == runner) {
            d->runner = nullptr;
            d->running = false;
        }
    } else if (runner) {
        runner->wait();
    }
    {
        // A loop in order on another waiting thread ends with its piece.
        std::unique_lock<std::mutex> guard(d->lock);
        d->changed.wait(guard, [&] { return !d->running; });
    }
    {
        // Fresh pages only: a decode that fails part way leaves zeros.
        const std::lock_guard<std::mutex> guard(d->lock);
        d->makeWritable(0, m_size.height(), false);
        d->decodingWhole = true;
    }
    QImage view = d->view(m_size);
    const bool ok = d->decodeAll(&view);
    {
        const std::lock_guard<std::mutex> guard(d->lock);
        d->whole = ok;
        d->failed = !ok;
        d->decodingWhole = false;
    }
    d->changed.notify_all();
    return ok;
}

bool PhotoRows::needInOrder(int p0, int p1)
{
    {
        std::lock_guard<std::mutex> guard(d->lock);
        // Asked again for a piece dropped above the decoder: from there again.
        for (int i = p0; i <= p1; ++i) {
            if (i < d->next && d->state[size_t(i)] != Private::State::Done) {
                d->next = i;
                break;
            }
        }
        d->goal = std::max(d->goal, p1);
    }
    ahead(d->starts[size_t(p0)], d->starts[size_t(p1) + 1]);
    for (;;) {
        bool decodeHere = false;
        {
            std::unique_lock<std::mutex> guard(d->lock);
            const auto ready = [&] {
                if (d->whole || d->failed)
                    return true;
                for (int i = p0; i <= p1; ++i) {
                    if (d->state[size_t(i)] != Private::State::Done && d->state[size_t(i)] != Private::State::Failed)
                        return false;
                }
                return true;
            };
            if (ready())
                break;
            if (!d->running) {
                // Rows run serially, or the pool's job ended: this thread decodes.
                d->running = true;
                decodeHere = true;
            }
            const std::shared_ptr<PoolJob> runner = d->runner;
            if (!decodeHere && runner) {
                // A job not begun is taken back: this thread goes on in its place.
                guard.unlock();
                if (runner->cancelIfNotStarted())
                    decodeHere = true;
                guard.lock();
                if (decodeHere && d->runner == runner)
                    d->runner = nullptr;
            }
            if (!decodeHere)
                d->changed.wait(guard, [&] { return ready() || !d->running; });
        }
        if (decodeHere) {
            runInOrder(p1);
            ahead(d->starts[size_t(p1) + 1], d->starts[size_t(p1) + 1] + 1);
        }
    }
    const std::lock_guard<std::mutex> guard(d->lock);
    if (d->whole || d->failed)
        return !d->failed;
    for (int i = p0; i <= p1; ++i) {
        if (d->state[size_t(i)] != Private::State::Done)
            return false;
    }
    return true;
}

bool PhotoRows::need(int first, int end)
{
    first = std::max(0, first);
    end = std::min(m_size.height(), end);
    if (first >= end)
        return true;
    {
        const std::lock_guard<std::mutex> guard(d->lock);
        d->bandFirst = std::min(d->bandFirst, first);
        d->bandEnd = std::max(d->bandEnd, end);
        // Drawn again in the same band: its rows stay until the band ends.
        if (first < d->droppedAbove)
            d->keepUntilBandEnds = true;
        if (first < d->straightEnd)
            d->straight = false;
        if (d->whole || d->failed)
            return !d->failed;
    }
    const int p0 = d->pieceOf(first);
    const int p1 = d->pieceOf(end - 1);
    if (d->inOrder ? !needInOrder(p0, p1) : !needEach(p0, p1))
        return decodeWhole();
    ahead(end, end + std::max(kMinAhead, end - first));
    return true;
}

bool PhotoRows::needEach(int p0, int p1)
{
    // The pieces wanted now go to the pool together; waiting for one not
    // begun decodes it here.
    ahead(d->starts[size_t(p0)], d->starts[size_t(p1) + 1]);
    bool missing = false;
    for (int i = p0; i <= p1; ++i) {
        std::shared_ptr<PoolJob> job;
        bool decodeHere = false;
        {
            const std::lock_guard<std::mutex> guard(d->lock);
            if (d->state[size_t(i)] == Private::State::Empty) {
                d->state[size_t(i)] = Private::State::Queued; // rows run serially: nothing went ahead
                decodeHere = true;
            } else {
                job = d->jobs[size_t(i)];
            }
        }
        if (decodeHere) {
            const bool ok = decodePiece(i, false);
            {
                const std::lock_guard<std::mutex> guard(d->lock);
                d->state[size_t(i)] = ok ? Private::State::Done : Private::State::Failed;
            }
            d->changed.notify_all();
        } else if (job) {
            job->wait();
        }
        // Another thread may be decoding it, or the whole picture.
        std::unique_lock<std::mutex> guard(d->lock);
        d->changed.wait(guard, [&] { return d->state[size_t(i)] != Private::State::Queued || d->whole || d->failed; });
        if (d->whole || d->failed)
            return !d->failed;
        missing = missing || d->state[size_t(i)] != Private::State::Done;
    }
    return !missing;
}

void PhotoRows::drawnInBand()
{
    const std::lock_guard<std::mutex> guard(d->lock);
    if (d->keepUntilBandEnds || d->bandEnd <= 0 || d->lastBandEnd < 0)
        return;
    const int reached = std::max({d->reachedBack, 0, d->lastBandEnd - d->bandFirst});
    d->droppedAbove = d->bandEnd - reached - kKeptMore;
    dropAbove(d->droppedAbove);
}

void PhotoRows::beginBand()
{
    const std::lock_guard<std::mutex> guard(d->lock);
    // Bands draw the same design: each reaches back as far as the last.
    if (d->bandEnd > 0 && d->lastBandEnd >= 0)
        d->reachedBack = std::max({d->reachedBack, 0, d->lastBandEnd - d->bandFirst});
    const int below = d->bandEnd - (d->reachedBack >= 0 ? d->reachedBack + kKeptMore : kKeptAbove);
    d->lastBandEnd = d->bandEnd > 0 ? d->bandEnd : -1;
    d->bandFirst = INT_MAX;
    d->bandEnd = 0;
    d->droppedAbove = -1;
    dropAbove(below);
}

void PhotoRows::dropAbove(int below)
{
    if (d->whole || d->failed || d->decodingWhole || below <= 0)
        return;
    // Only a run of pieces from the top, none of them being decoded.
    int kept = 0;
    while (kept < d->pieces() && d->starts[size_t(kept) + 1] <= below
           && d->state[size_t(kept)] != Private::State::Queued)
        ++kept;
    if (kept == 0)
        return;
    for (int i = 0; i < kept; ++i) {
        d->state[size_t(i)] = Private::State::Empty;
        d->jobs[size_t(i)].reset();
    }
    // Whole blocks only: one shared with a piece kept stays.
    d->giveBack(size_t(d->starts[size_t(kept)]) * size_t(d->bpl) / kBlock);
}

bool PhotoRows::failed() const
{
    const std::lock_guard<std::mutex> guard(d->lock);
    return d->failed;
}

int PhotoRows::rowsHeld() const
{
    const std::lock_guard<std::mutex> guard(d->lock);
    if (d->whole)
        return m_size.height();
    int rows = 0;
    for (int i = 0; i < d->pieces(); ++i) {
        if (d->state[size_t(i)] == Private::State::Done)
            rows += d->starts[size_t(i) + 1] - d->starts[size_t(i)];
    }
    return rows;
}

std::shared_ptr<PhotoRows> PhotoRows::of(const QImage &image)
{
    if (g_registered.load() == 0 || image.isNull())
        return nullptr;
    const uchar *bits = image.constBits();
    const std::lock_guard<std::mutex> guard(registry().lock);
    for (const Registered &r : registry().rows) {
        if (bits >= r.base && bits < r.base + r.bytes)
            return r.rows.lock();
    }
    return nullptr;
}

bool PhotoRows::writeRows(int first, int end, uchar *bits, qsizetype bytesPerLine)
{
    if (first < 0 || end > m_size.height() || first >= end)
        return false;
    {
        const std::lock_guard<std::mutex> guard(d->lock);
        // Pieces being decoded, or the picture decoded whole: as asked for.
        if (!d->straight || d->whole || d->failed || d->running || d->decodingWhole)
            return false;
        d->bandFirst = std::min(d->bandFirst, first);
        d->bandEnd = std::max(d->bandEnd, end);
        if (first < d->droppedAbove)
            d->keepUntilBandEnds = true;
        // No loop in order starts meanwhile; nothing else writes the rows held.
        d->running = true;
    }
    const size_t rowBytes = size_t(m_size.width()) * 4;
    const auto held = [this](int y) -> const uchar * {
        if (y >= d->tailFirst && y < d->tailEnd)
            return d->tail.data() + size_t(y - d->tailFirst) * size_t(d->bpl);
        if (d->state[size_t(d->pieceOf(y))] == Private::State::Done)
            return d->base + qsizetype(y) * d->bpl;
        return nullptr;
    };
    bool ok = true;
    int decodedTo = -1;
    for (int y = first; ok && y < end;) {
        if (const uchar *row = held(y)) {
            std::memcpy(bits + qsizetype(y - first) * bytesPerLine, row, rowBytes);
            ++y;
            continue;
        }
        int stop = y + 1;
        while (stop < end && !held(stop))
            ++stop;
        if (y < d->straightEnd) {
            const std::lock_guard<std::mutex> guard(d->lock);
            d->straight = false;
            ok = false;
            break;
        }
        ok = d->decodeRows(y, stop, bits + qsizetype(y - first) * bytesPerLine, bytesPerLine);
        if (ok)
            decodedTo = stop;
        y = stop;
    }
    const std::lock_guard<std::mutex> guard(d->lock);
    if (ok) {
        // As far back as the next band will reach, with a few rows to spare.
        const int reach = std::max(d->reachedBack, d->lastBandEnd >= 0 ? d->lastBandEnd - d->bandFirst : -1);
        const int kept = std::min(end - first, reach >= 0 ? reach + kKeptStraightMore : kFirstKept);
        if (d->tail.size() < size_t(kept) * size_t(d->bpl))
            d->tail.resize(size_t(kept) * size_t(d->bpl));
        // Rows kept already may be the ones kept again.
        if (end > d->tailEnd || end - kept < d->tailFirst) {
            for (int y = end - kept; y < end; ++y)
                std::memcpy(d->tail.data() + size_t(y - (end - kept)) * size_t(d->bpl),
                            bits + qsizetype(y - first) * bytesPerLine, rowBytes);
            d->tailFirst = end - kept;
            d->tailEnd = end;
        }
    }
    // The decoder went past the pieces above where it stopped.
    if (decodedTo > 0) {
        d->next = std::max(d->next, d->pieceOf(decodedTo - 1) + 1);
        d->straightEnd = std::max(d->straightEnd, decodedTo);
    }
    d->running = false;
    d->changed.notify_all();
    return ok;
}

bool PhotoRows::writeRowsOf(const QImage &image, int first, int end, uchar *bits, qsizetype bytesPerLine)
{
    const std::shared_ptr<PhotoRows> rows = of(image);
    if (!rows || image.width() != rows->m_size.width())
        return false;
    const qsizetype offset = image.constBits() - rows->d->base;
    if (offset % rows->d->bpl != 0)
        return false;
    const int top = int(offset / rows->d->bpl);
    return rows->writeRows(top + first, top + end, bits, bytesPerLine);
}

bool PhotoRows::needRowsOf(const QImage &image, int first, int end)
{
    const std::shared_ptr<PhotoRows> rows = of(image);
    if (!rows)
        return true;
    const int top = int((image.constBits() - rows->d->base) / rows->d->bpl);
    return rows->need(top + first, top + end);
}

} // namespace platform
