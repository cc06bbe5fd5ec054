#pragma once

// Test helpers for pictures: real files made by ImageMagick and exiftool,
// metadata written with Exiv2, pixels compared with a tolerance.
#include "support/TestSupport.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>
#include <cstdlib>

namespace testsupport {

inline bool hasTool(const QString &program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// Runs a tool and answers whether it exited with 0.
inline bool runTool(const QString &program, const QStringList &args, QByteArray *output = nullptr)
{
    const ProgramRun r = runProgram(program, args, QString(), testsupport::kHangGuardMs, true);
    if (output)
        *output = r.out;
    return r.succeeded();
}

// A fresh path in the scratch folder with the given extension.
inline QString scratchFile(const QString &extension, const QString &stem = QStringLiteral("img"))
{
    return scratchDir() + QLatin1Char('/') + stem + QLatin1Char('-')
           + QUuid::createUuid().toString(QUuid::WithoutBraces).left(8) + QLatin1Char('.') + extension;
}

// A picture whose four quadrants have their own colours: red top left,
// green top right, blue bottom left, yellow bottom right.
inline QImage quadrantPicture(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.fillRect(0, 0, w / 2, h / 2, QColor(255, 0, 0));
    p.fillRect(w / 2, 0, w - w / 2, h / 2, QColor(0, 255, 0));
    p.fillRect(0, h / 2, w / 2, h - h / 2, QColor(0, 0, 255));
    p.fillRect(w / 2, h / 2, w - w / 2, h - h / 2, QColor(255, 255, 0));
    return img;
}

// The largest difference of any channel, alpha included, between two pixels.
inline int channelDifference(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b)),
                     std::abs(qAlpha(a) - qAlpha(b))});
}

// The largest channel difference of any pixel of two pictures, compared as
// they store their pixels (premultiplied ones premultiplied); 256 when their
// sizes differ.
inline int worstChannelDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 256;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            worst = std::max(worst, channelDifference(a.pixel(x, y), b.pixel(x, y)));
    return worst;
}

inline bool near(QColor a, QColor b, int tolerance = 40)
{
    return channelDifference(a.rgba(), b.rgba()) <= tolerance;
}

// Colour a few pixels in from each corner: top left, top right, bottom left, bottom right.
inline QList<QColor> cornerColours(const QImage &img, int inset = 3)
{
    const int w = img.width();
    const int h = img.height();
    return {img.pixelColor(inset, inset), img.pixelColor(w - 1 - inset, inset), img.pixelColor(inset, h - 1 - inset),
            img.pixelColor(w - 1 - inset, h - 1 - inset)};
}

inline QString describe(const QColor &c)
{
    return QStringLiteral("(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

} // namespace testsupport
