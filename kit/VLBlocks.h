#pragma once

// Handing closures to threads, the main thread, timers, locks and
// transparency layers, and making globally unique identifiers.

#include <QString>
#include <QVariant>

#include <functional>
#include <mutex>

class QObject;
class QPainter;
class QThread;

// Runs `block` on a new background thread. The thread is registered with the
// platform so that quitting asks it to stop and joins it before the
// application object goes (platform::waitForBackgroundThreads).
void VLRunBlockInBackground(std::function<void()> block);

// Runs `block` on the main thread; with `wait`, returns after it ran (at once
// when already on the main thread).
void VLRunBlockOnMainThread(bool wait, std::function<void()> block);

// Runs `block` on `thread`'s event loop; with `wait`, returns after it ran (at
// once when `thread` is the calling thread). A thread that is not running is
// refused with a log line; one that runs but never serves its event loop
// never runs the block (and a waiting caller waits for ever).
void VLRunBlockOnThread(QThread *thread, bool wait, std::function<void()> block);

// Memory here is owned, not pooled: the block simply runs.
void VLRunBlockWithAutoreleasePool(const std::function<void()> &block);

// Draws what `block` paints as one group on `target` (composited once at the
// end, the way a transparency layer is). The block gets the group's painter.
void VLDrawBlockInTransparencyLayer(QPainter *target, const std::function<void(QPainter *)> &block);

// Starts `count` background threads (registered as above) calling `block`
// with 0 .. count-1 in that order of starting; returns at once.
void VLRunBlockParallelized(qint64 count, std::function<void(qint64)> block);

// Runs `block` after `delay` seconds on the calling thread's event loop.
void VLPerformBlockAfterDelay(std::function<void()> block, double delay);

namespace NSObjectVLGUID {
// A new process-unique string on every call: an upper-case UUID, the process
// id and a 16-digit hexadecimal counter, joined by hyphens.
QString getGUID();

// Invokes the method called `name` on `receiver` when it has one that takes
// no argument or one argument of `object`'s type; does nothing otherwise.
// Answers whether it was invoked.
bool performSelectorNamedWithObject(QObject *receiver, const QString &name, const QVariant &object);
} // namespace NSObjectVLGUID

namespace NSLockBlocksAdditions {
// Runs `block` with `lock` held; the lock is released whether the block
// returns or throws, and an exception passes on to the caller.
template<typename Lock, typename Block>
decltype(auto) whileLocked(Lock &lock, Block &&block)
{
    std::lock_guard<Lock> guard(lock);
    return std::forward<Block>(block)();
}
} // namespace NSLockBlocksAdditions
