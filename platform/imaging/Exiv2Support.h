#pragma once

// Exiv2 0.27 still declares std::auto_ptr in its headers; keep the
// deprecation noise out of our builds.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

namespace platform {

// Prepares Exiv2 once per process: the XMP toolkit with a lock (its
// initialisation is not thread-safe and batch reads metadata on several
// threads), HEIF/AVIF support, and quiet logging (damaged photos are reported
// as results, not as console noise). Safe to call from any thread, any number
// of times.
void initializeExiv2();

} // namespace platform
