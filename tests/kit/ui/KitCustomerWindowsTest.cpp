#include "KitUiTestShots.h"
#include "kit/KitHttpTestServer.h"
#include "kit/VLKitUtils.h"
#include "kit/VLNewsletter.h"
#include "kit/ui/PWFeedbackController.h"
#include "kit/ui/StoreReviewWindowController.h"
#include "kit/ui/VLNewsletterSubscribeWindowController.h"
#include "platform/Alert.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDesktopServices>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Answers alerts and errors like a user would, and remembers them.
struct Presenters {
    QList<platform::AlertRequest> alerts;
    QList<platform::Error> errors;
    int answer = 0;
    Presenters()
    {
        platform::setAlertPresenter([this](const platform::AlertRequest &r) {
            alerts.append(r);
            return answer;
        });
        platform::setErrorPresenter([this](const platform::Error &e) { errors.append(e); });
    }
    ~Presenters()
    {
        platform::setAlertPresenter(nullptr);
        platform::setErrorPresenter(nullptr);
    }
};

bool isYellowish(QWidget *field)
{
    const QColor c = field->palette().color(QPalette::Base);
    return c.blue() < c.red() - 20;
}

struct NewsletterFixture {
    KitHttpTestServer server;
    Presenters presenters;
    VLNewsletterSubscribeWindowController controller;
    NewsletterFixture()
    {
        VLNewsletter::setSignUpHost(QUrl(server.url(QString())));
        platform::UserDefaults::standard().removeObject("SubscribedToNewsletter");
        controller.setListId("0123abcdef");
        controller.firstName()->setText("Ann");
        controller.lastName()->setText("Lee");
        controller.email()->setText("ann@example.com");
        controller.showWindow();
    }
    ~NewsletterFixture() { VLNewsletter::setSignUpHost(QUrl(VLNewsletter::kDefaultSignUpHost)); }
};

} // namespace

TEST(KitNewsletterWindow, FieldsMustHoldMoreThanSpace)
{
    Presenters presenters;
    VLNewsletterSubscribeWindowController controller;
    QWidget *window = controller.window();
    EXPECT_EQ(window->objectName(), "VLNewsletterSubscribe");
    controller.firstName()->setText("   ");
    controller.lastName()->setText("");
    controller.email()->setText("");
    EXPECT_FALSE(controller.subscribeButton()->isEnabled());
    EXPECT_TRUE(isYellowish(controller.firstName()));
    EXPECT_TRUE(isYellowish(controller.email()));
    controller.firstName()->setText("Ann");
    controller.lastName()->setText("Lee");
    EXPECT_FALSE(controller.subscribeButton()->isEnabled());
    controller.email()->setText("ann@example.com");
    EXPECT_TRUE(controller.subscribeButton()->isEnabled());
    EXPECT_FALSE(isYellowish(controller.firstName()));
    controller.setLargeTitleText("Get the frame news");
    controller.showWindow();
    saveKitShot(window, "newsletter-window");
}

TEST(KitNewsletterWindow, SuccessThanksAndTheButtonCloses)
{
    NewsletterFixture f;
    QTest::mouseClick(f.controller.subscribeButton(), Qt::LeftButton);
    EXPECT_FALSE(f.controller.subscribeButton()->isEnabled());
    EXPECT_TRUE(f.controller.spinner()->isVisible());
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.controller.subscribeButton()->text() == "Thank you!"; }));
    EXPECT_FALSE(f.controller.spinner()->isVisible());
    EXPECT_EQ(f.controller.largeTitle()->text(), "Check your email to confirm");
    EXPECT_EQ(f.controller.subtitle()->text(), "You will not receive the email if you were already subscribed");
    EXPECT_FALSE(f.controller.email()->isEnabled());
    EXPECT_TRUE(platform::UserDefaults::standard().boolForKey("SubscribedToNewsletter"));
    ASSERT_EQ(f.server.requests.size(), 1);
    EXPECT_TRUE(f.server.requests.first().body.contains("\r\n\r\nann@example.com\r\n"));
    saveKitShot(f.controller.window(), "newsletter-thanks");
    QTest::mouseClick(f.controller.subscribeButton(), Qt::LeftButton);
    EXPECT_FALSE(f.controller.window()->isVisible());
    EXPECT_TRUE(f.presenters.alerts.isEmpty());
}

TEST(KitNewsletterWindow, NoThanksClosesWithoutSigningUp)
{
    NewsletterFixture f;
    ASSERT_TRUE(f.controller.declineButton()->isVisible());
    QTest::mouseClick(f.controller.declineButton(), Qt::LeftButton);
    EXPECT_FALSE(f.controller.window()->isVisible());
    EXPECT_TRUE(testsupport::waitPastTimersDue(20));
    EXPECT_TRUE(f.server.requests.isEmpty());
    EXPECT_FALSE(platform::UserDefaults::standard().boolForKey("SubscribedToNewsletter"));
}

