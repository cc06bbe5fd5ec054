#pragma once

#include "platform/archive/PlistValue.h"

#include <QByteArray>

namespace platform {

// Writes PlistValue trees as binary property lists ("bplist00") through
// libplist, which keeps dictionary order, UIDs and 4-byte reals.
class PlistWriter
{
public:
    static QByteArray toBinary(const PlistValue &value);
};

} // namespace platform
