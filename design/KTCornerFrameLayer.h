#pragma once

#include "design/KTMoldingFrameLayer.h"

#include <array>
#include <memory>

// A moulding whose four corners are pictures of their own: each corner fills
// a square of the frame's width, and each side is filled between two corners
// with a whole number of tiles stretched to end exactly at the next corner.
// No mitres, no mirroring. Every setting, the report, the archive and the hit
// test are the moulding's; the colour settings reach the corners too.
class KTCornerFrameLayer : public KTMoldingFrameLayer
{
    Q_OBJECT

public:
    static constexpr const char *kTopLeftCornerAttribute = "Top-Left corner";
    static constexpr const char *kTopRightCornerAttribute = "Top-Right corner";
    static constexpr const char *kBottomLeftCornerAttribute = "Bottom-Left corner";
    static constexpr const char *kBottomRightCornerAttribute = "Bottom-Right corner";

    KTCornerFrameLayer();
    ~KTCornerFrameLayer() override;

    // The moulding's sides, then the corners. Answers false when there are
    // sides but no corner; the sides stay loaded.
    bool loadImages() override;
    bool missesPictures() const override;
    // Whole tiles stretched between the corners.
    void drawSideWithImage(const std::shared_ptr<VLImage> &image, double width, const QPointF &point, unsigned side,
                           double length, bool highQuality, bool skipCache) override;
    void drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache) override;
    QImage iconOfSize(const QSizeF &size) override;

    std::shared_ptr<VLImage> frameImageTopLeft() const { return m_frameImageTopLeft; }
    std::shared_ptr<VLImage> frameImageTopRight() const { return m_frameImageTopRight; }
    std::shared_ptr<VLImage> frameImageBottomLeft() const { return m_frameImageBottomLeft; }
    std::shared_ptr<VLImage> frameImageBottomRight() const { return m_frameImageBottomRight; }
    bool allocatedFrameImageTopLeft() const { return m_allocatedFrameImageTopLeft; }
    bool allocatedFrameImageTopRight() const { return m_allocatedFrameImageTopRight; }
    bool allocatedFrameImageBottomLeft() const { return m_allocatedFrameImageBottomLeft; }
    bool allocatedFrameImageBottomRight() const { return m_allocatedFrameImageBottomRight; }

    std::shared_ptr<KTLayer> copyForRendering() const override;

    // The moulding's archive keys and nothing more; makes
    // "KTCornerFrameLayer" decode as this class (once per process).
    static void registerArchiveClass();

private:
    explicit KTCornerFrameLayer(BlankTag);
    // The corner pictures by rotation: top-left, top-right, bottom-left, bottom-right.
    std::array<std::shared_ptr<VLImage>, 4> cornerPicturesForRotation() const;

    std::shared_ptr<VLImage> m_frameImageTopLeft;
    std::shared_ptr<VLImage> m_frameImageTopRight;
    std::shared_ptr<VLImage> m_frameImageBottomLeft;
    std::shared_ptr<VLImage> m_frameImageBottomRight;
    bool m_allocatedFrameImageTopLeft = false;
    bool m_allocatedFrameImageBottomLeft = false;
    bool m_allocatedFrameImageTopRight = false;
    bool m_allocatedFrameImageBottomRight = false;
    std::array<std::shared_ptr<VLImage>, 4> m_prerotatedCorners;
};
