#include "frameeditor/KTFEPreviewView.h"

#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTOverlayPositioning.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "kit/VLBlocks.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/archive/FontNames.h"
#include "platform/archive/StyledText.h"
#include "platform/render/DrawingContext.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QTimer>

namespace {

// The preview's ground: a plain middle grey.
const QColor kPreviewGround(128, 128, 128);

} // namespace

KTFEPreviewView::KTFEPreviewView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QString::fromLatin1(kObjectName));
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_resizeSettled = new QTimer(this);
    m_resizeSettled->setSingleShot(true);
    m_resizeSettled->setInterval(kResizeSettleMs);
    connect(m_resizeSettled, &QTimer::timeout, this, [this] {
        m_inLiveResize = false;
        update();
    });
    setUpPreview();
}

KTFEPreviewView::~KTFEPreviewView()
{
    for (auto id : std::as_const(m_observers))
        platform::NotificationCenter::defaultCenter().removeObserver(id);
}

void KTFEPreviewView::setUpPreview()
{
    m_previewTemplate = std::make_shared<KTTemplate>();
    // Showing a frame here is no use of it: the library's recent list stays.
    m_previewTemplate->setUsedForIconGeneration(true);
    const QString picture = platform::Bundle::pathForResource(QString::fromLatin1(kSamplePictureName),
                                                              QString::fromLatin1(kSamplePictureExtension));
    if (picture.isEmpty() || !m_previewTemplate->importImage(QUrl::fromLocalFile(picture))) {
        // A damaged installation still gets a preview: a plain picture stands in.
        platform::logLine(QString("Warning: the frame preview's sample picture %1 is missing or unreadable")
                              .arg(QString::fromLatin1(kSamplePictureName)));
        QImage plain(600, 400, QImage::Format_RGB32);
        plain.fill(QColor(200, 200, 196));
        m_previewTemplate->importCGImage(plain, QUrl());
    }
    m_previewTemplate->setDrawShadows(false);

    platform::StyledText::Attributes look;
    look.font = platform::StyledText::Font{
        platform::FontNames::nameForFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont)), kCaptionFontSize, {}};
    look.color = platform::Color::white(kCaptionWhite, kCaptionAlpha);
    auto caption = std::make_shared<KTTextOverlayLayer>();
    caption->setOverlayText(platform::StyledText(tr(kCaption), look));
    caption->setScale(kCaptionScale);
    KTOverlayPositioning centred;
    centred.position = QPointF(0, 0);
    centred.hSnap = 2;
    centred.vSnap = 2;
    caption->setPositioning(centred);
    m_previewTemplate->addTopmostLayer(caption);

    QPointer<KTFEPreviewView> self(this);
    auto redraw = [self](const platform::Notification &) {
        if (self)
            self->update();
    };
    auto &center = platform::NotificationCenter::defaultCenter();
    for (const char *name : {KTTemplate::kModelChangedNotification, KTTemplate::kLayerChangedNotification})
        m_observers << center.addObserver(QString::fromLatin1(name), m_previewTemplate.get(), redraw, this);
}

void KTFEPreviewView::displayPreviewWithFrame(Frame *frame)
{
    std::shared_ptr<KTFrameLayer> layer = KTFrameLayer::frameLayerFromFrame(
        frame, KTFrameLayer::NewLayerSettings::fromDefaults(platform::UserDefaults::standard()));
    if (!layer)
        return;
    KTTemplate &design = *m_previewTemplate;
    if (design.layers().size() < 3)
        design.addLayer(layer, design.imageLayer());
    else
        design.replaceLayer(design.layerAtIndex(1), layer);
    // A moulding lies wholly over the picture here, so the whole picture stays in view.
    if (auto *moulding = qobject_cast<KTMoldingFrameLayer *>(layer.get()))
        moulding->setFrameOverImage(1.0);
    update();
}

void KTFEPreviewView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Only a view already on screen is being resized by the user.
    if (isVisible() && !event->oldSize().isEmpty()) {
        m_inLiveResize = true;
        m_resizeSettled->start();
    }
}

void KTFEPreviewView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), kPreviewGround);
    const bool highQuality = !m_inLiveResize;
    const QRectF bounds = rect();
    VLDrawBlockInTransparencyLayer(&painter, [&](QPainter *layerPainter) {
        platform::DrawingContext context(*layerPainter, height());
        m_previewTemplate->drawToRect(bounds, highQuality, false, nullptr, false);
    });
    m_lastDrawingHighQuality = highQuality;
    emit drawn();
}
