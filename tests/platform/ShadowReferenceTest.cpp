#include "platform/render/AlphaBlur.h"
#include "platform/render/TransparencyLayer.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

using platform::AlphaBlur;
using platform::TransparencyLayer;

namespace {

quint32 mul255(quint32 x, quint32 a)
{
    const quint32 t = x * a + 128;
    return (t + (t >> 8)) >> 8;
}

// The shadow as the engine makes it, worked out one pixel at a time: the mean
// alpha of f x f blocks, blurred, sampled bilinearly at each pixel moved back
// by the offset, tinted and laid under the content.
void referenceShadow(QImage &image, const QColor &color, QPointF offset, double sigma)
{
    const int w = image.width();
    const int h = image.height();
    int f = 1;
    while (sigma / f >= 8 && f < 16)
        f *= 2;
    const double dx = offset.x();
    const double dy = offset.y();
    const int padX = int(std::ceil(std::abs(dx) / f)) + 2;
    const int padY = int(std::ceil(std::abs(dy) / f)) + 2;
    const int pw = (w + f - 1) / f + 2 * padX;
    const int ph = (h + f - 1) / f + 2 * padY;
    std::vector<quint16> plane(size_t(pw) * ph, 0), scratch(size_t(pw) * ph);
    for (int by = 0; by * f < h; ++by)
        for (int bx = 0; bx * f < w; ++bx) {
            quint32 sum = 0;
            for (int y = by * f; y < std::min(h, by * f + f); ++y)
                for (int x = bx * f; x < std::min(w, bx * f + f); ++x)
                    sum += quint32(qAlpha(image.pixel(x, y)));
            const quint32 area = quint32(f * f);
            plane[size_t(by + padY) * pw + size_t(bx + padX)] = quint16((sum * 256 + area / 2) / area);
        }
    AlphaBlur::blur(plane.data(), scratch.data(), pw, ph, sigma / f);
    const quint32 ca = quint32(color.alpha());
    const quint32 tint[3] = {mul255(quint32(color.red()), ca), mul255(quint32(color.green()), ca),
                             mul255(quint32(color.blue()), ca)};
    auto sample = [&](int u, int v) { return quint64(plane[size_t(v) * pw + size_t(u)]); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb px = image.pixel(x, y);
            const quint32 ba = quint32(qAlpha(px));
            if (ba == 255)
                continue;
            const double u = std::clamp((x + 0.5 - dx) / f + padX - 0.5, 0.0, double(pw - 1));
            const double v = std::clamp((y + 0.5 - dy) / f + padY - 0.5, 0.0, double(ph - 1));
            const int u0 = std::min(int(u), pw - 2);
            const int v0 = std::min(int(v), ph - 2);
            const quint64 fu = quint64(std::clamp(int(std::lround((u - u0) * 256)), 0, 256));
            const quint64 fv = quint64(std::clamp(int(std::lround((v - v0) * 256)), 0, 256));
            const quint64 s = (sample(u0, v0) * (256 - fu) * (256 - fv) + sample(u0 + 1, v0) * fu * (256 - fv)
                               + sample(u0, v0 + 1) * (256 - fu) * fv + sample(u0 + 1, v0 + 1) * fu * fv)
                              >> 16;
            const quint32 t = (quint32(s) + 128) >> 8;
            if (t == 0)
                continue;
            const quint32 rest = 255 - ba;
            const quint32 a = std::min<quint32>(255, ba + mul255(mul255(ca, t), rest));
            const quint32 r = std::min<quint32>(a, quint32(qRed(px)) + mul255(mul255(tint[0], t), rest));
            const quint32 g = std::min<quint32>(a, quint32(qGreen(px)) + mul255(mul255(tint[1], t), rest));
            const quint32 b = std::min<quint32>(a, quint32(qBlue(px)) + mul255(mul255(tint[2], t), rest));
            image.setPixel(x, y, (a << 24) | (r << 16) | (g << 8) | b);
        }
}

// Opaque and see-through shapes on a transparent ground.
QImage content(int w, int h, unsigned seed)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    std::mt19937 rng(seed);
    for (int i = 0; i < 12; ++i) {
        const QColor c(int(rng() % 256), int(rng() % 256), int(rng() % 256), i % 3 ? 255 : int(rng() % 200) + 30);
        p.setBrush(c);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(rng() % w, rng() % h, 10 + rng() % (w / 2), 10 + rng() % (h / 2)));
    }
    return image;
}

} // namespace

TEST(ShadowAgainstReference, EveryPixelAsWorkedOutOneAtATime)
{
    struct Case {
        QPointF offset;
        double sigma;
        QColor color;
    };
    // Small blurs at full size, large ones on shrunk planes, offsets either way.
    const Case cases[] = {{{5, -7}, 3, QColor(0, 0, 0, 85)},
                          {{-11.5, 13.25}, 12, QColor(40, 10, 90, 200)},
                          {{20, 25}, 35.4, QColor(0, 0, 0, 85)},
                          {{0, 0}, 0.1, QColor(255, 255, 255, 255)},
                          {{-3, 0}, 70, QColor(10, 200, 30, 120)}};
    unsigned seed = 1;
    for (const Case &c : cases) {
        const QImage source = content(331, 217, seed++);
        QImage engine = source.copy();
        ASSERT_TRUE(TransparencyLayer::applyShadow(engine, c.color, c.offset, c.sigma));
        QImage reference = source.copy();
        referenceShadow(reference, c.color, c.offset, c.sigma);
        EXPECT_TRUE(engine == reference) << "sigma " << c.sigma;
        EXPECT_FALSE(c.sigma > 1 && engine == source) << "no shadow at sigma " << c.sigma;
    }
}

// Groups begun together, their content and shadows made on other threads and
// laid down in turn, give what making each in turn gives.
TEST(ShadowAgainstReference, GroupsMadeSideBySideAreLaidDownAsInTurn)
{
    const QRect clips[2] = {QRect(10, 10, 200, 150), QRect(120, 60, 200, 150)};
    const QColor colours[2] = {QColor(200, 40, 30), QColor(30, 60, 220, 200)};
    platform::Shadow shadow;
    shadow.offset = QPointF(6, -9);
    shadow.blurRadius = 14;
    auto draw = [&](QPainter &p, int i) {
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setBrush(colours[i]);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(clips[i]).adjusted(20, 20, -20, -20));
    };
    QImage inTurn(340, 240, QImage::Format_ARGB32_Premultiplied);
    inTurn.fill(QColor(240, 240, 230));
    QImage sideBySide = inTurn.copy();
    {
        QPainter p(&inTurn);
        for (int i = 0; i < 2; ++i) {
            p.save();
            p.setClipRect(clips[i]);
            TransparencyLayer layer;
            draw(*layer.begin(&p, shadow), i);
            layer.end();
            p.restore();
        }
    }
    {
        QPainter p(&sideBySide);
        TransparencyLayer layers[2];
        QPainter *painters[2];
        for (int i = 0; i < 2; ++i) {
            p.save();
            p.setClipRect(clips[i]);
            painters[i] = layers[i].begin(&p, shadow);
            p.restore();
            ASSERT_NE(painters[i], &p);
        }
        std::thread other([&] {
            for (int i = 0; i < 2; ++i) {
                draw(*painters[i], i);
                layers[i].finishContent();
            }
        });
        other.join();
        for (int i = 0; i < 2; ++i) {
            p.save();
            p.setClipRect(clips[i]);
            layers[i].end();
            p.restore();
        }
    }
    EXPECT_TRUE(inTurn == sideBySide);
}
