#pragma once

#include "design/KTLayer.h"
#include "platform/Error.h"

#include <QColor>
#include <QImage>
#include <QSet>

#include <functional>

class Frame;
namespace platform {
class UserDefaults;
}

// The base of every layer that surrounds the photo with an item of the frame
// library (full frame, colour mat, moulding, moulding with corners): the link
// to the library frame (archived as its GUID), the drop shadow settings and
// geometry, taken together with the design's shadow direction and length, and
// the two wrappers every frame puts around its drawing (with the drop shadow;
// as an eraser for frames that act as a mask).
class KTFrameLayer : public KTLayer
{
    Q_OBJECT
    Q_PROPERTY(bool dropShadow READ dropShadow WRITE setDropShadow)
    Q_PROPERTY(double shadowLength READ shadowLength WRITE setShadowLength)
    Q_PROPERTY(double shadowOffsetScaleFactor READ shadowOffsetScaleFactor WRITE setShadowOffsetScaleFactor)

public:
    static constexpr double kDegreesToRadians = 0.017453292519943295;
    static constexpr double kBlurPerShortSide = 0.015;

    // Frame type names, compared exactly.
    static constexpr const char *kFullFrameTypeName = "Full frame";
    static constexpr const char *kMouldingTypeName = "Moulding";
    static constexpr const char *kMouldingWithCornersTypeName = "Moulding with corners";
    static constexpr const char *kColorMatTypeName = "Color Mat";

    static constexpr const char *kMissingFrameWarning = "Couldn't find frame '%1' in the frame library";
    static constexpr const char *kMissingPicturesWarning =
        "The pictures of frame '%1' are missing from the frame library or damaged";
    static constexpr const char *kNoIconResource = "NoIcon";
    static constexpr const char *kMaskBadgeResource = "mask";
    // The size of the icons the library keeps for its frames.
    static constexpr int kLibraryIconSide = 92;

    // What the user's preferences give a frame layer made anew. The caller
    // reads them from its settings and hands them in; blank values otherwise.
    struct NewLayerSettings {
        // The last shadow choice made on a moulding is the next one's.
        static constexpr const char *kMouldingShadowKey = "MoldingFrameLayerShadowEnabled";
        bool mouldingShadow = false;

        static NewLayerSettings fromDefaults(const platform::UserDefaults &defaults);
        void saveTo(platform::UserDefaults &defaults) const;
    };

    KTFrameLayer();
    ~KTFrameLayer() override;

    // "<layer> -- Collection <c>, Set <s>, frameName <f>, images loaded|not loaded".
    QString description() const override;

    // A new layer of the class the frame's type names, named after the frame,
    // with its icon and pictures; null for a frame without a known type.
    static std::shared_ptr<KTFrameLayer> frameLayerFromFrame(Frame *frame, const NewLayerSettings &settings);
    // The same with blank settings (icons, previews of built-in content).
    static std::shared_ptr<KTFrameLayer> frameLayerFromFrame(Frame *frame);

    // Loads the frame's pictures and settings; the base loads nothing.
    virtual bool loadImages();
    // After loading: a picture the frame names could not be read (its file
    // is gone or damaged), so the frame would be drawn without it.
    virtual bool missesPictures() const { return false; }
    // Drawn from the layer's own settings alone when the library lacks its
    // frame (a colour mat); the others need the library's pictures.
    virtual bool drawsWithoutLibraryFrame() const { return false; }
    // An icon of the frame alone; the base has none.
    virtual QImage iconOfSize(const QSizeF &size);
    // Whether what the frame draws erases what lies inside it.
    virtual bool actAsMask() const;

