#pragma once

#include <QRect>

class QPaintDevice;

namespace platform {

// A picture drawn a band of rows at a time: while a scope lives, the calling
// thread's drawing onto `device` stands for rows [top, top + device height)
// of a canvas `canvasWidth` x `canvasHeight` pixels. Groups and shadows laid
// onto the band then work out their buffers on the whole canvas, cut to the
// band and as far around it as their blur reaches, on the same pixel grid as
// a drawing of the whole canvas: the band's rows come out as they would.
class RenderBand
{
public:
    RenderBand(const QPaintDevice *device, int top, int canvasWidth, int canvasHeight);
    ~RenderBand();
    RenderBand(const RenderBand &) = delete;
    RenderBand &operator=(const RenderBand &) = delete;

    // The canvas in `device`'s pixels: the device itself unless a band of the
    // calling thread is drawn onto it.
    static QRect canvasFor(const QPaintDevice *device);
    // `rect` (within the canvas, device pixels) cut to the rows that a
    // drawing reaching `reach` rows around the band needs, its top moved only
    // by whole multiples of `grid` rows; unchanged when no band is drawn onto
    // `device`.
    static QRect cut(const QPaintDevice *device, const QRect &rect, int reach, int grid);
    // How far a shadow of `sigma` device pixels, shrunk by `factor` and
    // moved by `offsetY`, reaches from what casts it.
    static int shadowReach(double sigma, int factor, double offsetY);

private:
    const QPaintDevice *m_device;
    int m_top;
    int m_width;
    int m_height;
    RenderBand *m_previous;
};

} // namespace platform
