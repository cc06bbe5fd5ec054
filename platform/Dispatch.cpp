#include "platform/Dispatch.h"

#include "platform/SanitizerHandoff.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <memory>

namespace platform {

namespace {

// Takes a posted function through Qt's queue. The token is the carrier's own
// address, known to both sides without reading what the other wrote: the
// poster hands off once the carrier sits in Qt's slot object (its last move),
// the thread that runs it, or drops it unrun, takes over. What the function
// wrote goes back to a poster that waits through the function's address.
class Carrier
{
public:
    explicit Carrier(std::shared_ptr<std::function<void()>> fn)
        : m_fn(std::move(fn))
    {
    }
    Carrier(Carrier &&other) noexcept
        : m_fn(std::move(other.m_fn))
    {
        handOff(this);
    }
    Carrier(const Carrier &) = delete;
    Carrier &operator=(const Carrier &) = delete;
    Carrier &operator=(Carrier &&) = delete;
    ~Carrier()
    {
        takeOver(this);
        // A waiting poster's Qt frees the carrier on the poster's thread.
        if (m_fn)
            takeOver(m_fn.get());
    }

    void operator()()
    {
        takeOver(this);
        (*m_fn)();
        handOff(m_fn.get());
    }

private:
    std::shared_ptr<std::function<void()>> m_fn;
};

} // namespace

bool isMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    // Without an application there is no main loop to hand work to: the
    // calling thread stands in for it.
    return !app || QThread::currentThread() == app->thread();
}

void runOnMainThread(std::function<void()> fn, bool wait)
{
    if (!fn)
        return;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || (wait && isMainThread())) {
        fn();
        return;
    }
    runOnThreadOf(app, std::move(fn), wait);
}

void runOnThreadOf(QObject *context, std::function<void()> fn, bool wait)
{
    if (!fn || !context)
        return;
    if (wait && context->thread() == QThread::currentThread()) {
        fn();
        return;
    }
    auto shared = std::make_shared<std::function<void()>>(std::move(fn));
    QMetaObject::invokeMethod(context, Carrier(shared), wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
    if (wait)
        takeOver(shared.get());
}

void runAfterDelay(double seconds, std::function<void()> fn, QObject *context)
{
    if (!fn)
        return;
    const int ms = seconds <= 0 || seconds != seconds ? 0 : int(qMin(seconds * 1000.0, 2.0e9));
    if (context)
        QTimer::singleShot(ms, context, std::move(fn));
    else
        QTimer::singleShot(ms, std::move(fn));
}

bool spinEventLoopUntil(const std::function<bool()> &done, int sliceMs, int timeoutMs, UserInput input)
{
    if (sliceMs <= 0)
        sliceMs = 100;
    QDeadlineTimer deadline = timeoutMs >= 0 ? QDeadlineTimer(timeoutMs) : QDeadlineTimer(QDeadlineTimer::Forever);
    // The timer wakes the loop every slice, so a condition that changes
    // without an event (another thread's flag) is still seen.
    const bool hasLoop = QAbstractEventDispatcher::instance() != nullptr;
    QTimer wake;
    if (hasLoop) {
        wake.setInterval(sliceMs);
        wake.start();
    }
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        if (hasLoop) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents(input == UserInput::Deferred
                                                ? QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents
                                                : QEventLoop::WaitForMoreEvents);
        } else {
            QThread::msleep(qMin(sliceMs, 5));
        }
    }
    return true;
}

struct Debouncer::Private {
    std::function<void()> action;
    QTimer timer;
};

Debouncer::Debouncer(double seconds, std::function<void()> action, QObject *parent)
    : QObject(parent)
    , d(new Private)
{
    d->action = std::move(action);
    d->timer.setSingleShot(true);
    d->timer.setInterval(seconds <= 0 || seconds != seconds ? 0 : int(qMin(seconds * 1000.0, 2.0e9)));
    connect(&d->timer, &QTimer::timeout, this, [this] {
        if (d->action)
            d->action();
    });
}

Debouncer::~Debouncer()
{
    delete d;
}

void Debouncer::schedule()
{
    d->timer.start();
}

void Debouncer::cancel()
{
    d->timer.stop();
}

bool Debouncer::isScheduled() const
{
    return d->timer.isActive();
}

void Debouncer::flush()
{
    if (!d->timer.isActive())
        return;
    d->timer.stop();
    if (d->action)
        d->action();
}

} // namespace platform
