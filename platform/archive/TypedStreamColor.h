#pragma once

#include "platform/archive/Color.h"

#include <QByteArray>

#include <optional>

namespace platform {

// A colour in the old-style (non-keyed) archive form that settings keep for
// background colours: a typed stream holding one colour object. White and
// RGB colours are written; anything else is written as its RGB colour.
QByteArray typedStreamDataForColor(const Color &color);

// The colour an old-style archive holds; nothing when the data is empty,
// damaged or holds something else.
std::optional<Color> colorFromArchivedData(const QByteArray &data);

} // namespace platform
