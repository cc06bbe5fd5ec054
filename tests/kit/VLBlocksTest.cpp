#include "kit/VLBlocks.h"

#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/ThreadPools.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QImage>
#include <QMutex>
#include <QPainter>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace {
class Receiver : public QObject
{
    Q_OBJECT
public:
    int pings = 0;
    QString lastName;
    Q_INVOKABLE void ping() { ++pings; }
    Q_INVOKABLE void rename(const QString &name) { lastName = name; }
};
} // namespace

TEST(KitBlocks, GuidsAreNewEveryTimeAndWellFormed)
{
    const QString a = NSObjectVLGUID::getGUID();
    const QString b = NSObjectVLGUID::getGUID();
    EXPECT_NE(a, b);
    static const QRegularExpression form(
        "^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}-[0-9]+-[0-9A-F]{16}$");
    EXPECT_TRUE(form.match(a).hasMatch()) << a.toStdString();
    QSet<QString> many;
    for (int i = 0; i < 1000; ++i)
        many.insert(NSObjectVLGUID::getGUID());
    EXPECT_EQ(many.size(), 1000);
}

TEST(KitBlocks, WhileLockedReleasesTheLockWhenTheBlockThrows)
{
    QMutex mutex;
    EXPECT_EQ(NSLockBlocksAdditions::whileLocked(mutex, [&] {
                  EXPECT_FALSE(mutex.tryLock());
                  return 7;
              }),
              7);
    EXPECT_THROW(NSLockBlocksAdditions::whileLocked(mutex, [] { throw std::runtime_error("boom"); }),
                 std::runtime_error);
    ASSERT_TRUE(mutex.tryLock());
    mutex.unlock();
}

TEST(KitBlocks, MainThreadWithAndWithoutWaiting)
{
    bool ran = false;
    VLRunBlockOnMainThread(true, [&] { ran = true; });
    EXPECT_TRUE(ran); // waiting on the main thread runs at once, no deadlock

    bool queued = false;
    VLRunBlockOnMainThread(false, [&] { queued = true; });
    EXPECT_FALSE(queued);
    EXPECT_TRUE(testsupport::waitUntil([&] { return queued; }));

    std::atomic<bool> afterWait{false};
    std::atomic<bool> done{false};
    VLRunBlockInBackground([&] {
        bool flag = false;
        VLRunBlockOnMainThread(true, [&] { flag = platform::isMainThread(); });
        afterWait = flag;
        done = true;
    });
    EXPECT_TRUE(platform::spinEventLoopUntil([&] { return done.load(); }, 5, testsupport::kHangGuardMs));
    platform::waitForBackgroundThreads();
    EXPECT_TRUE(afterWait);
}

TEST(KitBlocks, RunOnAThreadWithAnEventLoop)
{
    QThread thread;
    thread.start();
    std::atomic<QThread *> ranOn{nullptr};
    VLRunBlockOnThread(&thread, true, [&] { ranOn = QThread::currentThread(); });
    EXPECT_EQ(ranOn.load(), &thread);
    thread.quit();
    thread.wait();

    // A thread that is not running is refused rather than waited on forever.
    QStringList lines;
    platform::setLogSink([&](const QString &line) { lines << line; });
    bool ran = false;
    VLRunBlockOnThread(&thread, true, [&] { ran = true; });
    platform::setLogSink(nullptr);
    EXPECT_FALSE(ran);
    EXPECT_EQ(lines.size(), 1);
}

TEST(KitBlocks, ParallelizedCallsEveryIndexOnItsOwnThread)
{
    QMutex mutex;
    QList<qint64> indexes;
    QSet<QThread *> threads;
    std::atomic<int> arrived{0};
    VLRunBlockParallelized(3, [&](qint64 index) {
        {
            QMutexLocker lock(&mutex);
            indexes << index;
            threads << QThread::currentThread();
        }
        // All three are alive at once, so they are three different threads.
        ++arrived;
        while (arrived.load() < 3 && !QThread::currentThread()->isInterruptionRequested())
            QThread::yieldCurrentThread();
    });
    VLRunBlockParallelized(0, [&](qint64) { ADD_FAILURE(); });
    VLRunBlockParallelized(-4, [&](qint64) { ADD_FAILURE(); });
    EXPECT_TRUE(platform::spinEventLoopUntil([&] { return arrived.load() == 3; }, 5, testsupport::kHangGuardMs));
    platform::waitForBackgroundThreads();
    std::sort(indexes.begin(), indexes.end());
    EXPECT_EQ(indexes, (QList<qint64>{0, 1, 2}));
    EXPECT_EQ(threads.size(), 3);
    EXPECT_FALSE(threads.contains(QThread::currentThread()));
}

TEST(KitBlocks, DelayedBlockOutlivesItsCaller)
{
    auto result = std::make_shared<int>(0);
    {
        int local = 41;
        VLPerformBlockAfterDelay([result, local] { *result = local + 1; }, 0.01);
    }
    EXPECT_TRUE(testsupport::waitUntil([&] { return *result == 42; }));
}

TEST(KitBlocks, TransparencyLayerCompositesTheGroupOnce)
{
    // Two overlapping half-transparent squares drawn as a group at 50 %
    // opacity: the overlap is no darker than the rest of the group.
    QImage image(40, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setOpacity(0.5);
    VLDrawBlockInTransparencyLayer(&painter, [](QPainter *group) {
        group->fillRect(QRect(0, 0, 25, 20), Qt::black);
        group->fillRect(QRect(15, 0, 25, 20), Qt::black);
    });
    painter.end();
    EXPECT_EQ(image.pixelColor(5, 10), image.pixelColor(20, 10));
    EXPECT_NEAR(image.pixelColor(20, 10).red(), 128, 2);
}

TEST(KitBlocks, PerformSelectorNamedOnlyWhenTheReceiverHasIt)
{
    Receiver receiver;
    EXPECT_TRUE(NSObjectVLGUID::performSelectorNamedWithObject(&receiver, "ping", QVariant()));
    EXPECT_EQ(receiver.pings, 1);
    EXPECT_TRUE(NSObjectVLGUID::performSelectorNamedWithObject(&receiver, "rename", QString("Oak")));
    EXPECT_EQ(receiver.lastName, "Oak");
    EXPECT_FALSE(NSObjectVLGUID::performSelectorNamedWithObject(&receiver, "noSuchThing", 3));
    EXPECT_FALSE(NSObjectVLGUID::performSelectorNamedWithObject(nullptr, "ping", QVariant()));
}

#include "VLBlocksTest.moc"
