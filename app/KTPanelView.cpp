#include "app/KTPanelView.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>

KTPanelView::KTPanelView(QWidget *parent)
    : VLForwardingView(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void KTPanelView::paintEvent(QPaintEvent *event)
{
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(kGreyLevel, kGreyLevel, kGreyLevel));
    }
    VLForwardingView::paintEvent(event);
}

void KTPanelView::focusInEvent(QFocusEvent *event)
{
    VLForwardingView::focusInEvent(event);
    // Only the user moving the focus opens the panel, not the window
    // handing its first focus out when it becomes active.
    const Qt::FocusReason reason = event->reason();
    const bool byUser = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason
        || reason == Qt::MouseFocusReason || reason == Qt::OtherFocusReason;
    if (byUser)
        emit focusedByUser();
}

void KTPanelView::mousePressEvent(QMouseEvent *event)
{
    // A click on the panel's empty area goes no further.
    event->accept();
}