TEST(KitNewsletterWindow, RefusalShowsStatusAndBodyAndKeepsTheForm)
{
    NewsletterFixture f;
    f.server.status = 404;
    f.server.reason = "Not Found";
    f.server.answer = "unknown list";
    f.controller.subscribe();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !f.presenters.alerts.isEmpty(); }));
    const auto &alert = f.presenters.alerts.first();
    EXPECT_EQ(alert.messageText, "Couldn't subscribe");
    EXPECT_EQ(alert.informativeText, "Failed with HTTP response: 404\n\nMessage: unknown list\n\n"
                                     "Make sure you filled all fields correctly.");
    EXPECT_EQ(alert.buttons, QStringList{"OK"});
    EXPECT_EQ(alert.style, platform::AlertRequest::Style::Critical);
    EXPECT_TRUE(f.controller.subscribeButton()->isEnabled());
    EXPECT_TRUE(f.controller.email()->isEnabled());
    EXPECT_EQ(f.controller.email()->text(), "ann@example.com");
    EXPECT_FALSE(platform::UserDefaults::standard().boolForKey("SubscribedToNewsletter"));
}

TEST(KitNewsletterWindow, TransportFailureIsPresentedAsAnError)
{
    NewsletterFixture f;
    f.server.closeWithoutAnswer = true;
    f.controller.subscribe();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !f.presenters.errors.isEmpty(); }));
    EXPECT_TRUE(f.presenters.alerts.isEmpty());
    EXPECT_TRUE(f.controller.subscribeButton()->isEnabled());
}

TEST(KitNewsletterWindow, AnswerAfterCloseIsIgnored)
{
    NewsletterFixture f;
    f.server.holdAnswers = true;
    f.server.status = 500;
    f.controller.subscribe();
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.server.requests.size() == 1; }));
    f.controller.close();
    f.server.releaseHeld();
    ASSERT_TRUE(waitForRequestsToEnd());
    EXPECT_TRUE(f.presenters.alerts.isEmpty());
    EXPECT_TRUE(f.presenters.errors.isEmpty());
    EXPECT_EQ(f.controller.subscribeButton()->text(), "Subscribe");
}

namespace {

struct FeedbackFixture {
    KitHttpTestServer server;
    Presenters presenters;
    FeedbackFixture()
    {
        platform::UserDefaults::standard().setObject("PWFeedbackURL", server.url("/feedback"));
        PWFeedbackController::setReachabilityProbe({});
    }
    ~FeedbackFixture()
    {
        PWFeedbackController::closeFeedback();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        PWFeedbackController::setReachabilityProbe({});
        platform::UserDefaults::standard().removeObject("PWFeedbackURL");
    }
    PWFeedbackController *open()
    {
        PWFeedbackController::showFeedback();
        PWFeedbackController *c = PWFeedbackController::sharedController();
        if (c)
            c->emailAddressComboBox()->setEditText("ann@example.com");
        return c;
    }
};

QString part(const QString &name, const QString &value, const QByteArray &body)
{
    const QByteArray needle = "name=\"" + name.toUtf8() + "\"\r\n\r\n" + value.toUtf8() + "\r\n";
    return body.contains(needle) ? value : QString();
}

} // namespace

TEST(KitFeedbackWindow, EmailAddressesValidity)
{
    for (const char *good : {"a@b.co", "first.last+tag@mail.example.org", "X_Y%z@host-1.io"})
        EXPECT_TRUE(PWFeedbackController::validateEmail(good)) << good;
    for (const char *bad : {"", "a@bco", "a b@c.de", "a@b.c", "@b.co", "a@b.co x"})
        EXPECT_FALSE(PWFeedbackController::validateEmail(bad)) << bad;
}

TEST(KitFeedbackWindow, OpensPrefilledWithSectionsThatKeepTheirText)
{
    FeedbackFixture f;
    PWFeedbackController::showFeedback();
    PWFeedbackController *c = PWFeedbackController::sharedController();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->window()->objectName(), "PWFeedbackProvider");
    EXPECT_TRUE(c->window()->isVisible());
    EXPECT_FALSE(c->sendButton()->isEnabled()); // no address yet
    EXPECT_TRUE(isYellowish(c->emailAddressComboBox()->lineEdit()));
    const QStringList sections = PWFeedbackController::sectionTemplates().split("\n\n--\n\n");
    ASSERT_EQ(sections.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(c->sectionString(i), sections[i]);
    EXPECT_EQ(c->textView()->toPlainText(), sections[0]);
    EXPECT_EQ(c->textView()->textCursor().blockNumber(), 1);

    c->textView()->setPlainText("my bug");
    c->segmentedControl()->setCurrentIndex(1);
    EXPECT_EQ(c->currentSection(), 1);
    EXPECT_EQ(c->textView()->toPlainText(), sections[1]);
    c->segmentedControl()->setCurrentIndex(0);
    EXPECT_EQ(c->textView()->toPlainText(), "my bug");

    c->emailAddressComboBox()->setEditText("ann@example.com");
    EXPECT_TRUE(c->sendButton()->isEnabled());
    EXPECT_FALSE(isYellowish(c->emailAddressComboBox()->lineEdit()));
    saveKitShot(c->window(), "feedback-window");

    // Opening again brings the same window with its text.
    PWFeedbackController::showFeedback();
    EXPECT_EQ(PWFeedbackController::sharedController(), c);
    EXPECT_EQ(c->textView()->toPlainText(), "my bug");
}

