#pragma once

#include "design/KTFrameColorSettings.h"
#include "design/KTFrameLayer.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QTransform>
#include <QVariant>

#include <array>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class KTPreparedPictureCache;
class VLImage;

namespace platform {
class DrawingContext;
}

// A frame assembled from four strips of a moulding picture, one per side,
// each tiled along its side at the frame's width and cut at 45 degrees where
// two sides meet. Width is a fraction of the shorter side of the rect inside;
// `frameOverImage` is the part of that width lying over the picture inside.
// The colour settings act on the pictures' own filter chains, so every
// drawing (sides, icon) shows them. A frame that acts as a mask erases.
//
// Changes of colorize, colorizationColor, saturationShift, lightnessShift,
// rotation, dropShadow and hidden emit layerChanged; of frameWidth,
// frameOverImage, shadowLength and opacity layerChangedFastRedraw.
class KTMoldingFrameLayer : public KTFrameLayer
{
    Q_OBJECT
    Q_PROPERTY(bool colorize READ colorize WRITE setColorize NOTIFY settingsChanged)
    Q_PROPERTY(bool actAsMask READ actAsMask WRITE setActAsMask NOTIFY settingsChanged)
    Q_PROPERTY(uint rotation READ rotation WRITE setRotation NOTIFY settingsChanged)
    Q_PROPERTY(QColor colorizationColor READ colorizationColor WRITE setColorizationColor NOTIFY settingsChanged)
    Q_PROPERTY(double saturationShift READ saturationShift WRITE setSaturationShift NOTIFY settingsChanged)
    Q_PROPERTY(double lightnessShift READ lightnessShift WRITE setLightnessShift NOTIFY settingsChanged)
    Q_PROPERTY(double opacity READ opacity WRITE setOpacity NOTIFY settingsChanged)
    Q_PROPERTY(bool mirrorImages READ mirrorImages)
    Q_PROPERTY(double frameOverImage READ frameOverImage WRITE setFrameOverImage NOTIFY settingsChanged)
    Q_PROPERTY(double frameWidth READ frameWidth WRITE setFrameWidth NOTIFY settingsChanged)

public:
    static constexpr const char *kControlNibName = "MoldingFrameControl";
    static constexpr const char *kDefaultLayerName = "Molding Frame Layer";
    static constexpr const char *kShadowEnabledDefault = NewLayerSettings::kMouldingShadowKey;
    static constexpr const char *kLeftImageAttribute = "Left Image";
    static constexpr const char *kTopImageAttribute = "Top Image";
    static constexpr const char *kRightImageAttribute = "Right Image";
    static constexpr const char *kBottomImageAttribute = "Bottom Image";
    static constexpr const char *kActAsMaskAttribute = "Act as mask";
    static constexpr const char *kMirrorImagesAttribute = "Mirror images";
    static constexpr const char *kMaskBadgeImage = "mask.png";
    static constexpr double kMaxFrameWidth = 0.4;
    static constexpr double kMinDrawnWidth = 3.0;
    // How far a side reaches under the side drawn over it at a corner.
    static constexpr double kUnderlap = 1.0;

    enum Side : unsigned { Left = 0, Top = 1, Right = 2, Bottom = 3 };

    KTMoldingFrameLayer();
    ~KTMoldingFrameLayer() override;

