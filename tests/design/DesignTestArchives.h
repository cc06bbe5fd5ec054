#pragma once

#include "platform/archive/PlistReader.h"
#include "platform/archive/PlistValue.h"

#include <QByteArray>

namespace designtest {

// What an archive holds, read back. Its bytes are no measure: libplist writes
// two equal data values (two colours alike) as one object or as two,
// depending on where its nodes happen to lie in memory.
inline platform::PlistValue archivedContents(const QByteArray &archive)
{
    platform::PlistValue contents;
    platform::PlistReader::read(archive, &contents, nullptr);
    return contents;
}

} // namespace designtest
