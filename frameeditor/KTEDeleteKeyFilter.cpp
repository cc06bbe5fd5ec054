#include "frameeditor/KTEDeleteKeyFilter.h"

#include <QKeyEvent>

KTEDeleteKeyFilter::KTEDeleteKeyFilter(std::function<void()> action, QObject *watched)
    : QObject(watched)
    , m_action(std::move(action))
{
    watched->installEventFilter(this);
}

bool KTEDeleteKeyFilter::eventFilter(QObject *, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key != Qt::Key_Delete && key != Qt::Key_Backspace)
        return false;
    m_action();
    return true;
}
