#pragma once

#include "kit/HttpClient.h"
#include "platform/ui/WindowController.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QUrl>

#include <array>
#include <functional>

// The feedback window: a problem report, a feature request or a support
// question, sent with the application's name, identifier and version to the
// feedback endpoint configured under "PWFeedbackURL". One at a time.
class PWFeedbackController : public platform::WindowController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "PWFeedbackProvider";
    static constexpr const char *kFeedbackURLKey = "PWFeedbackURL";
    static constexpr const char *kSectionSeparator = "\n\n--\n\n";
    static constexpr const char *kFeedbackURLMissing = "PWFeedbackURL not defined";
    static constexpr const char *kSendFailedLog = "-[Sending feedback failed with error %1]";
    static constexpr const char *kErrorTitle = "An Error Occured";
    static constexpr const char *kErrorText = "There was a problem sending your feedback.  Please try again at another time";
    static constexpr const char *kThanksTitle = "Thank you for your feedback!";
    static constexpr const char *kThanksText = "Your feedback has been sent.";
    static constexpr const char *kEmailPattern = "[A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}";

    ~PWFeedbackController() override;

    static void showFeedback();
    static void showFeedbackWithBugDetails(const QString &details);
    // The endpoint from the defaults; invalid when none is configured.
    static QUrl postURL();
    // The shared window's controller, if one is open.
    static PWFeedbackController *sharedController();
    static void closeFeedback();

    // Answers whether a host can be reached; tests put their own in.
    using ReachabilityProbe = std::function<bool(const QString &host)>;
    static void setReachabilityProbe(ReachabilityProbe probe);
    static bool hostIsReachable(const QString &host);

    static bool validateEmail(const QString &string);

    void showWindow() override;
    void switchSectionAction(int section);
    void emailChanged();
    void submitAction();
    void postFeedback();
    void cancelAction();
    void setTextViewStringTo(const QString &text);
    void displayAlertMessageWithInformativeText(const QString &message, const QString &informativeText);

    int currentSection() const { return m_currentSection; }
    QString sectionString(int section) const;
    bool isSending() const { return m_sending; }

    QPlainTextEdit *textView() const { return m_textView; }
    QComboBox *emailAddressComboBox() const { return m_emailAddressComboBox; }
    QLineEdit *nameTextField() const { return m_nameTextField; }
    QPushButton *sendButton() const { return m_sendButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QProgressBar *progress() const { return m_progress; }
    QTabBar *segmentedControl() const { return m_segmentedControl; }

    // The section texts the window starts with, separated as in the form.
    static QString sectionTemplates();

protected:
    PWFeedbackController();
    QWidget *loadWindow() override;
    void windowDidLoad() override;
    void windowWillClose() override;

private:
    void sendingFinished(const HttpClient::Response &response);
    void setSending(bool sending);
    void placeCursorOnSecondLine();

    QPointer<QPlainTextEdit> m_textView;
    QPointer<QComboBox> m_emailAddressComboBox;
    QPointer<QLineEdit> m_nameTextField;
    QPointer<QPushButton> m_sendButton;
    QPointer<QPushButton> m_cancelButton;
    QPointer<QProgressBar> m_progress;
    QPointer<QTabBar> m_segmentedControl;
    std::array<QString, 3> m_sectionStrings;
    int m_currentSection = 0;
    bool m_sending = false;
};
