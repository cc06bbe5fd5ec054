#pragma once

#include "design/KTExportSizeSettings.h"
#include "design/KTTemplate.h"

#include <QColorSpace>
#include <QImage>
#include <QRectF>
#include <QSizeF>

#include <optional>

// The drawing side of a design: the geometry of the framed design, drawing
// it layer by layer into the current drawing context, its icons, and the
// export of a rendered picture as an encoded file. KTTemplate forwards its
// geometry, drawing and export calls here; the design stays the owner of
// every state these read and set (isDrawing, exportMode, onlyHQLayer).
class KTTemplateRenderer
{
public:
    using LayerPtr = KTTemplate::LayerPtr;
    using ProgressCancelBlock = KTTemplate::ProgressCancelBlock;
    using ProgressBlock = KTTemplate::ProgressBlock;
    using CancelBlock = KTTemplate::CancelBlock;
    using DataProvidedImage = KTTemplate::DataProvidedImage;

    static constexpr const char *kMemoryAllocationErrorText = "Memory allocation error";
    static constexpr const char *kCouldNotAllocateText = "Couldn't allocate %1 bytes";
    static constexpr const char *kPhotoUnreadableText = "The photo's pixels could not be read: it is damaged.";
    static constexpr const char *kBitmapContextNullText = "Bitmap context of size %1 returned NULL";

    static bool isUsableSize(double w, double h);
    static bool isUsableRect(const QRectF &r);

    // --- geometry (y-up) ---
    static QRectF finalRectFromStartRect(const KTTemplate &d, const QRectF &rect, bool withOuterShadow);
    static QRectF finalRectFromStartRectForIcon(const KTTemplate &d, const QRectF &rect);
    static QRectF finalFramedRectFittingStartRect(const KTTemplate &d, const QRectF &rect);
    static QSizeF originalImageSize(const KTTemplate &d);
    static QSizeF sizeOfPreFramedImage(const KTTemplate &d);
    static double preCroppedAspectRatio(const KTTemplate &d);
    static QSizeF sizeOfPreFramedImageForWidth(const KTTemplate &d, double width);
    static QSizeF sizeFromOriginalWithOuterShadow(const KTTemplate &d, bool withOuterShadow);
    // A size in whole pixels: each side to the nearest whole number, halves
    // away from zero, at least 1; empty for a size without area. The one
    // rule every framed size shown or written follows.
    static QSize wholePixelSize(const QSizeF &size);
    static void cropToFitToLockedAspectRatio(KTTemplate &d);

    // --- drawing ---
    static void drawToRect(KTTemplate &d, const QRectF &rect, bool highQuality, bool skipCache,
                           const ProgressCancelBlock &progressCancel, bool withOuterShadow);
    static void drawIconToRect(KTTemplate &d, const QRectF &rect);
    static QImage iconOfSize(KTTemplate &d, const QSizeF &size, bool withImageLayer);

    // --- export ---
    static QSizeF exportSizeFromPreferencesWithLastDrawnSize(const KTTemplate &d, const QSizeF &lastDrawnSize,
                                                             const KTExportSizeSettings &settings);
    static QColorSpace colorSpace(const KTTemplate &d);
    static QColorSpace copyColorSpaceForOutput(const KTTemplate &d);
    static QImage newCGBitmapContextOfSize(KTTemplate &d, const QSizeF &size, const ProgressCancelBlock &progressCancel,
                                           platform::Error *error);
    static DataProvidedImage newDataProvidedCGImageOfSize(KTTemplate &d, const QSizeF &size,
                                                          const ProgressBlock &progress, const CancelBlock &cancel,
                                                          platform::Error *error);
    static QImage imageWithSize(KTTemplate &d, const QSizeF &size);
    static platform::ExportMetadata prepareMetadataForExport(const KTTemplate &d, const QSize &pixelSize);
    static std::optional<QByteArray> newDataOfUti(const KTTemplate &d, const QString &uti,
                                                  const DataProvidedImage &image, platform::Error *error);
    static bool writeToURL(const KTTemplate &d, const QUrl &url, const QString &uti, const DataProvidedImage &image,
                           platform::Error *error);
    static QString reasonNotToDraw(const KTTemplate &d, const QSize &size, bool inBands);
    static bool writeInBandsToURL(KTTemplate &d, const QUrl &url, const QString &uti, const QSizeF &size,
                                  const ProgressBlock &progress, const CancelBlock &cancel, platform::Error *error,
                                  int bandRows = 0);
    // Rows [first, first + band.height()) of the design rendered at `size`
    // whole pixels into `band` (premultiplied ARGB32, its width that of the
    // picture), as newCGBitmapContextOfSize would make them. Answers the
    // band's pixels that are opaque for sure: where the photo covers them and
    // nothing drawn over it could lower their alpha.
    static QRect drawBandOfSize(KTTemplate &d, const QSize &size, int first, QImage &band,
                                const ProgressCancelBlock &progressCancel);
    // The canvas pixels (y down) of a drawing at `size` that the photo, the
    // layer drawn first, covers with opaque pixels whatever lies under them;
    // empty when it may not.
    static QRect opaquePhotoPixels(const KTTemplate &d, const QSize &size);
    static std::optional<QSize> leastPhotoSizeShown(const KTTemplate &d);

private:
    // The whole-pixel size of a picture of `size`; nothing (and the error)
    // when no picture of it can be made.
    static std::optional<QSize> pixelSizeFor(const QSizeF &size, platform::Error *error);
    static void setMemoryError(qint64 bytes, platform::Error *error);
    // Photo rect inside `rect` such that the framed design fits and is centred.
    static QRectF fittedImageRect(const KTTemplate &d, const QRectF &rect, bool icon, bool withOuterShadow);
    // The photo rect of an export at the framed photo's own size in whole
    // pixels: the photo at its own pixels, on whole ones; nothing at any
    // other size.
    static std::optional<QRectF> photoAtItsOwnPixels(const KTTemplate &d, const QRectF &rect, bool withOuterShadow);
    static LayerPtr deselectFirstSelectedLayer(KTTemplate &d);
    // How far in from its edges the layers cover a photo of `photo` pixels
    // framed at its own size; nothing when they cover all of it. `framed`:
    // whether the picture is larger than the photo.
    static std::optional<int> coveredDepth(const KTTemplate &d, const QSize &photo, bool *framed);
};
