#pragma once

#include <QImage>
#include <QSize>

#include <functional>

namespace platform {

// A picture that is never held whole: made a band of rows at a time on the
// calling thread while the bands before it are encoded on others.
struct PictureBands {
    QSize size;
    int rows = 256;   // a band's rows (JPEG rounds them up to a multiple of 16)
    int inFlight = 4; // bands made and not yet written, at most
    // Rows [first, first + count) in a 32-bit layout; a null picture
    // stops the writing (as cancelled). A band's pixels must stay as they
    // are until `inFlight` later bands have been asked for.
    std::function<QImage(int first, int count)> band;
    // Asked right after each band is made, when set: the pixels of that band
    // (picture coordinates) its maker knows to be opaque. Writers that look
    // for transparency need not look there.
    std::function<QRect()> opaque;
    // Whether any pixel will be less than opaque, as far as the maker can
    // tell before drawing. Formats that say so in their header write what
    // this guesses and, when the pixels prove it wrong, start over with the
    // other answer (then `mayStartOver` is false): the file is the one the
    // whole picture gives either way.
    bool transparent = false;
    bool mayStartOver = true;
};

} // namespace platform
