#pragma once

#include "design/KTLayer.h"
#include "platform/imaging/ImageMetadata.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <memory>

class VLImage;

namespace platform {
class KeyedArchiver;
class KeyedUnarchiver;
} // namespace platform

// The layer that holds the user's photo: the innermost layer of every
// design. It keeps the photo, a crop given as fractions of the upright
// picture cut away on each side, and the rect it was last drawn in, so the
// user can slide the visible window over the photo with the mouse.
//
// Invariants: each crop lies in 0 to 0.95 and two opposite crops sum to at
// most 0.95. A change of the photo, a crop or `hidden` emits layerChanged.
class KTImageLayer : public KTLayer
{
    Q_OBJECT
    Q_PROPERTY(double cropLeft READ cropLeft WRITE setCropLeft NOTIFY cropLeftChanged)
    Q_PROPERTY(double cropTop READ cropTop WRITE setCropTop NOTIFY cropTopChanged)
    Q_PROPERTY(double cropRight READ cropRight WRITE setCropRight NOTIFY cropRightChanged)
    Q_PROPERTY(double cropBottom READ cropBottom WRITE setCropBottom NOTIFY cropBottomChanged)

public:
    static constexpr double kMaxCrop = 0.95;

    KTImageLayer();
    ~KTImageLayer() override;

    void drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache) override;
    // Where drawLayerForRect puts the picture: whole pixels.
    QRectF drawnRectForRect(const QRectF &rect) const;
    QRectF resultingRectForRect(const QRectF &rect) const override;
    // "Size", "Icon" (longer side 72), "Title" (the photo's file name).
    QVariantMap reportForRealSize(const QSizeF &size) const override;
    bool acceptsMouseEvents() const override;
    void mouseDownAtPoint(const QPointF &point, const QMouseEvent *event) override;
    void mouseDraggedAtPoint(const QPointF &point, const QMouseEvent *event) override;
    void mouseUpAtPoint(const QPointF &point, const QMouseEvent *event) override;
    bool isHitAtPoint(const QPointF &point) const override;
    std::shared_ptr<KTLayer> copyForRendering() const override;

    // The base layer's keys, then the layer's own.
    void encode(platform::KeyedArchiver &coder) const override;
    void decode(platform::KeyedUnarchiver &coder) override;
    static void registerArchiveClass();

    // The layer's own archive keys, written after the base layer's: the four
    // crops as 32-bit floats. The photo itself is not archived here.
    void encodeImageLayerKeys(platform::KeyedArchiver &coder) const;
    // Reads the crops as stored (the photo is not told) and lets the layer be
    // hidden. Crops a damaged archive gives outside the invariant (not a
    // number, out of 0 to 0.95, a pair summing above 0.95) are brought back
    // into it, so the photo never gets an empty or negative visible part.
    void decodeImageLayerKeys(platform::KeyedUnarchiver &coder);

    // A value for a key path beginning with "crop" is forced into 0 to 0.95;
    // always true.
    bool validateValue(QVariant &value, const QString &keyPath) const;

    // Reads the photo at imageFileName with its metadata; the photo is also
    // the icon. A file that cannot be read leaves both null. A PDF page
    // becomes a picture (VLImage::pageAsPhoto), as when it is handed over.
    void loadImage();
    // The same with the photo decoded already (an open that checked the file
    // hands over what it read, so the photo is decoded once).
    void loadDecodedImage(std::shared_ptr<VLImage> image);
    // The photo from a decoded picture, its name, path and metadata from the
    // file (`metadata`, when read with the picture).
    void loadCGImage(const QImage &image, const QUrl &originatedFrom, const platform::ImageMetadata &metadata = {});

    double cropLeft() const { return m_cropLeft; }
    double cropTop() const { return m_cropTop; }
    double cropRight() const { return m_cropRight; }
    double cropBottom() const { return m_cropBottom; }
    // Each keeps the opposite crop within the invariant, then hands the crop
    // to the photo.
    void setCropLeft(double value);
    void setCropTop(double value);
    void setCropRight(double value);
    void setCropBottom(double value);

    // The visible part keeps the ratio (width / height), shifted towards the
    // centre (fractions, y up) as far as the picture allows.
    void cropToAspectRatio(double ratio, const QPointF &centerPoint);
    // All four crops to 0 without notifications and without telling the photo.
    void resetCropSetting();
    void updateCropFilter();

    // The visible part in pixels of the upright picture, origin bottom left.
    QRectF croppedRect() const;
    // The centre of the visible part in fractions of the picture, y up.
    QPointF centerPoint() const;

    std::shared_ptr<VLImage> image() const;
    void setImage(std::shared_ptr<VLImage> image);
    QString imageFileName() const { return m_imageFileName; }
    void setImageFileName(const QString &path) { m_imageFileName = path; }
    QRectF lastDrawRect() const { return m_lastDrawRect; }
    void setLastDrawRect(const QRectF &rect) { m_lastDrawRect = rect; }
    bool isDragging() const { return m_isDragging; }
    void setIsDragging(bool dragging) { m_isDragging = dragging; }
    QPointF dragStartPosition() const { return m_dragStartPosition; }
    void setDragStartPosition(const QPointF &point) { m_dragStartPosition = point; }

signals:
    void imageChanged();
    void cropLeftChanged();
    void cropTopChanged();
    void cropRightChanged();
    void cropBottomChanged();

private:
    enum class Side { Left, Top, Right, Bottom };
    void setCrop(Side side, double value);
    double &cropRef(Side side);
    void announce(Side side);

    std::shared_ptr<VLImage> m_image;
    QString m_imageFileName;
    double m_cropLeft = 0;
    double m_cropTop = 0;
    double m_cropRight = 0;
    double m_cropBottom = 0;
    bool m_isDragging = false;
    QPointF m_dragStartPosition;
    QRectF m_lastDrawRect;
};
