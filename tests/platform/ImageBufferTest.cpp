#include "platform/imaging/ImageBuffer.h"
#include "platform/imaging/ParallelRows.h"

#include <QThread>

#include <atomic>
#include <set>

#include <gtest/gtest.h>

using platform::ImageBuffer;

TEST(ImageBuffer, LargeBuffersAreUsedAgainOnlyWhileARunAsksForIt)
{
    const uchar *first = nullptr;
    {
        QImage a = ImageBuffer::allocate(3000, 2000);
        first = a.constBits();
    }
    EXPECT_EQ(ImageBuffer::recycledBytes(), 0);
    {
        ImageBuffer::RecyclingScope scope;
        {
            QImage a = ImageBuffer::allocate(3000, 2000);
            first = a.constBits();
            a.fill(Qt::red);
        }
        EXPECT_GE(ImageBuffer::recycledBytes(), 3000 * 2000 * 4);
        // A picture of about the same size takes the kept buffer; a much smaller one doesn't.
        QImage small = ImageBuffer::allocate(1500, 2000);
        EXPECT_NE(small.constBits(), first);
        QImage b = ImageBuffer::allocate(2990, 2000);
        EXPECT_EQ(b.constBits(), first);
        EXPECT_EQ(b.size(), QSize(2990, 2000));
        EXPECT_EQ(ImageBuffer::recycledBytes(), 0);
        // A worker's band buffers, smaller, are kept in a run as well.
        ImageBuffer::allocate(4900, 528);
        EXPECT_GE(ImageBuffer::recycledBytes(), 4900 * 528 * 4);
    }
    EXPECT_EQ(ImageBuffer::recycledBytes(), 0);
}

TEST(ParallelRows, ASerialScopeKeepsTheWorkOnItsThread)
{
    std::set<Qt::HANDLE> threads;
    std::atomic<int> rows{0};
    std::mutex m;
    auto record = [&](int first, int end) {
        std::lock_guard<std::mutex> lock(m);
        threads.insert(QThread::currentThreadId());
        rows += end - first;
    };
    {
        platform::SerialRowsScope serial;
        EXPECT_TRUE(platform::rowsRunSerially());
        platform::parallelRows(4000, 1LL << 30, record);
    }
    EXPECT_FALSE(platform::rowsRunSerially());
    EXPECT_EQ(rows.load(), 4000);
    EXPECT_EQ(threads, std::set<Qt::HANDLE>{QThread::currentThreadId()});
}
