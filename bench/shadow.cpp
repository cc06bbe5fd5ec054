// The drop shadow of a full frame on a 6000 x 4000 canvas: a frame-shaped
// picture drawn into a transparency layer with the shadow a frame layer uses
// (blur 1.5 % of the short side, offset 0.03 x 0.2 of it, pointing down).
// --quick: a 1200 x 800 canvas, one run.
#include "bench/Quick.h"
#include "platform/render/TransparencyLayer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool quick = bench::takeQuickFlag(argc, argv);
    QGuiApplication app(argc, argv);
    const int w = quick ? 1200 : 6000;
    const int h = quick ? 800 : 4000;
    const int side = std::min(w, h);

    // The frame picture: an opaque ring 8 % of the short side wide.
    QImage frame(w, h, QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::transparent);
    {
        QPainter p(&frame);
        const int b = side * 8 / 100;
        p.fillRect(QRect(0, 0, w, h), QColor(120, 80, 40));
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.fillRect(QRect(b, b, w - 2 * b, h - 2 * b), Qt::transparent);
    }

    QImage target(w, h, QImage::Format_ARGB32_Premultiplied);
    platform::Shadow shadow;
    shadow.blurRadius = side * 0.015;
    shadow.offset = QPointF(0, -side * 0.03 * 0.2); // y-up space: down

    std::vector<double> ends;
    std::vector<double> totals;
    for (int run = 0; run < (quick ? 1 : 7); ++run) {
        target.fill(Qt::white);
        QPainter p(&target);
        p.setWorldTransform(QTransform(1, 0, 0, -1, 0, h));
        QElapsedTimer total;
        total.start();
        platform::TransparencyLayer layer;
        QPainter *lp = layer.begin(&p, shadow);
        lp->save();
        lp->setWorldTransform(QTransform(), false);
        lp->drawImage(0, 0, frame);
        lp->restore();
        QElapsedTimer t;
        t.start();
        layer.end();
        ends.push_back(t.nsecsElapsed() / 1e6);
        totals.push_back(total.nsecsElapsed() / 1e6);
        p.end();
        // The work was done: the frame is drawn, and its shadow falls into
        // the window below the top edge while the middle stays white.
        const int b = side * 8 / 100;
        const QRgb ring = target.pixel(w / 2, b / 2);
        const QRgb shaded = target.pixel(w / 2, b + 2);
        const QRgb middle = target.pixel(w / 2, h / 2);
        if (ring != qRgb(120, 80, 40) || qGray(shaded) > 240 || middle != qRgb(255, 255, 255)) {
            std::printf("the frame or its shadow is missing: frame %06x, under its edge %06x, middle %06x\n",
                        ring & 0xffffff, shaded & 0xffffff, middle & 0xffffff);
            return 1;
        }
    }
    std::sort(ends.begin(), ends.end());
    std::sort(totals.begin(), totals.end());
    std::printf("canvas %dx%d, blur radius %.0f px (sigma %.0f)\n", w, h, shadow.blurRadius,
                platform::TransparencyLayer::sigmaForBlurRadius(shadow.blurRadius));
    std::printf("begin + draw frame + shadow and composite, median: %.1f ms\n", totals[totals.size() / 2]);
    std::printf("shadow and composite (end), median of %zu: %.1f ms (best %.1f)\n", ends.size(),
                ends[ends.size() / 2], ends.front());
    std::printf("result: %.1f ms\n", totals[totals.size() / 2]);
    return 0;
}
