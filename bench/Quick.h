#pragma once

#include <cstring>

namespace bench {

// "--quick": a small size and a single round, so the suite can run every
// benchmark to its result line in seconds; its figures mean nothing. The
// flag is taken out of the arguments, so the rest reads them as before.
inline bool takeQuickFlag(int &argc, char **argv)
{
    bool quick = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    return quick;
}

} // namespace bench
