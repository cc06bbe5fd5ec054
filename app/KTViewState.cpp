#include "app/KTViewState.h"

#include <cmath>

KTViewState::KTViewState()
{
    setZoom(kInitialZoom);
}

KTViewState::~KTViewState() = default;

void KTViewState::setZoom(double zoom)
{
    if (std::isnan(zoom))
        zoom = m_zoom;
    if (zoom < kMinimumZoom)
        zoom = kMinimumZoom;
    else if (zoom > kMaximumZoom)
        zoom = kMaximumZoom;
    m_zoom = zoom;
    emit viewStateChanged();
}

void KTViewState::setBackgroundColor(const QColor &color)
{
    m_backgroundColor = color;
    emit viewStateChanged();
}