    bool loadImages() override;
    // |(b.x - a.x) + (b.y - a.y)|: the distance along a side.
    static double lengthBetweenPointAndPoint(const QPointF &a, const QPointF &b);
    // One mitred side of width `width` from `point` over `length`, tiled.
    virtual void drawSideWithImage(const std::shared_ptr<VLImage> &image, double width, const QPointF &point,
                                   unsigned side, double length, bool highQuality, bool skipCache);
    void drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache) override;
    QRectF resultingRectForRect(const QRectF &rect) const override;
    // "Icon", "Title", "Size", "Width", "OverWidth" in the units of `size`.
    QVariantMap reportForRealSize(const QSizeF &size) const override;
    QImage iconOfSize(const QSizeF &size) override;
    bool isHitAtPoint(const QPointF &point) const override;
    // Moves a proposed number into its key's range; always true.
    bool validateValue(QVariant &value, const QString &keyPath) const;

    // The colour settings (KTFrameColorSettings) on every picture of allFrameImages.
    void setSaturationShift(double value) { m_colorSettings.setSaturationShift(value); }
    void setLightnessShift(double value) { m_colorSettings.setLightnessShift(value); }
    // The user's choice is also the shadow setting of the next new moulding.
    void setDropShadowByUser(bool on, NewLayerSettings &next) override;
    void setColorize(bool on) { m_colorSettings.setColorize(on); }
    void setColorizationColor(const QColor &color) { m_colorSettings.setColorizationColor(color); }
    void setOpacity(double value) { m_colorSettings.setOpacity(value); }
    void setRotation(unsigned quarterTurns) { m_colorSettings.setRotation(quarterTurns); }
    void applySettingsFromLayer(const KTFrameLayer &other) override;
    void setFrameWidth(double value);
    void setFrameOverImage(double value);

    // Keyed archiving: the frame layer's keys, then "saturationShift",
    // "lightnessShift", "opacity" (32-bit floats), "rotation" (integer),
    // "colorize" (boolean), "colorizationColor" (colour), "frameOverImage",
    // "frameWidth" (32-bit floats). Decoded settings reach the pictures the
    // frame layer loaded; values a damaged archive holds out of range are
    // brought into range, never refused.
    void encode(platform::KeyedArchiver &coder) const override;
    void decode(platform::KeyedUnarchiver &coder) override;
    // Makes "KTMoldingFrameLayer" decode as this class (once per process).
    static void registerArchiveClass();

    bool colorize() const { return m_colorSettings.colorize(); }
    double lightnessShift() const { return m_colorSettings.lightnessShift(); }
    double saturationShift() const { return m_colorSettings.saturationShift(); }
    double opacity() const { return m_colorSettings.opacity(); }
    unsigned rotation() const { return m_colorSettings.rotation(); }
    QColor colorizationColor() const { return m_colorSettings.colorizationColor(); }
    bool actAsMask() const override { return m_actAsMask; }
    bool missesPictures() const override;
    void setActAsMask(bool on) { m_actAsMask = on; }
    bool mirrorImages() const { return m_mirrorImages; }
    double frameOverImage() const { return m_frameOverImage; }
    double frameWidth() const { return m_frameWidth; }

    std::shared_ptr<VLImage> frameImageTop() const { return m_frameImageTop; }
    std::shared_ptr<VLImage> frameImageRight() const { return m_frameImageRight; }
    std::shared_ptr<VLImage> frameImageBottom() const { return m_frameImageBottom; }
    std::shared_ptr<VLImage> frameImageLeft() const { return m_frameImageLeft; }
    const std::vector<std::shared_ptr<VLImage>> &allFrameImages() const { return m_allFrameImages; }
    bool allocatedFrameImageTop() const { return m_allocatedFrameImageTop; }
    bool allocatedFrameImageRight() const { return m_allocatedFrameImageRight; }
    bool allocatedFrameImageBottom() const { return m_allocatedFrameImageBottom; }
    bool allocatedFrameImageLeft() const { return m_allocatedFrameImageLeft; }
    QRectF drawRectOutside() const;
    QRectF drawRectInside() const;

    std::shared_ptr<KTLayer> copyForRendering() const override;

