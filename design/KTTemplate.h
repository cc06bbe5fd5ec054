#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include "platform/Error.h"
#include "platform/FileWrapper.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/archive/Coding.h"
#include "platform/imaging/ImageMetadata.h"

#include <QColorSpace>

#include <functional>
#include <memory>
#include <optional>

struct KTExportSizeSettings;
class KTLayer;
class KTImageLayer;
class KTFrameLayer;
class KTProgressReportingDataProvider;
class VLImage;
class VLImageMetadataManager;
class Variation;
namespace platform {
class Debouncer;
class ManagedObjectContext;
}

// The design: an ordered list of layers (index 0 the outermost, the last the
// photo's image layer) plus the settings of the design as a whole. It
// announces every change through the notification centre: "modelChanged"
// (the list or a design setting changed) and "layerChanged" (a layer
// changed). Without user info they count an edit; forceRedraw posts
// "layerChanged" with an empty map, which only redraws.
//
// Geometry is y-up (origin lower left). Drawing goes into the current
// platform::DrawingContext of the calling thread.
//
// A design is used by one thread at a time. Exports and batch runs draw a
// copyForRendering(), never the design the screen draws.
//
// The template archive is a keyed archive whose root, under "template", is
// the design with its settings and its layers, each layer by its own class.
class KTTemplate : public QObject, public std::enable_shared_from_this<KTTemplate>, public platform::Coding
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName)
    Q_PROPERTY(bool drawShadows READ drawShadows WRITE setDrawShadows)
    Q_PROPERTY(double shadowAngle READ shadowAngle WRITE setShadowAngle)
    Q_PROPERTY(double shadowOffset READ shadowOffset WRITE setShadowOffset)
    Q_PROPERTY(bool exportExternalShadow READ exportExternalShadow WRITE setExportExternalShadow)
    Q_PROPERTY(bool isLockedAspectRatio READ isLockedAspectRatio WRITE setIsLockedAspectRatio)
    Q_PROPERTY(double lockedAspectRatio READ lockedAspectRatio WRITE setLockedAspectRatio)
    Q_PROPERTY(double realWidth READ realWidth WRITE setRealWidth)
    Q_PROPERTY(QString framedSizeString READ framedSizeString NOTIFY framedSizeStringChanged)

