#include "library/KTNavigationBarView.h"

#include "library/KTNavigationBarViewProtocol.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace {

QColor white(int level)
{
    return QColor(level, level, level);
}

QLinearGradient verticalGradient(const QRectF &r, const QColor &top, const QColor &bottom)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    return g;
}

} // namespace

KTNavigationBarView::KTNavigationBarView(QWidget *parent)
    : QWidget(parent)
    , gradientTopColor(white(147))
    , gradientBottomColor(white(124))
    , pressedGradientTopColor(white(135))
    , pressedGradientBottomColor(white(112))
    , activeGradientTopColor(white(123))
    , activeGradientBottomColor(white(100))
    , borderColor(white(55))
    , inactiveTextColor(white(25))
    , activeTextColor(white(240))
{
    setObjectName(QStringLiteral("navigationBarView"));
    // Points of the design are pixels here, as on a 72 dpi screen.
    textFont = font();
    textFont.setPixelSize(11);
}

KTNavigationBarView::~KTNavigationBarView() = default;

void KTNavigationBarView::addComponent(const QString &title)
{
    m_componentsArray.append(title);
    update();
}

void KTNavigationBarView::replaceComponentAtIndex(qsizetype index, const QString &title)
{
    if (index < 0 || index >= m_componentsArray.size())
        return;
    m_componentsArray[index] = title;
    update();
}

void KTNavigationBarView::setActiveComponent(qint64 component)
{
    m_activeComponent = component;
    update();
}

qint64 KTNavigationBarView::componentForPoint(const QPointF &point) const
{
    for (qsizetype i = 0; i < m_bezierPaths.size(); ++i) {
        if (m_bezierPaths.at(i).contains(point))
            return i;
    }
    return kNoComponent;
}

void KTNavigationBarView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    const double w = bounds.width();
    const double h = bounds.height();
    p.fillRect(bounds, verticalGradient(bounds, gradientTopColor, gradientBottomColor));
    p.setPen(QPen(borderColor, 1));
    p.drawRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5));
    if (m_componentsArray.isEmpty())
        return;

    m_bezierPaths.clear();
    const QFontMetricsF metrics(textFont);
    p.setFont(textFont);
    double x = 0.5;
    double pad = kFirstPad;
    const qsizetype count = m_componentsArray.size();
    for (qsizetype i = 0; i < count; ++i) {
        const QString &title = m_componentsArray.at(i);
        const double tw = metrics.horizontalAdvance(title);
        const double th = metrics.height();
        QPainterPath path;
        path.moveTo(x, 0);
        if (i < count - 1) {
            const double sw = pad + tw + kTextTrail;
            path.lineTo(x + sw, 0);
            path.lineTo(x + sw + kPointWidth, h / 2);
            path.lineTo(x + sw, h);
            path.lineTo(x, h);
        } else {
            path.lineTo(w, 0);
            path.lineTo(w, h);
            path.lineTo(x, h);
        }
        if (i > 0)
            path.lineTo(x + kPointWidth, h / 2); // the notch that takes the previous point
        path.closeSubpath();
        m_bezierPaths.append(path);

        const QRectF box = path.boundingRect();
        QLinearGradient fill;
        if (i == m_activeComponent)
            fill = verticalGradient(box, activeGradientTopColor, activeGradientBottomColor);
        else if (m_pressed && i == m_pressedComponent)
            fill = verticalGradient(box, pressedGradientTopColor, pressedGradientBottomColor);
        else
            fill = verticalGradient(box, gradientTopColor, gradientBottomColor);
        p.fillPath(path, fill);
        p.strokePath(path, QPen(borderColor, 1));

        const bool active = i == m_activeComponent;
        const QRectF textRect(x + pad, (h - th) / 2, tw + 2, th);
        p.setPen(active ? QColor(0, 0, 0, 85) : QColor(255, 255, 255, 84));
        p.drawText(textRect.translated(1.1, 1.1), Qt::AlignLeft | Qt::AlignVCenter, title);
        p.setPen(active ? activeTextColor : inactiveTextColor);
        p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, title);

        x += pad + tw + kTextTrail;
        pad = kPad;
    }
}

void KTNavigationBarView::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_enabled)
        return;
    const qint64 component = componentForPoint(event->position());
    if (component != kNoComponent && component != m_activeComponent) {
        m_pressed = true;
        m_pressedComponent = component;
        update();
    }
}

void KTNavigationBarView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_enabled || m_pressedComponent == kNoComponent)
        return;
    const bool over = componentForPoint(event->position()) == m_pressedComponent;
    if (m_pressed && !over) {
        m_pressed = false;
        update();
    } else if (!m_pressed && over) {
        m_pressed = true;
        update();
    }
}

void KTNavigationBarView::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_enabled)
        return;
    const qint64 chosen = m_pressed ? m_pressedComponent : kNoComponent;
    m_pressed = false;
    m_pressedComponent = kNoComponent;
    if (chosen != kNoComponent) {
        m_activeComponent = chosen;
        update();
        if (m_delegate)
            m_delegate->selectedComponentInNavigationBarView(chosen, this);
    }
    update();
}
