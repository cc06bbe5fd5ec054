#pragma once

#include <QByteArray>

namespace Exiv2 {
class IptcData;
} // namespace Exiv2

namespace platform {

// A picture's IPTC-IIM records as they are written, for the dates and times
// Exiv2 would write back otherwise: a time given without its zone comes
// back with "+0000", an offset nobody gave.
class IptcRecords
{
public:
    // The records of a JPEG's Photoshop resources or a TIFF's IPTC entry;
    // empty when it has none.
    static QByteArray inPicture(const QByteArray &file);
    // Every date and time of `iptc` that Exiv2 would write otherwise than
    // `records` hold it keeps those bytes, as text.
    static void keepDatesAsWritten(Exiv2::IptcData &iptc, const QByteArray &records);
};

} // namespace platform
