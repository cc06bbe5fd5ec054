#pragma once

#include "design/KTFrameColorSettings.h"
#include "design/KTFrameLayer.h"

#include <QColor>

class VLImage;

// A frame made of one picture stretched over the whole photo, with a
// transparent window through which the photo shows. A frame may carry a
// picture for upright and one for landscape photos; with only one, the other
// is that one turned. The user shifts saturation and lightness, colourises,
// changes the opacity, turns it by quarter turns and scales it about the
// photo's centre. A frame whose "Act as mask" is set erases instead of
// painting, so the photo takes the frame picture's shape.
class KTFullFrameLayer : public KTFrameLayer
{
    Q_OBJECT
    Q_PROPERTY(bool colorize READ colorize WRITE setColorize NOTIFY settingsChanged)
    Q_PROPERTY(unsigned rotation READ rotation WRITE setRotation NOTIFY settingsChanged)
    Q_PROPERTY(QColor colorizationColor READ colorizationColor WRITE setColorizationColor NOTIFY settingsChanged)
    Q_PROPERTY(double saturationShift READ saturationShift WRITE setSaturationShift NOTIFY settingsChanged)
    Q_PROPERTY(double lightnessShift READ lightnessShift WRITE setLightnessShift NOTIFY settingsChanged)
    Q_PROPERTY(double opacity READ opacity WRITE setOpacity NOTIFY settingsChanged)
    Q_PROPERTY(double scale READ scale WRITE setScale NOTIFY settingsChanged)

public:
    static constexpr const char *kControlNibName = "FullFrameControl";
    static constexpr const char *kDefaultLayerName = "FullFrame Layer";
    static constexpr const char *kPortraitImageAttribute = "Portrait Image";
    static constexpr const char *kLandscapeImageAttribute = "Landscape Image";
    static constexpr const char *kActAsMaskAttribute = "Act as mask";

    // Which pictures the frame itself carries.
    enum ImagesOrientations : quint32 { LandscapeOnly = 0, PortraitOnly = 1, Both = 2 };

    KTFullFrameLayer();
    ~KTFullFrameLayer() override;

    // Reads "Portrait Image" and "Landscape Image" (the missing one is the
    // other turned by three quarter turns, when needed) and "Act as mask".
    // Loading twice is a programming error.
    bool loadImages() override;
    void drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache) override;
    QRectF resultingRectForRect(const QRectF &rect) const override;
    QVariantMap reportForRealSize(const QSizeF &size) const override;
    QImage iconOfSize(const QSizeF &size) override;
    // Clamps "saturationShift" to 0..2, "lightnessShift" to -10..10,
    // "opacity" and "shadowLength" to 0..1; always true.
    bool validateValue(QVariant &value, const QString &keyPath) const;

    // The colour settings (KTFrameColorSettings) on both pictures.
    void setSaturationShift(double value) { m_colorSettings.setSaturationShift(value); }
    void setLightnessShift(double value) { m_colorSettings.setLightnessShift(value); }
    void setColorize(bool on) { m_colorSettings.setColorize(on); }
    void setColorizationColor(const QColor &color) { m_colorSettings.setColorizationColor(color); }
    void setOpacity(double value) { m_colorSettings.setOpacity(value); }
    void setRotation(unsigned quarterTurns) { m_colorSettings.setRotation(quarterTurns); }
    void applySettingsFromLayer(const KTFrameLayer &other) override;

    bool colorize() const { return m_colorSettings.colorize(); }
    double lightnessShift() const { return m_colorSettings.lightnessShift(); }
    double saturationShift() const { return m_colorSettings.saturationShift(); }
    double opacity() const { return m_colorSettings.opacity(); }
    quint32 imagesOrientations() const { return m_imagesOrientations; }
    void setImagesOrientations(quint32 orientations) { m_imagesOrientations = orientations; }
    unsigned rotation() const { return m_colorSettings.rotation(); }
    QColor colorizationColor() const { return m_colorSettings.colorizationColor(); }
    bool actAsMask() const override { return m_actAsMask; }
    bool missesPictures() const override { return m_unreadablePictures; }
    double scale() const { return m_scale; }
    void setScale(double scale);
    // The picture the frame lacks is the other turned three quarter turns,
    // made when first asked for (most designs need only one of the two).
    std::shared_ptr<VLImage> frameImagePortrait() const;
    std::shared_ptr<VLImage> frameImageLandscape() const;

    std::shared_ptr<KTLayer> copyForRendering() const override;

    // "saturationShift", "lightnessShift", "opacity" (32-bit floats),
    // "rotation", "colorize", "colorizationColor", "scale" (double).
    // Decoding puts each value through its setter; values a damaged archive
    // gives out of range are brought into it, never raised over.
    void encode(platform::KeyedArchiver &coder) const override;
    void decode(platform::KeyedUnarchiver &coder) override;
    static void registerArchiveClass();

protected:
    QSet<QString> keyPathsForValuesAffectingLayerChanged() const override;
    QSet<QString> keyPathsForValuesAffectingLayerChangedFastRedraw() const override;

private:
    // Both pictures, those present.
    std::vector<VLImage *> pictures() const;

    quint32 m_imagesOrientations = LandscapeOnly;
    bool m_unreadablePictures = false;
    bool m_actAsMask = false;
    KTFrameColorSettings m_colorSettings;
    mutable std::shared_ptr<VLImage> m_frameImagePortrait;
    mutable std::shared_ptr<VLImage> m_frameImageLandscape;
    double m_scale = 1.0;
};
