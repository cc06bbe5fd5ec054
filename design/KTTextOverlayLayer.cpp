#include "design/KTTextOverlayLayer.h"

#include "design/KTTemplate.h"
#include "design/KTTrackingAreaHost.h"
#include "design/VLImage.h"
#include "design/VLImageMetadataManager.h"
#include "kit/VLValueAdditions.h"
#include "platform/archive/FontNames.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/render/DrawingContext.h"

#include <QAbstractTextDocumentLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <cmath>
#include <mutex>

namespace {

const QString kScaleKey = QStringLiteral("scale");
const QString kPositionKey = QStringLiteral("position");
const QString kHSnapKey = QStringLiteral("hsnap");
const QString kVSnapKey = QStringLiteral("vsnap");
const QString kOpacityKey = QStringLiteral("opacity");
const QString kTextKey = QStringLiteral("watermarkText");
const QString kVersionKey = QStringLiteral("version");

constexpr double kIconSide = 76;
constexpr double kIconInset = 2;
// Guides reach this far beyond the container.
constexpr double kGuideOverhang = 12;

bool containsPoint(const QRectF &r, const QPointF &p)
{
    return p.x() >= r.x() && p.x() < r.x() + r.width() && p.y() >= r.y() && p.y() < r.y() + r.height();
}

bool optionHeld(const QMouseEvent *event)
{
    return event && event->modifiers().testFlag(Qt::AltModifier);
}

double finiteOr(double value, double fallback)
{
    return std::isfinite(value) ? value : fallback;
}

bool isLineBreak(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator
           || c == QChar::ParagraphSeparator;
}

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

// Draws a laid-out text into a y-up rect of the current context.
void drawDocument(platform::DrawingContext &ctx, const QTextDocument &doc, const QRectF &rect)
{
    ctx.drawFlipped(rect, [&](QPainter &p, const QRectF &local) {
        p.translate(local.topLeft());
        QAbstractTextDocumentLayout::PaintContext paint;
        paint.palette.setColor(QPalette::Text, Qt::black);
        doc.documentLayout()->draw(&p, paint);
    });
}

} // namespace

KTTextOverlayLayer::KTTextOverlayLayer()
{
    connect(this, &KTLayer::hiddenChanged, this, &KTLayer::layerChanged);
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
    QTextDocument typed;
    m_overlayText.toTextDocument(&typed);
    std::unique_ptr<QTextDocument> processed = manager->processTemplateString(&typed);
    m_processedOverlayString = processed ? platform::StyledText::fromTextDocument(*processed) : m_overlayText;
    m_stringChanged = true;
    m_measureDirty = true;
}

