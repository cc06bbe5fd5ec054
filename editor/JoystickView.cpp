#include "editor/JoystickView.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

} // namespace

JoystickView::JoystickView(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(sizeHint());
    m_maxOffset = std::min(width(), height()) / 2.1;
    setFocusPolicy(Qt::ClickFocus);
}

void JoystickView::setAngle(double degrees)
{
    if (degrees != m_angle) {
        m_angle = degrees;
        update();
    }
}

void JoystickView::setOffset(double points)
{
    if (points != m_offset) {
        m_offset = points;
        update();
    }
}

bool JoystickView::setMaxOffset(double points)
{
    if (!(points > 0))
        return false;
    m_maxOffset = points;
    update();
    return true;
}

void JoystickView::setHasSelection(bool has)
{
    if (has != m_hasSelection) {
        m_hasSelection = has;
        update();
    }
}

void JoystickView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = rect();
    if (!m_hasSelection) {
        p.fillRect(bounds, QColor(70, 70, 70));
        p.setPen(QPen(QColor(40, 40, 40), 2));
        p.drawRect(bounds.adjusted(1, 1, -1, -1));
        return;
    }
    p.fillRect(bounds, Qt::white);
    p.setPen(QPen(QColor(160, 160, 160), 1));
    p.drawRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5));
    p.setClipRect(bounds.adjusted(2, 2, -2, -2));
    const QPointF c(bounds.width() / 2, bounds.height() / 2);
    const double a = m_angle * kRadiansPerDegree;
    // The model's y axis points up, the widget's down.
    const QPointF at = c + QPointF(m_offset * std::sin(a), -m_offset * std::cos(a));
    p.setPen(QPen(QColor(190, 190, 190), 1.5));
    p.drawLine(at - QPointF(5, 0), at + QPointF(5, 0));
    p.drawLine(at - QPointF(0, 5), at + QPointF(0, 5));
    p.setPen(QPen(Qt::black, 1.0));
    p.drawLine(c - QPointF(5, 0), c + QPointF(5, 0));
    p.drawLine(c - QPointF(0, 5), c + QPointF(0, 5));
}

void JoystickView::updateForPoint(const QPointF &point, bool starts)
{
    if (!m_hasSelection)
        return;
    const double dx = point.x() - width() / 2.0;
    const double dy = height() / 2.0 - point.y();
    const double d = std::min(std::hypot(dx, dy), m_maxOffset);
    double degrees = std::atan2(dx, dy) / kRadiansPerDegree;
    if (degrees < 0)
        degrees += 360;
    m_offset = d;
    m_angle = degrees;
    update();
    emit edited(m_angle, m_offset / m_maxOffset, starts);
}

void JoystickView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_mouseDown = true;
    updateForPoint(event->position(), true);
}

void JoystickView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_mouseDown)
        updateForPoint(event->position(), false);
}

void JoystickView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_mouseDown && event->button() == Qt::LeftButton) {
        m_mouseDown = false;
        updateForPoint(event->position(), false);
    }
}
