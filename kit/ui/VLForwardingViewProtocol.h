#pragma once

#include <QRect>

class QPainter;
class VLForwardingView;

// What a forwarding view's target implements to draw the view.
class VLForwardingViewProtocol
{
public:
    virtual ~VLForwardingViewProtocol() = default;
    virtual void drawRectInView(QPainter &painter, const QRect &rect, VLForwardingView *view) = 0;
};
