#pragma once

#include <QByteArray>
#include <QImage>

#include <memory>

namespace platform {

// Turns a CMYK picture's samples into sRGB through its CMYK profile, or,
// where it carries none that can be used, through the coated-press profile
// the program ships ("CoatedPressCMYK.icc" among its resources): the inks
// alone say nothing of the colours a press makes of them. Made once for a
// picture; threads converting rows of it share it.
class CmykConversion
{
public:
    // Samples of 8 or 16 bits, in the machine's byte order; `inverted`
    // samples count ink down from their largest value, as Photoshop keeps
    // CMYK and as Adobe's JPEGs (those with an APP14 marker) carry it.
    static std::shared_ptr<const CmykConversion> make(const QByteArray &icc, int bits, bool inverted);

    // `count` pixels of four interleaved samples into opaque colours.
    void toRgb(const void *cmyk, QRgb *out, int count) const;
    // An 8-bit picture whose 32-bit pixels hold C, M, Y and K in that order
    // of bytes, made opaque colours in place (its format kept, its colour
    // space sRGB), its rows on the Parallel pool.
    void convertInPlace(QImage &image) const;

    // Whether the picture's own profile is used, not the shipped one.
    bool usesOwnProfile() const { return m_ownProfile; }
    // The shipped profile's bytes; empty when it is missing.
    static QByteArray standardProfile();

    ~CmykConversion();
    CmykConversion(const CmykConversion &) = delete;
    CmykConversion &operator=(const CmykConversion &) = delete;

private:
    CmykConversion() = default;

    void *m_transform = nullptr; // none: the inks are taken as they are (no profile at all)
    int m_bits = 8;
    bool m_inverted = false;
    bool m_ownProfile = false;
};

} // namespace platform
