#include "platform/ThreadPools.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/JpegWriter.h"
#include "platform/imaging/ParallelRows.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QSemaphore>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

using namespace platform;

namespace {

// Holds every thread of a pool until released.
struct BusyPool {
    explicit BusyPool(Pool pool)
    {
        const int threads = poolThreadCount(pool);
        for (int i = 0; i < threads; ++i)
            runOn(pool, [this] {
                ++holding;
                release.acquire();
                --holding;
            });
        while (holding.load() < threads)
            QThread::yieldCurrentThread();
    }
    ~BusyPool()
    {
        release.release(1 << 16);
        while (holding.load() > 0)
            QThread::yieldCurrentThread();
    }
    std::atomic<int> holding{0};
    QSemaphore release;
};

QByteArray jpeg(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(JpegWriter::write(&buffer, image, ExportMetadata(), 0.8, nullptr));
    return bytes;
}

} // namespace

TEST(PlatformThreadPools, WaitsNeverNeedAFreePoolThread)
{
    std::vector<QThread *> ranOn;
    {
        BusyPool busy(Pool::Parallel);
        // A job no pool thread can begin runs on the thread that waits.
        QThread *where = nullptr;
        PoolJob job(Pool::Parallel, [&] { where = QThread::currentThread(); });
        job.wait();
        EXPECT_EQ(where, QThread::currentThread());
        // Row bands are all done by the caller.
        std::vector<int> rows(4000, 0);
        parallelRows(int(rows.size()), 1LL << 30, [&](int first, int end) {
            for (int y = first; y < end; ++y)
                ++rows[size_t(y)];
        });
        EXPECT_EQ(std::count(rows.begin(), rows.end(), 1), qsizetype(rows.size()));
    }

    // Every pool thread drawing in rows at once, each waiting on the others.
    std::atomic<long long> total{0};
    {
        std::vector<std::unique_ptr<PoolJob>> jobs;
        for (int i = 0; i < poolThreadCount(Pool::Parallel) * 2; ++i)
            jobs.push_back(std::make_unique<PoolJob>(Pool::Parallel, [&] {
                parallelRows(1000, 1LL << 30, [&](int first, int end) { total += end - first; });
            }));
    }
    EXPECT_EQ(total.load(), 1000LL * poolThreadCount(Pool::Parallel) * 2);
}

TEST(PlatformThreadPools, JpegIsTheSameWhetherThePoolIsFreeOrBusy)
{
    // Large enough for strips, and one for rows made ready ahead.
    for (const QSize size : {QSize(2600, 1700), QSize(1400, 1000)}) {
        QImage image(size, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                line[x] = qRgb(x * 7 + y, (x ^ y) & 0xff, y * 3);
        }
        const QByteArray free = jpeg(image);
        BusyPool busy(Pool::Parallel);
        EXPECT_EQ(jpeg(image), free) << size.width();
    }
}

TEST(PlatformThreadPools, WorkQueueKeepsOrderLimitAndDropsWhatHasNotBegun)
{
    WorkQueue queue(Pool::Previews, 2);
    QSemaphore gate;
    std::atomic<int> running{0}, most{0}, done{0};
    for (int i = 0; i < 6; ++i)
        queue.start([&] {
            const int now = ++running;
            most = std::max(most.load(), now);
            gate.acquire();
            --running;
            ++done;
        });
    gate.release(2);
    while (done.load() < 2 || running.load() < 2)
        QThread::yieldCurrentThread();
    queue.clear(); // the two begun by now finish; the rest never run
    gate.release(6);
    EXPECT_TRUE(queue.waitForDone(testsupport::kHangGuardMs));
    EXPECT_EQ(done.load(), 4);
    EXPECT_EQ(most.load(), 2);

    std::vector<int> order;
    WorkQueue serial(Pool::Previews);
    for (int i = 0; i < 20; ++i)
        serial.start([&order, i] { order.push_back(i); });
    EXPECT_TRUE(serial.waitForDone(testsupport::kHangGuardMs));
    ASSERT_EQ(order.size(), 20u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

// A job's captures are gone once the queue is done: a batch's design held by
// its last job was released after the wait, while the program went down.
TEST(PlatformThreadPools, WorkQueueReleasesAJobsCapturesBeforeItSaysItIsDone)
{
    // 1: released before the wait returned, 2: after it.
    std::atomic<bool> waitReturned{false};
    std::atomic<int> released{0};
    struct Held {
        Held(std::atomic<bool> &waitReturned, std::atomic<int> &released)
            : waitReturned(waitReturned)
            , released(released)
        {
        }
        std::atomic<bool> &waitReturned;
        std::atomic<int> &released;
        ~Held()
        {
            // Gives a wait that returned too early the time to say so.
            for (int i = 0; i < 200 && !waitReturned.load(); ++i)
                QThread::msleep(1);
            released = waitReturned.load() ? 2 : 1;
        }
    };
    WorkQueue queue(Pool::Previews);
    queue.start([held = std::make_shared<Held>(waitReturned, released)] {});
    EXPECT_TRUE(queue.waitForDone(testsupport::kHangGuardMs));
    waitReturned = true;
    ASSERT_TRUE(testsupport::waitUntil([&] { return released.load() != 0; }));
    EXPECT_EQ(released.load(), 1);
}
