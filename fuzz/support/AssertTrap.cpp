// Fuzz targets stop at the first failed assertion: in a reader it is a bug.
#include "platform/Assert.h"

#include <cstdio>

namespace platform {

void raiseAssertion(const char *function, const QString &text)
{
    std::fprintf(stderr, "Assertion failure in %s: %s\n", function, text.toLocal8Bit().constData());
    __builtin_trap();
}

} // namespace platform
