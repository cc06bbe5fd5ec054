#include "platform/render/RenderBand.h"

#include "platform/render/AlphaBlur.h"

#include <QPaintDevice>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {
thread_local RenderBand *t_band = nullptr;
}

RenderBand::RenderBand(const QPaintDevice *device, int top, int canvasWidth, int canvasHeight)
    : m_device(device)
    , m_top(top)
    , m_width(canvasWidth)
    , m_height(canvasHeight)
    , m_previous(t_band)
{
    t_band = this;
}

RenderBand::~RenderBand()
{
    t_band = m_previous;
}

QRect RenderBand::canvasFor(const QPaintDevice *device)
{
    if (!device)
        return QRect();
    for (const RenderBand *b = t_band; b; b = b->m_previous) {
        if (b->m_device == device)
            return QRect(0, -b->m_top, b->m_width, b->m_height);
    }
    return QRect(0, 0, device->width(), device->height());
}

QRect RenderBand::cut(const QPaintDevice *device, const QRect &rect, int reach, int grid)
{
    if (!device || rect.isEmpty())
        return rect;
    const RenderBand *band = t_band;
    while (band && band->m_device != device)
        band = band->m_previous;
    if (!band)
        return rect;
    grid = std::max(1, grid);
    reach = std::max(0, reach);
    // Device rows of the band are 0 .. height.
    const int from = -reach;
    const int to = device->height() + reach; // one past the last row needed
    int top = rect.top();
    if (from > top)
        top += (from - top) / grid * grid;
    const int bottom = std::min(rect.top() + rect.height(), to);
    if (bottom <= top)
        return QRect();
    return QRect(rect.left(), top, rect.width(), bottom - top);
}

int RenderBand::shadowReach(double sigma, int factor, double offsetY)
{
    factor = std::max(1, factor);
    const double s = sigma / factor;
    int boxes = 0;
    if (s >= 0.25) {
        for (int r : AlphaBlur::boxRadii(s))
            boxes += r;
    }
    const double dy = std::isfinite(offsetY) ? std::min(std::abs(offsetY), 1e6) : 1e6;
    // The blur's boxes, the blocks it runs on and the sampling between them.
    return (boxes + 4) * factor + int(std::ceil(dy)) + 2;
}

} // namespace platform
