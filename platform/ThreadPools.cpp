#include "platform/ThreadPools.h"

#include "platform/Dispatch.h"
#include "platform/SanitizerHandoff.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <vector>

namespace platform {

// --- background threads, joined at quit ---

namespace {

struct BackgroundThreads {
    QMutex mutex;
    std::vector<std::unique_ptr<QThread>> threads;
    bool hooksInstalled = false;
};

BackgroundThreads &background()
{
    static BackgroundThreads registry;
    return registry;
}

void joinAtExit()
{
    waitForBackgroundThreads();
}

// Reaps finished threads; the caller holds the registry lock.
void reapFinished(BackgroundThreads &registry)
{
    auto &threads = registry.threads;
    for (auto it = threads.begin(); it != threads.end();) {
        if ((*it)->isFinished()) {
            (*it)->wait();
            it = threads.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace

void runInBackground(std::function<void()> fn)
{
    if (!fn)
        return;
    BackgroundThreads &registry = background();
    QMutexLocker lock(&registry.mutex);
    reapFinished(registry);
    if (!registry.hooksInstalled && QCoreApplication::instance()) {
        registry.hooksInstalled = true;
        // Threads stop before the application object goes: at quit while the
        // event loop still runs, and again as the application is destroyed.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                         QCoreApplication::instance(), &waitForBackgroundThreads);
        qAddPostRoutine(&joinAtExit);
    }
    std::unique_ptr<QThread> thread(QThread::create(std::move(fn)));
    thread->setObjectName(QStringLiteral("Kantelo background"));
    thread->start();
    registry.threads.push_back(std::move(thread));
}

void waitForBackgroundThreads()
{
    BackgroundThreads &registry = background();
    for (;;) {
        std::vector<QThread *> running;
        {
            QMutexLocker lock(&registry.mutex);
            reapFinished(registry);
            for (const auto &thread : registry.threads) {
                thread->requestInterruption();
                running.push_back(thread.get());
            }
        }
        if (running.empty())
            return;
        // Join in start order. A worker may be waiting for the main thread,
        // so the main thread keeps serving its queue while it waits.
        for (QThread *thread : running) {
            if (isMainThread() && QCoreApplication::instance()) {
                spinEventLoopUntil([thread] { return thread->isFinished(); }, 20);
            }
            thread->wait();
        }
    }
}

// --- the pools ---

namespace {

struct Pools {
    QThreadPool previews;
    QThreadPool parallel;
    QThreadPool batch;

    Pools()
    {
        const int cores = std::max(1, QThread::idealThreadCount());
        previews.setObjectName(QStringLiteral("Kantelo previews"));
        // Room for every window's jobs at once (a batch's strip of
        // thumbnails, its large preview, the frame editor's tiles, a size
        // estimate), so that none waits behind another's.
        previews.setMaxThreadCount(std::max(12, cores + 4));
        parallel.setObjectName(QStringLiteral("Kantelo parallel"));
        parallel.setMaxThreadCount(cores);
        batch.setObjectName(QStringLiteral("Kantelo batch"));
        batch.setMaxThreadCount(cores);
        // A batch worker keeps its canvas while it lives: threads idle for a
        // moment after a run ends, then give their memory back.
        batch.setExpiryTimeout(3000);
    }
};

Q_GLOBAL_STATIC(Pools, s_pools)

// Null for Background, and once the pools are gone.
QThreadPool *qtPool(Pool pool)
{
    Pools *pools = s_pools();
    if (!pools)
        return nullptr;
    switch (pool) {
    case Pool::Previews:
        return &pools->previews;
    case Pool::Parallel:
        return &pools->parallel;
    case Pool::Batch:
        return &pools->batch;
    case Pool::Background:
        break;
    }
    return nullptr;
}

} // namespace

int poolThreadCount(Pool pool)
{
    if (pool == Pool::Background)
        return std::numeric_limits<int>::max();
    const QThreadPool *threads = qtPool(pool);
    return threads ? std::max(1, threads->maxThreadCount()) : 1;
}

bool isPoolIdle(Pool pool)
{
    if (pool == Pool::Background) {
        BackgroundThreads &registry = background();
        QMutexLocker lock(&registry.mutex);
        reapFinished(registry);
        return registry.threads.empty();
    }
    QThreadPool *threads = qtPool(pool);
    return !threads || threads->waitForDone(0);
}

// --- jobs that can be taken back ---

struct PoolJob::State {
    enum class Phase { Queued, Running, Done };
    std::mutex mutex;
    std::condition_variable changed;
    Phase phase = Phase::Queued;
    std::function<void()> work;
    QThreadPool *pool = nullptr;
    // The pool's entry while the job is queued there; the pool deletes it
    // once run, so it is looked at only while the job is queued.
    QRunnable *entry = nullptr;
};

namespace {

using JobState = PoolJob::State;

void execute(const std::shared_ptr<JobState> &state)
{
    {
        const std::lock_guard<std::mutex> lock(state->mutex);
        if (state->phase != JobState::Phase::Queued)
            return;
        state->phase = JobState::Phase::Running;
        state->entry = nullptr;
    }
    state->work();
    state->work = nullptr;
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->phase = JobState::Phase::Done;
    state->changed.notify_all();
}

class JobEntry : public QRunnable
{
public:
    explicit JobEntry(std::shared_ptr<JobState> state)
        : m_state(std::move(state))
    {
    }
    void run() override
    {
        takeOver(this);
        execute(m_state);
    }

private:
    std::shared_ptr<JobState> m_state;
};

std::shared_ptr<JobState> launch(Pool pool, std::function<void()> work)
{
    auto state = std::make_shared<JobState>();
    state->work = work ? std::move(work) : [] {};
    if (pool == Pool::Background) {
        runInBackground([state] { execute(state); });
        return state;
    }
    QThreadPool *threads = qtPool(pool);
    if (!threads) {
        execute(state);
        return state;
    }
    // The lock keeps a thread that picks the entry up from running it
    // before it is recorded.
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->pool = threads;
    state->entry = new JobEntry(state);
    handOff(state->entry);
    threads->start(state->entry);
    return state;
}

// Takes a job not yet begun out of its pool; the caller holds the job's lock.
// The entry cannot have been deleted: a thread that took it up waits for the
// same lock before it runs anything.
bool takeBack(JobState &state)
{
    if (state.phase != JobState::Phase::Queued)
        return false;
    if (state.pool) {
        if (!state.entry || !state.pool->tryTake(state.entry))
            return false;
        delete state.entry;
        state.entry = nullptr;
    }
    // A background thread finds the job taken and returns.
    return true;
}

} // namespace

void runOn(Pool pool, std::function<void()> work)
{
    // Through an entry of our own rather than the pool's std::function one,
    // so that ThreadSanitizer builds see the hand-over to the worker.
    if (work)
        launch(pool, std::move(work));
}

PoolJob::PoolJob(Pool pool, std::function<void()> work)
    : m_state(launch(pool, std::move(work)))
{
}

PoolJob::~PoolJob()
{
    wait();
}

bool PoolJob::isFinished() const
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->phase == State::Phase::Done;
}

void PoolJob::wait()
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    // A background thread always starts: only pool jobs are taken back.
    if (m_state->pool && takeBack(*m_state)) {
        lock.unlock();
        execute(m_state);
        return;
    }
    m_state->changed.wait(lock, [this] { return m_state->phase == State::Phase::Done; });
}

bool PoolJob::cancelIfNotStarted()
{
    const std::lock_guard<std::mutex> lock(m_state->mutex);
    if (!takeBack(*m_state))
        return false;
    m_state->phase = State::Phase::Done;
    m_state->work = nullptr;
    m_state->changed.notify_all();
    return true;
}

// --- one owner's queue on a shared pool ---

struct WorkQueue::State {
    Pool pool = Pool::Previews;
    mutable std::mutex mutex;
    std::condition_variable changed;
    QString name;
    int maxThreads = 1;
    int running = 0; // handed to the pool, begun or not
    std::deque<std::function<void()>> pending;
    // Jobs handed to the pool that may not have begun yet.
    std::vector<std::shared_ptr<JobState>> handedOver;
};

namespace {

void pump(const std::shared_ptr<WorkQueue::State> &d);

void jobEnded(const std::shared_ptr<WorkQueue::State> &d)
{
    {
        const std::lock_guard<std::mutex> lock(d->mutex);
        --d->running;
    }
    pump(d);
    d->changed.notify_all();
}

// Hands pending jobs to the pool while the queue has room.
void pump(const std::shared_ptr<WorkQueue::State> &d)
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    // Jobs that have begun need no taking back.
    std::erase_if(d->handedOver, [](const std::shared_ptr<JobState> &job) {
        const std::lock_guard<std::mutex> jobLock(job->mutex);
        return job->phase != JobState::Phase::Queued;
    });
    while (d->running < d->maxThreads && !d->pending.empty()) {
        std::function<void()> work = std::move(d->pending.front());
        d->pending.pop_front();
        ++d->running;
        d->handedOver.push_back(launch(d->pool, [d, work = std::move(work)]() mutable {
            work();
            // What the job holds goes before the queue says it ended: a
            // waiter may take down what that refers to as soon as it hears.
            work = nullptr;
            jobEnded(d);
        }));
    }
}

} // namespace

WorkQueue::WorkQueue(Pool pool, int maxThreadCount)
    : d(std::make_shared<State>())
{
    d->pool = pool;
    d->maxThreads = std::max(1, maxThreadCount);
}

WorkQueue::~WorkQueue()
{
    clear();
    waitForDone();
}

void WorkQueue::setObjectName(const QString &name)
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    d->name = name;
}

QString WorkQueue::objectName() const
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    return d->name;
}

