#include "KitHttpTestServer.h"
#include "kit/VLHTTPPost.h"
#include "kit/VLNewsletter.h"
#include "kit/VLNewsletterDelegate.h"
#include "platform/Log.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

class Subscriber : public QObject, public VLNewsletterDelegate
{
public:
    int subscribed = 0;
    int failed = 0;
    int status = -1;
    QString body;
    std::optional<platform::Error> error;
    void newsletterDidSubscribe(VLNewsletter *) override { ++subscribed; }
    void newsletterFailedSubscribe(VLNewsletter *, VLHTTPPost *post,
                                   const std::optional<platform::Error> &e) override
    {
        ++failed;
        error = e;
        if (post && post->response())
            status = post->response()->statusCode;
        if (post)
            body = post->receivedString();
    }
    bool done() const { return subscribed + failed > 0; }
};

struct Endpoint {
    KitHttpTestServer server;
    Endpoint() { VLNewsletter::setSignUpHost(QUrl(server.url(QString()))); }
    ~Endpoint() { VLNewsletter::setSignUpHost(QUrl(VLNewsletter::kDefaultSignUpHost)); }
};

} // namespace

TEST(KitNewsletter, PostsTheFourFieldsToTheSignUpPath)
{
    Endpoint endpoint;
    Subscriber subscriber;
    VLNewsletter newsletter;
    newsletter.setDelegate(&subscriber);
    newsletter.subscribeToMailChimpList("0123abcdef", "ann@example.com", "Ann", "Lee");
    ASSERT_TRUE(testsupport::waitUntil([&] { return subscriber.done(); }));
    EXPECT_EQ(subscriber.subscribed, 1);
    ASSERT_EQ(endpoint.server.requests.size(), 1);
    const auto &request = endpoint.server.requests.first();
    EXPECT_EQ(request.path, "/main/mailchimp_signup");
    const QByteArray b = "--0xKhTmLbOuNdArY\r\nContent-Disposition: form-data; name=";
    EXPECT_EQ(request.body, b + "\"lid\";\r\n\r\n0123abcdef\r\n" + b + "\"email\";\r\n\r\nann@example.com\r\n" + b
                                + "\"fname\";\r\n\r\nAnn\r\n" + b + "\"lname\";\r\n\r\nLee\r\n"
                                + "--0xKhTmLbOuNdArY--\r\n");
}

TEST(KitNewsletter, AnyOtherStatusIsARefusalWithItsBody)
{
    Endpoint endpoint;
    endpoint.server.status = 404;
    endpoint.server.reason = "Not Found";
    endpoint.server.answer = "no such list";
    Subscriber subscriber;
    VLNewsletter newsletter;
    newsletter.setDelegate(&subscriber);
    newsletter.subscribeToMailChimpList("l", "e@x.io", "F", "L");
    ASSERT_TRUE(testsupport::waitUntil([&] { return subscriber.done(); }));
    EXPECT_EQ(subscriber.failed, 1);
    EXPECT_FALSE(subscriber.error.has_value());
    EXPECT_EQ(subscriber.status, 404);
    EXPECT_EQ(subscriber.body, "no such list");
}

TEST(KitNewsletter, EmptyInputIsAnErrorNotACrash)
{
    Endpoint endpoint;
    QStringList lines;
    platform::setLogSink([&](const QString &line) { lines.append(line); });
    Subscriber subscriber;
    VLNewsletter newsletter;
    newsletter.setDelegate(&subscriber);
    newsletter.subscribeToMailChimpList("", "", "F", "L");
    ASSERT_TRUE(testsupport::waitUntil([&] { return subscriber.done(); }));
    platform::setLogSink(nullptr);
    EXPECT_EQ(subscriber.failed, 1);
    ASSERT_TRUE(subscriber.error.has_value());
    EXPECT_EQ(subscriber.error->description, "listId is nil or empty");
    EXPECT_TRUE(lines.contains("ERROR: listId is nil or empty"));
    EXPECT_TRUE(endpoint.server.requests.isEmpty());
}

TEST(KitNewsletter, TransportFailureCarriesTheError)
{
    Endpoint endpoint;
    endpoint.server.closeWithoutAnswer = true;
    Subscriber subscriber;
    VLNewsletter newsletter;
    newsletter.setDelegate(&subscriber);
    newsletter.subscribeToMailChimpList("l", "e@x.io", "F", "L");
    ASSERT_TRUE(testsupport::waitUntil([&] { return subscriber.done(); }));
    EXPECT_EQ(subscriber.failed, 1);
    EXPECT_TRUE(subscriber.error.has_value());
}