void KTTextOverlayLayer::setOverlayText(const platform::StyledText &text)
{
    m_overlayText = text;
    processText();
    setIcon(iconForText(text));
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

void KTTextOverlayLayer::setOpacity(double opacity)
{
    m_opacity = opacity;
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

void KTTextOverlayLayer::forceRedraw()
{
    emit layerChangedFastRedraw();
}

void KTTextOverlayLayer::setIsSelected(bool selected)
{
    KTLayer::setIsSelected(selected);
    forceRedraw();
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
    setOverlayText(m_overlayText);
}

void KTTextOverlayLayer::removeObserversFromTemplate(KTTemplate *design)
{
    if (!inTemplate() || inTemplate() == design)
        QObject::disconnect(m_managerConnection);
}

// --- drawing ---

void KTTextOverlayLayer::drawGuides(const QRectF &r) const
{
    platform::DrawingContext *ctx = platform::DrawingContext::current();
    if (!ctx)
        return;
    auto guide = [&](QPointF from, QPointF to, double offset) {
        QPen pen(Qt::red);
        pen.setWidthF(1.0);
        pen.setCapStyle(Qt::FlatCap);
        // A solid guide: the text sits exactly on that anchor.
        if (std::abs(offset) > 0.001)
            pen.setDashPattern({4, 4});
        QPainterPath path(from);
        path.lineTo(to);
        ctx->strokePath(path, pen);
    };
    const double ax = m_positioning.hSnap == 0   ? r.x()
                      : m_positioning.hSnap == 2 ? r.x() + r.width() / 2
                                                 : r.x() + r.width();
    const double ay = m_positioning.vSnap == 0   ? r.y()
                      : m_positioning.vSnap == 1 ? r.y() + r.height()
                                                 : r.y() + r.height() / 2;
    guide(QPointF(ax, r.y() - kGuideOverhang), QPointF(ax, r.y() + r.height() + kGuideOverhang),
          m_positioning.position.x());
    guide(QPointF(r.x() - kGuideOverhang, ay), QPointF(r.x() + r.width() + kGuideOverhang, ay),
          m_positioning.position.y());
}

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
        if (!chars.isEmpty() && !isLineBreak(chars.front())) {
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
    }

    platform::DrawingContext *ctx = platform::DrawingContext::current();
    const QRectF placed = overlayRectForRelativePosition(rect, m_positioning, m_drawSize);
    if (ctx) {
        ctx->saveGState();
        if (m_isDragging && m_shouldDrawSnaps)
            drawGuides(rect);
        ctx->clipToRect(rect);
        ctx->setOpacity(ctx->opacity() * m_opacity);
        drawDocument(*ctx, *m_drawDocument, placed);
        ctx->restoreGState();
        if (m_stringToDraw && isSelected())
            drawAllHandlersForRect(placed);
    }
    m_lastDrawingRect = placed;
}

// --- mouse ---

bool KTTextOverlayLayer::isHitAtPoint(const QPointF &point) const
{
    return containsPoint(m_lastDrawingRect, point) || handlerForPointAndRect(point, m_lastDrawingRect) != -1;
}

bool KTTextOverlayLayer::acceptsMouseEvents() const
{
    return true;
}

void KTTextOverlayLayer::mouseDownAtPoint(const QPointF &point, const QMouseEvent *)
{
    m_currentHandle = handlerForPointAndRect(point, m_lastDrawingRect);
    if (m_currentHandle == -1 && !containsPoint(m_lastDrawingRect, point))
        return;
    m_cursorRectsDisabled = true;
    m_isDragging = true;
    m_dragStartPoint = point;
    m_dragStartScale = m_scale;
    m_dragStartRect = m_lastDrawingRect;
    setCursor(Qt::ClosedHandCursor);
}

void KTTextOverlayLayer::mouseDraggedAtPoint(const QPointF &point, const QMouseEvent *event)
{
    if (!m_isDragging)
        return;
    const double dx = point.x() - m_dragStartPoint.x();
    const double dy = point.y() - m_dragStartPoint.y();
    m_shouldDrawSnaps = point != m_dragStartPoint;
    if (m_currentHandle == -1) {
        const QRectF moved = m_dragStartRect.translated(dx, dy);
        const KTOverlayPositioning placed = relativePositionForOverlayRect(moved, m_lastInRect);
        setPositioning(optionHeld(event) ? placed : zeroTinyOffsets(placed, kSnapThreshold));
        return;
    }
    const double width = m_dragStartRect.width();
    if (!(width > 0))
        return;
    const bool rightEdge = m_currentHandle == 0 || m_currentHandle == 2;
    const double s = (rightEdge ? width + dx : width - dx) / width * m_dragStartScale;
    if (s >= kMinDragScale && s <= kMaxDragScale)
        setScale(s);
}

void KTTextOverlayLayer::mouseUpAtPoint(const QPointF &point, const QMouseEvent *)
{
    if (m_isDragging)
        forceRedraw();
    m_isDragging = false;
    m_cursorRectsDisabled = false;
    if (containsPoint(m_lastDrawingRect, point))
        setCursor(Qt::OpenHandCursor);
}

void KTTextOverlayLayer::defineTrackingAreasInView(KTTrackingAreaHost *view)
{
    if (!view)
        return;
    defineAllTrackingAreasForRectAndView(m_lastDrawingRect, view);
    QVariantMap info;
    info.insert(QStringLiteral("view"), view->trackingAreaViewValue());
    view->addTrackingArea(m_lastDrawingRect, this, info);
}

void KTTextOverlayLayer::mouseEntered(const QVariantMap &userInfo)
{
    m_enteredInView = userInfo.value(QStringLiteral("view"));
    setCursor(m_isDragging ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
}

void KTTextOverlayLayer::mouseExited()
{
    setCursor(Qt::ArrowCursor);
}

void KTTextOverlayLayer::mouseMoved(const QPointF &point)
{
    if (!containsPoint(m_lastDrawingRect, point) && handlerForPointAndRect(point, m_lastDrawingRect) != -1)
        return;
    setCursor(m_isDragging ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
}

void KTTextOverlayLayer::setCursor(Qt::CursorShape shape)
{
    if (m_cursorShape == shape)
        return;
    m_cursorShape = shape;
    emit cursorShapeChanged();
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
    coder.encodeFloat(float(m_scale), kScaleKey);
    coder.encodePoint(m_positioning.position, kPositionKey);
    coder.encodeInteger(qint64(m_positioning.hSnap), kHSnapKey);
    coder.encodeInteger(qint64(m_positioning.vSnap), kVSnapKey);
    coder.encodeFloat(float(m_opacity), kOpacityKey);
    coder.encodeObject(QVariant::fromValue(m_overlayText), kTextKey);
    coder.encodeInteger(kArchiveVersion, kVersionKey);
}

void KTTextOverlayLayer::decodeTextOverlayKeys(platform::KeyedUnarchiver &coder)
{
    setScale(coder.decodeFloatForKey(kScaleKey));
    setOpacity(finiteOr(coder.decodeFloatForKey(kOpacityKey), 1.0));
    QPointF position = coder.decodePointForKey(kPositionKey);
    position = QPointF(finiteOr(position.x(), 0), finiteOr(position.y(), 0));
    KTOverlayPositioning placed;
    if (coder.containsValueForKey(kVSnapKey) && coder.containsValueForKey(kHSnapKey)) {
        placed.position = position;
        placed.hSnap = std::uint64_t(coder.decodeIntegerForKey(kHSnapKey));
        placed.vSnap = std::uint64_t(coder.decodeIntegerForKey(kVSnapKey));
    } else {
        // The earlier format kept the text's centre, 0.5 meaning centred.
        placed.position = position - QPointF(0.5, 0.5);
        placed.hSnap = 2;
        placed.vSnap = 2;
    }
    m_positioning = placed;
    const QVariant text = coder.decodeObjectForKey(kTextKey);
    if (text.typeId() == qMetaTypeId<platform::StyledText>())
        setOverlayText(text.value<platform::StyledText>());
    else if (text.typeId() == QMetaType::QString)
        setOverlayText(platform::StyledText(text.toString()));
    else
        setOverlayText(platform::StyledText());
    m_needToAdjustScale = !coder.containsValueForKey(kVersionKey);
    if (m_needToAdjustScale)
        setAlignment(alignmentFromHorizontalSnap(m_positioning.hSnap));
    m_lastScale = -1.0;
}

std::shared_ptr<KTLayer> KTTextOverlayLayer::copyForRendering() const
{
    auto copy = std::make_shared<KTTextOverlayLayer>();
    copy->copyBaseFieldsFrom(*this);
    copy->m_overlayText = m_overlayText;
    copy->m_scale = m_scale;
    copy->m_opacity = m_opacity;
    copy->m_positioning = m_positioning;
    copy->m_needToAdjustScale = m_needToAdjustScale;
    copy->m_lastDrawingRect = m_lastDrawingRect;
    copy->m_lastInRect = m_lastInRect;
    return copy;
}
