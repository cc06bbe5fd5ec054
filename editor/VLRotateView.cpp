#include "editor/VLRotateView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

VLRotateView::VLRotateView(QWidget *parent)
    : QWidget(parent)
    , m_animation(new QVariantAnimation(this))
{
    setFixedSize(sizeHint());
    setToolTip(tr("Rotate"));
    m_animation->setDuration(250);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_shownAngle = value.toDouble();
        update();
    });
}

QRectF VLRotateView::arrowRect() const
{
    const QPointF c = QRectF(rect()).center() + QPointF(-21, 6);
    return {c.x() - 9.5, c.y() - 11, 19, 22};
}

QRectF VLRotateView::personRect() const
{
    const QPointF c = QRectF(rect()).center() + QPointF(8, 0);
    // The person turns: its square of hits covers it in any turn.
    return {c.x() - 16.5, c.y() - 16.5, 33, 33};
}

bool VLRotateView::isOnControl(const QPointF &point) const
{
    return arrowRect().contains(point) || personRect().contains(point);
}

void VLRotateView::setRotation(unsigned rotation)
{
    rotation %= 4;
    if (rotation == m_rotation)
        return;
    displayRotation(rotation, true);
    emit rotationEdited(rotation);
}

void VLRotateView::displayRotation(unsigned rotation, bool animate)
{
    rotation %= 4;
    const bool same = rotation == m_rotation;
    m_rotation = rotation;
    const double target = 90.0 * rotation;
    if (!animate) {
        m_animation->stop();
        m_shownAngle = target;
        update();
        return;
    }
    if (same && m_animation->state() == QAbstractAnimation::Running)
        return;
    if (same && m_shownAngle == target)
        return;
    // From where the person is shown now; from 270 back to 0 it turns back
    // three quarters, as the counter shows.
    double start = m_shownAngle;
    if (start - target > 360)
        start -= 360;
    else if (target - start > 360)
        start += 360;
    m_animation->stop();
    m_animation->setStartValue(start);
    m_animation->setEndValue(target);
    m_animation->start();
}

void VLRotateView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink = isEnabled() ? palette().windowText().color() : palette().color(QPalette::Disabled, QPalette::WindowText);

    // The curved arrow, tipped clockwise while pressed.
    const QRectF arrow = arrowRect();
    p.save();
    p.translate(arrow.center());
    p.rotate(m_arrowPressed ? 30 : 0);
    QPainterPath curve;
    curve.arcMoveTo(QRectF(-7, -7, 14, 14), 200);
    curve.arcTo(QRectF(-7, -7, 14, 14), 200, -250);
    p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(curve);
    const QPointF tip = curve.currentPosition();
    QPolygonF head{tip + QPointF(-4, -3), tip + QPointF(3, -1), tip + QPointF(-1, 5)};
    p.setBrush(ink);
    p.setPen(Qt::NoPen);
    p.drawPolygon(head);
    p.restore();

    // The person, upright at rotation 0.
    const QPointF centre = personRect().center();
    p.save();
    p.translate(centre);
    p.rotate(m_shownAngle);
    p.setPen(QPen(ink, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(-16.5, -11.5, 33, 23));
    p.setBrush(ink);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(0, -4.5), 3.2, 3.2);
    QPainterPath body;
    body.moveTo(-7, 10);
    body.cubicTo(-7, 1, 7, 1, 7, 10);
    body.closeSubpath();
    p.drawPath(body);
    p.restore();
}

void VLRotateView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isOnControl(event->position()))
        return;
    m_trackMouse = true;
    m_arrowPressed = true;
    update();
}

void VLRotateView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_trackMouse)
        return;
    const bool on = isOnControl(event->position());
    if (on != m_arrowPressed) {
        m_arrowPressed = on;
        update();
    }
}

void VLRotateView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_trackMouse)
        return;
    m_trackMouse = false;
    m_arrowPressed = false;
    update();
    if (isOnControl(event->position()))
        rotate90degrees();
}
