#include "KitHttpTestServer.h"
#include "kit/VLHTTPPost.h"
#include "kit/VLHTTPPostDelegate.h"
#include "kit/VLKitUtils.h"
#include "support/TestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

class Recorder : public QObject, public VLHTTPPostDelegate
{
public:
    int finished = 0;
    int failed = 0;
    platform::Error lastError;
    int status = 0;
    QString text;
    void HTTPPostDidFinishLoading(VLHTTPPost *post) override
    {
        ++finished;
        status = post->response() ? post->response()->statusCode : -1;
        text = post->receivedString();
    }
    void HTTPPostDidFailWithError(VLHTTPPost *post, const platform::Error &error) override
    {
        ++failed;
        lastError = error;
        text = post->receivedString();
    }
    bool done() const { return finished + failed > 0; }
};

} // namespace

TEST(KitHTTPPost, SendsTheExactMultipartBody)
{
    KitHttpTestServer server;
    Recorder recorder;
    VLHTTPPost post(QUrl(server.url("/form")));
    post.setDelegate(&recorder);
    post.addNewStringForFieldName("1", "a");
    post.addNewStringForFieldName("2", "b");
    post.postForm();
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.done(); }));
    ASSERT_EQ(server.requests.size(), 1);
    const auto &request = server.requests.first();
    const QByteArray expected = "--0xKhTmLbOuNdArY\r\n"
                                "Content-Disposition: form-data; name=\"a\";\r\n"
                                "\r\n"
                                "1\r\n"
                                "--0xKhTmLbOuNdArY\r\n"
                                "Content-Disposition: form-data; name=\"b\";\r\n"
                                "\r\n"
                                "2\r\n"
                                "--0xKhTmLbOuNdArY--\r\n";
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/form");
    EXPECT_EQ(request.body, expected);
    EXPECT_EQ(post.formData(), expected);
    EXPECT_EQ(request.headers.value("content-type"), "multipart/form-data; boundary=0xKhTmLbOuNdArY");
    EXPECT_EQ(request.headers.value("content-length"), QByteArray::number(expected.size()));
    const QString agent = QStringLiteral("%1/%2 (%3)").arg(VLKitUtils::applicationName(),
                                                           VLKitUtils::shortVersionString(),
                                                           VLKitUtils::versionString());
    EXPECT_EQ(request.headers.value("user-agent"), agent.toUtf8());
    EXPECT_EQ(recorder.finished, 1);
    EXPECT_EQ(recorder.status, 200);
    EXPECT_EQ(recorder.text, "ok");
}

TEST(KitHTTPPost, EmptyFormAndOwnAgentAndBinaryData)
{
    KitHttpTestServer server;
    Recorder recorder;
    VLHTTPPost post(QUrl(server.url()));
    post.setDelegate(&recorder);
    post.setAgentString("Tool/1.2 (345)");
    post.postForm();
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.done(); }));
    EXPECT_EQ(server.requests.first().body, "--0xKhTmLbOuNdArY--\r\n");
    EXPECT_EQ(server.requests.first().headers.value("user-agent"), "Tool/1.2 (345)");

    VLHTTPPost binary(QUrl(server.url()));
    const QByteArray bytes("\x00\xff\r\n\x01", 5);
    binary.addNewDataForFieldName(bytes, "blob");
    EXPECT_TRUE(binary.formData().contains("\";\r\n\r\n" + bytes + "\r\n"));
}

TEST(KitHTTPPost, AValueHoldingTheBoundaryGetsAnotherBoundary)
{
    KitHttpTestServer server;
    Recorder recorder;
    VLHTTPPost post(QUrl(server.url()));
    post.setDelegate(&recorder);
    post.addNewStringForFieldName("plain", "first");
    post.addNewStringForFieldName("before --0xKhTmLbOuNdArY after", "tricky");
    const QString boundary = post.boundary();
    EXPECT_NE(boundary, VLHTTPPost::kBoundary);
    post.postForm();
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.done(); }));
    const auto &request = server.requests.first();
    EXPECT_EQ(request.headers.value("content-type"), "multipart/form-data; boundary=" + boundary.toUtf8());
    // Split on the boundary in use: exactly the two parts and the end.
    const QList<QByteArray> pieces = request.body.split('\n');
    int boundaryLines = 0;
    for (const QByteArray &line : pieces) {
        if (line == "--" + boundary.toUtf8() + "\r")
            ++boundaryLines;
    }
    EXPECT_EQ(boundaryLines, 2);
    EXPECT_TRUE(request.body.endsWith("--" + boundary.toUtf8() + "--\r\n"));
    EXPECT_TRUE(request.body.contains("\r\n\r\nbefore --0xKhTmLbOuNdArY after\r\n"));
    EXPECT_TRUE(request.body.startsWith("--" + boundary.toUtf8() + "\r\nContent-Disposition: form-data; "
                                                                   "name=\"first\";\r\n\r\nplain\r\n"));
}

