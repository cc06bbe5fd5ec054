#include "kit/ui/StoreReviewWindowController.h"

#include "kit/VLKitUtils.h"
#include "platform/ui/OpenWithDesktop.h"
#include "platform/ui/WindowPlacement.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
std::function<void(bool)> &terminationReply()
{
    static std::function<void(bool)> handler;
    return handler;
}
} // namespace

VLMASReviewWindowController::VLMASReviewWindowController(const QString &appURL, QObject *parent)
    : platform::WindowController(QString::fromLatin1(kNibName), parent)
    , m_appURL(appURL)
{
    window()->setWindowTitle(tr(kTitleFormat).arg(VLKitUtils::applicationName()));
}

QWidget *VLMASReviewWindowController::loadWindow()
{
    // A dialog, so that the shell may also run it modally.
    auto *window = new QDialog;
    window->setObjectName(windowNibName());
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);
    auto *headline = new QLabel(tr("Enjoying %1?").arg(VLKitUtils::applicationName()), window);
    QFont big = headline->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    headline->setFont(big);
    layout->addWidget(headline);
    auto *text = new QLabel(tr("A short review helps other photographers find it and keeps it growing. "
                               "It only takes a minute."),
                            window);
    text->setWordWrap(true);
    layout->addWidget(text);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_remindLaterButton = new QPushButton(tr("Remind Me Later"), window);
    m_remindLaterButton->setObjectName(QStringLiteral("remindLaterButton"));
    m_rateButton = new QPushButton(tr("Rate Now"), window);
    m_rateButton->setObjectName(QStringLiteral("rateButton"));
    m_rateButton->setDefault(true);
    buttons->addWidget(m_remindLaterButton);
    buttons->addWidget(m_rateButton);
    layout->addLayout(buttons);
    window->setMinimumWidth(380);
    connect(m_rateButton, &QPushButton::clicked, this, [this] { rateApp(); });
    connect(m_remindLaterButton, &QPushButton::clicked, this, [this] { remindLater(); });
    return window;
}

void VLMASReviewWindowController::showWindow()
{
    platform::WindowController::showWindow();
    platform::placeWindowOnScreen(window());
}

void VLMASReviewWindowController::rateApp()
{
    if (const QUrl address(m_appURL); address.isValid() && !address.isEmpty())
        platform::openWithDesktop(address);
    close();
}

void VLMASReviewWindowController::remindLater()
{
    if (m_remindLaterActionBlock)
        m_remindLaterActionBlock();
    else
        VLKitUtils::setLaunchesForFeature(kRemindLaterLaunches, QString::fromLatin1(kReviewFeature));
    close();
}

void VLMASReviewWindowController::setTerminationReplyHandler(std::function<void(bool)> handler)
{
    terminationReply() = std::move(handler);
}

void VLMASReviewWindowController::windowWillClose()
{
    // A modal run of this window ends with it (closing a dialog ends its exec).
    if (auto *dialog = qobject_cast<QDialog *>(window()); dialog && QApplication::activeModalWidget() == dialog)
        dialog->reject();
    if (terminationReply())
        terminationReply()(true);
}
