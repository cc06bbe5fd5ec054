// The metadata of every picture opened: Exiv2's parsers and our own readers
// of the formats' densities (JFIF, PNG pHYs, Photoshop resolution).
#include "platform/imaging/ImageMetadata.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const platform::ImageMetadata metadata = platform::ImageMetadata::fromData(bytes);
    metadata.orientation();
    metadata.dpiWidth();
    metadata.dpiHeight();
    return 0;
}
