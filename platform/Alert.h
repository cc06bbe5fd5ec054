#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace platform {

// A modal question to the user. Windows install the real presenter (a
// QMessageBox); tests answer with their own, so every flow runs headless.
struct AlertRequest {
    enum class Style { Informational, Warning, Critical };
    QString messageText;
    QString informativeText;
    QStringList buttons; // first is the default; empty means "OK"
    Style style = Style::Warning;
};

// Answers the index of the button chosen (0 = first).
using AlertPresenter = std::function<int(const AlertRequest &)>;
void setAlertPresenter(AlertPresenter presenter);
int runAlert(const AlertRequest &request);

} // namespace platform