public:
    using LayerPtr = std::shared_ptr<KTLayer>;
    using LayerList = QList<LayerPtr>;
    // Layers done, layers in the design; answers true to stop the drawing.
    using ProgressCancelBlock = std::function<bool(unsigned done, unsigned total)>;
    using LengthFormatter = std::function<QString(double)>;

    static constexpr const char *kModelChangedNotification = "modelChanged";
    static constexpr const char *kLayerChangedNotification = "layerChanged";
    static constexpr const char *kDefaultName = "Kantelo Design Template";
    static constexpr const char *kImageLayerName = "imageLayer";
    static constexpr const char *kImageLayerControlNibName = "ImageLayerControl";
    static constexpr double kForcedRedrawDelay = 0.06;

    // Names kept here for callers; KTTemplatePackage and KTTemplateRenderer hold the rest.
    static constexpr const char *kTemplateArchiveKey = "template";
    static constexpr const char *kPackageExtension = "KTTemplate";
    static constexpr const char *kImageEntry = "Image";
    static constexpr const char *kExportSizeModificationKey = "ExportSizeModification";
    static constexpr const char *kImageWatermarkLayerClassName = "KTImageWatermarkLayer";
    static constexpr const char *kTextWatermarkLayerClassName = "KTTextWatermarkLayer";
    // Why a design is not drawn: its name, then the names of the frames.
    static constexpr const char *kFramesMissingFormat = "The design '%1' uses frames missing from the library: %2";
    static constexpr const char *kFramesLackMemoryFormat =
        "The design '%1' needs more memory for the pictures of its frames than Kantelo can have now: %2";
    // What a design may hold, far beyond any made by hand; a design read
    // with more is refused: a layer list this long, or a shadow falling
    // farther from its layer than that layer's shorter side times this.
    // The window adds no layer past kMaxLayers, and the user's own archives
    // (templateFromData) read back whatever number of layers they hold.
    static constexpr qsizetype kMaxLayers = 1000;
    static constexpr double kMaxShadowReach = 1.0;
    // What a design may draw into one picture, checked before a photo is
    // framed with it: its texts, once their placeholders are filled from
    // the photo, in characters and line breaks; the area its layers' shadows
    // are worked out over, in pictures' worth; the memory the drawing needs
    // against what the process can have.
    static constexpr qsizetype kMaxDrawnTextLength = 200000;
    static constexpr qsizetype kMaxDrawnTextLines = 100000;
    static constexpr double kMaxShadowedArea = 64;
    // Why a design is not drawn into a photo's picture: its name, the photo's, then reasonNotToDraw.
    static constexpr const char *kNotDrawnFormat = "The design '%1' can't frame \u201c%2\u201d: %3";
    // Why a design with no layers frames nothing: its name.
    static constexpr const char *kEmptyDesignFormat = "The design '%1' holds no layers to frame the photo with";
    // Its name, then the names of the pictures.
    static constexpr const char *kPicturesMissingFormat = "The design '%1' uses pictures it does not hold: %2";
    static constexpr const char *kPicturesUnreadFormat =
        "The design '%1' carries pictures that are damaged or of a kind that is not read (pictures made of pixels, "
        "such as JPEG, PNG or TIFF, are read; drawings such as SVG never are): %2";
    // A photo its frames would hide: its name, its size, the least size shown.
    static constexpr const char *kPhotoTooSmallFormat =
        "The picture “%1” is %2 × %3 pixels, too small for the frames round it to show: they need a photo of at "
        "least %4 × %5 pixels";

    KTTemplate();
    ~KTTemplate() override;

    // --- archive ---
    // "drawShadows", "exportExternalShadow", "shadowAngle" and "shadowOffset"
    // (32-bit floats), "layers" (a mutable array, outermost first), "name".
    QStringList archiveClassNames() const override;
    void encode(platform::KeyedArchiver &coder) const override;
    // Refuses (failWithError) a layer list that has a photo layer anywhere
    // but last, or more than one: such a design could not be drawn; and one
    // beyond kMaxLayers or kMaxShadowReach.
    void decode(platform::KeyedUnarchiver &coder) override;
    static void registerArchiveClass();
    // The template archive of this design. Safe on any thread that owns the design.
    QByteArray dataForArchiving() const;
    // A new design read from a template archive, with a new, empty metadata
    // manager; none for empty data or data that is no sound template archive
    // (the reason goes to `error` when given, and to the log). Its frame
    // layers find their frames in `library`, the frame library's main
    // context; without one every frame counts as missing. The data is an
    // archive this program wrote (the store's, a batch's):
    // a design read from a file goes through templateFromFileWrapper.
    static std::shared_ptr<KTTemplate> templateFromData(const QByteArray &data, platform::ManagedObjectContext *library,
                                                        platform::Error *error = nullptr);

    // --- template package (a folder ending in "KTTemplate") ---
    // A design rebuilt from a stored one, with its name and its GUID (as
    // variationGUID); none when the Variation is missing, has no data or its
    // data is no sound template archive (`error` then says why, when given).
    static std::shared_ptr<KTTemplate> templateFromVariation(const Variation *variation,
                                                             platform::ManagedObjectContext *library,
                                                             platform::Error *error = nullptr);
    // The package: "Template"; "Image" with a copy of the photo's file when
    // `withImage` and that file still exists; "Keywords" when there are tag
    // names; "GUID" when given; "QuickLook" with the 512 x 512 previews.
    platform::FileWrapper fileWrapperWithImageLayer(bool withImage, const QStringList &tagNames, const QString &guid);
    // Writes the package atomically; a failure is shown in an alert and answers false.
    bool saveToURL(const QUrl &url, const QStringList &tagNames, const QString &guid, bool withImage);
    // A design from a package (or a plain file holding only a template
    // archive), its GUID as variationGUID. `tagNames` receives the package's
    // keywords when it has readable ones and is left alone otherwise. The
    // file may come from anyone: its overlays draw only the pictures it
    // carries, never a file it names by path. Why none came goes to `error`
    // when given.
    static std::shared_ptr<KTTemplate> templateFromFileWrapper(const platform::FileWrapper &wrapper,
                                                               platform::ManagedObjectContext *library,
                                                               QStringList *tagNames = nullptr,
                                                               platform::Error *error = nullptr);
    // Reads the item at the URL at once and completely; none (and a log
    // line) when it can't be read.
    static std::optional<platform::FileWrapper> fileWrapperForURL(const QUrl &url);
    static bool isTemplateAtURL(const QUrl &url);
    // The photo a package was saved with: the first file in its "Image"
    // folder, read in place; empty when there is none.
    static QString imageFilePathInPackage(const QUrl &url);
    // Adds each readable package as a Variation with its keywords as Tags,
    // skipping packages whose GUID the context already holds; a design named
    // as one held already is added as "Name 2" (3, ...). `moc` is the saved
    // designs' context, `library` the frame library's; neither is saved here.
    // Answers how many Variations were added; `guids` gets the GUIDs of those
    // added and of those found held already.
    static int importTemplatesFromURLs(const QList<QUrl> &urls, platform::ManagedObjectContext *moc,
                                       platform::ManagedObjectContext *library, QStringList *guids = nullptr);

    // --- layer list (index 0 outermost) ---
    const LayerList &layers() const { return m_layers; }
    LayerPtr layerAtIndex(qsizetype index) const;
    LayerPtr topmostLayer() const;
    std::shared_ptr<KTImageLayer> imageLayer() const;
    std::shared_ptr<KTFrameLayer> topmostFrameLayer() const;
    LayerPtr layerAtHitPoint(const QPointF &point) const;
    qsizetype indexOfLayer(const KTLayer *layer) const;

    void insertLayer(const LayerPtr &layer, qsizetype index);
    void addLayer(const LayerPtr &layer, const LayerPtr &above);
    void addTopmostLayer(const LayerPtr &layer);
    void addTopmostFrameLayer(const LayerPtr &layer);
    void removeLayer(const LayerPtr &layer);
    void moveLayer(const LayerPtr &layer, const LayerPtr &above);
    void replaceLayer(const LayerPtr &oldLayer, const LayerPtr &newLayer);
    // Takes over the other design's layers (not copies) around this photo.
    void replaceDesignWith(const std::shared_ptr<KTTemplate> &other);
    // From the photo (last) to index 0, on a snapshot; stops at the first false.
    void doFromInnerLayer(const std::function<bool(const LayerPtr &)> &block) const;

    // --- photo ---
    // `decoded`, when given, is the photo of `fileUrl` read already.
    bool importImage(const QUrl &fileUrl, std::shared_ptr<VLImage> decoded = nullptr);
    // `metadata`, when given, is the photo's, read with it.
    bool importCGImage(const QImage &image, const QUrl &originatedFrom, const platform::ImageMetadata &metadata = {});
    bool replaceExistingImageLayerWith(const std::shared_ptr<KTImageLayer> &layer);

    // --- settings ---
    QString name() const { return m_name; }
    void setName(const QString &name);
    bool drawShadows() const { return m_drawShadows; }
    void setDrawShadows(bool draw);
    double shadowAngle() const { return m_shadowAngle; }
    void setShadowAngle(double degrees);
    double shadowOffset() const { return m_shadowOffset; }
    void setShadowOffset(double offset);
    bool exportExternalShadow() const { return m_exportExternalShadow; }
    void setExportExternalShadow(bool on);
    bool isLockedAspectRatio() const { return m_isLockedAspectRatio; }
    void setIsLockedAspectRatio(bool locked);
    double lockedAspectRatio() const { return m_lockedAspectRatio; }
    void setLockedAspectRatio(double ratio);
    double realWidth() const { return m_realWidth; }
    void setRealWidth(double width);
    bool usedForIconGeneration() const { return m_usedForIconGeneration; }
    void setUsedForIconGeneration(bool on) { m_usedForIconGeneration = on; }
    bool exportMode() const { return m_exportMode; }
    void setExportMode(bool on) { m_exportMode = on; }
    bool isDrawing() const { return m_isDrawing; }
    void setIsDrawing(bool on) { m_isDrawing = on; }
    bool suppressLayerChangedNotification() const { return m_suppressLayerChangedNotification; }
    void setSuppressLayerChangedNotification(bool on) { m_suppressLayerChangedNotification = on; }
    QString variationGUID() const { return m_variationGUID; }
    void setVariationGUID(const QString &guid) { m_variationGUID = guid; }
    std::shared_ptr<VLImageMetadataManager> metadataManager() const { return m_metadataManager; }
    void setMetadataManager(std::shared_ptr<VLImageMetadataManager> manager);
    LengthFormatter imageSizeFormatter() const { return m_imageSizeFormatter; }
    // A length in the locale with at most two decimals and no trailing
    // zeros ("12.5", "3"); "" when not finite.
    static QString defaultLengthString(double length);
    void setImageSizeFormatter(LengthFormatter formatter);
    QString framedSizeString() const { return m_framedSizeString; }

    // Which layer the next screen drawing may draw at high quality: a layer,
    // the design itself (none), or null (all).
    const QObject *onlyHQLayer() const;
    void setOnlyHQLayer(const LayerPtr &layer);
    void setOnlyHQLayerToDesign();
    void clearOnlyHQLayer();

    // --- export metadata ---
    QVariantMap metadataForExport() const { return m_metadataForExport; }
    // An invalid value removes the key.
    void setMetadataValue(const QVariant &value, const QString &key);
    QVariant exportMetadataForKey(const QString &key) const;
    platform::ImageMetadata originalMetadata() const;

    // --- notifications ---
    void postModelChangedNotification();
    void postLayerChangedNotification();
    void forceRedraw();

    // --- queries ---
    bool hasLayersThatMissGraphics() const;
    // The names of the frame layers whose frame, or a picture of it, is
    // missing; those without which the design can't be drawn as made (a
    // mat is drawn from its own settings) when `undrawableOnly`.
    QStringList namesOfLayersThatMissGraphics(bool undrawableOnly = false) const;
    // The file names of the pictures image overlays name but have not got
    // (hasLayersThatMissGraphics counts them too): without them the design
    // can't be drawn as made.
    QStringList namesOfMissingOverlayPictures() const;
    // Those of them it carried, which could not be read.
    QStringList namesOfUnreadOverlayPictures() const;
    // The names (each once) of the frames whose pictures are in the library
    // but could not be opened in the memory there was: told before the
    // frames missing, which they would otherwise be taken for.
    QStringList namesOfFramesLackingMemory() const;
    QVariantMap dictionaryForAnalytics() const;
    QVariantList reportForRealSize() const;
    QVariantList reportForRealSize(const QSizeF &size) const;
    void updateFramedSize();
    QString lengthStringFrom(double length) const;

    // --- geometry and drawing (y-up) ---
    QRectF finalRectFromStartRect(const QRectF &rect, bool withOuterShadow) const;
    QRectF finalRectFromStartRectForIcon(const QRectF &rect) const;
    QRectF finalFramedRectFittingStartRect(const QRectF &rect) const;
    void drawToRect(const QRectF &rect, bool highQuality, bool skipCache,
                    const ProgressCancelBlock &progressCancel, bool withOuterShadow);
    void drawIconToRect(const QRectF &rect);
    // A new picture (premultiplied ARGB, transparent where nothing is drawn).
    QImage iconOfSize(const QSizeF &size, bool withImageLayer);
    QSizeF originalImageSize() const;
    QSizeF sizeOfPreFramedImage() const;
    double preCroppedAspectRatio() const;
    QSizeF sizeOfPreFramedImageForWidth(double width) const;
    QSizeF sizeFromOriginalWithOuterShadow(bool withOuterShadow) const;
    // The framed photo with its outer shadow in whole pixels: what Save,
    // the command line and a batch write, and what the bottom bar shows.
    QSize framedPixelSize() const;
    // Framed at its own size, a photo this small would lie under its frames
    // (their least widths and whole pixels do not shrink with it): the
    // least size in its proportions that they show; nothing when they show
    // this one.
    std::optional<QSize> leastPhotoSizeShown() const;
    void cropToFitToLockedAspectRatio();

    // --- export: rendering and encoding ---
    // The sender (the design) and a percentage, 0 to 100.
    using ProgressBlock = std::function<void(KTTemplate *sender, double percent)>;
    // Answers true to cancel.
    using CancelBlock = std::function<bool(KTTemplate *sender)>;
    // A rendered picture whose pixels are read through a provider that
    // reports progress and can be cancelled.
    using DataProvidedImage = std::shared_ptr<KTProgressReportingDataProvider>;

    // Quality 0..1 of lossy exports.
    void setExportQuality(double quality);
    // Output size in pixels by the export size preferences handed in.
    QSizeF exportSizeFromPreferencesWithLastDrawnSize(const QSizeF &lastDrawnSize,
                                                      const KTExportSizeSettings &settings) const;
    QColorSpace colorSpace() const;
    QColorSpace copyColorSpaceForOutput() const;
    // The design rendered for output at the size (rounded down to whole
    // pixels), premultiplied ARGB32, transparent where nothing is drawn; null
    // on failure with the error set (memory: "Memory allocation error").
    QImage newCGBitmapContextOfSize(const QSizeF &size, const ProgressCancelBlock &progressCancel,
                                    platform::Error *error = nullptr);
    // Rendering reports 0 to 50 %, reading the pixels 50 to 100 %.
    DataProvidedImage newDataProvidedCGImageOfSize(const QSizeF &size, const ProgressBlock &progress,
                                                   const CancelBlock &cancel, platform::Error *error = nullptr);
    QImage imageWithSize(const QSizeF &size);
    // What an export of `pixelSize` carries: the photo's metadata with the
    // software name, the design's resolution and orientation 1.
    platform::ExportMetadata prepareMetadataForExport(const QSize &pixelSize) const;
    // The export quality, when the design holds one.
    std::optional<double> exportQuality() const;
    // Encoded bytes of the picture as the type; nothing (and the error) on
    // failure, a cancel included.
    std::optional<QByteArray> newDataOfUti(const QString &uti, const DataProvidedImage &image,
                                           platform::Error *error = nullptr) const;
    // Replaces the file atomically: false, with the old file untouched and
    // nothing left behind, when encoding or writing fails.
    bool writeToURL(const QUrl &url, const QString &uti, const DataProvidedImage &image,
                    platform::Error *error = nullptr) const;
    // Renders and writes the design at the size a band of rows at a time,
    // never holding the whole picture, for types that allow it (JPEG); the
    // pixels are those of a whole render. Progress, cancel and the file as
    // for newDataProvidedCGImageOfSize and writeToURL.
    // `bandRows` 0 takes the usual height of a band.
    bool writeInBandsToURL(const QUrl &url, const QString &uti, const QSizeF &size, const ProgressBlock &progress,
                           const CancelBlock &cancel, platform::Error *error = nullptr, int bandRows = 0);
    // Why drawing the design into a picture of `size` pixels (a band of rows
    // at a time, or whole) would cost more than any design may
    // (kMaxDrawnTextLength and its neighbours); empty when it would not.
    // Cheap: nothing is laid out or drawn.
    QString reasonNotToDraw(const QSize &size, bool inBands) const;

    // A copy for export and batch: the same settings and a copy of each layer
    // (sharing decoded pictures read-only). It posts nothing while made.
    std::shared_ptr<KTTemplate> copyForRendering() const;

