#include "platform/ui/WaitForWork.h"

#include "platform/Dispatch.h"

#include <QEvent>
#include <QGuiApplication>
#include <QThread>

namespace platform {

namespace {

// Eats the input the window system delivers to the loop it was made in.
class InputDropper : public QObject
{
public:
    InputDropper()
        : m_level(QThread::currentThread()->loopLevel())
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~InputDropper() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (!event->spontaneous() || QThread::currentThread()->loopLevel() > m_level)
            return false;
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Taken as the window's own key, so no shortcut runs; the key
            // press that follows is dropped.
            event->accept();
            return true;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::InputMethod:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::NativeGesture:
        // The window manager's close button.
        case QEvent::Close:
            return true;
        default:
            return false;
        }
    }

private:
    const int m_level;
};

} // namespace

bool waitForWork(const std::function<bool()> &done, int sliceMs, int timeoutMs)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())
        || QGuiApplication::mouseButtons() != Qt::NoButton)
        return spinEventLoopUntil(done, sliceMs, timeoutMs);
    const InputDropper dropper;
    return spinEventLoopUntil(done, sliceMs, timeoutMs, UserInput::Delivered);
}

} // namespace platform
