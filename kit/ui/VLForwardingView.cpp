#include "kit/ui/VLForwardingView.h"

#include "kit/ui/VLForwardingViewProtocol.h"

#include <QPaintEvent>
#include <QPainter>

VLForwardingView::VLForwardingView(QWidget *parent)
    : QWidget(parent)
{
}

void VLForwardingView::setTarget(QObject *target)
{
    m_target = target;
    update();
}

QVariant VLForwardingView::forwardContext() const
{
    QMutexLocker lock(&m_contextMutex);
    return m_forwardContext;
}

void VLForwardingView::setForwardContext(const QVariant &context)
{
    QMutexLocker lock(&m_contextMutex);
    m_forwardContext = context;
}

void VLForwardingView::paintEvent(QPaintEvent *event)
{
    auto *target = dynamic_cast<VLForwardingViewProtocol *>(m_target.data());
    if (!target)
        return;
    QPainter painter(this);
    target->drawRectInView(painter, event->rect(), this);
}
