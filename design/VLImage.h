#pragma once

#include "platform/Error.h"
#include "platform/archive/Coding.h"
#include "platform/imaging/ColorFilter.h"
#include "platform/imaging/ImageMetadata.h"

#include <QByteArray>
#include <QColorSpace>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPair>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <memory>
#include <utility>
#include <vector>

class QTemporaryDir;

namespace platform {
class PdfDocument;
class PhotoRows;
}

// The picture object of the design model: a photo, a frame picture, an
// overlay picture or a layer icon. It decodes its picture once, stands it
// upright by its EXIF orientation (all eight), and draws it at any size with a
// user rotation in clockwise quarter turns, a crop, an opacity and a chain of
// colour filters. A screen drawing is cached and reused while size, rotation,
// crop and filters stay the same; exports skip the cache.
//
// Owned by std::shared_ptr. The decoded pixels never change after
// construction, so copies made for rendering share them across threads.
// Keyed archives hold only the file ("filename", "filedata"); the owner
// archives rotation, crop, opacity and filters with its own settings.
class VLImage : public QObject, public platform::Coding
{
    Q_OBJECT

public:
    // Fractions of the width (left, right) or height (top, bottom) cut away.
    struct Crop {
        double left = 0;
        double top = 0;
        double right = 0;
        double bottom = 0;
        bool operator==(const Crop &) const = default;
    };

    // Keys of the archived form.
    static constexpr const char *kFileNameKey = "filename";
    static constexpr const char *kFileDataKey = "filedata";

    ~VLImage() override;

    // While one lives, the calling thread's pictures read from one file, and
    // one picture turned alike, are decoded once: each asking still gets an
    // object of its own (settings, filters, cache), sharing the pixels. A
    // design of many layers showing one frame holds its pictures once.
    class SharedReads
    {
    public:
        SharedReads();
        ~SharedReads();
        SharedReads(const SharedReads &) = delete;
        SharedReads &operator=(const SharedReads &) = delete;
        static SharedReads *current();

    private:
        friend class VLImage;
        struct Read {
            std::shared_ptr<VLImage> image; // none when it could not be had
            platform::Error error;
        };
        QHash<QString, Read> m_files;
        QHash<QPair<qint64, unsigned>, std::shared_ptr<VLImage>> m_turned;
        SharedReads *m_previous;
    };

    // Construction; null where the picture cannot be had. A damaged, truncated
    // or foreign file gives null and, when asked for, a message saying so,
    // its code DecodeError::OutOfMemory where the memory would not hold it.
    static std::shared_ptr<VLImage> initWithContentsOfFile(const QString &path, bool saveMetadata = false,
                                                           platform::Error *error = nullptr);
    // "The picture “%1” could not be opened."
    static QString couldNotOpenMessage(const QString &fileName, const QString &reason);
    // The reason for a picture no decoder could read, with the decoder's own when it gave one.
    static QString damagedReason(const QString &why = QString());
    // The reason for a picture that did not decode: a kind not read here
    // (platform::DecodeError::KindNotRead) names itself.
    static QString unreadReason(const platform::Error &decodeError);
    static std::shared_ptr<VLImage> initWithPDF(const QString &path);
    static std::shared_ptr<VLImage> initWithPDFDocument(std::shared_ptr<platform::PdfDocument> document);
    // Never null: a null picture gives an empty object (no bitmap, size zero).
    static std::shared_ptr<VLImage> initWithNSImage(const QImage &image, unsigned rotate);
    // Null when the file at `url` cannot be read as a picture; its metadata is
    // always kept (`known`, when the caller read it with the picture), its
    // bytes are not.
    static std::shared_ptr<VLImage> initWithCGImage(const QImage &image, const QUrl &originatedFrom, unsigned rotate,
                                                    const platform::ImageMetadata &known = {});
    static std::shared_ptr<VLImage> initWithBitmapContext(const QImage &bitmap);
    // From the archived file name and bytes; null when either is missing or
    // the bytes are no picture. The picture decodes from memory; a copy of the
    // file stays in a private temporary folder (under a safe name) for the
    // object's lifetime and is removed with it.
    static std::shared_ptr<VLImage> initWithCoder(const QVariantMap &archive);
    // The archived form: "filename" then "filedata"; empty (and logged) when
    // the object has no file bytes or no name.
    std::vector<std::pair<QString, QVariant>> encodeWithCoder() const;

