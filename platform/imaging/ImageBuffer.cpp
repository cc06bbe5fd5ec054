#include "platform/imaging/ImageBuffer.h"

#include <cstdlib>
#include <sys/mman.h>

namespace platform {

namespace {
constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kLargeBuffer = std::size_t(16) << 20;
} // namespace

QImage ImageBuffer::allocate(int width, int height, QImage::Format format)
{
    if (width <= 0 || height <= 0)
        return {};
    const std::size_t rowBytes = std::size_t(width) * 4;
    const std::size_t bytes = rowBytes * std::size_t(height);
    if (bytes / std::size_t(height) != rowBytes || rowBytes > std::size_t(INT_MAX))
        return {};
    if (bytes < kLargeBuffer)
        return QImage(width, height, format);
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void *memory = std::aligned_alloc(kHugePage, rounded);
    if (!memory)
        return {};
#ifdef MADV_HUGEPAGE
    madvise(memory, rounded, MADV_HUGEPAGE);
#endif
    return QImage(static_cast<uchar *>(memory), width, height, qsizetype(rowBytes), format,
                  [](void *p) { std::free(p); }, memory);
}

} // namespace platform