TEST(KitHTTPPost, BodyIsClosedOnceAcrossTwoPosts)
{
    KitHttpTestServer server;
    Recorder recorder;
    VLHTTPPost post(QUrl(server.url()));
    post.setDelegate(&recorder);
    post.addNewStringForFieldName("x", "f");
    post.postForm();
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.finished == 1; }));
    post.postForm();
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.finished == 2; }));
    ASSERT_EQ(server.requests.size(), 2);
    EXPECT_EQ(server.requests[0].body, server.requests[1].body);
    EXPECT_EQ(server.requests[1].body.count("--0xKhTmLbOuNdArY--"), 1);
}

TEST(KitHTTPPost, ErrorStatusIsAnAnswerNotAFailure)
{
    KitHttpTestServer server;
    server.status = 500;
    server.reason = "Internal Server Error";
    server.answer = "broken";
    Recorder recorder;
    VLHTTPPost post(QUrl(server.url()));
    post.setDelegate(&recorder);
    EXPECT_TRUE(post.receivedString().isNull());
    post.postForm();
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.done(); }));
    EXPECT_EQ(recorder.finished, 1);
    EXPECT_EQ(recorder.status, 500);
    EXPECT_EQ(recorder.text, "broken");
    EXPECT_EQ(post.receivedData().value_or(QByteArray()), "broken");
}

TEST(KitHTTPPost, ClosedConnectionOrEndlessHeadIsAFailure)
{
    for (bool endless : {false, true}) {
        KitHttpTestServer server;
        server.closeWithoutAnswer = !endless;
        server.endlessHead = endless;
        Recorder recorder;
        VLHTTPPost post(QUrl(server.url()));
        post.setDelegate(&recorder);
        post.addNewStringForFieldName("v", "k");
        post.postForm();
        ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.done(); }));
        EXPECT_EQ(recorder.failed, 1);
        EXPECT_FALSE(recorder.lastError.description.isEmpty());
        EXPECT_TRUE(recorder.text.isNull());
        EXPECT_FALSE(post.receivedData().has_value());
        EXPECT_FALSE(post.response().has_value());
        EXPECT_LT(server.endlessWritten, qint64(16) << 20);
    }
}

TEST(KitHTTPPost, LateAnswersAreSafe)
{
    KitHttpTestServer server;
    server.holdAnswers = true;
    // The delegate goes away while the request runs.
    auto *recorder = new Recorder;
    VLHTTPPost post(QUrl(server.url()));
    post.setDelegate(recorder);
    post.postForm();
    ASSERT_TRUE(testsupport::waitUntil([&] { return server.requests.size() == 1; }));
    delete recorder;
    server.releaseHeld();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !post.isPosting(); }));
    EXPECT_TRUE(post.response().has_value());

    // The poster itself goes away while the request runs.
    server.holdAnswers = true;
    Recorder kept;
    auto *early = new VLHTTPPost(QUrl(server.url()));
    QObject owner;
    early->setParent(&owner);
    early->setDelegate(&kept);
    early->postForm();
    ASSERT_TRUE(testsupport::waitUntil([&] { return server.requests.size() == 2; }));
    delete early;
    server.releaseHeld();
    ASSERT_TRUE(waitForRequestsToEnd());
    EXPECT_FALSE(kept.done());
}

TEST(KitHTTPPost, AnAutoDeletingPosterGoesAwayAfterItsAnswer)
{
    KitHttpTestServer server;
    Recorder recorder;
    QPointer<VLHTTPPost> post = new VLHTTPPost(QUrl(server.url()));
    post->setAutoDelete(true);
    post->setDelegate(&recorder);
    post->postForm();
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.done() && post.isNull(); }));
    EXPECT_EQ(recorder.finished, 1);
}
