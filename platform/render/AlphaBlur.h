#pragma once

#include <QtGlobal>

#include <array>
#include <cstddef>

namespace platform {

// Gaussian-like blur of a coverage plane by three box passes. Values are 8.8
// fixed point (0..65280 for 0..1); outside the plane counts as zero. The
// vertical passes sweep rows top to bottom, keeping one running sum per
// column, so memory is read in order; rows and column strips are split
// across the thread pool.
class AlphaBlur
{
public:
    // Radii of the three boxes whose combined variance is closest to sigma².
    static std::array<int, 3> boxRadii(double sigma);

    // Blurs `plane` (width x height, rows of `width` values) in place.
    // `scratch` holds at least width x height values. Does nothing for a
    // sigma below a quarter pixel.
    static void blur(quint16 *plane, quint16 *scratch, int width, int height, double sigma);

    // Runs fn(begin, end) over [0, count) in chunks on the thread pool, the
    // calling thread taking part (safe from pool threads).
    static void parallelFor(int count, int minChunk, void (*fn)(void *, int, int), void *context);

    template<typename F>
    static void parallelFor(int count, int minChunk, F &&f)
    {
        parallelFor(count, minChunk, [](void *c, int b, int e) { (*static_cast<F *>(c))(b, e); }, &f);
    }
};

} // namespace platform
