// Log lines, assertions, errors and alerts: the paths by which the program
// tells the user or the log that something went wrong.
#include "platform/Alert.h"
#include "platform/Assert.h"
#include "platform/Dispatch.h"
#include "platform/Error.h"
#include "platform/Log.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

using namespace platform;

namespace {
struct CapturedLog {
    QStringList lines;
    CapturedLog()
    {
        setLogSink([this](const QString &line) { lines << line; });
    }
    ~CapturedLog() { setLogSink(nullptr); }
};

void misuse()
{
    KT_ASSERT(1 + 1 == 3, QStringLiteral("Expected a callback block"));
}
} // namespace

TEST(PlatformDiagnostics, AssertionLogsAndRaises)
{
    CapturedLog log;
    try {
        misuse();
        FAIL() << "no exception";
    } catch (const Exception &e) {
        EXPECT_EQ(e.name(), "NSInternalInconsistencyException");
        EXPECT_EQ(e.reason(), "Expected a callback block");
        EXPECT_STREQ(e.what(), "NSInternalInconsistencyException: Expected a callback block");
    }
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines[0].startsWith("Assertion failure in "));
    EXPECT_TRUE(log.lines[0].contains("misuse"));
    EXPECT_TRUE(log.lines[0].endsWith(": Expected a callback block"));
}

TEST(PlatformDiagnostics, AssertionThatHoldsDoesNothing)
{
    CapturedLog log;
    EXPECT_NO_THROW(KT_ASSERT(true, QStringLiteral("never")));
    EXPECT_TRUE(log.lines.isEmpty());
}

TEST(PlatformDiagnostics, ErrorsArePresentedOnTheMainThread)
{
    std::atomic<bool> onMain{false};
    Error seen;
    bool presented = false;
    setErrorPresenter([&](const Error &error) {
        onMain = isMainThread();
        seen = error;
        presented = true;
    });
    std::unique_ptr<QThread> worker(QThread::create([] {
        presentError({kKanteloErrorDomain, 7, "Could not save", "Try again", {}});
    }));
    worker->start();
    EXPECT_TRUE(testsupport::waitUntil([&] { return presented; }));
    worker->wait();
    setErrorPresenter(nullptr);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(seen.domain, "Kantelo Domain");
    EXPECT_EQ(seen.code, 7);
    EXPECT_EQ(seen.description, "Could not save");
}

TEST(PlatformDiagnostics, DefaultErrorPresenterLogs)
{
    CapturedLog log;
    presentError({kKanteloErrorDomain, 3, "Disk full", {}, {}});
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines[0].contains("Disk full"));
}

TEST(PlatformDiagnostics, AlertWithoutWindowsLogsAndTakesTheFirstButton)
{
    CapturedLog log;
    AlertRequest request;
    request.messageText = "Could not save changes while quitting. Quit anyway?";
    request.buttons = {"Don't quit", "Quit anyway"};
    EXPECT_EQ(runAlert(request), 0);
    ASSERT_EQ(log.lines.size(), 1);
    EXPECT_TRUE(log.lines[0].contains("Quit anyway?"));
}

TEST(PlatformDiagnostics, AlertAskedFromAWorkerIsAnsweredOnMain)
{
    std::atomic<bool> onMain{false};
    setAlertPresenter([&](const AlertRequest &request) {
        onMain = isMainThread();
        return int(request.buttons.size()) - 1;
    });
    std::atomic<int> answer{-1};
    std::unique_ptr<QThread> worker(QThread::create([&] {
        AlertRequest request;
        request.buttons = {"A", "B", "C"};
        answer = runAlert(request);
    }));
    worker->start();
    EXPECT_TRUE(spinEventLoopUntil([&] { return worker->isFinished(); }, 5, testsupport::kHangGuardMs));
    worker->wait();
    setAlertPresenter(nullptr);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(answer, 2);
}

TEST(PlatformDiagnostics, AlertAnswerOutOfRangeFallsBackToTheDefault)
{
    setAlertPresenter([](const AlertRequest &) { return 9; });
    AlertRequest request;
    request.buttons = {"OK", "Cancel"};
    EXPECT_EQ(runAlert(request), 0);
    setAlertPresenter(nullptr);
}

TEST(PlatformDiagnostics, EveryLineOnStandardErrorIsAnErrorOrAWarning)
{
    const QString path = testsupport::scratchDir() + QStringLiteral("/stderr.txt");
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int file = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    ::dup2(file, 2);
    logLine(QStringLiteral("KTImageOverlayLayer: No image when encoding /x.png"));
    logLine(QStringLiteral("ERROR: Couldn't read frame archive /y"));
    logLine(QStringLiteral("Warning: ignoring z"));
    ::dup2(saved, 2);
    ::close(saved);
    ::close(file);
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), "Warning: KTImageOverlayLayer: No image when encoding /x.png\n"
                                 "ERROR: Couldn't read frame archive /y\nWarning: ignoring z\n");
}
