#include "platform/Dispatch.h"
#include "platform/ThreadPools.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <memory>

using namespace platform;

TEST(PlatformDispatch, WaitingOnTheMainThreadRunsAtOnce)
{
    ASSERT_TRUE(isMainThread());
    bool ran = false;
    runOnMainThread([&] { ran = true; }, true);
    EXPECT_TRUE(ran);
}

TEST(PlatformDispatch, NotWaitingOnTheMainThreadQueues)
{
    bool ran = false;
    runOnMainThread([&] { ran = true; }, false);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(testsupport::waitUntil([&] { return ran; }));
}

TEST(PlatformDispatch, WorkerWaitsForTheMainThread)
{
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> sawResult{false};
    std::atomic<bool> done{false};
    std::unique_ptr<QThread> worker(QThread::create([&] {
        EXPECT_FALSE(isMainThread());
        runOnMainThread([&] { ranOnMain = isMainThread(); }, true);
        // Waiting means the block has finished by now.
        sawResult = ranOnMain.load();
        runOnMainThread([&] { done = true; }, false);
    }));
    worker->start();
    // The main thread spins instead of blocking, so the worker is served.
    EXPECT_TRUE(spinEventLoopUntil([&] { return done.load(); }, 10, testsupport::kHangGuardMs));
    worker->wait();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(sawResult);
}

// Plain values cross between the threads: an instrumented build reports them
// if the hand-over through Qt's queue goes unsaid.
TEST(PlatformDispatch, WorkForAnotherThreadsLoopRunsThereAndSkipsAGoneContext)
{
    QThread thread;
    thread.start();
    QObject onThread;
    onThread.moveToThread(&thread);
    int sent = 42, seen = 0;
    QThread *ranOn = nullptr;
    runOnThreadOf(&onThread, [&] {
        ranOn = QThread::currentThread();
        seen = sent;
        sent = 7;
    }, true);
    EXPECT_EQ(ranOn, &thread);
    EXPECT_EQ(seen, 42);
    EXPECT_EQ(sent, 7);
    std::atomic<bool> queued{false};
    runOnThreadOf(&onThread, [&] { queued = seen == 42; }, false);
    EXPECT_TRUE(testsupport::waitUntil([&] { return queued.load(); }));

    QObject here;
    bool ranHere = false;
    runOnThreadOf(&here, [&] { ranHere = true; }, true);
    EXPECT_TRUE(ranHere);
    auto *gone = new QObject;
    bool ranGone = false;
    runOnThreadOf(gone, [&] { ranGone = true; }, false);
    delete gone;
    EXPECT_TRUE(testsupport::waitPastTimersDue(20));
    EXPECT_FALSE(ranGone);
    thread.quit();
    thread.wait();
}

TEST(PlatformDispatch, SpinSeesFlagsSetWithoutEventsAndTimesOut)
{
    std::atomic<bool> flag{false};
    std::unique_ptr<QThread> worker(QThread::create([&] {
        QThread::msleep(30);
        flag = true;
    }));
    worker->start();
    EXPECT_TRUE(spinEventLoopUntil([&] { return flag.load(); }, 5, testsupport::kHangGuardMs));
    worker->wait();
    EXPECT_FALSE(spinEventLoopUntil([] { return false; }, 5, 20));
}

TEST(PlatformDispatch, DelayedRunSkipsAGoneContext)
{
    bool withContext = false, without = false;
    auto context = std::make_unique<QObject>();
    runAfterDelay(0.01, [&] { withContext = true; }, context.get());
    context.reset();
    runAfterDelay(0.02, [&] { without = true; });
    EXPECT_TRUE(testsupport::waitUntil([&] { return without; }));
    EXPECT_FALSE(withContext);
}

TEST(PlatformDispatch, DebouncerRestartsCancelsAndFlushes)
{
    int runs = 0;
    Debouncer debouncer(0.05, [&] { ++runs; });
    debouncer.schedule();
    debouncer.schedule();
    debouncer.schedule();
    EXPECT_TRUE(debouncer.isScheduled());
    EXPECT_TRUE(testsupport::waitUntil([&] { return runs > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(debouncer.isScheduled());

    debouncer.schedule();
    debouncer.cancel();
    EXPECT_FALSE(debouncer.isScheduled());
    debouncer.flush(); // nothing pending: nothing runs
    EXPECT_EQ(runs, 1);

    debouncer.schedule();
    debouncer.flush();
    EXPECT_EQ(runs, 2);
    EXPECT_FALSE(debouncer.isScheduled());
}

TEST(PlatformDispatch, BackgroundThreadsAreJoinedEvenWhenTheyWaitForMain)
{
    std::atomic<int> finished{0};
    std::atomic<int> servedByMain{0};
    for (int i = 0; i < 3; ++i) {
        runInBackground([&] {
            runOnMainThread([&] { ++servedByMain; }, true);
            // Long-running work notices the request to stop.
            while (!QThread::currentThread()->isInterruptionRequested())
                QThread::msleep(1);
            ++finished;
        });
    }
    waitForBackgroundThreads();
    EXPECT_EQ(finished, 3);
    EXPECT_EQ(servedByMain, 3);
}
