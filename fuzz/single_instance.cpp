// A second start hands its files to the running instance over a local
// socket; any process of the user can write there.
#include "platform/ui/SingleInstance.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto paths = platform::SingleInstance::decodeMessage(bytes);
    if (paths) {
        const auto again = platform::SingleInstance::decodeMessage(platform::SingleInstance::encodeMessage(paths.value()));
        if (!again || again.value() != paths.value())
            __builtin_trap(); // a message read is one we could have sent
    }
    const auto request = platform::Handoff::decodeRequest(bytes);
    if (request) {
        const auto again = platform::Handoff::decodeRequest(platform::Handoff::encodeRequest(request.value()));
        if (!again || again.value() != request.value())
            __builtin_trap();
    }
    return 0;
}
