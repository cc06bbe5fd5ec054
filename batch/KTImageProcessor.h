#pragma once

#include "design/KTDesignStores.h"
#include "platform/Error.h"
#include "platform/imaging/ImageMetadata.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class KTBatchProcessingOptions;
class KTImageScaling;
class KTTemplate;

// The work of a batch for one picture at a time, without any window: load
// the photo, put the batch design round it, render at the output size and
// write the file. Calls are self-contained and run in parallel, one file per
// thread: each renders on its own thread alone. JPEG is drawn and encoded a
// band of rows at a time; other types into a whole canvas the thread reuses
// for its next file.
class KTImageProcessor
{
public:
    using CancelCheck = std::function<bool()>;

    static constexpr const char *kRenderFailedFormat = "Failed to render the template %1 into an image of size %2";
    static constexpr const char *kDamagedPhotoAdvice =
        "Choose another photo, or save this one again from the program that made it.";
    // A canvas larger than this is given back after its file instead of kept for the next.
    static constexpr qint64 kKeptCanvasBytes = qint64(160) << 20;

    // The design of a run, decoded from its template archive on the main
    // thread (frame layers find their frames in the stores' library) and
    // waited for from any other. None for data that are no design.
    static std::shared_ptr<KTTemplate> resolveDesign(const QByteArray &templateData, const KTDesignStores &stores);
    // Why no photo can be framed with the design (no layers at all, frames
    // or pictures it lacks), or empty when one can.
    static QString refusalOfDesign(const KTTemplate &design);

    // A photo read and decoded at its full size on a pool thread, begun
    // while the caller gets its design ready.
    class PhotoRead;
    static std::shared_ptr<PhotoRead> startReading(const QUrl &input);

    // What one file becomes.
    struct Output {
        QString path; // replaced atomically
        QString uti;
        double quality = 0.9;
        // None keeps the photo's own resolution.
        std::optional<double> dpi;
        // None: the framed size of the photo.
        std::shared_ptr<const KTImageScaling> scaling;
        // The input begun by startReading: taken when the output follows
        // the photo's size, else the photo is read again as needed.
        std::shared_ptr<PhotoRead> read;
    };

    // One file with a design resolved beforehand (shared read-only by all
    // files of the run) into `outputPath`, replaced atomically. False with
    // the reason in `error`; nothing is written then, nor when `cancelled`
    // answers true on the way. The file is drawn on the calling thread alone
    // (inside a SerialRowsScope given a flag, while the flag holds).
    static bool processImage(const QUrl &input, const KTBatchProcessingOptions &options,
                             const std::shared_ptr<const KTTemplate> &design, const QString &outputPath,
                             platform::Error *error = nullptr, const CancelCheck &cancelled = {});
    // The same for an output of its own; drawn by as many threads as the
    // row helpers give it. A design missing frames (or their pictures)
    // writes nothing.
    static bool processImage(const QUrl &input, const std::shared_ptr<const KTTemplate> &design, const Output &output,
                             platform::Error *error = nullptr, const CancelCheck &cancelled = {});
    // The same, resolving the options' design itself and naming the output
    // in `destinationDirectory`. The input itself is never written over.
    static bool processImageAtURL(const QUrl &input, const KTBatchProcessingOptions &options,
                                  const QUrl &destinationDirectory, platform::Error *error = nullptr);

    // The design applied to a reduced copy of the photo, its longer side at
    // most `maxSide`; null when the file can't be read or there is no design.
    static QImage thumbnailForImageAtURL(const QUrl &url, const std::shared_ptr<const KTTemplate> &design, int maxSide);

    // The picture's size as shown (sides swapped for orientations 5 to 8);
    // empty when the file can't be read.
    static QSize sizeOfImageAtURL(const QUrl &url);
    // The EXIF orientation 1-8 of the picture; 1 without one.
    static int proposedOrientationForImageSource(const platform::ImageMetadata &metadata);

    // What the file of `outputSize` pixels needs decoded of a photo
    // `storedSize` (as stored, orientation `orientation`) whose crop keeps
    // the fractions given: at least the pixels the render draws; empty for all.
    static QSize decodeSizeFor(const QSize &storedSize, int orientation, const QSizeF &keptFraction,
                               const QSize &outputSize, bool sizeFollowsPhoto);
};
