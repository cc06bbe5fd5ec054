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
    // Room for the window manager's title bar above and a margin below.
    const QRect room = screen->availableGeometry().adjusted(0, 40, 0, -20);
    const QSize size = (preferred.isValid() ? preferred : window->size()).boundedTo(room.size());
    window->resize(size);
    QRect frame(QPoint(0, 0), window->size());
    frame.moveCenter(room.center());
    frame.moveTop(std::max(frame.top(), room.top()));
    frame.moveLeft(std::max(frame.left(), room.left()));
    window->move(frame.topLeft());
}

} // namespace platform
