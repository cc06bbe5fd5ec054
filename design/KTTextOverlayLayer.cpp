#include "design/KTTextOverlayLayer.h"

#include "design/KTTemplate.h"
#include "design/VLImage.h"
#include "design/VLImageMetadataManager.h"
#include "kit/VLValueAdditions.h"
#include "platform/archive/FontNames.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/render/DrawingContext.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <cmath>
#include <mutex>
#include <vector>

namespace {

const QString kScaleKey = QStringLiteral("scale");
const QString kOpacityKey = QStringLiteral("opacity");
const QString kTextKey = QStringLiteral("watermarkText");
const QString kVersionKey = QStringLiteral("version");

constexpr double kIconSide = 76;
constexpr double kIconInset = 2;
// Guides reach this far beyond the container.
constexpr double kGuideOverhang = 12;

// Text sizes are points: lay out against a 72 dpi device, whatever the
// drawing target's resolution, and without the document's default margin.
QPaintDevice *layoutDevice()
{
    thread_local QImage device = [] {
        QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
        image.setDotsPerMeterX(2835);
        image.setDotsPerMeterY(2835);
        return image;
    }();
    return &device;
}

// The text laid out unwrapped, as wide as its widest line (so paragraph
// alignment works within that width).
std::shared_ptr<QTextDocument> typeset(const platform::StyledText &text)
{
    auto doc = std::make_shared<QTextDocument>();
    doc->setUndoRedoEnabled(false);
    doc->documentLayout()->setPaintDevice(layoutDevice());
    doc->setDocumentMargin(0);
    doc->setDefaultFont(platform::FontNames::fontForName(QStringLiteral("Helvetica"), 12));
    QTextOption option = doc->defaultTextOption();
    option.setWrapMode(QTextOption::NoWrap);
    doc->setDefaultTextOption(option);
    text.toTextDocument(doc.get());
    doc->setTextWidth(doc->idealWidth());
    return doc;
}

QSizeF typesetSize(const QTextDocument &doc)
{
    return QSizeF(doc.idealWidth(), doc.size().height());
}

// The laid-out text with its colours matched to a picture's colour space.
std::shared_ptr<QTextDocument> matchedDocument(const QTextDocument &doc, const platform::ColorMatch &match)
{
    std::shared_ptr<QTextDocument> copy(doc.clone());
    copy->documentLayout()->setPaintDevice(layoutDevice());
    copy->setDocumentMargin(doc.documentMargin());
    copy->setDefaultFont(doc.defaultFont());
    copy->setDefaultTextOption(doc.defaultTextOption());
    struct Run {
        int position;
        int length;
        QTextCharFormat format;
    };
    std::vector<Run> runs;
    for (QTextBlock block = copy->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            if (format.hasProperty(QTextFormat::ForegroundBrush))
                format.setForeground(match.brush(format.foreground()));
            if (format.hasProperty(QTextFormat::BackgroundBrush))
                format.setBackground(match.brush(format.background()));
            if (format.hasProperty(QTextFormat::TextUnderlineColor))
                format.setUnderlineColor(match.color(format.underlineColor()));
            runs.push_back({fragment.position(), fragment.length(), format});
        }
    }
    // Set after the walk: changing formats regroups the fragments.
    QTextCursor cursor(copy.get());
    for (const Run &run : runs) {
        cursor.setPosition(run.position);
        cursor.setPosition(run.position + run.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(run.format);
    }
    copy->setTextWidth(doc.textWidth());
    return copy;
}

// Draws a laid-out text into a y-up rect of the current context.
void drawDocument(platform::DrawingContext &ctx, const QTextDocument &doc, const QRectF &rect)
{
    ctx.drawFlipped(rect, [&](QPainter &p, const QRectF &local) {
        p.translate(local.topLeft());
        QAbstractTextDocumentLayout::PaintContext paint;
        paint.palette.setColor(QPalette::Text, ctx.matchedColor(Qt::black));
        doc.documentLayout()->draw(&p, paint);
    });
}

} // namespace

KTTextOverlayLayer::KTTextOverlayLayer()
    : KTOverlayLayer(0.1)
{
}

