#pragma once

#include <QImage>

#include <cstddef>

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

    // While one lives, large buffers (from half the usual size) that are
    // given back are kept (up to a bound) for the next picture of about
    // their size, already faulted in:
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

    // Pages for address space a picture manages itself (PhotoRows), in
    // blocks of kPageBlock bytes at addresses aligned to it. While a
    // RecyclingScope lives, a block given back is moved (its page tables,
    // not its bytes) to where one is wanted next: no fresh memory for the
    // kernel to fault in and zero. The kept blocks go with the last scope.
    static constexpr std::size_t kPageBlock = std::size_t(2) << 20;
    // Moves a kept block's pages, with whatever they hold, to `at`; false
    // when none is kept or they could not be moved.
    static bool takePages(void *at);
    // Moves the block's pages at `at` out to be kept, leaving `at` reading
    // zero; false when they cannot be kept (they stay where they are).
    static bool keepPages(void *at);
    // Bytes of pages kept now (for tests).
    static qint64 keptPageBytes();
};

} // namespace platform
