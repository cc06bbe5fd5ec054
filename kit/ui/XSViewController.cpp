#include "kit/ui/XSViewController.h"

XSViewController::XSViewController(const QString &nibName,
                                   platform::WindowController *windowController, QObject *parent)
    : platform::ViewController(nibName, parent)
    , m_windowController(windowController)
{
}

void XSViewController::setWindowController(platform::WindowController *windowController)
{
    m_windowController = windowController;
}
