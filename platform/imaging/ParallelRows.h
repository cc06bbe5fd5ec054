#pragma once

#include <functional>

namespace platform {

// Runs `fn(first, end)` over bands of the rows [0, rows), on the global thread
// pool when the work is large enough to pay for it (`pixels` is the total), on
// the calling thread otherwise. Returns when every band is done. Safe to call
// from a pool thread: the caller works through bands itself instead of
// waiting idle, so nested use cannot starve the pool.
void parallelRows(int rows, long long pixels, const std::function<void(int first, int end)> &fn);

} // namespace platform