KTTextOverlayLayer::~KTTextOverlayLayer()
{
    QObject::disconnect(m_managerConnection);
}

// --- text and look ---

void KTTextOverlayLayer::processText()
{
    KTTemplate *design = inTemplate();
    std::shared_ptr<VLImageMetadataManager> manager = design ? design->metadataManager() : nullptr;
    if (!manager) {
        // Nothing to substitute yet: the raw text is drawn, and substituted
        // once the layer is in a design with a manager.
        m_processedOverlayString.reset();
        return;
    }
    // A text without placeholders comes out the same from every manager:
    // worked out once, and kept by copies.
    if (m_unfilledText) {
        m_processedOverlayString = m_unfilledText;
        m_stringChanged = true;
        m_measureDirty = true;
        return;
    }
    QTextDocument typed;
    typed.setUndoRedoEnabled(false);
    m_overlayText.toTextDocument(&typed);
    const bool fills = VLImageMetadataManager::countOfPlaceholders(m_overlayText.string()) > 0;
    if (fills)
        manager->fillTemplateDocument(typed);
    m_processedOverlayString = platform::StyledText::fromTextDocument(typed);
    if (!fills)
        m_unfilledText = m_processedOverlayString;
    m_stringChanged = true;
    m_measureDirty = true;
}

void KTTextOverlayLayer::setOverlayText(const platform::StyledText &text)
{
    m_overlayText = text;
    m_unfilledText.reset();
    processText();
    m_iconPending = true;
    emit iconChanged();
    m_stringChanged = true;
    m_measureDirty = true;
    emit layerChanged();
}

std::shared_ptr<VLImage> KTTextOverlayLayer::iconForText(const platform::StyledText &text)
{
    QImage image(static_cast<int>(kIconSide), static_cast<int>(kIconSide), QImage::Format_ARGB32_Premultiplied);
    std::shared_ptr<QTextDocument> doc = typeset(text);
    const double brightness = NSAttributedStringColors::vlw_textBrightness(*doc);
    image.fill(NSAttributedStringColors::vlw_adaptiveBackgroundColor(brightness));
    {
        platform::DrawingContext ctx(image);
        const QRectF inset(kIconInset, kIconInset, kIconSide - 2 * kIconInset, kIconSide - 2 * kIconInset);
        ctx.clipToRect(inset);
        // The text hangs from the top of the square, as typed.
        const QSizeF size = typesetSize(*doc);
        drawDocument(ctx, *doc, QRectF(inset.x(), inset.y() + inset.height() - size.height(), size.width(), size.height()));
    }
    return VLImage::initWithNSImage(image, 0);
}

qsizetype KTTextOverlayLayer::filledLength(qsizetype limit, qsizetype *lineBreaks) const
{
    const KTTemplate *design = inTemplate();
    const std::shared_ptr<VLImageMetadataManager> manager = design ? design->metadataManager() : nullptr;
    // Without a manager the text is drawn as typed, as by one without values.
    return (manager ? *manager : VLImageMetadataManager()).filledLength(m_overlayText.string(), limit, lineBreaks);
}

std::shared_ptr<VLImage> KTTextOverlayLayer::icon() const
{
    if (m_iconPending) {
        m_textIcon = iconForText(m_overlayText);
        m_iconPending = false;
    }
    return m_textIcon;
}

void KTTextOverlayLayer::setAlignment(int alignment)
{
    platform::StyledText text = m_overlayText;
    platform::StyledText::ParagraphStyle style;
    style.alignment = alignment;
    text.setParagraphStyle(style);
    setOverlayText(text);
}

int KTTextOverlayLayer::alignmentFromHorizontalSnap(std::uint64_t hSnap)
{
    if (hSnap == 0)
        return platform::StyledText::Left;
    if (hSnap == 2)
        return platform::StyledText::Center;
    return platform::StyledText::Right;
}

void KTTextOverlayLayer::setScale(double scale)
{
    m_scale = NSNumberVLExtras::numberEnforcedBetweenAnd(scale, kMinScale, kMaxScale);
    emit layerChangedFastRedraw();
}

