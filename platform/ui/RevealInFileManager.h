#pragma once

#include <QUrl>

namespace platform {

// Selects the file in the desktop's file manager, else opens its folder.
// Returns at once: the file manager is asked without waiting for it.
void revealInFileManager(const QUrl &file);

} // namespace platform
