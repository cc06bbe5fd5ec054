#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QVariant>

namespace platform {

// Reads old, non-keyed archives of strings (NSString, NSMutableString),
// arrays (NSArray, NSMutableArray) and colours (NSColor): a QString, a
// QVariantList or a Color. Damaged or unexpected data gives an error, and
// an object that contains itself is refused.
class Unarchiver
{
public:
    struct Result {
        QVariant object;
        Error error;
        bool ok() const { return error.isNull(); }
    };
    static Result unarchiveObjectWithData(const QByteArray &data);
};

} // namespace platform
