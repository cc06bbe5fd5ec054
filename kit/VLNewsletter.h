#pragma once

#include "kit/VLHTTPPostDelegate.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <optional>

// Sends one newsletter sign-up (list id, e-mail, first and last name) to the
// maker's sign-up endpoint and tells its delegate whether it was taken.
class VLNewsletter : public QObject, public VLHTTPPostDelegate
{
    Q_OBJECT
public:
    static constexpr const char *kSignUpPath = "/main/mailchimp_signup";
    static constexpr const char *kDefaultSignUpHost = "https://www.velmoorsoft.com";

    explicit VLNewsletter(QObject *parent = nullptr);

    // Held weakly; the object must implement VLNewsletterDelegate.
    QObject *delegate() const { return m_delegate.data(); }
    void setDelegate(QObject *delegate) { m_delegate = delegate; }

    // Where sign-ups go: the configured host with the fixed path.
    static QUrl signUpURL();
    // Replaces the host part (scheme, host, port) of the endpoint.
    static void setSignUpHost(const QUrl &host);

    // Sends the sign-up. An empty argument is refused with an error (and a
    // log line) reported to the delegate; nothing is sent then.
    void subscribeToMailChimpList(const QString &listId, const QString &email, const QString &firstName,
                                  const QString &lastName);

    void HTTPPostDidFinishLoading(VLHTTPPost *post) override;
    void HTTPPostDidFailWithError(VLHTTPPost *post, const platform::Error &error) override;
    void failWithHTTPPost(VLHTTPPost *post, const std::optional<platform::Error> &error);

private:
    QPointer<QObject> m_delegate;
};