void KTTextOverlayLayer::setPositioning(const KTOverlayPositioning &positioning)
{
    const bool newAnchor = positioning.hSnap != m_positioning.hSnap;
    m_positioning = positioning;
    if (newAnchor)
        setAlignment(alignmentFromHorizontalSnap(positioning.hSnap));
    emit layerChangedFastRedraw();
}

bool KTTextOverlayLayer::validateValue(QVariant &value, const QString &keyPath) const
{
    if (keyPath == kScaleKey)
        value = NSNumberVLExtras::numberEnforcedBetweenAnd(value, kMinScale, kMaxValidatedScale);
    else if (keyPath == kOpacityKey)
        value = NSNumberVLExtras::numberEnforcedBetweenAnd(value, 0.0, 1.0);
    return true;
}

// --- design membership ---

void KTTextOverlayLayer::setInTemplate(KTTemplate *design)
{
    QObject::disconnect(m_managerConnection);
    KTLayer::setInTemplate(design);
    if (design) {
        m_managerConnection =
            connect(design, &KTTemplate::metadataManagerChanged, this, &KTTextOverlayLayer::metadataManagerChanged);
    }
    // Substituted again against the new design's manager at the next drawing.
    m_processedOverlayString.reset();
    m_stringChanged = true;
    m_measureDirty = true;
}

void KTTextOverlayLayer::metadataManagerChanged()
{
    // Filled from the new values at the next drawing: a design read only to
    // take the photo's manager next fills its texts once, not twice.
    m_processedOverlayString.reset();
    m_stringChanged = true;
    m_measureDirty = true;
    emit layerChanged();
}

void KTTextOverlayLayer::removeObserversFromTemplate(KTTemplate *design)
{
    if (!inTemplate() || inTemplate() == design)
        QObject::disconnect(m_managerConnection);
}

// --- drawing ---

void KTTextOverlayLayer::drawLayerForRect(const QRectF &rect, bool, bool)
{
    m_lastInRect = rect;
    if (!m_processedOverlayString)
        processText();
    const platform::StyledText &processed = m_processedOverlayString ? *m_processedOverlayString : m_overlayText;

    // The first line sets the factor. An empty first line (an empty text, or
    // one that begins with a line break) has no height: nothing is drawn.
    if (m_measureDirty) {
        m_firstLineSize = QSizeF();
        m_wholeSize = QSizeF();
        const QString &chars = processed.string();
        if (!chars.isEmpty() && !VLImageMetadataManager::isLineBreak(chars.front())) {
            std::shared_ptr<QTextDocument> typed = typeset(processed);
            const QTextBlock first = typed->begin();
            if (first.isValid() && first.layout() && first.layout()->lineCount() > 0) {
                const QTextLine line = first.layout()->lineAt(0);
                m_firstLineSize = QSizeF(line.naturalTextWidth(), line.height());
            }
            m_wholeSize = typesetSize(*typed);
        }
        m_measureDirty = false;
    }
    const double h1 = m_firstLineSize.height();
    const double w1 = m_firstLineSize.width();
    if (!(h1 > 0) || !(rect.height() > 0) || !std::isfinite(rect.height())) {
        m_lastDrawingRect = QRectF(overlayRectForRelativePosition(rect, m_positioning, QSizeF(0, 0)).topLeft(), QSizeF(0, 0));
        return;
    }

    const double f = m_scale * rect.height() / h1;
    double fontFactor = h1 * f / h1;
    if (m_needToAdjustScale) {
        // The earlier format fitted the whole text into the rect shrunk by
        // `scale`; keep the width it had there for the first line.
        const QSizeF whole = m_wholeSize;
        const double target = whole.width() / rect.width() > whole.height() / rect.height()
                                  ? m_scale * rect.width()
                                  : m_scale * rect.height() * whole.width() / whole.height();
        const double t = target / (w1 * f);
        if (std::isfinite(t) && t > 0) {
            fontFactor *= t;
            setScale(m_scale * t);
        }
        m_needToAdjustScale = false;
    }

    if (fontFactor != m_lastScale || m_stringChanged || !m_drawDocument) {
        m_stringToDraw = processed.scaledFonts(fontFactor);
        m_drawDocument = typeset(*m_stringToDraw);
        m_drawSize = typesetSize(*m_drawDocument);
        m_lastScale = fontFactor;
        m_stringChanged = false;
        m_matchedDocument.reset();
    }

    platform::DrawingContext *ctx = platform::DrawingContext::current();
    const QRectF placed = overlayRectForRelativePosition(rect, m_positioning, m_drawSize);
    if (ctx) {
        ctx->saveGState();
        if (m_isDragging && m_shouldDrawSnaps)
            drawGuides(rect, 4, kGuideOverhang);
        ctx->clipToRect(rect);
        ctx->setOpacity(ctx->opacity() * m_opacity);
        const platform::ColorMatch *match = ctx->colorMatch().get();
        if (match && (!m_matchedDocument || m_matchedKey != match->key())) {
            m_matchedDocument = matchedDocument(*m_drawDocument, *match);
            m_matchedKey = match->key();
        }
        drawDocument(*ctx, match ? *m_matchedDocument : *m_drawDocument, placed);
        ctx->restoreGState();
        if (m_stringToDraw && isSelected())
            drawAllHandlersForRect(placed);
    }
    m_lastDrawingRect = placed;
}

