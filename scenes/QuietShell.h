#pragma once

#include "stores/AppDelegateServices.h"

namespace scenes {

// The application shell as a store sees it, doing nothing: no first-run
// import, no templates to bring in, a damaged store never moved aside.
struct QuietShell : AppDelegateServices {
    void importInitialFrames() override {}
    void setNeedToImportInitialTemplates(bool) override {}
    bool shouldMoveDamagedStoreAside(const QString &, const platform::Error &) override { return false; }
};

} // namespace scenes
