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

// (sum * mul) >> 32 divides by the box width, rounded. A box of one value
// changes nothing and is never run, so the factor fits 32 bits.
inline quint32 reciprocal(int width)
{
    return quint32((quint64(1) << 32) / quint64(width));
}

inline quint16 divided(quint64 sum, quint32 mul)
{
    return quint16((sum * mul + (quint64(1) << 31)) >> 32);
}

// One horizontal box pass over a row: out[x] = mean of in[x-r .. x+r]. The
// ends, where the box reaches past the row, are apart from the middle so
// that the middle runs without a test.
void boxRow(const quint16 *__restrict in, quint16 *__restrict out, int width, int r)
{
    const quint32 mul = reciprocal(2 * r + 1);
    quint64 sum = 0;
    for (int k = 0; k <= r && k < width; ++k)
        sum += in[k];
    const int head = std::min(r, width);
    int x = 0;
    for (; x < head; ++x) {
        out[x] = divided(sum, mul);
        if (x + r + 1 < width)
            sum += in[x + r + 1];
    }
    for (const int middle = width - r - 1; x < middle; ++x) {
        out[x] = divided(sum, mul);
        sum += in[x + r + 1];
        sum -= in[x - r];
    }
    for (; x < width; ++x) {
        out[x] = divided(sum, mul);
        sum -= in[x - r];
    }
}

// One vertical box pass over columns [x0, x1), as a sweep down the rows.
// Where the row entering the box equals the row leaving it, the sums stay
// and the row below comes out as the one above: the large even stretches of
// a shadow's coverage cost a comparison and a copy.
void boxColumns(const quint16 *in, quint16 *out, int width, int height, int r, int x0, int x1,
                std::vector<quint32> &sums)
{
    const int n = x1 - x0;
    sums.assign(size_t(n), 0);
    quint32 *__restrict s = sums.data();
    for (int k = 0; k <= r && k < height; ++k) {
        const quint16 *__restrict row = in + size_t(k) * width + x0;
        for (int i = 0; i < n; ++i)
            s[i] += row[i];
    }
    const quint32 mul = reciprocal(2 * r + 1);
    bool same = false;
    for (int y = 0; y < height; ++y) {
        quint16 *__restrict o = out + size_t(y) * width + x0;
        if (same) {
            std::copy_n(o - width, n, o);
        } else {
            for (int i = 0; i < n; ++i)
                o[i] = divided(s[i], mul);
        }
        const int add = y + r + 1;
        const int sub = y - r;
        const quint16 *__restrict entering = add < height ? in + size_t(add) * width + x0 : nullptr;
        const quint16 *__restrict leaving = sub >= 0 ? in + size_t(sub) * width + x0 : nullptr;
        same = entering && leaving && std::equal(entering, entering + n, leaving);
        if (same)
            continue;
        if (entering) {
            for (int i = 0; i < n; ++i)
                s[i] += entering[i];
        }
        if (leaving) {
            for (int i = 0; i < n; ++i)
                s[i] -= leaving[i];
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

    // Horizontal: all three passes on one row while it is in cache. A row
    // equal to the one above comes out as that one did.
    parallelFor(height, 32, [&](int y0, int y1) {
        std::vector<quint16> tmp(static_cast<size_t>(width));
        std::vector<quint16> above(static_cast<size_t>(width));
        for (int y = y0; y < y1; ++y) {
            quint16 *row = plane + size_t(y) * width;
            if (y > y0 && std::equal(row, row + width, above.begin())) {
                std::copy_n(row - width, width, row);
                continue;
            }
            std::copy_n(row, width, above.begin());
            quint16 *from = row;
            quint16 *to = tmp.data();
            for (int r : radii) {
                if (r == 0)
                    continue;
                boxRow(from, to, width, r);
                std::swap(from, to);
            }
            if (from != row)
                std::copy_n(from, width, row);
        }
    });

    // Vertical: column strips, each swept down the rows.
    const int strip = 256;
    const int strips = (width + strip - 1) / strip;
    parallelFor(strips, 1, [&](int s0, int s1) {
        std::vector<quint32> sums;
        for (int s = s0; s < s1; ++s) {
            const int x0 = s * strip;
            const int x1 = std::min(width, x0 + strip);
            // Ping-pong between the plane and the scratch, ending in the plane.
            quint16 *from = plane;
            quint16 *to = scratch;
            for (int r : radii) {
                if (r == 0)
                    continue;
                boxColumns(from, to, width, height, r, x0, x1, sums);
                std::swap(from, to);
            }
            if (from != plane) {
                for (int y = 0; y < height; ++y)
                    std::copy_n(scratch + size_t(y) * width + x0, x1 - x0, plane + size_t(y) * width + x0);
            }
        }
    });
}

} // namespace platform
