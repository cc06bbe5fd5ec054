#include "kit/ui/PWFeedbackController.h"

#include "kit/PostForm.h"
#include "kit/VLHTTPPost.h"
#include "kit/VLKitUtils.h"
#include "kit/ui/KitFieldColors.h"
#include "platform/Alert.h"
#include "platform/Bundle.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
#include "platform/ui/WindowPlacement.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QTextBlock>
#include <QVBoxLayout>

namespace {

// The texts of the window's own strings table.
QString localized(const char *key)
{
    static const QHash<QString, const char *> table = {
        {QStringLiteral("Title"), "%1 Feedback"},
        {QStringLiteral("Feedback Host Not Reachable"), "Feedback Host Not Reachable"},
        {QStringLiteral("Unreachable Explanation"),
         "The feedback server %1 cannot be reached right now. Check your network connection; you can still "
         "write your feedback and try to send it."},
        {QStringLiteral("Proceed Anyway"), "Proceed Anyway"},
        {QStringLiteral("Cancel"), "Cancel"},
        {QStringLiteral("OK"), "OK"},
    };
    const char *text = table.value(QString::fromLatin1(key), key);
    return QCoreApplication::translate("PWFeedbackProvider", text);
}

const char *const kSectionKinds[3] = {"BUG", "FEATURE", "SUPPORT"};

QPointer<PWFeedbackController> &shared()
{
    static QPointer<PWFeedbackController> controller;
    return controller;
}

PWFeedbackController::ReachabilityProbe &probe()
{
    static PWFeedbackController::ReachabilityProbe installed;
    return installed;
}

} // namespace

PWFeedbackController::PWFeedbackController()
    : platform::WindowController(QString::fromLatin1(kNibName))
{
}

// A request still on its way ends with its window's controller.
PWFeedbackController::~PWFeedbackController() = default;

PWFeedbackController *PWFeedbackController::sharedController()
{
    return shared().data();
}

QString PWFeedbackController::sectionTemplates()
{
    const QString separator = QString::fromLatin1(kSectionSeparator);
    return QCoreApplication::translate("PWFeedbackProvider",
                                       "What went wrong?\n\n\nWhat did you expect to happen?\n\n\n"
                                       "Steps to reproduce:\n1. \n2. \n")
        + separator
        + QCoreApplication::translate("PWFeedbackProvider",
                                      "What would you like Kantelo to do?\n\n\nHow would it help your work?\n")
        + separator + QCoreApplication::translate("PWFeedbackProvider", "How can we help you?\n\n");
}

QUrl PWFeedbackController::postURL()
{
    const QString configured = platform::UserDefaults::standard().stringForKey(QString::fromLatin1(kFeedbackURLKey));
    const QUrl url(configured);
    return url.isValid() && !url.host().isEmpty() ? url : QUrl();
}

void PWFeedbackController::setReachabilityProbe(ReachabilityProbe reachability)
{
    probe() = std::move(reachability);
}

bool PWFeedbackController::hostIsReachable(const QString &host)
{
    if (probe())
        return probe()(host);
    // A loopback address always answers; anything else needs an interface
    // that is up and not the loopback one.
    QHostAddress address;
    if (address.setAddress(host) && address.isLoopback())
        return true;
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning)
            && !flags.testFlag(QNetworkInterface::IsLoopBack) && !interface.addressEntries().isEmpty())
            return true;
    }
    return false;
}

void PWFeedbackController::showFeedback()
{
    showFeedbackWithBugDetails(QString());
}

void PWFeedbackController::showFeedbackWithBugDetails(const QString &details)
{
    const QUrl url = postURL();
    if (!url.isValid()) {
        // Configuration the application lacks: say so instead of stopping.
        platform::logLine(QStringLiteral("ERROR: ") + QString::fromLatin1(kFeedbackURLMissing));
        platform::Error error;
        error.domain = QString::fromLatin1(platform::kKanteloErrorDomain);
        error.code = 1;
        error.description = QString::fromLatin1(kFeedbackURLMissing);
        platform::presentError(error);
        return;
    }
    if (!hostIsReachable(url.host())) {
        platform::AlertRequest alert;
        alert.messageText = localized("Feedback Host Not Reachable");
        alert.informativeText = localized("Unreachable Explanation").arg(url.host());
        alert.buttons = {localized("Proceed Anyway"), localized("Cancel")};
        alert.style = platform::AlertRequest::Style::Warning;
        if (platform::runAlert(alert) != 0)
            return;
    }
    if (!shared())
        shared() = new PWFeedbackController;
    shared()->showWindow();
    if (!details.isEmpty())
        shared()->setTextViewStringTo(details);
}