TEST(KitFeedbackWindow, SendsTheFormAndClosesOnSuccess)
{
    FeedbackFixture f;
    PWFeedbackController *c = f.open();
    ASSERT_TRUE(c);
    c->nameTextField()->setText("Ann Lee");
    c->segmentedControl()->setCurrentIndex(2);
    c->textView()->setPlainText("How do I add a mat?");
    QPointer<PWFeedbackController> watched = c;
    QTest::mouseClick(c->sendButton(), Qt::LeftButton);
    EXPECT_TRUE(c->textView()->isReadOnly());
    EXPECT_FALSE(c->cancelButton()->isEnabled());
    ASSERT_TRUE(testsupport::waitUntil([&] { return !f.presenters.alerts.isEmpty(); }));
    EXPECT_EQ(f.presenters.alerts.first().messageText, "Thank you for your feedback!");
    EXPECT_EQ(f.presenters.alerts.first().informativeText, "Your feedback has been sent.");
    EXPECT_EQ(PWFeedbackController::sharedController(), nullptr);
    ASSERT_TRUE(testsupport::waitUntil([&] { return watched.isNull(); }));

    ASSERT_EQ(f.server.requests.size(), 1);
    const auto &request = f.server.requests.first();
    EXPECT_EQ(request.path, "/feedback");
    EXPECT_TRUE(request.headers.value("content-type").startsWith("multipart/form-data; boundary=x-mime-boundary://"));
    EXPECT_FALSE(part("feedbackType", "SUPPORT", request.body).isEmpty());
    EXPECT_FALSE(part("feedback", "How do I add a mat?", request.body).isEmpty());
    EXPECT_FALSE(part("appName", VLKitUtils::applicationName(), request.body).isEmpty());
    EXPECT_FALSE(part("version", VLKitUtils::versionString(), request.body).isEmpty());
    EXPECT_FALSE(part("email", "ann@example.com", request.body).isEmpty());
    EXPECT_FALSE(part("name", "Ann Lee", request.body).isEmpty());
    EXPECT_TRUE(request.body.contains("name=\"bundleID\""));
}

TEST(KitFeedbackWindow, FailureKeepsTheWindowAndTheText)
{
    // An error status, a closed connection, and a head that never ends.
    for (int way : {0, 1, 2}) {
        FeedbackFixture f;
        f.server.status = 503;
        f.server.reason = "Service Unavailable";
        f.server.closeWithoutAnswer = way == 1;
        f.server.endlessHead = way == 2;
        QStringList lines;
        platform::setLogSink([&](const QString &line) { lines.append(line); });
        PWFeedbackController *c = f.open();
        ASSERT_TRUE(c);
        c->textView()->setPlainText("Crash when saving");
        c->submitAction();
        ASSERT_TRUE(testsupport::waitUntil([&] { return !f.presenters.alerts.isEmpty(); }));
        platform::setLogSink(nullptr);
        EXPECT_EQ(f.presenters.alerts.first().messageText, "An Error Occured");
        EXPECT_EQ(f.presenters.alerts.first().informativeText,
                  "There was a problem sending your feedback.  Please try again at another time");
        EXPECT_EQ(PWFeedbackController::sharedController(), c);
        EXPECT_TRUE(c->window()->isVisible());
        EXPECT_EQ(c->textView()->toPlainText(), "Crash when saving");
        EXPECT_FALSE(c->textView()->isReadOnly());
        EXPECT_TRUE(c->sendButton()->isEnabled());
        EXPECT_TRUE(c->cancelButton()->isEnabled());
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_TRUE(lines.first().startsWith("-[Sending feedback failed with error "));
        EXPECT_LT(f.server.endlessWritten, qint64(16) << 20);
    }
}

