#pragma once

#include <QColorSpace>
#include <QImage>
#include <QRectF>

#include <cstddef>
#include <cstdint>

// Bitmap and geometry helpers of the image object and the photo layer. A
// "bitmap context" is a QImage in Format_ARGB32_Premultiplied (8 bits per
// component, alpha premultiplied, rows from the top); QImage shares its
// pixels, so handing one back is cheap and needs no release by the caller.
namespace VLW_vImage {

// A view of pixel memory: rows of `rowBytes` bytes, `width` 32-bit pixels used.
struct Buffer {
    void *data = nullptr;
    std::size_t height = 0;
    std::size_t width = 0;
    std::size_t rowBytes = 0;
};

inline constexpr std::ptrdiff_t kMemoryAllocationError = -21771;
inline constexpr std::ptrdiff_t kInvalidImageFormatError = -21778;

// Rotation codes: 0 none, 1 = 270 degrees clockwise, 2 = 180, 3 = 90 clockwise.
uint8_t vImageRotationForQuarterTurns(unsigned quarterTurns);
// 3 -> 2, 6 -> 1, 8 -> 3, anything else 0 (mirroring is not a turn).
unsigned quarterTurnsForEXIFOrientation(int orientation);

// Scaling modes and alignments (y grows upwards).
enum ScalingMode { ScaleProportionally = 0, ScaleToFill = 1, ScaleNone = 2 };
enum Alignment {
    AlignCenter = 0,
    AlignTop = 1,
    AlignTopLeft = 2,
    AlignTopRight = 3,
    AlignLeft = 4,
    AlignBottom = 5,
    AlignBottomLeft = 6,
    AlignBottomRight = 7,
    AlignRight = 8
};
QRectF rectForImageSizeInRect(int scalingMode, int alignment, const QRectF &imageRect, const QRectF &container);

// Release callback for memory from VLW_vImageBufferAlloc.
void VLW_vImageFreeBitmapData(void *releaseInfo, void *data);

// A transparent context of width x height (truncated) in the colour space,
// sRGB when none is given.
QImage VLW_vImageCreateBitmapContext(const QColorSpace &colorSpace, double width, double height);
// Describes the context's pixels (no copy); answers 0.
std::ptrdiff_t VLW_vImageBufferFromContext(Buffer *buffer, QImage &context);
// A context over the buffer's memory, which it frees when the last copy of the
// context goes; null (and `error` = kInvalidImageFormatError) when that fails.
QImage VLW_vImageContextFromBuffer(const Buffer &buffer, const QColorSpace &colorSpace, std::ptrdiff_t *error = nullptr);
// Fills the buffer's sizes and allocates page-aligned rows; 0 or kMemoryAllocationError.
std::ptrdiff_t VLW_vImageBufferAlloc(Buffer *buffer, std::size_t height, std::size_t width, unsigned bitsPerPixel);
// Rotated by a rotation code; code 0 answers the very same context.
QImage VLW_vImageRotateContext(const QImage &context, uint8_t rotationCode);
// The buffer's pixels scaled to width x height (truncated) in the reference's colour space.
QImage VLW_vImageScaleBufferToContext(const Buffer &buffer, const QImage &reference, bool highQuality, double width,
                                      double height);
QImage VLW_vImageScaleContext(const QImage &context, bool highQuality, double width, double height);
// The picture drawn into a new context in its own colour space when that is
// an RGB one, else in sRGB.
QImage VLW_vImageCreateRGBContextFromImage(const QImage &image);
// The part `rect` (pixels from the top left) of the context scaled to width x height.
QImage VLW_vImageScaleContextRect(const QImage &context, bool highQuality, const QRectF &rect, double width,
                                  double height);
// Narrows the buffer to the rect (truncated) and answers the byte offset;
// rows keep their full length.
std::size_t VLW_vImageBufferCropToRect(Buffer *buffer, const QRectF &rect);

} // namespace VLW_vImage
