#include "platform/ui/WindowPlacement.h"

#include <algorithm>

#include <QApplication>
#include <QRect>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
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

void cascadeFromWindows(QWidget *window, const QList<QWidget *> &others)
{
    if (!window)
        return;
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // A shown window knows its title bar from the window manager's frame.
    int step = 0;
    for (const QWidget *other : others) {
        if (other && other != window && other->isVisible())
            step = std::max(step, other->geometry().top() - other->frameGeometry().top());
    }
    if (step <= 0)
        step = std::max(20, window->style()->pixelMetric(QStyle::PM_TitleBarHeight));
    auto taken = [&](QPoint at) {
        for (const QWidget *other : others) {
            if (other && other != window && other->isVisible() && (other->pos() - at).manhattanLength() < step)
                return true;
        }
        return false;
    };
    const QRect area = screen->availableGeometry();
    const QPoint start = window->pos();
    QPoint at = start;
    int restarts = 0;
    // Bounded: on a crowded screen the last place tried is kept.
    for (int tries = 0; tries < 100 && taken(at); ++tries) {
        at += QPoint(step, step);
        const bool fits = at.x() + window->width() <= area.right() + 1
                          && at.y() + window->height() + step <= area.bottom() + 1;
        if (!fits)
            at = area.topLeft() + QPoint(step * ++restarts, 0);
    }
    // A window not shown yet has no title bar to count: moving it in place
    // would put its frame where its client area was, a title bar too low.
    if (at != start)
        window->move(at);
}

} // namespace platform