// --- archive ---

void KTTextOverlayLayer::encode(platform::KeyedArchiver &coder) const
{
    KTLayer::encode(coder);
    encodeTextOverlayKeys(coder);
}

void KTTextOverlayLayer::decode(platform::KeyedUnarchiver &coder)
{
    KTLayer::decode(coder);
    decodeTextOverlayKeys(coder);
}

void KTTextOverlayLayer::registerArchiveClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::KeyedClassRegistry::shared().registerClass<KTTextOverlayLayer>(QStringLiteral("KTTextOverlayLayer"));
    });
}

void KTTextOverlayLayer::encodeTextOverlayKeys(platform::KeyedArchiver &coder) const
{
    encodeOverlayKeys(coder);
    coder.encodeObject(QVariant::fromValue(m_overlayText), kTextKey);
    coder.encodeInteger(kArchiveVersion, kVersionKey);
}

void KTTextOverlayLayer::decodeTextOverlayKeys(platform::KeyedUnarchiver &coder)
{
    setScale(coder.decodeFloatForKey(kScaleKey));
    setOpacity(decodeOpacity(coder));
    m_positioning = decodePositioning(coder);
    const QVariant text = coder.decodeObjectForKey(kTextKey);
    platform::StyledText styled;
    if (text.typeId() == qMetaTypeId<platform::StyledText>())
        styled = text.value<platform::StyledText>();
    else if (text.typeId() == QMetaType::QString)
        styled = platform::StyledText(text.toString());
    const QString &chars = styled.string();
    if (chars.size() > kMaxTextLength && coder.appliesCountLimits()) {
        coder.refuseWithReason(QStringLiteral("a text overlay holds %1 characters, more than the %2 a design may hold")
                                   .arg(chars.size())
                                   .arg(kMaxTextLength));
        return;
    }
    if (const qsizetype count = VLImageMetadataManager::countOfPlaceholders(chars);
        count > kMaxPlaceholders && coder.appliesCountLimits()) {
        coder.refuseWithReason(
            QStringLiteral("a text overlay holds %1 placeholders, more than the %2 a design may hold")
                .arg(count)
                .arg(kMaxPlaceholders));
        return;
    }
    setOverlayText(styled);
    m_needToAdjustScale = !coder.containsValueForKey(kVersionKey);
    if (m_needToAdjustScale)
        setAlignment(alignmentFromHorizontalSnap(m_positioning.hSnap));
    m_lastScale = -1.0;
}

std::shared_ptr<KTLayer> KTTextOverlayLayer::copyForRendering() const
{
    auto copy = std::make_shared<KTTextOverlayLayer>();
    copy->copyOverlayFieldsFrom(*this);
    copy->m_overlayText = m_overlayText;
    copy->m_unfilledText = m_unfilledText;
    copy->m_needToAdjustScale = m_needToAdjustScale;
    return copy;
}