signals:
    // A shadow setting changed through its setter.
    void modelChangedFastRedraw();
    void framedSizeStringChanged();
    // The photo's metadata manager was replaced (text overlays substitute again).
    void metadataManagerChanged();

private:
    // They work on the design's own state: drawing flags, the layer list.
    friend class KTTemplatePackage;
    friend class KTTemplateRenderer;

    enum class ObservedKey { LayerChanged, LayerChangedFastRedraw, ModelChangedFastRedraw };

    void observeLayer(KTLayer *layer);
    void stopObservingLayer(KTLayer *layer);
    void observeValueForKeyPath(ObservedKey key, KTLayer *layer);
    void scheduleForcedRedraw();
    static bool isImageLayer(const KTLayer *layer);
    std::shared_ptr<KTImageLayer> photoLayer() const;

    LayerList m_layers;
    QString m_name;
    QVariantMap m_metadataForExport;
    LayerPtr m_onlyHQLayer;
    bool m_onlyHQIsDesign = false;
    bool m_drawShadows = true;
    double m_shadowAngle = 180;
    double m_shadowOffset = 0.2;
    std::shared_ptr<VLImageMetadataManager> m_metadataManager;
    bool m_exportMode = false;
    bool m_isDrawing = false;
    // Drawn for the other layers' sake only (a batch working out shadows): the photo keeps its place.
    bool m_photoLeftOut = false;
    bool m_exportExternalShadow = false;
    bool m_usedForIconGeneration = false;
    bool m_isLockedAspectRatio = false;
    bool m_suppressLayerChangedNotification = false;
    // While replaceDesignWith exchanges the layers: it announces them once.
    bool m_replacingLayers = false;
    double m_realWidth = 10;
    QString m_framedSizeString;
    double m_lockedAspectRatio = 0;
    QString m_variationGUID;
    LengthFormatter m_imageSizeFormatter;
    std::unique_ptr<platform::Debouncer> m_forcedRedraw;
};
