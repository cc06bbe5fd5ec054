// A second start hands its files to the running instance over a local
// socket; any process of the user can write there.
#include "platform/ui/SingleInstance.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    bool ok = false;
    const QStringList paths = platform::SingleInstance::decodeMessage(bytes, &ok);
    if (ok) {
        bool again = false;
        if (platform::SingleInstance::decodeMessage(platform::SingleInstance::encodeMessage(paths), &again) != paths
            || !again)
            __builtin_trap(); // a message read is one we could have sent
    }
    const platform::Handoff::Request request = platform::Handoff::decodeRequest(bytes, &ok);
    if (ok) {
        bool again = false;
        if (platform::Handoff::decodeRequest(platform::Handoff::encodeRequest(request), &again) != request || !again)
            __builtin_trap();
    }
    return 0;
}
