#pragma once

#include "platform/archive/Color.h"

#include <QByteArray>

namespace platform {

// A colour in the old-style (non-keyed) archive form that settings keep for
// background colours: a typed stream holding one colour object. White and
// RGB colours are written; anything else is written as its RGB colour.
QByteArray typedStreamDataForColor(const Color &color);

} // namespace platform
