#include "app/KTToolbarViewController.h"

#include "app/KTToolbarViewControllerProtocol.h"
#include "platform/Bundle.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

namespace {

// The strip's view: paints what its controller describes and hands it the mouse.
class KTToolbarView : public QWidget
{
public:
    explicit KTToolbarView(KTToolbarViewController *controller)
        : m_controller(controller)
    {
        setMinimumHeight(58);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        if (m_controller)
            m_controller->paint(painter);
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        if (m_controller && event->button() == Qt::LeftButton)
            m_controller->mouseDown(event);
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (m_controller && (event->buttons() & Qt::LeftButton))
            m_controller->mouseDragged(event);
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (m_controller && event->button() == Qt::LeftButton)
            m_controller->mouseUp(event);
    }

private:
    QPointer<KTToolbarViewController> m_controller;
};

QFont captionFont()
{
    QFont font(QStringLiteral("LucidaGrande"));
    font.setPointSizeF(KTToolbarViewController::kCaptionPointSize);
    return font;
}

} // namespace

KTToolbarViewController::KTToolbarViewController(const QString &nibName, platform::WindowController *windowController,
                                                 QObject *parent)
    : XSViewController(nibName, windowController, parent)
{
    m_iconTexts.reserve(2);
    m_iconImageNames.reserve(2);
}

KTToolbarViewController::~KTToolbarViewController() = default;

QWidget *KTToolbarViewController::loadView()
{
    auto *view = new KTToolbarView(this);
    view->setObjectName(nibName());
    return view;
}

void KTToolbarViewController::addIconWithNameAndIconText(const QString &imageName, const QString &text)
{
    m_iconImageNames.append(imageName);
    m_iconTexts.append(text);
}

void KTToolbarViewController::displayToolbar()
{
    m_displayed = true;
    view()->update();
}

double KTToolbarViewController::iconOffset(quint64 index) const
{
    const double n = double(m_iconTexts.size());
    return -(n - 1) * kIconStep / 2 + kIconStep * double(index);
}

QRectF KTToolbarViewController::iconRect(quint64 index) const
{
    QWidget *v = const_cast<KTToolbarViewController *>(this)->view();
    const QPointF centre(v->width() / 2.0 + iconOffset(index), v->height() / 2.0 - kIconRaise);
    return QRectF(centre.x() - kIconSide / 2, centre.y() - kIconSide / 2, kIconSide, kIconSide);
}

QRectF KTToolbarViewController::captionRect(quint64 index) const
{
    QWidget *v = const_cast<KTToolbarViewController *>(this)->view();
    if (index >= quint64(m_iconTexts.size()))
        return {};
    const QFontMetricsF metrics(captionFont());
    const QSizeF size(metrics.horizontalAdvance(m_iconTexts.at(qsizetype(index))), metrics.height());
    const double middle = v->width() / 2.0 + iconOffset(index);
    return QRectF(middle - size.width() / 2, v->height() - kCaptionLift - size.height(), size.width(), size.height());
}

QRectF KTToolbarViewController::plateRect(quint64 index) const
{
    QWidget *v = const_cast<KTToolbarViewController *>(this)->view();
    const double middle = v->width() / 2.0 + iconOffset(index);
    return QRectF(middle - kIconStep / 2, 0, kIconStep, v->height());
}

void KTToolbarViewController::setSelectedIcon(quint64 index)
{
    m_selectedIcon = index;
    if (isViewLoaded())
        view()->update();
    if (m_delegate && index < quint64(m_iconTexts.size()))
        m_delegate->toolbarIconClickedNamed(index, m_iconTexts.at(qsizetype(index)));
}

quint64 KTToolbarViewController::layerWithEvent(const QPointF &point) const
{
    for (qsizetype k = 0; k < m_iconTexts.size(); ++k) {
        if (iconRect(quint64(k)).contains(point) || captionRect(quint64(k)).contains(point))
            return quint64(k);
    }
    return kNone;
}

void KTToolbarViewController::mouseDown(QMouseEvent *event)
{
    const quint64 k = layerWithEvent(event->position());
    if (k == kNone || k == m_selectedIcon)
        return;
    m_pressed = true;
    m_pressedIcon = k;
    view()->update();
}

void KTToolbarViewController::mouseDragged(QMouseEvent *event)
{
    if (m_pressedIcon == kNone)
        return;
    const bool over = layerWithEvent(event->position()) == m_pressedIcon;
    if (!over && m_pressed) {
        m_pressed = false;
        view()->update();
    } else if (over && !m_pressed) {
        m_pressed = true;
        view()->update();
    }
}

void KTToolbarViewController::mouseUp(QMouseEvent *)
{
    const quint64 chosen = m_pressed ? m_pressedIcon : kNone;
    m_pressed = false;
    m_pressedIcon = kNone;
    if (chosen != kNone)
        setSelectedIcon(chosen);
    view()->update();
}

QImage KTToolbarViewController::iconImage(quint64 index) const
{
    const QString path = platform::Bundle::pathForResource(m_iconImageNames.value(qsizetype(index)), QStringLiteral("png"));
    return path.isEmpty() ? QImage() : QImage(path);
}

void KTToolbarViewController::paint(QPainter &painter)
{
    QWidget *v = view();
    painter.setRenderHint(QPainter::Antialiasing);
    const QString background = platform::Bundle::pathForResource(QStringLiteral("iconbar"), QStringLiteral("png"));
    if (!background.isEmpty()) {
        painter.drawImage(v->rect(), QImage(background));
    } else {
        QLinearGradient ground(0, 0, 0, v->height());
        ground.setColorAt(0, QColor(74, 74, 76));
        ground.setColorAt(1, QColor(52, 52, 54));
        painter.fillRect(v->rect(), ground);
    }
    if (!m_displayed)
        return;

    auto drawPlate = [&](quint64 index, double opacity) {
        if (index >= quint64(m_iconTexts.size()) || opacity <= 0)
            return;
        painter.save();
        painter.setOpacity(opacity);
        const QString plate = platform::Bundle::pathForResource(QStringLiteral("toolbar_selection"), QStringLiteral("png"));
        if (!plate.isEmpty())
            painter.drawImage(plateRect(index), QImage(plate));
        else
            painter.fillRect(plateRect(index).adjusted(1, 0, -1, 0), QColor(255, 255, 255, 40));
        painter.restore();
    };
    drawPlate(m_selectedIcon, 1.0);
    drawPlate(m_pressedIcon, pressedPlateOpacity());

    painter.setFont(captionFont());
    for (qsizetype k = 0; k < m_iconTexts.size(); ++k) {
        const QRectF icon = iconRect(quint64(k));
        const QImage image = iconImage(quint64(k));
        if (!image.isNull()) {
            painter.drawImage(icon, image);
        } else {
            painter.setPen(QPen(QColor(200, 200, 200), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(icon.adjusted(8, 8, -8, -8), 3, 3);
        }
        const QRectF caption = captionRect(quint64(k));
        painter.setPen(QColor(0, 0, 0, 178));
        painter.drawText(caption.translated(1, 1), Qt::AlignCenter, m_iconTexts.at(k));
        painter.setPen(QColor::fromRgbF(0.8, 0.8, 0.8));
        painter.drawText(caption, Qt::AlignCenter, m_iconTexts.at(k));
    }
}
