#include "kit/ui/VLNewsletterSubscribeWindowController.h"

#include "kit/VLHTTPPost.h"
#include "kit/VLNewsletter.h"
#include "kit/ui/KitFieldColors.h"
#include "platform/Alert.h"
#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
#include "platform/ui/WindowPlacement.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

VLNewsletterSubscribeWindowController::VLNewsletterSubscribeWindowController(QObject *parent)
    : platform::WindowController(QString::fromLatin1(kNibName), parent)
{
    window();
}

VLNewsletterSubscribeWindowController::~VLNewsletterSubscribeWindowController()
{
    delete m_newsletter.data();
}

QWidget *VLNewsletterSubscribeWindowController::loadWindow()
{
    auto *window = new QWidget(nullptr, Qt::Dialog);
    window->setObjectName(windowNibName());
    window->setWindowTitle(tr("Newsletter"));
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);

    m_largeTitle = new QLabel(tr("Stay up to date"), window);
    m_largeTitle->setObjectName(QStringLiteral("largeTitle"));
    QFont big = m_largeTitle->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    m_largeTitle->setFont(big);
    m_largeTitle->setWordWrap(true);
    layout->addWidget(m_largeTitle);

    m_subtitle = new QLabel(tr("New frames, tips and offers, a few times a year."), window);
    m_subtitle->setObjectName(QStringLiteral("subtitle"));
    m_subtitle->setWordWrap(true);
    layout->addWidget(m_subtitle);

    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_firstName = new QLineEdit(window);
    m_firstName->setObjectName(QStringLiteral("firstName"));
    m_lastName = new QLineEdit(window);
    m_lastName->setObjectName(QStringLiteral("lastName"));
    m_email = new QLineEdit(window);
    m_email->setObjectName(QStringLiteral("email"));
    form->addRow(tr("First name:"), m_firstName);
    form->addRow(tr("Last name:"), m_lastName);
    form->addRow(tr("Email:"), m_email);
    layout->addLayout(form);

    auto *buttons = new QHBoxLayout;
    m_spinner = new QProgressBar(window);
    m_spinner->setObjectName(QStringLiteral("spinner"));
    m_spinner->setRange(0, 1);
    m_spinner->setTextVisible(false);
    m_spinner->setFixedWidth(80);
    m_spinner->hide();
    buttons->addWidget(m_spinner);
    buttons->addStretch(1);
    m_declineButton = new QPushButton(tr("No Thanks"), window);
    m_declineButton->setObjectName(QStringLiteral("declineButton"));
    m_declineButton->setAutoDefault(false);
    buttons->addWidget(m_declineButton);
    m_subscribeButton = new QPushButton(tr("Subscribe"), window);
    m_subscribeButton->setObjectName(QStringLiteral("subscribeButton"));
    m_subscribeButton->setDefault(true);
    buttons->addWidget(m_subscribeButton);
    layout->addLayout(buttons);

    window->setMinimumWidth(420);
    for (QLineEdit *field : {m_firstName.data(), m_lastName.data(), m_email.data()})
        connect(field, &QLineEdit::textChanged, this, [this] { liveValidateForm(); });
    connect(m_subscribeButton, &QPushButton::clicked, this, [this] { buttonPressed(); });
    connect(m_declineButton, &QPushButton::clicked, this, [this] { close(); });
    return window;
}

void VLNewsletterSubscribeWindowController::windowDidLoad()
{
    fillWithUserData();
}

void VLNewsletterSubscribeWindowController::showWindow()
{
    platform::WindowController::showWindow();
    platform::placeWindowOnScreen(window());
}

void VLNewsletterSubscribeWindowController::fillWithUserData()
{
    // The account's full name stands in for the address card: its first
    // word is the first name, the rest the last name. There is no e-mail.
    const QString fullName = platform::accountPersonName();
    if (!fullName.isEmpty()) {
        const qsizetype space = fullName.indexOf(QLatin1Char(' '));
        m_firstName->setText(space < 0 ? fullName : fullName.left(space));
        if (space >= 0)
            m_lastName->setText(fullName.mid(space + 1).trimmed());
    }
    liveValidateForm();
}

bool VLNewsletterSubscribeWindowController::checkField(QLineEdit *field)
{
    const bool filled = field && !field->text().trimmed().isEmpty();
    kitFieldColors::markField(field, filled, 0.3);
    return filled;
}

void VLNewsletterSubscribeWindowController::liveValidateForm()
{
    if (m_done)
        return;
    const bool first = checkField(m_firstName);
    const bool last = checkField(m_lastName);
    const bool mail = checkField(m_email);
    m_subscribeButton->setEnabled(first && last && mail);
}

void VLNewsletterSubscribeWindowController::buttonPressed()
{
    if (m_done)
        close();
    else
        subscribe();
}

void VLNewsletterSubscribeWindowController::subscribe()
{
    delete m_newsletter.data();
    m_newsletter = new VLNewsletter(this);
    m_newsletter->setDelegate(this);
    m_spinner->setRange(0, 0); // busy
    m_spinner->show();
    m_subscribeButton->setEnabled(false);
    m_newsletter->subscribeToMailChimpList(m_listId, m_email->text(), m_firstName->text(), m_lastName->text());
}

void VLNewsletterSubscribeWindowController::setLargeTitleText(const QString &text)
{
    m_largeTitle->setText(text);
}

void VLNewsletterSubscribeWindowController::setSubtitleText(const QString &text)
{
    m_subtitle->setText(text);
}

void VLNewsletterSubscribeWindowController::stopSpinner()
{
    m_spinner->setRange(0, 1);
    m_spinner->hide();
}

void VLNewsletterSubscribeWindowController::newsletterDidSubscribe(VLNewsletter *)
{
    platform::UserDefaults::standard().setBool(QString::fromLatin1(kSubscribedToNewsletterKey), true);
    stopSpinner();
    m_done = true;
    m_subscribeButton->setText(tr(kThankYou));
    m_largeTitle->setText(tr(kCheckYourEmail));
    m_largeTitle->setForegroundRole(QPalette::WindowText);
    m_subtitle->setText(tr(kAlreadySubscribed));
    m_subtitle->setForegroundRole(QPalette::PlaceholderText);
    m_subscribeButton->setEnabled(true);
    m_declineButton->hide();
    for (QLineEdit *field : {m_firstName.data(), m_lastName.data(), m_email.data()})
        field->setEnabled(false);
    m_subscribeButton->setFocus();
}

void VLNewsletterSubscribeWindowController::newsletterFailedSubscribe(VLNewsletter *, VLHTTPPost *post,
                                                                      const std::optional<platform::Error> &error)
{
    stopSpinner();
    m_subscribeButton->setEnabled(true);
    if (error) {
        platform::presentError(*error);
        return;
    }
    const int status = post && post->response() ? post->response()->statusCode : 0;
    const QString body = post ? post->receivedString() : QString();
    platform::AlertRequest alert;
    alert.messageText = tr(kCouldNotSubscribe);
    alert.informativeText = tr(kFailedWithResponse).arg(status).arg(body);
    alert.buttons = {tr(kOK)};
    alert.style = platform::AlertRequest::Style::Critical;
    platform::runAlert(alert);
}

void VLNewsletterSubscribeWindowController::windowWillClose()
{
    // A sign-up still on its way is dropped with the window.
    delete m_newsletter.data();
    stopSpinner();
    if (!m_done)
        liveValidateForm();
}
