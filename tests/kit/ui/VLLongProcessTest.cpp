#include "kit/VLLongProcess.h"
#include "kit/ui/VLProgressPanel.h"
#include "platform/Dispatch.h"
#include "platform/ThreadPools.h"
#include "support/TestSupport.h"
#include "KitUiTestShots.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Installs the real panel, counting the panels made.
struct PanelCounter {
    int made = 0;
    VLProgressPanel *last = nullptr;
    PanelCounter()
    {
        VLLongProcessPanel::setFactory([this](const VLLongProcessPanel::Spec &spec) {
            auto panel = std::make_unique<VLProgressPanel>(spec);
            ++made;
            last = panel.get();
            return std::unique_ptr<VLLongProcessPanel>(std::move(panel));
        });
    }
    ~PanelCounter() { VLProgressPanel::install(); }
};

} // namespace

TEST(KitLongProcess, ShortWorkShowsNoPanelAndFinishesOnceOnMain)
{
    PanelCounter panels;
    VLLongProcess process;
    process.setWindowPopUpDelay(0.4);
    int finishedRuns = 0;
    bool onMain = false;
    process.setProcessFinishedBlock([&] {
        ++finishedRuns;
        onMain = QThread::currentThread() == qApp->thread();
    });
    process.runInBackground([] {});
    ASSERT_TRUE(testsupport::waitUntil([&] { return process.isFinished(); }));
    EXPECT_EQ(finishedRuns, 1);
    EXPECT_TRUE(onMain);
    EXPECT_FALSE(process.hasProcessFinishedBlock());
    ASSERT_TRUE(testsupport::waitPastTimersDue(450)); // past the pop-up step
    EXPECT_EQ(panels.made, 0);
    EXPECT_EQ(finishedRuns, 1);
}

TEST(KitLongProcess, LongWorkShowsCountingPanelThenClosesIt)
{
    PanelCounter panels;
    VLLongProcess process;
    process.setWindowPopUpDelay(0.05);
    process.setProgressRefreshDelay(0.02);
    process.setWindowTitle("Saving");
    QSemaphore release;
    std::atomic<int> finishedRuns{0};
    process.setProcessFinishedBlock([&] { ++finishedRuns; });
    QList<QPair<qint64, qint64>> observed;
    process.setProgressBlock([&](qint64 done, qint64 total) { observed.append({done, total}); });
    process.runInBackground([&] {
        process.setProgressCount(37);
        release.acquire();
    });
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return panels.last && panels.last->label()->text() == "Done 37 of 100";
    }));
    QWidget *window = panels.last->window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Saving");
    EXPECT_EQ(window->width(), 300);
    EXPECT_EQ(window->height(), 64);
    EXPECT_EQ(panels.last->progressIndicator()->maximum(), 100);
    EXPECT_EQ(panels.last->progressIndicator()->value(), 37);
    ASSERT_FALSE(observed.isEmpty());
    EXPECT_EQ(observed.last(), (QPair<qint64, qint64>(37, 100)));
    QPointer<QWidget> watched = window;

    release.release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return process.isFinished(); }));
    EXPECT_EQ(finishedRuns.load(), 1);
    EXPECT_EQ(process.progressPanel(), nullptr);
    EXPECT_TRUE(watched.isNull()); // closed and gone
    EXPECT_EQ(panels.made, 1);
}

TEST(KitLongProcess, PanelGrowsForALongLabel)
{
    PanelCounter panels;
    VLLongProcess process;
    process.setWindowPopUpDelay(0);
    process.setProgressRefreshDelay(0.02);
    process.setTotalCount(5);
    process.setProgressStringFormat(
        "Copying picture %d of %d into the frame library, please wait while the files are copied");
    QSemaphore release;
    process.runInBackground([&] { release.acquire(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return panels.last != nullptr; }));
    const int labelWidth = panels.last->label()->fontMetrics().horizontalAdvance(
        VLLongProcess::formatProgress(process.progressStringFormat(), 5, 5));
    EXPECT_GT(panels.last->window()->width(), 300);
    EXPECT_GE(panels.last->window()->width(), labelWidth + 32);
    saveKitShot(panels.last->window(), "long-process-panel");
    release.release();
    ASSERT_TRUE(testsupport::waitUntil([&] { return process.isFinished(); }));
}

