#pragma once

#include <QString>

#include <functional>
#include <memory>

class QThreadPool;

namespace platform {

// Where work runs besides the main thread. Nothing outside platform/ starts
// a thread or a pool of its own.
enum class Pool {
    // Long work the application waits for at quit: imports, exports, saves,
    // library updates. Every job gets a thread of its own (it may wait for
    // the network or for another job); see runInBackground.
    Background,
    // Thumbnails, previews, size estimates and icons for the screen.
    Previews,
    // One piece of work split across every core: row bands, blur passes,
    // JPEG strips, a picture's metadata read beside its pixels.
    Parallel,
    // Batch files, one per core, each drawn by its worker alone while every
    // worker has one. Workers keep their canvas between files for a few
    // seconds.
    Batch,
};

// Starts `fn` on a background thread of its own that the application knows
// about: `waitForBackgroundThreads` asks them to stop
// (QThread::requestInterruption) and joins them in order, at quit and as the
// application object goes; the main thread serves its queue meanwhile.
void runInBackground(std::function<void()> fn);
void waitForBackgroundThreads();

// Starts `work` on `pool` and returns at once. Once the pools are gone (the
// program is ending) the work runs on the calling thread.
void runOn(Pool pool, std::function<void()> work);

// The threads `pool` runs at most at once (Background: as many as it has jobs).
int poolThreadCount(Pool pool);

// True when `pool` neither runs nor holds a job.
bool isPoolIdle(Pool pool);

// Work started on a pool that its starter waits for. A wait that finds the
// job not yet begun runs it on the waiting thread, so waiting never needs a
// free pool thread and nested use cannot deadlock. The destructor waits.
class PoolJob
{
public:
    PoolJob(Pool pool, std::function<void()> work);
    ~PoolJob();
    PoolJob(const PoolJob &) = delete;
    PoolJob &operator=(const PoolJob &) = delete;

    bool isFinished() const;
    void wait();
    // Takes the job back if it has not begun, without running it; answers
    // whether it was taken back (it never runs then).
    bool cancelIfNotStarted();

    struct State;

private:
    std::shared_ptr<State> m_state;
};

// One owner's jobs on a shared pool: at most maxThreadCount() of them at
// once, begun in the order started. The owner can drop those not begun and
// wait for its own; the destructor drops and waits.
class WorkQueue
{
public:
    explicit WorkQueue(Pool pool, int maxThreadCount = 1);
    ~WorkQueue();
    WorkQueue(const WorkQueue &) = delete;
    WorkQueue &operator=(const WorkQueue &) = delete;

    void setObjectName(const QString &name);
    QString objectName() const;
    void setMaxThreadCount(int count);
    int maxThreadCount() const;
    int activeThreadCount() const;

    void start(std::function<void()> work);
    // Drops the jobs not yet begun.
    void clear();
    // Waits for every job, pending ones included; false if `msecs` (>= 0)
    // passed first.
    bool waitForDone(int msecs = -1);

    struct State;

private:
    std::shared_ptr<State> d;
};

} // namespace platform