    // Keyed archiving. An image decoded from an archive that lacks its file
    // name or bytes, or whose bytes are no picture, has no picture
    // (hasPicture() false): its owner takes it as none.
    QStringList archiveClassNames() const override;
    void encode(platform::KeyedArchiver &coder) const override;
    void decode(platform::KeyedUnarchiver &coder) override;
    // Makes "VLImage" known to keyed unarchivers (once; any thread).
    static void registerArchiveClass();
    bool hasPicture() const { return !m_bitmap.isNull() || m_pdf != nullptr; }

    // A new object turned by quarter turns; shares no cache, no settings.
    std::shared_ptr<VLImage> imageRotatedBy(unsigned quarterTurns) const;
    // A PDF page as the photo of a design: a picture drawn once, on white as
    // a viewer shows its paper, at kPhotoDpi (less where the memory check
    // allows no more), that resolution in its metadata, with this object's
    // file and metadata. Null, with the reason, when it can't be drawn.
    static constexpr double kPhotoDpi = 300;
    std::shared_ptr<VLImage> pageAsPhoto(platform::Error *error = nullptr) const;
    // A copy for export: the same picture (shared, read-only), settings and
    // filters (copied), and an empty cache.
    std::shared_ptr<VLImage> copyForRendering() const;

    // Drawing into the current drawing context (y-up rects).
    void drawInRect(const QRectF &rect, bool skipCache);
    // While one lives, the calling thread's drawings that skip the cache keep
    // the pictures they prepare (turned, filtered, scaled) and use them again:
    // a design drawn a band of rows at a time prepares each picture once.
    class PreparedCopies
    {
    public:
        PreparedCopies();
        ~PreparedCopies();
        PreparedCopies(const PreparedCopies &) = delete;
        PreparedCopies &operator=(const PreparedCopies &) = delete;
        static PreparedCopies *current();
        QImage find(const QByteArray &key) const { return m_copies.value(key); }
        void keep(const QByteArray &key, const QImage &image) { m_copies.insert(key, image); }

    private:
        QHash<QByteArray, QImage> m_copies;
        PreparedCopies *m_previous;
    };
    void drawCachedInRect(const QRectF &rect);
    // The rendering for `rect` at device resolution; null when the cache is
    // still valid for it (only when not skipping the cache).
    QImage newContextToDrawInRect(const QRectF &rect, bool skipCache);
    void drawImage(const QImage &context, const QRectF &rect, bool skipCache);
    void drawCGLayerInRect(const QRectF &rect);
    // A rendering of this picture matched from its colour space to the one
    // the current drawing context draws in.
    QImage matchedToCurrentContext(QImage picture) const;
    QSizeF scaleSize(const QSizeF &size) const;
    QImage newBitmapContextFromPDFOfSize(const QSizeF &size, unsigned rotation);
    // `rect` in pixels of originalSize, origin bottom left.
    QImage newCGImageOfSize(const QSizeF &size, const QRectF &fromRect);
    // The picture with its longer side `side`, drawn through the cache.
    QImage nsimageWithSide(double side);
    QImage debugQuickLookObject();
    QString debugDescription() const;

    // Geometry and crop.
    QSizeF originalSize() const { return m_originalSize; }
    void setOriginalSize(const QSizeF &size) { m_originalSize = size; }
    QSizeF rotatedOriginalSize() const;
    int PDFRotationDegrees() const { return m_PDFRotationDegrees; }
    void setPDFRotationDegrees(int degrees);
    Crop crop() const { return m_crop; }
    void setCrop(const Crop &crop) { m_crop = crop; }
    void updateCropWithPercentageLeft(double left, double top, double right, double bottom);
    QSizeF croppedSizeFromSize(const QSizeF &size) const;
    QColorSpace copyColorSpaceForExport() const;

