#include "kit/VLNewsletter.h"

#include "kit/VLHTTPPost.h"
#include "kit/VLNewsletterDelegate.h"
#include "platform/Log.h"

#include <QTimer>

namespace {
QUrl &signUpHost()
{
    static QUrl host(QString::fromLatin1(VLNewsletter::kDefaultSignUpHost));
    return host;
}
} // namespace

VLNewsletter::VLNewsletter(QObject *parent)
    : QObject(parent)
{
}

QUrl VLNewsletter::signUpURL()
{
    QUrl url = signUpHost();
    url.setPath(QString::fromLatin1(kSignUpPath));
    return url;
}

void VLNewsletter::setSignUpHost(const QUrl &host)
{
    signUpHost() = host;
}

void VLNewsletter::subscribeToMailChimpList(const QString &listId, const QString &email,
                                            const QString &firstName, const QString &lastName)
{
    const std::pair<const QString *, const char *> required[] = {
        {&listId, "listId is nil or empty"},
        {&email, "email is nil or empty"},
        {&firstName, "firstName is nil or empty"},
        {&lastName, "lastName is nil or empty"},
    };
    for (const auto &[value, message] : required) {
        if (!value->isEmpty())
            continue;
        // Missing input is the caller's data, not a broken program: report it.
        platform::Error error;
        error.domain = QString::fromLatin1(platform::kKanteloErrorDomain);
        error.code = 1;
        error.description = QString::fromLatin1(message);
        platform::logLine(QStringLiteral("ERROR: ") + error.description);
        QTimer::singleShot(0, this, [this, error] { failWithHTTPPost(nullptr, error); });
        return;
    }
    auto *post = new VLHTTPPost(signUpURL(), this);
    post->setDelegate(this);
    post->addNewStringForFieldName(listId, QStringLiteral("lid"));
    post->addNewStringForFieldName(email, QStringLiteral("email"));
    post->addNewStringForFieldName(firstName, QStringLiteral("fname"));
    post->addNewStringForFieldName(lastName, QStringLiteral("lname"));
    post->postForm();
}

void VLNewsletter::HTTPPostDidFinishLoading(VLHTTPPost *post)
{
    if (post->response() && post->response()->statusCode == 200) {
        if (auto *delegate = dynamic_cast<VLNewsletterDelegate *>(m_delegate.data()))
            delegate->newsletterDidSubscribe(this);
        return;
    }
    failWithHTTPPost(post, std::nullopt);
}

void VLNewsletter::HTTPPostDidFailWithError(VLHTTPPost *post, const platform::Error &error)
{
    failWithHTTPPost(post, error);
}

void VLNewsletter::failWithHTTPPost(VLHTTPPost *post, const std::optional<platform::Error> &error)
{
    if (auto *delegate = dynamic_cast<VLNewsletterDelegate *>(m_delegate.data()))
        delegate->newsletterFailedSubscribe(this, post, error);
}
