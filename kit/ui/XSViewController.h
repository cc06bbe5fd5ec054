#pragma once

#include "platform/ui/ViewController.h"
#include "platform/ui/WindowController.h"

#include <QPointer>

// Base of every view controller inside a document window. It is only made
// with the window controller that owns it (there is no constructor without
// one), which it keeps weakly: it never keeps the window controller alive.
class XSViewController : public platform::ViewController
{
    Q_OBJECT
public:
    XSViewController(const QString &nibName, platform::WindowController *windowController,
                     QObject *parent = nullptr);

    platform::WindowController *windowController() const { return m_windowController.data(); }
    virtual void setWindowController(platform::WindowController *windowController);

    // Hooks the container controllers call; nothing here.
    virtual void performLayout() {}
    virtual void activateViewController() {}

private:
    QPointer<platform::WindowController> m_windowController;
};
