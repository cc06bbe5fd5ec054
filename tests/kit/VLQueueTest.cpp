#include "kit/VLQueue.h"

#include <gtest/gtest.h>

#include <QThread>

#include <memory>
#include <vector>

TEST(KitQueue, FirstInFirstOut)
{
    VLQueue queue(4);
    queue.addObject("A");
    queue.addObject("B");
    queue.addObject("C");
    EXPECT_EQ(queue.dequeue().toString(), "A");
    EXPECT_EQ(queue.dequeue().toString(), "B");
    EXPECT_EQ(queue.dequeue().toString(), "C");
    EXPECT_FALSE(queue.dequeue().isValid());
    EXPECT_TRUE(queue.isEmpty());
    queue.addObject(QVariant()); // nothing to add
    EXPECT_EQ(queue.count(), 0);
}

TEST(KitQueue, BatchesAndClearing)
{
    VLQueue queue;
    QVariantList batch{"x", "y"};
    queue.addObjectsFromArray(batch);
    batch.append("z"); // the caller's later change is not seen
    EXPECT_EQ(queue.count(), 2);
    EXPECT_EQ(queue.dequeueCount(5), (QVariantList{"x", "y"}));
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_TRUE(queue.dequeueCount(3).isEmpty());

    queue.addObjectsFromArray({1, 2, 3});
    EXPECT_TRUE(queue.dequeueCount(0).isEmpty());
    EXPECT_EQ(queue.dequeueCount(-1).size(), 0);
    EXPECT_EQ(queue.dequeueCount(2), (QVariantList{1, 2}));
    EXPECT_EQ(queue.dequeueAll(), (QVariantList{3}));
    EXPECT_TRUE(queue.dequeueAll().isEmpty());

    queue.addObject("w");
    queue.clear();
    EXPECT_EQ(queue.count(), 0);
}

TEST(KitQueue, Description)
{
    VLQueue queue;
    queue.addObject("x");
    queue.addObject("y");
    EXPECT_EQ(queue.description(), "VLQueue with 2 objects\n0: x\n1: y\n");
    EXPECT_EQ(VLQueue().description(), "VLQueue with 0 objects\n");
}

TEST(KitQueue, ManyThreadsLoseNothing)
{
    VLQueue queue;
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::unique_ptr<QThread>> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back(QThread::create([&queue, t] {
            for (int i = 0; i < kEach; ++i)
                queue.addObject(t * kEach + i);
        }));
        producers.back()->start();
    }
    QList<int> taken;
    std::unique_ptr<QThread> consumer(QThread::create([&] {
        while (taken.size() < kThreads * kEach) {
            const QVariant item = queue.dequeue();
            if (item.isValid())
                taken << item.toInt();
            else
                QThread::yieldCurrentThread();
        }
    }));
    consumer->start();
    for (auto &producer : producers)
        producer->wait();
    consumer->wait();
    ASSERT_EQ(taken.size(), kThreads * kEach);
    // Each producer's items come out in the order it added them.
    std::vector<int> last(kThreads, -1);
    for (int value : taken) {
        const int producer = value / kEach;
        EXPECT_GT(value, last[producer]);
        last[producer] = value;
    }
}
