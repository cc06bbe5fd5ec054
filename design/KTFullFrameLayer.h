#pragma once

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
    Q_PROPERTY(bool colorize READ colorize WRITE setColorize)
    Q_PROPERTY(unsigned rotation READ rotation WRITE setRotation)
    Q_PROPERTY(QColor colorizationColor READ colorizationColor WRITE setColorizationColor)
    Q_PROPERTY(double saturationShift READ saturationShift WRITE setSaturationShift)
    Q_PROPERTY(double lightnessShift READ lightnessShift WRITE setLightnessShift)
    Q_PROPERTY(double opacity READ opacity WRITE setOpacity)
    Q_PROPERTY(double scale READ scale WRITE setScale)

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
    // other turned by three quarter turns) and "Act as mask". Loading twice
    // is a programming error.
    bool loadImages() override;
    void drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache) override;
    QRectF resultingRectForRect(const QRectF &rect) const override;
    QVariantMap reportForRealSize(const QSizeF &size) const override;
    QImage iconOfSize(const QSizeF &size) override;
    // Clamps "saturationShift" to 0..2, "lightnessShift" to -10..10,
    // "opacity" and "shadowLength" to 0..1; always true.
    bool validateValue(QVariant &value, const QString &keyPath) const;

    // 0..2; outside that is a programming error.
    void setSaturationShift(double value);
    // -10..10 EV; outside that is a programming error.
    void setLightnessShift(double value);
    void setColorize(bool on);
    void setColorizationColor(const QColor &color);
    void setOpacity(double value);
    void setRotation(unsigned quarterTurns);
    void applySettingsFromLayer(const KTFrameLayer &other) override;

    bool colorize() const { return m_colorize; }
    double lightnessShift() const { return m_lightnessShift; }
    double saturationShift() const { return m_saturationShift; }
    double opacity() const { return m_opacity; }
    quint32 imagesOrientations() const { return m_imagesOrientations; }
    void setImagesOrientations(quint32 orientations) { m_imagesOrientations = orientations; }
    unsigned rotation() const { return m_rotation; }
    QColor colorizationColor() const { return m_colorizationColor; }
    bool actAsMask() const override { return m_actAsMask; }
    double scale() const { return m_scale; }
    void setScale(double scale);
    std::shared_ptr<VLImage> frameImagePortrait() const { return m_frameImagePortrait; }
    std::shared_ptr<VLImage> frameImageLandscape() const { return m_frameImageLandscape; }

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
    bool m_colorize = false;
    bool m_actAsMask = false;
    unsigned m_rotation = 0;
    QColor m_colorizationColor = QColor::fromRgbF(1.0f, 0.73f, 0.613f, 1.0f);
    double m_saturationShift = 1.0;
    double m_lightnessShift = 0.0;
    double m_opacity = 1.0;
    std::shared_ptr<VLImage> m_frameImagePortrait;
    std::shared_ptr<VLImage> m_frameImageLandscape;
    double m_scale = 1.0;
};
