#include "platform/imaging/ParallelRows.h"

#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace platform {

namespace {
constexpr long long kMinPixelsForThreads = 1 << 20;
thread_local bool t_serial = false;
}

SerialRowsScope::SerialRowsScope()
    : m_previous(t_serial)
{
    t_serial = true;
}

SerialRowsScope::~SerialRowsScope()
{
    t_serial = m_previous;
}

bool rowsRunSerially()
{
    return t_serial;
}

void parallelRows(int rows, long long pixels, const std::function<void(int first, int end)> &fn)
{
    if (rows <= 0)
        return;
    // The global pool is gone once main() has returned; a worker still
    // running then does its rows alone.
    QThreadPool *pool = QThreadPool::globalInstance();
    const int threads = pool ? std::max(1, pool->maxThreadCount()) : 1;
    if (pixels < kMinPixelsForThreads || threads == 1 || rows < 2 || t_serial) {
        fn(0, rows);
        return;
    }
    // More bands than threads so uneven bands even out.
    const int bands = std::min(rows, threads * 4);
    struct Shared {
        std::atomic<int> next{0};
        std::atomic<int> done{0};
        std::mutex mutex;
        std::condition_variable finished;
    };
    auto shared = std::make_shared<Shared>();
    auto work = [shared, bands, rows, &fn] {
        for (;;) {
            const int band = shared->next.fetch_add(1);
            if (band >= bands)
                return;
            const int first = int((long long)rows * band / bands);
            const int end = int((long long)rows * (band + 1) / bands);
            fn(first, end);
            if (shared->done.fetch_add(1) + 1 == bands) {
                std::lock_guard<std::mutex> lock(shared->mutex);
                shared->finished.notify_all();
            }
        }
    };
    // Helpers only take bands still open; `fn` outlives them because this
    // function waits until every band has finished.
    for (int i = 1; i < threads; ++i)
        pool->start(work);
    work();
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->finished.wait(lock, [&] { return shared->done.load() == bands; });
}

} // namespace platform
