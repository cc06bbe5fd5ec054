#include "platform/imaging/ImageBuffer.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <sys/mman.h>

namespace platform {

namespace {
constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kLargeBuffer = std::size_t(16) << 20;
// In a batch, smaller ones too: a worker's band buffers (a few hundred rows
// of a framed photo) would otherwise be faulted in again for every file.
constexpr std::size_t kLargeBufferInBatch = std::size_t(8) << 20;
// What a batch keeps at most: a photo's worth per core and then some.
constexpr std::size_t kMaxRecycled = std::size_t(768) << 20;

struct Block {
    void *memory;
    std::size_t bytes;
};

struct Recycler {
    std::mutex mutex;
    std::atomic<int> scopes{0};
    std::size_t held = 0;
    std::vector<Block> blocks;

    // A kept block of at least `bytes` and not much more; null when none.
    void *take(std::size_t bytes, std::size_t *actual)
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::size_t best = blocks.size();
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            if (blocks[i].bytes >= bytes && blocks[i].bytes <= bytes + bytes / 2
                && (best == blocks.size() || blocks[i].bytes < blocks[best].bytes))
                best = i;
        }
        if (best == blocks.size())
            return nullptr;
        void *memory = blocks[best].memory;
        *actual = blocks[best].bytes;
        held -= blocks[best].bytes;
        blocks.erase(blocks.begin() + std::ptrdiff_t(best));
        return memory;
    }

    void give(void *memory, std::size_t bytes)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (scopes > 0 && held + bytes <= kMaxRecycled) {
                blocks.push_back({memory, bytes});
                held += bytes;
                return;
            }
        }
        std::free(memory);
    }

    void freeAll()
    {
        std::vector<Block> gone;
        {
            std::lock_guard<std::mutex> lock(mutex);
            gone.swap(blocks);
            held = 0;
        }
        for (const Block &b : gone)
            std::free(b.memory);
    }
};

Recycler &recycler()
{
    static Recycler *r = new Recycler; // outlives every picture, even at exit
    return *r;
}

// Parked blocks of pages: slots in one reservation of address space that
// holds no memory until a block is moved into a slot. A block kept waits
// for the next band while the rest of this one is drawn, so every block
// more kept adds to a batch's peak memory (bench/batch: 8 MB kept spared it
// half its page faults, 32 MB two thirds for some 30 MB more at its peak).
constexpr std::size_t kMaxKeptBlocks = 4;

struct PageKeep {
    std::mutex mutex;
    uchar *park = nullptr;
    bool reserved = false;
    std::vector<std::size_t> holding; // slots with pages in them
    std::vector<std::size_t> free;

    // Called with the mutex held.
    bool reserve()
    {
        if (reserved)
            return park != nullptr;
        reserved = true;
        const std::size_t bytes = (kMaxKeptBlocks + 1) * ImageBuffer::kPageBlock;
        void *memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (memory == MAP_FAILED)
            return false;
        const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(memory);
        const std::uintptr_t aligned = (at + ImageBuffer::kPageBlock - 1) & ~(ImageBuffer::kPageBlock - 1);
        park = reinterpret_cast<uchar *>(aligned);
        for (std::size_t i = kMaxKeptBlocks; i-- > 0;)
            free.push_back(i);
        return true;
    }
    uchar *slot(std::size_t i) const { return park + i * ImageBuffer::kPageBlock; }
};

PageKeep &pageKeep()
{
    static PageKeep *k = new PageKeep; // outlives every picture, even at exit
    return *k;
}

// Moves the pages of a block from `from` to `to`, leaving `from` mapped and
// empty (it reads zero), so no other mapping can land in a hole there.
bool movePages(void *from, void *to)
{
#ifdef MREMAP_DONTUNMAP
    return mremap(from, ImageBuffer::kPageBlock, ImageBuffer::kPageBlock,
                  MREMAP_MAYMOVE | MREMAP_FIXED | MREMAP_DONTUNMAP, to)
           != MAP_FAILED;
#else
    (void)from;
    (void)to;
    return false;
#endif
}

struct Owned {
    void *memory;
    std::size_t bytes;
};

} // namespace

QImage ImageBuffer::allocate(int width, int height, QImage::Format format)
{
    if (width <= 0 || height <= 0)
        return {};
    const std::size_t rowBytes = std::size_t(width) * 4;
    const std::size_t bytes = rowBytes * std::size_t(height);
    if (bytes / std::size_t(height) != rowBytes || rowBytes > std::size_t(INT_MAX))
        return {};
    if (bytes < (recycler().scopes.load() > 0 ? kLargeBufferInBatch : kLargeBuffer))
        return QImage(width, height, format);
    std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void *memory = recycler().take(rounded, &rounded);
    if (!memory) {
        memory = std::aligned_alloc(kHugePage, rounded);
        if (!memory)
            return {};
#ifdef MADV_HUGEPAGE
        // With every core of a batch faulting in its buffers at once, waiting
        // for huge pages costs more than they save (bench/batch: 1.85 against
        // 2.36 times the floor); a lone export gains from them.
        if (recycler().scopes.load() == 0)
            madvise(memory, rounded, MADV_HUGEPAGE);
#endif
    }
    auto *owned = new Owned{memory, rounded};
    return QImage(static_cast<uchar *>(memory), width, height, qsizetype(rowBytes), format,
                  [](void *p) {
                      auto *o = static_cast<Owned *>(p);
                      recycler().give(o->memory, o->bytes);
                      delete o;
                  },
                  owned);
}

ImageBuffer::RecyclingScope::RecyclingScope()
{
    std::lock_guard<std::mutex> lock(recycler().mutex);
    ++recycler().scopes;
}

ImageBuffer::RecyclingScope::~RecyclingScope()
{
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(recycler().mutex);
        last = --recycler().scopes == 0;
    }
    if (last) {
        recycler().freeAll();
        PageKeep &k = pageKeep();
        const std::lock_guard<std::mutex> lock(k.mutex);
        for (const std::size_t i : k.holding) {
            madvise(k.slot(i), kPageBlock, MADV_DONTNEED);
            k.free.push_back(i);
        }
        k.holding.clear();
    }
}

bool ImageBuffer::takePages(void *at)
{
    PageKeep &k = pageKeep();
    const std::lock_guard<std::mutex> lock(k.mutex);
    if (k.holding.empty() || !movePages(k.slot(k.holding.back()), at))
        return false;
    k.free.push_back(k.holding.back());
    k.holding.pop_back();
    return true;
}

bool ImageBuffer::keepPages(void *at)
{
    PageKeep &k = pageKeep();
    const std::lock_guard<std::mutex> lock(k.mutex);
    // A lone export lets them go: kept, they would only add to its peak.
    if (recycler().scopes.load() == 0 || !k.reserve() || k.free.empty() || !movePages(at, k.slot(k.free.back())))
        return false;
    k.holding.push_back(k.free.back());
    k.free.pop_back();
    return true;
}

qint64 ImageBuffer::keptPageBytes()
{
    PageKeep &k = pageKeep();
    const std::lock_guard<std::mutex> lock(k.mutex);
    return qint64(k.holding.size() * kPageBlock);
}

qint64 ImageBuffer::recycledBytes()
{
    std::lock_guard<std::mutex> lock(recycler().mutex);
    return qint64(recycler().held);
}

} // namespace platform
