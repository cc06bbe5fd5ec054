#include "kit/ui/VLHoverButton.h"

#include <QCursor>
#include <QEnterEvent>

namespace {
bool sameIcon(const QIcon &a, const QIcon &b)
{
    return a.cacheKey() == b.cacheKey() || (a.isNull() && b.isNull());
}
} // namespace

VLHoverButton::VLHoverButton(QWidget *parent)
    : QPushButton(parent)
{
    updateTrackingAreas();
}

VLHoverButton::~VLHoverButton() = default;

bool VLHoverButton::mouseInside() const
{
    if (!isVisible())
        return false;
    return m_pointerInside || rect().contains(mapFromGlobal(QCursor::pos()));
}

void VLHoverButton::updateTrackingAreas()
{
    m_tracking = false;
    displayHover();
    displayNormal();
    if (!isHidden())
        m_tracking = true;
}

void VLHoverButton::setVisible(bool visible)
{
    QPushButton::setVisible(visible);
    if (!visible) {
        m_tracking = false;
        m_pointerInside = false;
    } else {
        updateTrackingAreas();
    }
}

void VLHoverButton::enterEvent(QEnterEvent *event)
{
    QPushButton::enterEvent(event);
    m_pointerInside = true;
    if (m_tracking)
        displayHover();
}

void VLHoverButton::leaveEvent(QEvent *event)
{
    QPushButton::leaveEvent(event);
    m_pointerInside = false;
    if (m_tracking)
        displayNormal();
}

void VLHoverButton::resizeEvent(QResizeEvent *event)
{
    QPushButton::resizeEvent(event);
    updateTrackingAreas();
}

void VLHoverButton::moveEvent(QMoveEvent *event)
{
    QPushButton::moveEvent(event);
    updateTrackingAreas();
}

void VLHoverButton::displayHover()
{
    if (sameIcon(icon(), m_hoverImage) || !mouseInside())
        return;
    m_previousImage = icon();
    setIcon(m_hoverImage);
    if (m_hoverEnterBlock)
        m_hoverEnterBlock();
}

void VLHoverButton::displayNormal()
{
    if (mouseInside())
        return;
    if (m_previousImage)
        setIcon(*m_previousImage);
    m_previousImage.reset();
    if (m_hoverExitBlock)
        m_hoverExitBlock();
}
