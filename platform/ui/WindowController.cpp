#include "platform/ui/WindowController.h"

#include "platform/ui/ViewController.h"

#include <QEvent>
#include <QLayout>
#include <QMainWindow>
#include <QVBoxLayout>

namespace platform {

WindowController::WindowController(const QString &windowNibName, QObject *parent)
    : QObject(parent)
    , m_windowNibName(windowNibName)
{
}

WindowController::~WindowController()
{
    delete m_content.data();
    if (m_window) {
        m_window->removeEventFilter(this);
        delete m_window.data();
    }
}

QWidget *WindowController::window()
{
    if (!m_windowLoaded) {
        m_windowLoaded = true;
        m_window = loadWindow();
        if (m_window)
            m_window->installEventFilter(this);
        windowDidLoad();
    }
    return m_window.data();
}

QWidget *WindowController::loadWindow()
{
    auto *window = new QMainWindow;
    window->setObjectName(m_windowNibName);
    return window;
}

void WindowController::showWindow()
{
    QWidget *w = window();
    if (!w)
        return;
    w->show();
    w->raise();
    w->activateWindow();
}

void WindowController::close()
{
    if (m_window)
        m_window->close();
}

void WindowController::setContentViewController(ViewController *controller)
{
    if (m_content == controller)
        return;
    delete m_content.data();
    m_content = controller;
    if (!controller)
        return;
    controller->setParent(this);
    QWidget *w = window();
    QWidget *view = controller->view();
    if (!w || !view)
        return;
    if (auto *main = qobject_cast<QMainWindow *>(w)) {
        main->setCentralWidget(view);
    } else {
        QLayout *layout = w->layout();
        if (!layout) {
            layout = new QVBoxLayout(w);
            layout->setContentsMargins(0, 0, 0, 0);
        }
        layout->addWidget(view);
    }
}

bool WindowController::windowShouldClose()
{
    auto *doc = dynamic_cast<WindowDocument *>(m_document.data());
    return !doc || doc->windowShouldClose(this);
}

bool WindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Close) {
        if (!windowShouldClose()) {
            event->ignore();
            return true;
        }
        windowWillClose();
        emit windowClosing();
        if (auto *doc = dynamic_cast<WindowDocument *>(m_document.data()))
            doc->windowWillClose(this);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace platform
