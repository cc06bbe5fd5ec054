#pragma once

#include "design/KTFrameLayer.h"

#include <QColor>

// A flat mat of one colour around the photo, with its own width on each side
// and an optional bevel: a narrow cut edge along the inside of the mat's
// window, shaded by the design's light direction. The colour comes from the
// frame's "Mat color" and can be changed by the user.
class KTColorMatLayer : public KTFrameLayer
{
    Q_OBJECT
    Q_PROPERTY(QColor matColor READ matColor WRITE setMatColor)
    Q_PROPERTY(double opacity READ opacity WRITE setOpacity)
    Q_PROPERTY(QColor bevelColor READ bevelColor WRITE setBevelColor)
    Q_PROPERTY(double bevelWidth READ bevelWidth WRITE setBevelWidth)
    Q_PROPERTY(double leftWidth READ leftWidth WRITE setLeftWidth)
    Q_PROPERTY(double rightWidth READ rightWidth WRITE setRightWidth)
    Q_PROPERTY(double topWidth READ topWidth WRITE setTopWidth)
    Q_PROPERTY(double bottomWidth READ bottomWidth WRITE setBottomWidth)

public:
    static constexpr const char *kControlNibName = "ColorMatFrameControl";
    static constexpr const char *kDefaultLayerName = "Color Mat Layer";
    static constexpr const char *kMatColorAttribute = "Mat color";
    static constexpr double kMaxSideWidth = 0.4;
    static constexpr double kMaxBevelWidth = 0.1;

    KTColorMatLayer();
    ~KTColorMatLayer() override;

    // Takes the frame's "Mat color" when it has one; always succeeds.
    bool loadImages() override;
    // Its colour and widths are its own, archived with it.
    bool drawsWithoutLibraryFrame() const override { return true; }
    void drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache) override;
    QRectF resultingRectForRect(const QRectF &rect) const override;
    // The mat colour with a transparent notch of a quarter side at the
    // bottom-right corner.
    QImage iconOfSize(const QSizeF &size) override;
    // The layers palette's picture after a colour change (76 x 76).
    void updateIcon();
    // Clamps the side widths to 0..0.4, "bevelWidth" to 0..0.1, "opacity"
    // and "shadowLength" to 0..1; always true.
    bool validateValue(QVariant &value, const QString &keyPath) const;
    void applySettingsFromLayer(const KTFrameLayer &other) override;
    // On the mat, not in its window, as last drawn.
    bool isHitAtPoint(const QPointF &point) const override;
    QVariantMap reportForRealSize(const QSizeF &size) const override;

    QColor matColor() const { return m_matColor; }
    void setMatColor(const QColor &color);
    double opacity() const { return m_opacity; }
    void setOpacity(double opacity);
    QColor bevelColor() const { return m_bevelColor; }
    void setBevelColor(const QColor &color);
    double bevelWidth() const { return m_bevelWidth; }
    void setBevelWidth(double width); // clamped to 0..0.1
    double leftWidth() const { return m_leftWidth; }
    void setLeftWidth(double width); // clamped to 0..0.4, as the other sides
    double rightWidth() const { return m_rightWidth; }
    void setRightWidth(double width);
    double topWidth() const { return m_topWidth; }
    void setTopWidth(double width);
    double bottomWidth() const { return m_bottomWidth; }
    void setBottomWidth(double width);
    QRectF drawRectOutside() const { return m_drawRectOutside; }
    QRectF drawRectInside() const { return m_drawRectInside; }

    std::shared_ptr<KTLayer> copyForRendering() const override;

    // "matColor", "bevelColor" (objects), then "opacity", "bevelWidth" and
    // the four side widths as 32-bit floats. Side widths are clamped on
    // decoding; values no drawing could use fall back to the defaults.
    void encode(platform::KeyedArchiver &coder) const override;
    void decode(platform::KeyedUnarchiver &coder) override;
    static void registerArchiveClass();

protected:
    QSet<QString> keyPathsForValuesAffectingLayerChanged() const override;
    QSet<QString> keyPathsForValuesAffectingLayerChangedFastRedraw() const override;

private:
    void setSide(double &field, double width, const char *key);

    QColor m_matColor = QColor::fromRgbF(1, 1, 0);
    double m_opacity = 1.0;
    QColor m_bevelColor = QColor::fromRgbF(2.0f / 3, 2.0f / 3, 2.0f / 3);
    QRectF m_drawRectOutside;
    QRectF m_drawRectInside;
    double m_bevelWidth = 0.02;
    double m_leftWidth = 0.05;
    double m_rightWidth = 0.05;
    double m_topWidth = 0.05;
    double m_bottomWidth = 0.05;
};