void PWFeedbackController::closeFeedback()
{
    PWFeedbackController *controller = shared().data();
    if (!controller)
        return;
    shared() = nullptr;
    if (QWidget *w = controller->window())
        w->hide();
    // Whatever it still sends goes with it.
    controller->deleteLater();
}

QWidget *PWFeedbackController::loadWindow()
{
    auto *window = new QWidget(nullptr, Qt::Window);
    window->setObjectName(windowNibName());
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(10);

    m_segmentedControl = new QTabBar(window);
    m_segmentedControl->setObjectName(QStringLiteral("segmentedControl"));
    m_segmentedControl->addTab(QCoreApplication::translate("PWFeedbackProvider", "Problem Report"));
    m_segmentedControl->addTab(QCoreApplication::translate("PWFeedbackProvider", "Feature Request"));
    m_segmentedControl->addTab(QCoreApplication::translate("PWFeedbackProvider", "Support Question"));
    m_segmentedControl->setExpanding(false);
    m_segmentedControl->setDrawBase(false);
    layout->addWidget(m_segmentedControl, 0, Qt::AlignHCenter);

    m_textView = new QPlainTextEdit(window);
    m_textView->setObjectName(QStringLiteral("textView"));
    m_textView->setPlainText(sectionTemplates());
    m_textView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_textView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(m_textView, 1);

    auto *form = new QFormLayout;
    m_nameTextField = new QLineEdit(window);
    m_nameTextField->setObjectName(QStringLiteral("nameTextField"));
    m_emailAddressComboBox = new QComboBox(window);
    m_emailAddressComboBox->setObjectName(QStringLiteral("emailAddressComboBox"));
    m_emailAddressComboBox->setEditable(true);
    m_emailAddressComboBox->setInsertPolicy(QComboBox::NoInsert);
    form->addRow(QCoreApplication::translate("PWFeedbackProvider", "Name:"), m_nameTextField);
    form->addRow(QCoreApplication::translate("PWFeedbackProvider", "Email:"), m_emailAddressComboBox);
    layout->addLayout(form);

    auto *buttons = new QHBoxLayout;
    m_progress = new QProgressBar(window);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 1);
    m_progress->setTextVisible(false);
    m_progress->setFixedWidth(80);
    m_progress->hide();
    buttons->addWidget(m_progress);
    buttons->addStretch(1);
    m_cancelButton = new QPushButton(localized("Cancel"), window);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_sendButton = new QPushButton(QCoreApplication::translate("PWFeedbackProvider", "Send"), window);
    m_sendButton->setObjectName(QStringLiteral("sendButton"));
    m_sendButton->setDefault(true);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_sendButton);
    layout->addLayout(buttons);

    window->resize(520, 440);
    connect(m_segmentedControl, &QTabBar::currentChanged, this, [this](int index) { switchSectionAction(index); });
    connect(m_emailAddressComboBox, &QComboBox::editTextChanged, this, [this] { emailChanged(); });
    connect(m_sendButton, &QPushButton::clicked, this, [this] { submitAction(); });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { cancelAction(); });
    return window;
}

void PWFeedbackController::windowDidLoad()
{
    window()->setWindowTitle(localized("Title").arg(platform::Bundle::name()));

    // The form arrives holding all three section texts.
    const QString separator = QString::fromLatin1(kSectionSeparator);
    QString text = m_textView->toPlainText();
    for (int section = 0; section < 2; ++section) {
        const qsizetype at = text.indexOf(separator);
        if (at < 0) {
            m_sectionStrings[section] = text;
            text.clear();
            continue;
        }
        m_sectionStrings[section] = text.left(at);
        text.remove(0, at + separator.size());
    }
    m_sectionStrings[2] = text;
    m_textView->setPlainText(m_sectionStrings[0]);
    placeCursorOnSecondLine();

    const QString fullName = platform::accountFullName();
    if (!fullName.isEmpty())
        m_nameTextField->setText(fullName);
    emailChanged();
}

void PWFeedbackController::showWindow()
{
    platform::placeWindowOnScreen(window());
    platform::WindowController::showWindow();
}

void PWFeedbackController::placeCursorOnSecondLine()
{
    QTextCursor cursor = m_textView->textCursor();
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::Down);
    m_textView->setTextCursor(cursor);
}

QString PWFeedbackController::sectionString(int section) const
{
    return section >= 0 && section < 3 ? m_sectionStrings[section] : QString();
}

