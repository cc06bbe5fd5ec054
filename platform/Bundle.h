#pragma once

#include <QString>

namespace platform {

// The application's identity and the folder its resources ship in.
namespace Bundle {
QString name();               // "Kantelo"
QString identifier();         // "com.velmoorsoft.Kantelo3"
QString shortVersionString(); // "3.0.0"
QString version();            // build number
// The folder holding the application's resources: $KANTELO_RESOURCES, else
// <exe>/../share/kantelo, else the build tree's.
QString resourcePath();
// Path of a resource by name and extension, empty when missing.
QString pathForResource(const QString &name, const QString &extension);
} // namespace Bundle

// The application's support folder for its library and saved state:
// $XDG_DATA_HOME/Kantelo (created on demand).
QString applicationSupportFolder();

} // namespace platform
