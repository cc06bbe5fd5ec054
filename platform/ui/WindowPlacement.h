#pragma once

#include <QSize>

class QWidget;

namespace platform {

// Gives a top-level window its first place: `preferred` (or its own size when
// that is invalid), no larger than the screen the user works on leaves room
// for, and in that screen's middle with its title bar on the screen.
void placeWindowOnScreen(QWidget *window, QSize preferred = {});

} // namespace platform
