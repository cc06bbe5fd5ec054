#include "scenes/ScenePictures.h"

#include "design/KTMoldingFrameLayer.h"
#include "platform/TypeTable.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <random>

namespace scenes {

QImage grain(int w, int h, QColor base, unsigned seed, bool knot)
{
    QImage image(w, h, QImage::Format_ARGB32);
    std::mt19937 rng(seed);
    const bool alongX = w > h;
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int across = alongX ? y : x;
            const int span = alongX ? h : w;
            const int streak = int(((across * 7) % 23) + 40 * across / span) + int(rng() % 21) - 10;
            line[x] = qRgb(std::clamp(base.red() + streak, 0, 255), std::clamp(base.green() + streak, 0, 255),
                           std::clamp(base.blue() + streak, 0, 255));
        }
    }
    if (knot) {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(60, 30, 10, 110));
        p.drawEllipse(QRectF(w * 0.3, h * 0.4, w * 0.35, h * 0.12));
    }
    return image;
}

QImage photo(int w, int h, int noiseStep)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(70, 120, 190));
    sky.setColorAt(1, QColor(60, 80, 40));
    p.fillRect(image.rect(), sky);
    p.end();
    std::mt19937 rng(7);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; x += noiseStep) {
            const int n = int(rng() % 13) - 6;
            const QRgb v = line[x];
            line[x] = qRgb(std::clamp(qRed(v) + n, 0, 255), std::clamp(qGreen(v) + n, 0, 255),
                           std::clamp(qBlue(v) + n, 0, 255));
        }
    }
    return image;
}

QImage mouldingSide(int which, int scale)
{
    const int s = std::max(1, scale);
    switch (which) {
    case 0: return grain(60 * s, 240 * s, QColor(110, 70, 35), 1, true);
    case 1: return grain(240 * s, 60 * s, QColor(100, 65, 30), 2, false);
    case 2: return grain(60 * s, 240 * s, QColor(115, 75, 40), 3, false);
    default: return grain(240 * s, 60 * s, QColor(105, 60, 35), 4, true);
    }
}

void applyMouldingSettings(KTMoldingFrameLayer &layer, int scene)
{
    layer.setFrameWidth(0.3);
    if (scene == 0) {
        layer.setSaturationShift(0.6);
        layer.setLightnessShift(0.4);
    } else {
        layer.setColorizationColor(QColor::fromRgbF(0.9f, 0.6f, 0.3f, 0.7f));
        layer.setColorize(true);
        layer.setRotation(1);
        layer.setOpacity(0.8);
    }
}

QImage fullFramePicture(int w, int h, double border)
{
    QImage image = grain(w, h, QColor(120, 80, 40), 11, false);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    const int b = int(std::min(w, h) * border);
    p.fillRect(QRect(b, b, w - 2 * b, h - 2 * b), Qt::transparent);
    return image;
}

bool writeCameraPhoto(const QString &path, int w, int h, unsigned seed)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(70, 120, 190));
    sky.setColorAt(0.55, QColor(200, 190, 170));
    sky.setColorAt(1, QColor(60, 80, 40));
    p.fillRect(image.rect(), sky);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> x(0, w), y(0, h), r(std::max(1, w / 150), std::max(2, w / 10)), c(0, 255);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 400; ++i) {
        const QPoint centre(x(rng), y(rng));
        QRadialGradient g(centre, r(rng));
        g.setColorAt(0, QColor(c(rng), c(rng), c(rng), 160));
        g.setColorAt(1, QColor(0, 0, 0, 0));
        p.setBrush(g);
        p.drawEllipse(centre, w * 7 / 60 + 1, w * 7 / 60 + 1);
    }
    p.end();
    std::normal_distribution<double> noise(0, 6);
    for (int row = 0; row < h; ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        for (int col = 0; col < w; ++col) {
            const int n = int(noise(rng));
            const QRgb v = line[col];
            line[col] = qRgb(std::clamp(qRed(v) + n, 0, 255), std::clamp(qGreen(v) + n, 0, 255),
                             std::clamp(qBlue(v) + n, 0, 255));
        }
    }
    Exiv2::ExifData exif;
    exif["Exif.Photo.DateTimeOriginal"] = std::string("2021:06:15 10:20:30");
    exif["Exif.Image.Make"] = std::string("Scene");
    exif["Exif.Image.Model"] = std::string("Camera");
    exif["Exif.Image.XResolution"] = Exiv2::URational(300, 1);
    exif["Exif.Image.YResolution"] = Exiv2::URational(300, 1);
    exif["Exif.Image.ResolutionUnit"] = uint16_t(2);
    const auto meta = platform::ExportMetadata::prepare(exif, {}, {}, {}, 300.0, image.size(), QStringLiteral("3"));
    return platform::ImageEncoder::writeToFile(path, image, QString::fromLatin1(platform::TypeTable::kJPEG), meta, 0.9,
                                               nullptr);
}

} // namespace scenes
