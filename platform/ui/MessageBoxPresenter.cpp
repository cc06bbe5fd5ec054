#include "platform/ui/MessageBoxPresenter.h"

#include "platform/Error.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace platform {

namespace {
QPointer<QWidget> g_alertWindow;
}

AlertWindowScope::AlertWindowScope(QWidget *window)
    : m_previous(g_alertWindow)
{
    g_alertWindow = window;
}

AlertWindowScope::~AlertWindowScope()
{
    g_alertWindow = m_previous;
}

QWidget *AlertWindowScope::current()
{
    return g_alertWindow.data();
}

int presentAlertWithMessageBox(const AlertRequest &request)
{
    QWidget *about = AlertWindowScope::current();
    QMessageBox box(about ? about->window() : QApplication::activeWindow());
    switch (request.style) {
    case AlertRequest::Style::Informational:
        box.setIcon(QMessageBox::Information);
        break;
    case AlertRequest::Style::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case AlertRequest::Style::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setText(request.messageText);
    box.setInformativeText(request.informativeText);
    const QStringList titles = request.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : request.buttons;
    std::vector<QPushButton *> buttons;
    for (const QString &title : titles) {
        // ActionRole keeps the buttons in the order given.
        buttons.push_back(box.addButton(title, QMessageBox::ActionRole));
    }
    box.setDefaultButton(buttons.front());
    // Escape cancels, else it answers "No", as the keyboard user expects.
    for (const char *escape : {"No", "Cancel"}) {
        for (QPushButton *button : buttons) {
            if (button->text() == QLatin1String(escape))
                box.setEscapeButton(button);
        }
    }
    // Wide enough that a question of a few lines keeps its sentences whole.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(kMinimumAlertWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i])
            return int(i);
    }
    return 0;
}

void installMessageBoxPresenters()
{
    setAlertPresenter(&presentAlertWithMessageBox);
    setErrorPresenter([](const Error &error) {
        AlertRequest request;
        request.messageText = error.description;
        // Why it failed (which file, what is wrong with it), then what to do.
        QStringList details;
        const QString reason = error.userInfo.value(QStringLiteral("NSLocalizedFailureReason")).toString();
        if (!reason.isEmpty() && reason != error.description)
            details << reason;
        if (!error.recoverySuggestion.isEmpty())
            details << error.recoverySuggestion;
        request.informativeText = details.join(QStringLiteral("\n\n"));
        request.style = AlertRequest::Style::Critical;
        runAlert(request);
    });
}

} // namespace platform
