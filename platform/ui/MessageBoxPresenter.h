#pragma once

#include "platform/Alert.h"

#include <QPointer>
#include <QWidget>

namespace platform {

// While one lives, alerts show over `window`, the window a question is about,
// instead of over whichever window was active (the quit review asks about
// each edited document over its own window).
class AlertWindowScope
{
public:
    explicit AlertWindowScope(QWidget *window);
    ~AlertWindowScope();
    AlertWindowScope(const AlertWindowScope &) = delete;
    AlertWindowScope &operator=(const AlertWindowScope &) = delete;

    // The window of the innermost scope, if any.
    static QWidget *current();

private:
    QPointer<QWidget> m_previous;
};

// Asks with a real QMessageBox at least kMinimumAlertWidth wide; the first
// button is the default, and Escape picks a button named "Cancel" when there
// is one, else one named "No".
constexpr int kMinimumAlertWidth = 380;
int presentAlertWithMessageBox(const AlertRequest &request);

// Makes alerts and errors show in message boxes. The application calls this
// once it has a QApplication; tests keep their own presenters instead.
void installMessageBoxPresenters();

} // namespace platform
