#include "platform/ui/WindowPlacement.h"

#include <algorithm>

#include <QApplication>
#include <QRect>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace platform {

void placeWindowOnScreen(QWidget *window, QSize preferred)
{
    if (!window)
        return;
    const QWidget *active = QApplication::activeWindow();
    const QScreen *screen = active && active != window ? active->screen() : window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The window manager adds a title bar (and a border) around the size set
    // here; keep room for them, and the title bar on the screen.
    const QRect area = screen->availableGeometry();
    const QSize size = (preferred.isValid() ? preferred : window->size()).boundedTo(area.size() - QSize(0, 60));
    window->resize(size);
    QRect frame(QPoint(0, 0), window->size() + QSize(0, 40));
    frame.moveCenter(area.center());
    window->move(std::max(frame.left(), area.left()), std::max(frame.top(), area.top()));
}

} // namespace platform
