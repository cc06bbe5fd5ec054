#pragma once

#include "design/KTLayer.h"

#include <QImage>

#include <functional>

class Frame;

// The base of every layer that surrounds the photo with an item of the frame
// library (full frame, colour mat, moulding, moulding with corners): the drop
// shadow settings and geometry, taken together with the design's shadow
// direction and length, and the two wrappers every frame puts around its
// drawing (with the drop shadow; as an eraser for frames that act as a mask).
class KTFrameLayer : public KTLayer
{
    Q_OBJECT
    Q_PROPERTY(bool dropShadow READ dropShadow WRITE setDropShadow)
    Q_PROPERTY(double shadowLength READ shadowLength WRITE setShadowLength)
    Q_PROPERTY(double shadowOffsetScaleFactor READ shadowOffsetScaleFactor WRITE setShadowOffsetScaleFactor)

public:
    static constexpr double kDegreesToRadians = 0.017453292519943295;
    static constexpr double kBlurPerShortSide = 0.015;

    KTFrameLayer();
    ~KTFrameLayer() override;

    // "<layer> -- Collection <c>, Set <s>, frameName <f>, images loaded|not loaded".
    QString description() const override;

    // Loads the frame's pictures and settings; the base loads nothing.
    virtual bool loadImages();
    // An icon of the frame alone; the base has none.
    virtual QImage iconOfSize(const QSizeF &size);
    // Whether what the frame draws erases what lies inside it.
    virtual bool actAsMask() const;

    bool shouldDrawShadow() const;
    double shadowLengthFactor() const;
    QSizeF shadowOffsetForRect(const QRectF &rect) const;
    double shadowBlurRadiusForRect(const QRectF &rect) const;
    // Runs `block` with the drop shadow set (blur only with high quality),
    // clipped to the reach of the shadow; with a transparency layer the
    // shadow falls from the composite of what the block draws.
    void drawWithShadowInRect(const QRectF &rect, bool highQuality, bool withTransparencyLayer,
                              const QRectF &transparencyRect, const std::function<void()> &block);
    QRectF rectWithShadowForRect(const QRectF &rect) const;
    QRectF rectWithShadowForDrawRect(const QRectF &drawRect, const QRectF &transparencyRect) const;
    // Runs `block`, as an eraser (destination-out) when `asMask`.
    void drawAsMask(bool asMask, const std::function<void()> &block);
    virtual void applySettingsFromLayer(const KTFrameLayer &other);

    // The library frame the layer shows; it belongs to the frames context
    // (main thread) and outlives the layer's use of it.
    Frame *theFrame() const { return m_theFrame; }
    void setTheFrame(Frame *frame) { m_theFrame = frame; }
    bool imagesLoaded() const { return m_imagesLoaded; }
    bool dropShadow() const { return m_dropShadow; }
    virtual void setDropShadow(bool on);
    double shadowLength() const { return m_shadowLength; }
    virtual void setShadowLength(double length);
    double shadowOffsetScaleFactor() const { return m_shadowOffsetScaleFactor; }
    void setShadowOffsetScaleFactor(double factor);
    bool missesFrameInLibrary() const { return m_missesFrameInLibrary; }
    void setMissesFrameInLibrary(bool misses) { m_missesFrameInLibrary = misses; }

    std::shared_ptr<KTLayer> copyForRendering() const override;

protected:
    void setImagesLoaded(bool loaded) { m_imagesLoaded = loaded; }
    void copyFrameFieldsFrom(const KTFrameLayer &other);

private:
    Frame *m_theFrame = nullptr;
    bool m_imagesLoaded = false;
    bool m_dropShadow = true;
    double m_shadowLength = 1.0;
    double m_shadowOffsetScaleFactor = 0.03;
    bool m_missesFrameInLibrary = false;
};
