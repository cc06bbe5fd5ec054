#pragma once

#include <QPoint>

class QWidget;

// Additions to views: where the mouse is now, outside the event stream.
namespace NSViewVLKit {
// The mouse position in `view`'s own coordinates.
QPoint vl_mouseLocation(const QWidget *view);
// Whether that position lies inside `view`'s bounds.
bool vl_mouseInside(const QWidget *view);
} // namespace NSViewVLKit