void PWFeedbackController::switchSectionAction(int section)
{
    if (section < 0 || section > 2 || section == m_currentSection)
        return;
    m_sectionStrings[m_currentSection] = m_textView->toPlainText();
    m_currentSection = section;
    if (m_segmentedControl->currentIndex() != section)
        m_segmentedControl->setCurrentIndex(section);
    m_textView->setPlainText(m_sectionStrings[section]);
    placeCursorOnSecondLine();
}

bool PWFeedbackController::validateEmail(const QString &string)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QString::fromLatin1(kEmailPattern)));
    return pattern.match(string).hasMatch();
}

void PWFeedbackController::emailChanged()
{
    const QString address = m_emailAddressComboBox->currentText();
    const bool valid = !address.isEmpty() && validateEmail(address);
    m_sendButton->setEnabled(valid && !isSending());
    kitFieldColors::markField(m_emailAddressComboBox, valid, 0.4);
    kitFieldColors::markField(m_emailAddressComboBox->lineEdit(), valid, 0.4);
}

void PWFeedbackController::setSending(bool sending)
{
    m_sendButton->setEnabled(!sending);
    m_cancelButton->setEnabled(!sending);
    m_textView->setReadOnly(sending);
    m_segmentedControl->setEnabled(!sending);
    if (sending) {
        m_progress->setRange(0, 0);
        m_progress->show();
    } else {
        m_progress->setRange(0, 1);
        m_progress->hide();
    }
}

void PWFeedbackController::submitAction()
{
    if (isSending())
        return;
    m_sectionStrings[m_currentSection] = m_textView->toPlainText();
    setSending(true);
    postFeedback();
}

void PWFeedbackController::postFeedback()
{
    QList<QPair<QString, QVariant>> fields = {
        {QStringLiteral("feedbackType"), QString::fromLatin1(kSectionKinds[m_currentSection])},
        {QStringLiteral("feedback"), m_sectionStrings[m_currentSection]},
        {QStringLiteral("appName"), VLKitUtils::applicationName()},
        {QStringLiteral("bundleID"), platform::Bundle::identifier()},
        {QStringLiteral("version"), VLKitUtils::versionString()},
    };
    const QString email = m_emailAddressComboBox->currentText();
    if (!email.isEmpty())
        fields.append({QStringLiteral("email"), email});
    const QString name = m_nameTextField->text();
    if (!name.isEmpty())
        fields.append({QStringLiteral("name"), name});

    const PostFormRequest form = postForm::requestWithURLPostForm(postURL(), fields);
    m_sending = true;
    // A closed window takes its request with it.
    HttpClient::sendInBackground(form.request, VLHTTPPost::kAnswerLimits, this,
                                 [this](const HttpClient::Response &response) { sendingFinished(response); });
}

void PWFeedbackController::sendingFinished(const HttpClient::Response &response)
{
    m_sending = false;
    if (shared() != this)
        return; // this window was closed meanwhile

    const bool answered = response.failure == HttpClient::Failure::None;
    const bool sent = answered && response.status >= 200 && response.status < 300;
    if (!sent) {
        const QString reason = answered ? QStringLiteral("HTTP status %1").arg(response.status) : response.error;
        platform::logLine(QString::fromLatin1(kSendFailedLog).arg(reason));
        // The window stays with the user's text so it can be sent again.
        setSending(false);
        emailChanged();
        displayAlertMessageWithInformativeText(QString::fromLatin1(kErrorTitle), QString::fromLatin1(kErrorText));
        return;
    }
    m_progress->hide();
    displayAlertMessageWithInformativeText(QString::fromLatin1(kThanksTitle), QString::fromLatin1(kThanksText));
    closeFeedback();
}

void PWFeedbackController::displayAlertMessageWithInformativeText(const QString &message,
                                                                  const QString &informativeText)
{
    platform::AlertRequest alert;
    alert.messageText = message;
    alert.informativeText = informativeText;
    alert.buttons = {localized("OK")};
    alert.style = platform::AlertRequest::Style::Informational;
    platform::runAlert(alert);
}

void PWFeedbackController::cancelAction()
{
    closeFeedback();
}

void PWFeedbackController::windowWillClose()
{
    if (shared() == this)
        closeFeedback();
}

void PWFeedbackController::setTextViewStringTo(const QString &text)
{
    QFont font = m_textView->font();
    font.setBold(false);
    font.setItalic(false);
    m_textView->setFont(font);
    m_textView->setPlainText(text);
}
