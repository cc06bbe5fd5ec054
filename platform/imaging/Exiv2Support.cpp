#include "platform/imaging/Exiv2Support.h"

#include <mutex>

namespace platform {

namespace {
std::mutex xmpMutex;

void lockXmp(void *data, bool lock)
{
    auto *m = static_cast<std::mutex *>(data);
    if (lock)
        m->lock();
    else
        m->unlock();
}
} // namespace

void initializeExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(lockXmp, &xmpMutex);
#ifdef EXV_ENABLE_BMFF
        Exiv2::enableBMFF(true);
#endif
    });
}

} // namespace platform
