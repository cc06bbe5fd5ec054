#pragma once

#include <QString>

namespace platform {

// What the original read from its application bundle.
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

// The folders the original kept under Application Support, here
// $XDG_DATA_HOME/Kantelo (created on demand).
QString applicationSupportFolder();

} // namespace platform
