// Old-style archives from untrusted bytes: a value or an error, never a
// crash; a value read must archive and read again.
#include "platform/archive/Archiver.h"
#include "platform/archive/Unarchiver.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto result = platform::Unarchiver::unarchiveObjectWithData(bytes);
    if (!result.ok())
        return 0;
    const QByteArray again = platform::Archiver::archivedDataWithRootObject(result.object);
    if (!platform::Unarchiver::unarchiveObjectWithData(again).ok())
        __builtin_trap();
    return 0;
}
