#pragma once

#include <QBrush>
#include <QByteArray>
#include <QColor>
#include <QColorSpace>
#include <QColorTransform>
#include <QImage>
#include <QPen>

#include <memory>

namespace platform {

// Matches what is drawn into a picture to that picture's colour space:
// colours, given as sRGB, and pictures, given in their own colour space. An
// export keeps the photo's profile, so a frame drawn with its sRGB values
// into a ProPhoto or Adobe RGB picture would change colour in every viewer.
//
// Immutable once made; threads drawing bands of one picture share it.
class ColorMatch
{
public:
    // Whether an ICC profile describes RGB pixels (its header says so): Qt
    // makes colour spaces of grey profiles too, which no RGB picture is in.
    static bool isRgbProfile(const QByteArray &icc);

    // Null when nothing needs matching: no colour space, or one that is sRGB
    // (the photo's own pixels and sRGB drawings then pass untouched).
    static std::shared_ptr<const ColorMatch> forTarget(const QColorSpace &target);

    const QColorSpace &target() const { return m_target; }
    // Names the target, for caches of matched pictures.
    const QByteArray &key() const { return m_key; }

    QColor color(const QColor &color) const;
    // Solid colours and gradient stops; pictures in brushes are left as they are.
    QBrush brush(const QBrush &brush) const;
    QPen pen(const QPen &pen) const;

    // Whether a picture in `space` (none counts as sRGB) needs matching.
    bool needsMatching(const QColorSpace &space) const;
    // The picture converted from `space` into the target (in place when it
    // is not shared); the same picture when nothing is to be done.
    QImage picture(QImage image, const QColorSpace &space) const;

    explicit ColorMatch(const QColorSpace &target);

private:
    QColorSpace m_target;
    QColorTransform m_fromSrgb;
    QByteArray m_key;
};

} // namespace platform
