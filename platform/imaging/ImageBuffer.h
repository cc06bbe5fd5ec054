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

    // While one lives, large buffers that are given back are kept (up to a
    // bound) for the next picture of about their size, already faulted in:
    // a batch decodes a photo of the same size again and again. The kept
    // buffers are freed when the last scope ends. New buffers then go
    // without the huge-page advice: many threads fault theirs in at once.
    class RecyclingScope
    {
    public:
        RecyclingScope();
        ~RecyclingScope();
        RecyclingScope(const RecyclingScope &) = delete;
        RecyclingScope &operator=(const RecyclingScope &) = delete;
    };
    // Bytes held for reuse now (for tests).
    static qint64 recycledBytes();
};

} // namespace platform
