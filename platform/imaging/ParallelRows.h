#pragma once

#include <atomic>
#include <functional>

namespace platform {

// Runs `fn(first, end)` over bands of the rows [0, rows), on the Parallel
// pool when the work is large enough to pay for it (`pixels` is the total), on
// the calling thread otherwise. Returns when every band is done. Safe to call
// from a pool thread: the caller works through bands itself instead of
// waiting idle, so nested use cannot starve the pool.
void parallelRows(int rows, long long pixels, const std::function<void(int first, int end)> &fn);

// While one lives on a thread, parallelRows, the blur and ParallelPaint run
// on that thread alone. Batch workers render one file each on every core:
// helpers inside one render would only fight them for the same cores.
class SerialRowsScope
{
public:
    // Serial; inside a scope given `crowded`, as long as that one's flag.
    SerialRowsScope();
    // Serial only while `crowded` holds true: a batch's files left running
    // once some workers have none share the idle cores again. The flag
    // outlives the scope.
    explicit SerialRowsScope(const std::atomic<bool> *crowded);
    ~SerialRowsScope();
    SerialRowsScope(const SerialRowsScope &) = delete;
    SerialRowsScope &operator=(const SerialRowsScope &) = delete;

private:
    bool m_previous;
    const std::atomic<bool> *m_previousCrowded;
};
// True on a thread inside a SerialRowsScope (whose flag, if any, holds true):
// asked again at each piece of work, as the answer may change.
bool rowsRunSerially();

} // namespace platform