    bool shouldDrawShadow() const;
    double shadowLengthFactor() const;
    // The colour of every frame's drop shadow: black at one third.
    static QColor shadowColor();
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
    // (main thread) and outlives the layer's use of it. Null in a copy for
    // rendering.
    Frame *theFrame() const { return m_theFrame; }
    void setTheFrame(Frame *frame);
    // The GUID the layer archives: its frame's, or the one a decoded design
    // named when the library lacks that frame (kept so a later save does not
    // lose the link).
    QString frameGUID() const;
    bool imagesLoaded() const { return m_imagesLoaded; }
    bool dropShadow() const { return m_dropShadow; }
    // Stores the setting; loading, copying settings and drawing icons use this.
    virtual void setDropShadow(bool on);
    // The user's own choice in the settings panel. Subclasses that remember
    // the last choice for new layers note it in `next` here, never in
    // setDropShadow; the caller keeps `next`.
    virtual void setDropShadowByUser(bool on, NewLayerSettings &next);
    double shadowLength() const { return m_shadowLength; }
    void setShadowLength(double length);
    double shadowOffsetScaleFactor() const { return m_shadowOffsetScaleFactor; }
    void setShadowOffsetScaleFactor(double factor);
    bool missesFrameInLibrary() const { return m_missesFrameInLibrary; }
    void setMissesFrameInLibrary(bool misses) { m_missesFrameInLibrary = misses; }
    // A picture of its frame is in the library but could not be opened in
    // the memory there was: the frame is not missing, the memory is.
    bool picturesLackMemory() const { return m_picturesLackMemory; }

    std::shared_ptr<KTLayer> copyForRendering() const override;

    // "frameGUID" (object), "dropShadow", "shadowLength" and
    // "shadowOffsetScaleFactor" (32-bit floats) after the layer's keys.
    // Decoding looks the frame up again; a frame the library lacks gives the
    // placeholder icon and one warning.
    void encode(platform::KeyedArchiver &coder) const override;
    void decode(platform::KeyedUnarchiver &coder) override;

    // Where warnings go (the application's warnings list); without one they
    // are logged. Thread-safe.
    using WarningPoster = std::function<void(const QString &message)>;
    static void setWarningPoster(WarningPoster poster);
    static void postWarning(const QString &message);

    // The picture that stands for a frame the library lacks, and the badge
    // drawn on icons of masking frames: the application's resources, or a
    // drawn stand-in when they are missing.
    static QImage noIconImage();
    static QImage maskBadgeImage();

    // Makes the library's frames draw their icons through frame layers
    // (idempotent; done when the design library is loaded).
    static void installLibraryIconBuilder();
    static QImage libraryIconForFrame(Frame &frame, const QSize &size);

signals:
    // A setting of the frame's own changed (its properties' change signal).
    void settingsChanged();

protected:
    // A layer made anew takes what of the settings concerns its kind.
    virtual void applyNewLayerSettings(const NewLayerSettings &) {}
    void setImagesLoaded(bool loaded) { m_imagesLoaded = loaded; }
    // The frame can't be drawn: it gets the missing frame's icon and counts as missing.
    void markAsMissing();
    // Notes why a picture of the frame could not be opened.
    void notePictureFailure(const platform::Error &why);
    void copyFrameFieldsFrom(const KTFrameLayer &other);

    // The keys whose change asks the design for a redraw with this layer, and
    // those that ask for a quick redraw; the base declares none.
    virtual QSet<QString> keyPathsForValuesAffectingLayerChanged() const;
    virtual QSet<QString> keyPathsForValuesAffectingLayerChangedFastRedraw() const;
    // Announces a change of `key` to the design through the sets above.
    void didChangeValueForKey(const QString &key);

    // Draws the frame alone into a fresh design made only for icons, leaving
    // the layer in the design that held it before.
    QImage iconFromDesignOfSize(const QSizeF &size);
    // A shared pointer to this layer, owning it when it is owned already.
    std::shared_ptr<KTFrameLayer> selfPointer();

private:
    Frame *m_theFrame = nullptr;
    QString m_frameGUID;
    bool m_imagesLoaded = false;
    bool m_dropShadow = true;
    double m_shadowLength = 1.0;
    double m_shadowOffsetScaleFactor = 0.03;
    bool m_missesFrameInLibrary = false;
    bool m_picturesLackMemory = false;
};
