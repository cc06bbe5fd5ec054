#pragma once

#include <QVariant>

namespace platform {

// True for the numeric value kinds that property lists, settings and item
// dictionaries hand us (booleans excluded).
inline bool isNumericVariant(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return true;
    default:
        return false;
    }
}

} // namespace platform