void WorkQueue::setMaxThreadCount(int count)
{
    {
        const std::lock_guard<std::mutex> lock(d->mutex);
        d->maxThreads = std::max(1, count);
    }
    pump(d);
}

int WorkQueue::maxThreadCount() const
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    return d->maxThreads;
}

int WorkQueue::activeThreadCount() const
{
    const std::lock_guard<std::mutex> lock(d->mutex);
    return d->running;
}

void WorkQueue::start(std::function<void()> work)
{
    if (!work)
        return;
    {
        const std::lock_guard<std::mutex> lock(d->mutex);
        d->pending.push_back(std::move(work));
    }
    pump(d);
}

void WorkQueue::clear()
{
    {
        const std::lock_guard<std::mutex> lock(d->mutex);
        d->pending.clear();
        for (const std::shared_ptr<JobState> &job : d->handedOver) {
            const std::lock_guard<std::mutex> jobLock(job->mutex);
            if (takeBack(*job)) {
                job->phase = JobState::Phase::Done;
                job->work = nullptr;
                --d->running;
            }
        }
        d->handedOver.clear();
    }
    d->changed.notify_all();
}

bool WorkQueue::waitForDone(int msecs)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    const auto idle = [this] { return d->running == 0 && d->pending.empty(); };
    if (msecs < 0) {
        d->changed.wait(lock, idle);
        return true;
    }
    return d->changed.wait_for(lock, std::chrono::milliseconds(msecs), idle);
}

} // namespace platform
