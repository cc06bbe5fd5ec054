#pragma once

#include <QList>
#include <QSize>

class QWidget;

namespace platform {

// Gives a top-level window its first place: `preferred` (or its own size when
// that is invalid), no larger than the screen the user works on leaves room
// for, and in that screen's middle with its title bar on the screen.
void placeWindowOnScreen(QWidget *window, QSize preferred = {});

// Moves the window down and right by a title bar's height while it would sit
// where one of `others` sits, so no window hides another; starts again at the
// screen's top left when the window would leave the screen.
void cascadeFromWindows(QWidget *window, const QList<QWidget *> &others);

} // namespace platform
