#pragma once

#include "kit/VLNewsletterDelegate.h"
#include "platform/ui/WindowController.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

class VLNewsletter;

// The newsletter sign-up window: first name, last name and e-mail, prefilled
// from the user's account, posted as one sign-up.
class VLNewsletterSubscribeWindowController : public platform::WindowController,
                                              public VLNewsletterDelegate
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "VLNewsletterSubscribe";
    static constexpr const char *kSubscribedToNewsletterKey = "SubscribedToNewsletter";
    static constexpr const char *kThankYou = "Thank you!";
    static constexpr const char *kCheckYourEmail = "Check your email to confirm";
    static constexpr const char *kAlreadySubscribed = "You will not receive the email if you were already subscribed";
    static constexpr const char *kCouldNotSubscribe = "Couldn't subscribe";
    static constexpr const char *kFailedWithResponse =
        "Failed with HTTP response: %1\n\nMessage: %2\n\nMake sure you filled all fields correctly.";
    static constexpr const char *kOK = "OK";

    // Builds the window at once.
    explicit VLNewsletterSubscribeWindowController(QObject *parent = nullptr);
    ~VLNewsletterSubscribeWindowController() override;

    void showWindow() override;

    void fillWithUserData();
    bool checkField(QLineEdit *field);
    void liveValidateForm();
    void subscribe();
    void setLargeTitleText(const QString &text);
    void setSubtitleText(const QString &text);
    QString listId() const { return m_listId; }
    void setListId(const QString &listId) { m_listId = listId; }

    void newsletterDidSubscribe(VLNewsletter *newsletter) override;
    void newsletterFailedSubscribe(VLNewsletter *newsletter, VLHTTPPost *post,
                                   const std::optional<platform::Error> &error) override;

    QLabel *largeTitle() const { return m_largeTitle; }
    QLabel *subtitle() const { return m_subtitle; }
    QLineEdit *firstName() const { return m_firstName; }
    QLineEdit *lastName() const { return m_lastName; }
    QLineEdit *email() const { return m_email; }
    QProgressBar *spinner() const { return m_spinner; }
    QPushButton *subscribeButton() const { return m_subscribeButton; }
    // Closes the window without signing up.
    QPushButton *declineButton() const { return m_declineButton; }

protected:
    QWidget *loadWindow() override;
    void windowDidLoad() override;
    void windowWillClose() override;

private:
    void buttonPressed();
    void stopSpinner();

    QPointer<QLabel> m_largeTitle;
    QPointer<QLabel> m_subtitle;
    QPointer<QLineEdit> m_firstName;
    QPointer<QLineEdit> m_lastName;
    QPointer<QLineEdit> m_email;
    QPointer<QProgressBar> m_spinner;
    QPointer<QPushButton> m_subscribeButton;
    QPointer<QPushButton> m_declineButton;
    QString m_listId;
    QPointer<VLNewsletter> m_newsletter;
    bool m_done = false;
};
