#pragma once

#include "design/KTOverlayLayer.h"

#include <QRectF>
#include <QString>
#include <QVariant>

#include <memory>

class VLImage;

namespace platform {
class KeyedArchiver;
class KeyedUnarchiver;
} // namespace platform

// A picture the user places over the design (a logo, a signature, a
// watermark). It is drawn inside the rect of the layers below it, at a size
// relative to that rect, anchored per axis to a side or the centre, with an
// opacity. The user drags its body (snapping onto the anchors) and resizes it
// by its corner handles; the nearest anchor per axis follows the position.
//
// Geometry is y-up, in the coordinates of the view that shows the design.
class KTImageOverlayLayer : public KTOverlayLayer
{
    Q_OBJECT
    Q_PROPERTY(QString imagePath READ imagePath WRITE setImagePath)

public:
    static constexpr double kMinScale = 0.05;
    static constexpr double kMaxScale = 1.0;

    static constexpr const char *kMissingPictureWarning = "The picture '%1' of an image overlay is missing";

    KTImageOverlayLayer();
    ~KTImageOverlayLayer() override;

    // Reads the picture at imagePath (without its metadata); false when there
    // is no path, a path that is not absolute (the bare name a design keeps
    // of a picture it did not carry) or no picture there.
    bool loadImage();
    // The layer names a picture it has not got: one a design read from a file
    // did not carry, or a file of the user's that is gone or unreadable.
    bool missesPicture() const;
    // The file name of that picture, for the user.
    QString missingPictureName() const;
    // That picture was carried but could not be read: damaged, or a drawing
    // such as SVG, which is never read.
    bool carriesUnreadPicture() const { return m_carriesUnreadPicture && missesPicture(); }
    static QRectF rectForSizeCenteredAtPoint(const QSizeF &size, const QPointF &point);

    void drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache) override;
    std::shared_ptr<KTLayer> copyForRendering() const override;

    // "scale" into 0.05 ... 1, "opacity" into 0 ... 1; always true.
    bool validateValue(QVariant &value, const QString &keyPath) const;

    // Keyed archiving: the base layer's keys, then the layer's own.
    void encode(platform::KeyedArchiver &coder) const override;
    void decode(platform::KeyedUnarchiver &coder) override;
    // Makes "KTImageOverlayLayer" decode as this class (the design maps the older name).
    static void registerArchiveClass();
    // The layer's own archive keys, written after the base layer's. The
    // picture comes from the archive's "image"; "imagePath" is read as a file
    // only when the unarchiver allows it (the user's own designs), and is
    // otherwise kept as a bare name that is never read.
    void encodeImageOverlayKeys(platform::KeyedArchiver &coder) const;
    void decodeImageOverlayKeys(platform::KeyedUnarchiver &coder);

    std::shared_ptr<VLImage> image() const { return m_image; }
    void setImage(std::shared_ptr<VLImage> image);
    // Clamped into 0.05 ... 1.
    void setScale(double scale) override;
    // Also the picture's opacity (not clamped here).
    void setOpacity(double opacity) override;
    QString imagePath() const { return m_imagePath; }
    void setImagePath(const QString &path) { m_imagePath = path; }

protected:
    double minDragScale() const override { return kMinScale; }
    double maxDragScale() const override { return kMaxScale; }

private:
    std::shared_ptr<VLImage> m_image;
    QString m_imagePath;
    bool m_carriesUnreadPicture = false;
};
