#include "platform/render/AlphaBlur.h"

#include "platform/ThreadPools.h"
#include "platform/imaging/ParallelRows.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace platform {

namespace {

// (sum * mul) >> 32 divides by the box width, rounded.
inline quint64 reciprocal(int width)
{
    return (quint64(1) << 32) / quint64(width);
}

// One horizontal box pass over a row: out[x] = mean of in[x-r .. x+r].
void boxRow(const quint16 *in, quint16 *out, int width, int r)
{
    const quint64 mul = reciprocal(2 * r + 1);
    const quint64 half = quint64(1) << 31;
    quint64 sum = 0;
    for (int k = 0; k <= r && k < width; ++k)
        sum += in[k];
    for (int x = 0; x < width; ++x) {
        out[x] = quint16((sum * mul + half) >> 32);
        const int add = x + r + 1;
        const int sub = x - r;
        if (add < width)
            sum += in[add];
        if (sub >= 0)
            sum -= in[sub];
    }
}

// One vertical box pass over columns [x0, x1), as a sweep down the rows.
void boxColumns(const quint16 *in, quint16 *out, int width, int height, int r, int x0, int x1,
                std::vector<quint32> &sums)
{
    const int n = x1 - x0;
    sums.assign(size_t(n), 0);
    quint32 *s = sums.data();
    for (int k = 0; k <= r && k < height; ++k) {
        const quint16 *row = in + size_t(k) * width + x0;
        for (int i = 0; i < n; ++i)
            s[i] += row[i];
    }
    const quint64 mul = reciprocal(2 * r + 1);
    const quint64 half = quint64(1) << 31;
    for (int y = 0; y < height; ++y) {
        quint16 *o = out + size_t(y) * width + x0;
        for (int i = 0; i < n; ++i)
            o[i] = quint16((quint64(s[i]) * mul + half) >> 32);
        const int add = y + r + 1;
        const int sub = y - r;
        if (add < height) {
            const quint16 *row = in + size_t(add) * width + x0;
            for (int i = 0; i < n; ++i)
                s[i] += row[i];
        }
        if (sub >= 0) {
            const quint16 *row = in + size_t(sub) * width + x0;
            for (int i = 0; i < n; ++i)
                s[i] -= row[i];
        }
    }
}

} // namespace

std::array<int, 3> AlphaBlur::boxRadii(double sigma)
{
    // Three boxes of widths wl or wl + 2 whose variances ((w² - 1) / 12 each)
    // add up to sigma² as closely as whole widths allow.
    const int n = 3;
    const double ideal = std::sqrt(12.0 * sigma * sigma / n + 1.0);
    int wl = int(std::floor(ideal));
    if (wl % 2 == 0)
        --wl;
    wl = std::max(wl, 1);
    const int wu = wl + 2;
    const double mIdeal = (12.0 * sigma * sigma - n * wl * wl - 4.0 * n * wl - 3.0 * n) / (-4.0 * wl - 4.0);
    const int m = std::clamp(int(std::lround(mIdeal)), 0, n);
    std::array<int, 3> radii{};
    for (int i = 0; i < n; ++i)
        radii[size_t(i)] = ((i < m ? wl : wu) - 1) / 2;
    return radii;
}

void AlphaBlur::parallelFor(int count, int minChunk, void (*fn)(void *, int, int), void *context)
{
    if (count <= 0)
        return;
    const int threads = poolThreadCount(Pool::Parallel);
    const int chunks = std::clamp(count / std::max(1, minChunk), 1, threads * 2);
    if (chunks == 1) {
        fn(context, 0, count);
        return;
    }
    // The pool's own threads and the caller take chunks as they come free;
    // far lighter than a concurrent map, which a render calls dozens of times.
    parallelRows(chunks, std::numeric_limits<long long>::max(), [&](int first, int end) {
        fn(context, int(qint64(count) * first / chunks), int(qint64(count) * end / chunks));
    });
}

void AlphaBlur::blur(quint16 *plane, quint16 *scratch, int width, int height, double sigma)
{
    if (!(sigma >= 0.25) || width <= 0 || height <= 0)
        return;
    const std::array<int, 3> radii = boxRadii(sigma);

    // Horizontal: all three passes on one row while it is in cache.
    parallelFor(height, 32, [&](int y0, int y1) {
        std::vector<quint16> tmp(static_cast<size_t>(width));
        for (int y = y0; y < y1; ++y) {
            quint16 *row = plane + size_t(y) * width;
            boxRow(row, tmp.data(), width, radii[0]);
            boxRow(tmp.data(), row, width, radii[1]);
            boxRow(row, tmp.data(), width, radii[2]);
            std::copy(tmp.begin(), tmp.end(), row);
        }
    });

    // Vertical: column strips, each swept down the rows, ping-ponging between
    // the plane and the scratch; the third pass lands back in the plane.
    const int strip = 256;
    const int strips = (width + strip - 1) / strip;
    parallelFor(strips, 1, [&](int s0, int s1) {
        std::vector<quint32> sums;
        for (int s = s0; s < s1; ++s) {
            const int x0 = s * strip;
            const int x1 = std::min(width, x0 + strip);
            boxColumns(plane, scratch, width, height, radii[0], x0, x1, sums);
            boxColumns(scratch, plane, width, height, radii[1], x0, x1, sums);
            boxColumns(plane, scratch, width, height, radii[2], x0, x1, sums);
            for (int y = 0; y < height; ++y)
                std::copy_n(scratch + size_t(y) * width + x0, x1 - x0, plane + size_t(y) * width + x0);
        }
    });
}

} // namespace platform
