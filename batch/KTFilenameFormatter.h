#pragma once

#include <QString>

// The text rule of the file-name prefix and suffix fields: a keystroke that
// would put "/" or ":" into the name is refused, everything else is taken.
class KTFilenameFormatter
{
public:
    static bool isPartialStringValid(const QString &proposed);
    static QString stringForObjectValue(const QString &value) { return value; }
};
