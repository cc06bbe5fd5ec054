// CMYK TIFFs are untrusted input: the reader must answer every byte sequence
// with a picture or an error, never a crash or a runaway allocation.
#include "platform/imaging/TiffCmykReader.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    if (!platform::TiffCmykReader::isCmyk(bytes))
        return 0;
    const platform::Result<QImage> image = platform::TiffCmykReader::read(bytes);
    if (!image.ok() && image.error().description.isEmpty())
        __builtin_trap(); // every failure says why
    return 0;
}
