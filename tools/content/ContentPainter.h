#pragma once

#include <QColor>
#include <QImage>
#include <QSize>

#include <cstdint>

// Procedural pictures for the built-in content. Every picture depends only
// on its arguments and seed, so a rebuild draws the same bytes.
namespace ContentPainter {

enum class Side { Left, Top, Right, Bottom };

// A moulding's top side, wood or (`gilt`) a lit gilt relief: outer edge at
// the top row, `length` long, `depth` deep. Everything along the length
// repeats within it, so tiles join.
QImage woodMoulding(int length, int depth, QColor base, std::uint32_t seed, bool gilt);
// One side of a gallery moulding of one colour, as it lies on that side (the
// outer edge outwards), lit from the top left: a rounded lip, a flat face and
// a bevel. `brushed` streaks it along its length.
QImage galleryMoulding(int length, int depth, QColor base, Side side, double brushed = 0);
// An ornate moulding side (beads over a gilt relief) and its square corner
// block, a bevelled plaque with a rosette.
QImage ornateMoulding(int length, int depth, QColor base, std::uint32_t seed);
QImage ornateCorner(int side, QColor base, std::uint32_t seed);
// Full frames: opaque border, transparent window.
QImage deckledPaper(QSize size, std::uint32_t seed);
QImage instantPhotoBorder(QSize size);
// Masks: opaque outside the window, which the frame then erases.
QImage roundedCornerMask(QSize size, double radiusFraction);
QImage ovalVignetteMask(QSize size);
// Named pictures.
QImage noIcon(int side);
// The library's state icons, light line drawings for its dark icon bar: a
// mitred frame (all frames), a star (favourites), a clock (recent).
QImage framesIcon(int side);
QImage favoritesIcon(int side);
QImage recentIcon(int side);
QImage overlayPlaceholder(int side);
QImage startupPicture(QSize size, std::uint32_t seed);
// A photo for previews and tests.
QImage samplePhoto(QSize size, std::uint32_t seed);

} // namespace ContentPainter
