#include "platform/Dispatch.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

namespace platform {

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
    QMetaObject::invokeMethod(app, std::move(fn), wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
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

bool spinEventLoopUntil(const std::function<bool()> &done, int sliceMs, int timeoutMs)
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
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
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