    // Filter chain; the filter added last is applied first.
    std::shared_ptr<platform::ColorFilter> getFilter(const QString &name) const;
    std::shared_ptr<platform::ColorFilter> addFilter(const QString &name);
    void setValue(const QVariant &value, const QString &key, const QString &filterName);
    void removeFilter(const QString &name);
    const platform::ColorFilter::Chain &filters() const { return m_filters; }
    bool filtersDirty() const { return m_filtersDirty; }

    // Fields.
    double opacity() const { return m_opacity; }
    // Every pixel it draws is opaque: a JPEG decoded as drawn, unfiltered, at full opacity.
    bool drawsOpaque() const { return !m_isPDF && m_filters.empty() && m_opacity >= 1.0 && rowsAsDrawn(); }
    void setOpacity(double opacity) { m_opacity = opacity; }
    QColorSpace colorSpace() const { return m_colorSpace; }
    platform::ImageMetadata metadata() const { return m_metadata; }
    void setMetadata(const platform::ImageMetadata &metadata) { m_metadata = metadata; }
    unsigned rotation() const { return m_rotation; }
    void setRotation(unsigned rotation) { m_rotation = rotation; }
    QString originalImageFilePath() const { return m_originalImageFilePath; }
    void setOriginalImageFilePath(const QString &path) { m_originalImageFilePath = path; }
    QString originalImageFileName() const { return m_originalImageFileName; }
    void setOriginalImageFileName(const QString &name) { m_originalImageFileName = name; }
    QByteArray originalImageFileData() const { return m_originalImageFileData; }
    void setOriginalImageFileData(const QByteArray &data) { m_originalImageFileData = data; }
    // The decoded picture, upright, Format_ARGB32_Premultiplied; null for a PDF.
    QImage bitmapCtx() const;
    // The decoder of a picture decoded as it is drawn; null for any other.
    std::shared_ptr<platform::PhotoRows> rowsAsDrawn() const;
    bool isPDF() const { return m_isPDF; }
    std::shared_ptr<platform::PdfDocument> pdfDocument() const { return m_pdf; }
    // The cached screen drawing; null when none was made yet.
    QImage cachedLayer() const { return m_cache; }
    // How many renderings were made (for tests of the cache).
    int renderCount() const { return m_renderCount; }

    // The file entries added to a picture's metadata.
    static platform::ImageMetadata expandImageMetadata(const platform::ImageMetadata &properties, const QString &path);

signals:
    void cropChanged();

private:
    VLImage();
    void initCommon();
    static std::shared_ptr<VLImage> readContentsOfFile(const QString &path, bool saveMetadata, platform::Error *error);
    // Draws the picture straight from its pixels when the rect takes it at
    // its own size or larger; false (nothing drawn) otherwise.
    bool drawUnscaledInRect(const QRectF &rect);
    void buildFromCGImage(const QImage &image, unsigned turns);
    // The error's description says why in words that follow "could not be opened."
    bool loadFromData(const QByteArray &data, bool keepMetadata, const QString &pathForEntries,
                      platform::Error *error = nullptr);
    bool loadArchived(const QString &archivedName, const QByteArray &data);

    platform::ColorFilter::Chain m_filters;
    bool m_filtersDirty = false;
    unsigned m_lastRotation = ~0u;
    QSizeF m_lastSize;
    Crop m_lastCrop;
    QImage m_cache;
    std::shared_ptr<platform::PdfDocument> m_pdf;
    bool m_isPDF = false;
    int m_PDFRotationDegrees = 0;
    double m_opacity = 1.0;
    QColorSpace m_colorSpace;
    platform::ImageMetadata m_metadata;
    unsigned m_rotation = 0;
    QString m_originalImageFilePath;
    QImage m_bitmap;
    QString m_originalImageFileName;
    QByteArray m_originalImageFileData;
    QSizeF m_originalSize;
    Crop m_crop;
    std::shared_ptr<QTemporaryDir> m_temporaryFolder;
    int m_renderCount = 0;
};
