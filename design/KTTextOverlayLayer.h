#pragma once

#include "design/KTOverlayLayer.h"
#include "platform/archive/StyledText.h"

#include <QByteArray>
#include <QMetaObject>
#include <QRectF>
#include <QSizeF>
#include <QVariant>

#include <memory>
#include <optional>

class QTextDocument;
class VLImage;

namespace platform {
class KeyedArchiver;
class KeyedUnarchiver;
} // namespace platform

// Styled text written over the framed picture: a caption, a signature, a
// date. The text may hold metadata placeholders, which the design's metadata
// manager replaces by the photo's values. Size and place are relative to the
// rect the layer draws into: `scale` is the height of the first line as a
// fraction of that rect's height, `positioning` an anchor per axis with an
// offset. Text is laid out at 72 dpi, so font sizes are points of the design.
//
// Geometry is y-up, in the coordinates of the view that shows the design.
class KTTextOverlayLayer : public KTOverlayLayer
{
    Q_OBJECT

public:
    static constexpr double kMinScale = 0.005;
    static constexpr double kMaxScale = 0.8;
    // Validation (the settings panel) allows less than a handle drag.
    static constexpr double kMaxValidatedScale = 0.5;
    static constexpr double kMinDragScale = 0.05;
    static constexpr double kMaxDragScale = 1.0;
    static constexpr qint64 kArchiveVersion = 2;
    // What an archived text may hold, far beyond any caption: it is laid out
    // whole, several times, at every drawing. The overlay panel takes no
    // text past them; the user's own archives read back whatever they hold.
    static constexpr qsizetype kMaxTextLength = 10000;
    static constexpr qsizetype kMaxPlaceholders = 100;

    KTTextOverlayLayer();
    ~KTTextOverlayLayer() override;

    // --- text and look ---
    platform::StyledText overlayText() const { return m_overlayText; }
    // Stores the text, substitutes its placeholders when the layer is in a
    // design with a metadata manager, and rebuilds the icon (when it is next
    // asked for: a design read only to be drawn never shows it).
    void setOverlayText(const platform::StyledText &text);
    std::shared_ptr<VLImage> icon() const override;
    // A 76 x 76 picture of the text at its typed size on a contrasting ground.
    static std::shared_ptr<VLImage> iconForText(const platform::StyledText &text);
    // Paragraph alignment (StyledText::Alignment codes) over the whole text.
    void setAlignment(int alignment);
    // 0 left, 2 centre, anything else right.
    static int alignmentFromHorizontalSnap(std::uint64_t hSnap);

    // Clamped into 0.005 ... 0.8.
    void setScale(double scale) override;
    // A new horizontal anchor re-aligns the text to it.
    void setPositioning(const KTOverlayPositioning &positioning) override;
    bool needToAdjustScale() const { return m_needToAdjustScale; }
    void setNeedToAdjustScale(bool on) { m_needToAdjustScale = on; }

    // "scale" into 0.005 ... 0.5, "opacity" into 0 ... 1; always true.
    bool validateValue(QVariant &value, const QString &keyPath) const;

    // --- KTLayer ---
    void drawLayerForRect(const QRectF &rect, bool highQuality, bool skipCache) override;
    void setInTemplate(KTTemplate *design) override;
    void removeObserversFromTemplate(KTTemplate *design) override;
    std::shared_ptr<KTLayer> copyForRendering() const override;

    // Keyed archiving: the base layer's keys, then the layer's own.
    void encode(platform::KeyedArchiver &coder) const override;
    void decode(platform::KeyedUnarchiver &coder) override;
    // Makes "KTTextOverlayLayer" decode as this class (the design maps the older name).
    static void registerArchiveClass();
    // --- archive: the layer's own keys, after the base layer's ---
    void encodeTextOverlayKeys(platform::KeyedArchiver &coder) const;
    // Refuses (failWithError) a text beyond kMaxTextLength or kMaxPlaceholders
    // where the unarchiver applies its count limits.
    void decodeTextOverlayKeys(platform::KeyedUnarchiver &coder);

    // How many characters its text holds once the placeholders are filled by
    // its design's manager, and in `lineBreaks` how many line breaks; counted
    // without laying anything out, no further than just past `limit`.
    qsizetype filledLength(qsizetype limit, qsizetype *lineBreaks) const;

    // The text after substitution, at the typed fonts; none until made.
    std::optional<platform::StyledText> processedOverlayString() const { return m_processedOverlayString; }
    // What the last drawing drew (fonts scaled); none until drawn.
    std::optional<platform::StyledText> stringToDraw() const { return m_stringToDraw; }
    double lastScale() const { return m_lastScale; }

protected:
    double minDragScale() const override { return kMinDragScale; }
    double maxDragScale() const override { return kMaxDragScale; }

private:
    void metadataManagerChanged();
    void processText();

    std::optional<platform::StyledText> m_stringToDraw;
    std::optional<platform::StyledText> m_processedOverlayString;
    bool m_stringChanged = true;
    // The processed text's first-line and whole typeset sizes need measuring.
    bool m_measureDirty = true;
    QSizeF m_firstLineSize;
    QSizeF m_wholeSize;
    double m_lastScale = -1.0;

    platform::StyledText m_overlayText;
    // The processed text of a text without placeholders, once worked out.
    std::optional<platform::StyledText> m_unfilledText;
    bool m_needToAdjustScale = false;

    // The laid-out stringToDraw and its size.
    std::shared_ptr<QTextDocument> m_drawDocument;
    // The same with its colours matched to the colour space of an export.
    std::shared_ptr<QTextDocument> m_matchedDocument;
    QByteArray m_matchedKey;
    QSizeF m_drawSize;
    QMetaObject::Connection m_managerConnection;
    // The icon of the text, made when asked for.
    mutable std::shared_ptr<VLImage> m_textIcon;
    mutable bool m_iconPending = true;
};
