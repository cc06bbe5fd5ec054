// Property lists come from archives, servers and other programs: every byte
// sequence must read as a value or fail with a reason, and what reads must
// write and read back.
#include "platform/archive/PlistReader.h"
#include "platform/archive/PropertyList.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace platform;
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    Error error;
    const QVariant value = PropertyList::read(bytes, &error);
    if (!value.isValid()) {
        if (error.description.isEmpty())
            __builtin_trap(); // every failure says why
        return 0;
    }
    for (PropertyList::Format format : {PropertyList::Format::Binary, PropertyList::Format::XML}) {
        const QByteArray written = PropertyList::write(value, format, &error);
        if (!written.isEmpty() && !PropertyList::read(written, &error).isValid())
            __builtin_trap(); // what we write we read
    }
    PlistValue tree;
    PlistReader::read(bytes, &tree, &error);
    return 0;
}
