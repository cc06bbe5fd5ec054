#pragma once

#include "platform/ui/ViewController.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace platform {

class WindowController;

// What a window asks of the document it shows (Document answers), so a
// window controller needs no document class.
class WindowDocument
{
public:
    virtual ~WindowDocument() = default;
    // Whether `window` may close: the last window of an edited document asks.
    virtual bool windowShouldClose(WindowController *window) = 0;
    // `window` is closing; the document goes with its last window.
    virtual void windowWillClose(WindowController *window) = 0;
};

// Owns one top-level window, built on first use (loadWindow, then
// windowDidLoad), and the root view controller shown in it.
class WindowController : public QObject
{
    Q_OBJECT
public:
    explicit WindowController(const QString &windowNibName = {}, QObject *parent = nullptr);
    ~WindowController() override;

    QString windowNibName() const { return m_windowNibName; }

    QWidget *window();
    bool isWindowLoaded() const { return m_windowLoaded; }

    // Shows the window and brings it to the front.
    virtual void showWindow();
    // Closes the window as its close button would.
    void close();

    // The root view controller, owned; its view fills the window.
    ViewController *contentViewController() const { return m_content; }
    void setContentViewController(ViewController *controller);

    // The document this window shows, if any (not owned).
    QObject *document() const { return m_document; }
    void setDocument(QObject *document) { m_document = document; }

signals:
    void windowClosing();

protected:
    // Builds the window; by default an empty main window named after the nib.
    virtual QWidget *loadWindow();
    virtual void windowDidLoad() {}
    // Asked before the window closes; false keeps it open. By default a
    // document window asks its document (save changes?).
    virtual bool windowShouldClose();
    // Runs when the window is about to close.
    virtual void windowWillClose() {}

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString m_windowNibName;
    QPointer<QWidget> m_window;
    bool m_windowLoaded = false;
    QPointer<ViewController> m_content;
    QPointer<QObject> m_document;
};

} // namespace platform
