#pragma once

#include <QIcon>

// The program's icon, for its windows: the one the desktop's icon theme
// holds under kName, else the sizes drawn at build time beside the resources
// (<prefix>/share/icons/hicolor).
namespace KTApplicationIcon {
inline constexpr const char *kName = "com.velmoorsoft.Kantelo";
QIcon icon();
} // namespace KTApplicationIcon
