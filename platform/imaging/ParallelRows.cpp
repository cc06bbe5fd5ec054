#include "platform/imaging/ParallelRows.h"

#include "platform/ThreadPools.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace platform {

namespace {
constexpr long long kMinPixelsForThreads = 1 << 20;
thread_local bool t_serial = false;
thread_local const std::atomic<bool> *t_crowded = nullptr;
}

SerialRowsScope::SerialRowsScope()
    : m_previous(t_serial)
    , m_previousCrowded(t_crowded)
{
    t_serial = true;
}

SerialRowsScope::SerialRowsScope(const std::atomic<bool> *crowded)
    : SerialRowsScope()
{
    t_crowded = crowded;
}

SerialRowsScope::~SerialRowsScope()
{
    t_serial = m_previous;
    t_crowded = m_previousCrowded;
}

bool rowsRunSerially()
{
    return t_serial && (!t_crowded || t_crowded->load(std::memory_order_relaxed));
}

void parallelRows(int rows, long long pixels, const std::function<void(int first, int end)> &fn)
{
    if (rows <= 0)
        return;
    const int threads = poolThreadCount(Pool::Parallel);
    if (pixels < kMinPixelsForThreads || threads == 1 || rows < 2 || rowsRunSerially()) {
        fn(0, rows);
        return;
    }
    // More bands than threads so uneven bands even out.
    const int bands = std::min(rows, threads * 4);
    std::atomic<int> next{0};
    auto work = [&] {
        for (;;) {
            const int band = next.fetch_add(1);
            if (band >= bands)
                return;
            fn(int((long long)rows * band / bands), int((long long)rows * (band + 1) / bands));
        }
    };
    // Helpers only take bands still open. Those not begun by the time the
    // caller runs out of bands are taken back unrun; the others are waited
    // for, so `fn` outlives every helper.
    std::vector<std::unique_ptr<PoolJob>> helpers;
    helpers.reserve(size_t(threads - 1));
    for (int i = 1; i < threads; ++i)
        helpers.push_back(std::make_unique<PoolJob>(Pool::Parallel, work));
    work();
    for (const std::unique_ptr<PoolJob> &helper : helpers) {
        if (!helper->cancelIfNotStarted())
            helper->wait();
    }
}

} // namespace platform