protected:
    void applyNewLayerSettings(const NewLayerSettings &settings) override;
    // A picture with a finite, non-empty size; anything else is skipped.
    static bool usable(const std::shared_ptr<VLImage> &image);
    // The length one tile of a side picture takes in an icon whose sides are
    // `thickness` wide: the picture's proportions kept, never below 1.
    static double iconTileLength(const QSizeF &picture, bool alongWidth, double thickness);
    // The badge of masking frames, at (3, 3) of the icon.
    static void drawIconMaskBadge(platform::DrawingContext &ctx);

    // Frame width and outer rect of one drawing, as both mouldings take them.
    struct Geometry {
        double fw = 0;
        QRectF outer;
    };
    Geometry geometryForRect(const QRectF &rect) const;
    void setDrawRects(const QRectF &outside, const QRectF &inside);
    // The side pictures by rotation: left, top, right, bottom.
    std::array<std::shared_ptr<VLImage>, 4> sidePicturesForRotation() const;
    // Draws a picture at the quality asked: cached rendering for previews,
    // the picture's own cache when that may be kept, otherwise fresh, through
    // the render's prepared-picture cache when there is one.
    void drawPicture(VLImage &image, const QRectF &rect, bool highQuality, bool skipCache) const;
    // The tile of a side: the picture stretched to the width `w` across the
    // side, its length along the side rounded (at least 1); none for a
    // picture without size.
    static std::optional<QRectF> tileRectForSide(const VLImage &image, double w, unsigned side);
    // The tile with its ends along the side on whole pixels of the current
    // drawing context, so that neighbouring tiles meet at a pixel's edge.
    static QRectF tileSnappedToPixels(const QRectF &tile, bool vertical);
    // An export's four tile pictures prepared at once for the drawing to come.
    void preparePicturesForExport(const std::array<std::shared_ptr<VLImage>, 4> &pictures, double fw) const;
    // An export's four shadow passes, their groups made side by side on
    // several threads and laid down in turn; false when that does not apply
    // and nothing was drawn. `drawSide` draws a side as drawLayerForRect
    // does: in a batch its shadow is shared under sideKey().
    bool drawShadowPassesTogether(const QRectF &outer, const QRectF (&strips)[4],
                                  const std::function<void(unsigned)> &drawSide, bool highQuality, bool skipCache);
    // Everything the drawing of `side` for that outer rect and width reads
    // from the layer and its picture, as bytes for its shadow's key.
    QByteArray sideKey(unsigned side, const QRectF &outer, double fw) const;
    // An export's side drawn in bands on several threads (see
    // platform::ParallelPaint); false when that does not apply and nothing
    // was drawn.
    bool drawSideInBands(
        VLImage &image, const QRectF &tileRect, const QPolygonF &outline,
        const std::function<void(const std::function<void(const QRectF &, const QTransform *)> &)> &forEachTile,
        bool highQuality, bool skipCache) const;
    // A picture read from the frame's image attribute; null when the
    // attribute has no picture or its file cannot be read. `present` tells
    // whether the attribute held a picture at all.
    std::shared_ptr<VLImage> pictureForAttribute(const QString &name, bool *present);
    // A picture the frame lacks is made by turning another: the first choice
    // whose picture the frame carries, else the last choice.
    struct TurnedPicture {
        bool present;
        const std::shared_ptr<VLImage> *source;
        unsigned quarterTurns;
    };
    static void fillMissingPicture(std::shared_ptr<VLImage> &picture, bool present,
                                   std::initializer_list<TurnedPicture> choices);
    bool frameBoolAttribute(const QString &name) const;
    // Every picture of allFrameImages, null ones left out.
    void forEachPicture(const std::function<void(VLImage &)> &action) const;
    // Copies for rendering: each picture copied once, so fields that shared
    // a picture still share its copy.
    using PictureCopies = std::map<const VLImage *, std::shared_ptr<VLImage>>;
    static std::shared_ptr<VLImage> copyOf(PictureCopies &copies, const std::shared_ptr<VLImage> &image);
    void copyMoldingFieldsFrom(const KTMoldingFrameLayer &other, PictureCopies &copies);
    // A blank layer for copies: no user default is read (copies may be made
    // off the main thread).
    struct BlankTag {};
    explicit KTMoldingFrameLayer(BlankTag);
    void setAllFrameImages(std::vector<std::shared_ptr<VLImage>> images) { m_allFrameImages = std::move(images); }
    QSet<QString> keyPathsForValuesAffectingLayerChanged() const override;
    QSet<QString> keyPathsForValuesAffectingLayerChangedFastRedraw() const override;
    void announce(const char *key);

    std::shared_ptr<VLImage> m_frameImageTop;
    std::shared_ptr<VLImage> m_frameImageRight;
    std::shared_ptr<VLImage> m_frameImageBottom;
    std::shared_ptr<VLImage> m_frameImageLeft;
    std::shared_ptr<KTPreparedPictureCache> m_renderCache;

private:
    KTFrameColorSettings m_colorSettings{
        [this](const std::function<void(VLImage &)> &action) { forEachPicture(action); },
        [this](const char *key) { announce(key); }};
    bool m_actAsMask = false;
    std::vector<std::shared_ptr<VLImage>> m_allFrameImages;
    bool m_allocatedFrameImageTop = false;
    bool m_allocatedFrameImageBottom = false;
    bool m_allocatedFrameImageLeft = false;
    bool m_allocatedFrameImageRight = false;
    std::array<std::shared_ptr<VLImage>, 4> m_prerotatedImages;
    mutable std::mutex m_drawRectMutex;
    QRectF m_drawRectOutside;
    QRectF m_drawRectInside;
    bool m_mirrorImages = false;
    double m_frameOverImage = 0.1;
    double m_frameWidth = 0.1;
};