TEST(KitLongProcess, NoPanelWhenCountReachedOrTotalZero)
{
    PanelCounter panels;
    for (qint64 total : {qint64(0), qint64(10)}) {
        VLLongProcess process;
        process.setWindowPopUpDelay(0);
        process.setTotalCount(total);
        process.setProgressCount(total);
        QSemaphore release;
        QSemaphore started;
        int progressCalls = 0;
        process.setProgressBlock([&](qint64, qint64) { ++progressCalls; });
        process.runInBackground([&] {
            started.release();
            release.acquire();
        });
        started.acquire();
        ASSERT_TRUE(testsupport::waitPastTimersDue(20)); // the pop-up step ran while the work waits
        release.release();
        ASSERT_TRUE(testsupport::waitUntil([&] { return process.isFinished(); }));
        EXPECT_EQ(progressCalls, 0);
    }
    EXPECT_EQ(panels.made, 0);
}

TEST(KitLongProcess, SecondRunShowsNoPanelAndFinishedBlockRunsOnlyIfSetAgain)
{
    PanelCounter panels;
    VLLongProcess process;
    int runs = 0;
    process.setProcessFinishedBlock([&] { ++runs; });
    process.runInBackground([] {});
    ASSERT_TRUE(testsupport::waitUntil([&] { return process.isFinished(); }));
    EXPECT_EQ(runs, 1);

    std::atomic<bool> workDone{false};
    process.setWindowPopUpDelay(0);
    process.runInBackground([&] { workDone = true; });
    // The worker ends only once its finish has run on the main thread.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return workDone.load() && platform::isPoolIdle(platform::Pool::Background);
    }));
    ASSERT_TRUE(testsupport::waitPastTimersDue(20));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(panels.made, 0);
}

TEST(KitLongProcess, HandleMayGoAwayWhileWorkRuns)
{
    PanelCounter panels;
    QSemaphore release;
    std::atomic<bool> finished{false};
    {
        VLLongProcess process;
        process.setWindowPopUpDelay(0);
        process.setProcessFinishedBlock([&] { finished = true; });
        process.runInBackground([&] { release.acquire(); });
    }
    release.release();
    EXPECT_TRUE(testsupport::waitUntil([&] { return finished.load(); }));
}

TEST(KitLongProcess, FormatFillsIntegersOnlyAndNeverInterpretsText)
{
    EXPECT_EQ(VLLongProcess::formatProgress("Done %d of %d", 37, 100), "Done 37 of 100");
    EXPECT_EQ(VLLongProcess::formatProgress("%ld/%lld files", 3, 9), "3/9 files");
    EXPECT_EQ(VLLongProcess::formatProgress("Copied %d", 4, 9), "Copied 4");
    EXPECT_EQ(VLLongProcess::formatProgress("100%% of %s %n %d", 1, 2), "100% of %s %n 1");
    EXPECT_EQ(VLLongProcess::formatProgress("%d %d %d", 1, 2), "1 2 ");
    EXPECT_EQ(VLLongProcess::formatProgress("trailing %", 1, 2), "trailing %");
}

TEST(KitLongProcess, CallerSpinsUntilTheFinishAsTheSavePathDoes)
{
    PanelCounter panels;
    VLLongProcess process;
    process.setWindowPopUpDelay(0.5);
    bool done = false;
    std::atomic<int> rendered{0};
    process.setProcessFinishedBlock([&] { done = true; });
    process.runInBackground([&] {
        for (int i = 1; i <= 100; ++i) {
            rendered = i;
            process.setProgressCount(i);
        }
    });
    EXPECT_TRUE(platform::spinEventLoopUntil([&] { return done; }, 100, testsupport::kHangGuardMs));
    EXPECT_EQ(rendered.load(), 100);
}