TEST(KitFeedbackWindow, ReplyAfterCloseGoesNowhere)
{
    FeedbackFixture f;
    f.server.holdAnswers = true;
    PWFeedbackController *c = f.open();
    ASSERT_TRUE(c);
    c->submitAction();
    ASSERT_TRUE(testsupport::waitUntil([&] { return f.server.requests.size() == 1; }));
    c->window()->close();
    EXPECT_EQ(PWFeedbackController::sharedController(), nullptr);
    PWFeedbackController *fresh = f.open();
    ASSERT_TRUE(fresh);
    f.server.releaseHeld();
    ASSERT_TRUE(waitForRequestsToEnd());
    EXPECT_TRUE(f.presenters.alerts.isEmpty());
    EXPECT_EQ(PWFeedbackController::sharedController(), fresh);
    EXPECT_TRUE(fresh->window()->isVisible());
}

TEST(KitFeedbackWindow, MissingAddressOrUnreachableHost)
{
    Presenters presenters;
    QStringList lines;
    platform::setLogSink([&](const QString &line) { lines.append(line); });
    platform::UserDefaults::standard().removeObject("PWFeedbackURL");
    PWFeedbackController::showFeedback();
    platform::setLogSink(nullptr);
    EXPECT_EQ(PWFeedbackController::sharedController(), nullptr);
    ASSERT_EQ(presenters.errors.size(), 1);
    EXPECT_EQ(presenters.errors.first().description, "PWFeedbackURL not defined");
    EXPECT_TRUE(lines.contains("ERROR: PWFeedbackURL not defined"));

    platform::UserDefaults::standard().setObject("PWFeedbackURL", "https://feedback.invalid/post");
    QStringList asked;
    PWFeedbackController::setReachabilityProbe([&](const QString &host) {
        asked.append(host);
        return false;
    });
    presenters.answer = 1; // Cancel
    PWFeedbackController::showFeedbackWithBugDetails("details");
    ASSERT_EQ(presenters.alerts.size(), 1);
    EXPECT_EQ(asked, QStringList{"feedback.invalid"});
    EXPECT_EQ(presenters.alerts.first().messageText, "Feedback Host Not Reachable");
    EXPECT_EQ(presenters.alerts.first().buttons, (QStringList{"Proceed Anyway", "Cancel"}));
    EXPECT_TRUE(presenters.alerts.first().informativeText.contains("feedback.invalid"));
    EXPECT_EQ(PWFeedbackController::sharedController(), nullptr);

    presenters.answer = 0; // Proceed Anyway
    PWFeedbackController::showFeedbackWithBugDetails("Stack: frame 1");
    ASSERT_TRUE(PWFeedbackController::sharedController());
    EXPECT_EQ(PWFeedbackController::sharedController()->textView()->toPlainText(), "Stack: frame 1");
    PWFeedbackController::closeFeedback();
    PWFeedbackController::setReachabilityProbe({});
    platform::UserDefaults::standard().removeObject("PWFeedbackURL");
}

namespace {
// Catches pages the review window opens instead of a real browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};
} // namespace

TEST(KitReviewWindow, RemindLaterAndRate)
{
    const QString key = "Launches-App Store Review 2";
    platform::UserDefaults::standard().setInteger(key, 2);
    int replies = 0;
    VLMASReviewWindowController::setTerminationReplyHandler([&](bool yes) { replies += yes ? 1 : 100; });
    {
        VLMASReviewWindowController review("https://store.example/app/kantelo");
        EXPECT_EQ(review.window()->objectName(), "MASReview");
        EXPECT_EQ(review.window()->windowTitle(), "Please review " + VLKitUtils::applicationName());
        review.showWindow();
        saveKitShot(review.window(), "review-window");
        QTest::mouseClick(review.remindLaterButton(), Qt::LeftButton);
        EXPECT_EQ(platform::UserDefaults::standard().integerForKey(key), 7);
        EXPECT_FALSE(review.window()->isVisible());
        EXPECT_EQ(replies, 1);
    }
    platform::UserDefaults::standard().setInteger(key, 2);
    {
        VLMASReviewWindowController review("https://store.example/app/kantelo");
        int blockRuns = 0;
        review.setRemindLaterActionBlock([&] { ++blockRuns; });
        review.showWindow();
        review.remindLater();
        EXPECT_EQ(blockRuns, 1);
        EXPECT_EQ(platform::UserDefaults::standard().integerForKey(key), 2);
    }
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("https", &catcher, "open");
        VLMASReviewWindowController review("https://store.example/app/kantelo");
        review.showWindow();
        QTest::mouseClick(review.rateButton(), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("https");
        EXPECT_EQ(catcher.opened, QList<QUrl>{QUrl("https://store.example/app/kantelo")});
        EXPECT_FALSE(review.window()->isVisible());
    }
    EXPECT_EQ(replies, 3);
    VLMASReviewWindowController::setTerminationReplyHandler({});
}

#include "KitCustomerWindowsTest.moc"
