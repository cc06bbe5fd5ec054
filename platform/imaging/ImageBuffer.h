#pragma once

#include <QImage>

namespace platform {

// Pixel buffers for large pictures. A fresh 100 MB buffer costs tens of
// thousands of page faults as it is first written, which can take longer than
// decoding into it; large buffers are therefore aligned to, and backed by,
// huge pages where the system offers them.
class ImageBuffer
{
public:
    // An uninitialised picture of that size and 32-bit format; null when
    // memory is short.
    static QImage allocate(int width, int height, QImage::Format format = QImage::Format_ARGB32_Premultiplied);
};

} // namespace platform
