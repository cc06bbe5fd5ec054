#include "app/KTDesignPreviewView.h"

#include "design/KTTemplate.h"
#include "platform/UserDefaults.h"
#include "platform/render/DrawingContext.h"

#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>

KTDesignPreviewView::KTDesignPreviewView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("designView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    const double stored = platform::UserDefaults::standard().doubleForKey(QStringLiteral("DesignViewZoomLevel"));
    if (std::isfinite(stored) && stored > 0 && stored <= 1)
        m_zoom = stored;
}

KTDesignPreviewView::~KTDesignPreviewView()
{
    stopObserving();
}

void KTDesignPreviewView::stopObserving()
{
    for (auto id : std::as_const(m_observers))
        platform::NotificationCenter::defaultCenter().removeObserver(id);
    m_observers.clear();
}

void KTDesignPreviewView::setDocTemplate(const std::shared_ptr<KTTemplate> &docTemplate)
{
    stopObserving();
    m_docTemplate = docTemplate;
    if (docTemplate) {
        QPointer<KTDesignPreviewView> self(this);
        auto redraw = [self](const platform::Notification &) {
            if (self)
                self->update();
        };
        auto &center = platform::NotificationCenter::defaultCenter();
        for (const char *name : {KTTemplate::kModelChangedNotification, KTTemplate::kLayerChangedNotification})
            m_observers << center.addObserver(QString::fromLatin1(name), docTemplate.get(), redraw, this);
    }
    update();
}

void KTDesignPreviewView::setZoom(double zoom)
{
    if (!std::isfinite(zoom) || zoom <= 0)
        return;
    m_zoom = std::min(zoom, 1.0);
    update();
}

void KTDesignPreviewView::setBackgroundColor(const QColor &color)
{
    m_backgroundColor = color;
    update();
}

void KTDesignPreviewView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_backgroundColor.isValid()) {
        painter.fillRect(rect(), m_backgroundColor);
    } else {
        QLinearGradient background(0, 0, width(), 0);
        background.setColorAt(0, QColor(38, 38, 40));
        background.setColorAt(1, QColor(70, 70, 74));
        painter.fillRect(rect(), background);
    }
    if (!m_docTemplate || m_docTemplate->layers().isEmpty())
        return;
    // The design fills the zoomed share of the view, centred (y-up inside).
    const double w = width() * m_zoom;
    const double h = height() * m_zoom;
    const QRectF target((width() - w) / 2, (height() - h) / 2, w, h);
    platform::DrawingContext context(painter, height());
    m_docTemplate->drawToRect(target, false, false, nullptr, true);
}
