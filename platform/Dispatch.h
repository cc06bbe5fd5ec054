#pragma once

#include <QObject>

#include <functional>

namespace platform {

bool isMainThread();

// Runs `fn` on the main thread. With `wait`, returns after it ran; called on
// the main thread with `wait`, it runs at once (no deadlock).
void runOnMainThread(std::function<void()> fn, bool wait);

// Runs `fn` on `context`'s thread from its event loop; nothing runs once
// `context` is gone. With `wait`, returns after it ran (at once on that
// thread itself). Work for another thread's loop goes through here, not
// through a queued invokeMethod: ThreadSanitizer builds cannot see Qt's queue
// between the threads, so this tells them.
void runOnThreadOf(QObject *context, std::function<void()> fn, bool wait);

// Runs `fn` after `seconds` on the calling thread's event loop. With a
// context, nothing runs once the context is gone.
void runAfterDelay(double seconds, std::function<void()> fn, QObject *context = nullptr);

// What a wait does with the window system's user input (mouse, keys).
enum class UserInput {
    // Left queued, for after the wait: the user cannot, say, close a
    // document during its own save.
    Deferred,
    // Delivered as it comes; the caller filters it.
    Delivered,
};

// Spins the calling thread's event loop in slices until `done` answers true.
// Answers false if `timeoutMs` (>= 0) passed.
bool spinEventLoopUntil(const std::function<bool()> &done, int sliceMs = 100, int timeoutMs = -1,
                        UserInput input = UserInput::Deferred);

// Runs its action once, `seconds` after the last `schedule()`; `schedule()`
// again restarts the wait. Lives on the thread that made it.
class Debouncer : public QObject
{
    Q_OBJECT
public:
    Debouncer(double seconds, std::function<void()> action, QObject *parent = nullptr);
    ~Debouncer() override;
    void schedule();
    void cancel();
    bool isScheduled() const;
    // Runs a pending action now (quit).
    void flush();

private:
    struct Private;
    Private *d;
};

} // namespace platform
