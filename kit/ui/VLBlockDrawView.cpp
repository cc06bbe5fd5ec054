#include "kit/ui/VLBlockDrawView.h"

#include <QPaintEvent>
#include <QPainter>

VLBlockDrawView::VLBlockDrawView(QWidget *parent)
    : QWidget(parent)
    , m_reportAsOpaque(testAttribute(Qt::WA_OpaquePaintEvent))
{
}

VLBlockDrawView::VLBlockDrawView(DrawBlock drawBlock, QWidget *parent)
    : VLBlockDrawView(parent)
{
    setDrawRectBlock(std::move(drawBlock));
}

void VLBlockDrawView::setDrawRectBlock(DrawBlock block)
{
    m_drawRectBlock = std::move(block);
    update();
}

void VLBlockDrawView::setReportAsOpaque(bool opaque)
{
    m_reportAsOpaque = opaque;
    setAttribute(Qt::WA_OpaquePaintEvent, opaque);
}

void VLBlockDrawView::paintEvent(QPaintEvent *event)
{
    if (!m_drawRectBlock) {
        QWidget::paintEvent(event);
        return;
    }
    QPainter painter(this);
    m_drawRectBlock(this, painter, event->rect());
}
