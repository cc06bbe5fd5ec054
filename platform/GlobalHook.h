#pragma once

#include <QMutex>
#include <QMutexLocker>

#include <functional>
#include <utility>

namespace platform {

// A process-wide function that the shell or a test replaces (a presenter, a
// sink) and any thread reads. Make one a function-local static so it exists
// before its first use.
template <typename Signature>
class GlobalHook
{
public:
    using Function = std::function<Signature>;

    void set(Function function)
    {
        QMutexLocker lock(&m_mutex);
        m_function = std::move(function);
    }

    // A copy, so the caller runs it without the lock (it may ask the user,
    // or replace the hook itself).
    Function get() const
    {
        QMutexLocker lock(&m_mutex);
        return m_function;
    }

    // Runs `body` with the current function (possibly empty) under the lock,
    // so callers take turns.
    template <typename Body>
    void withLocked(Body &&body) const
    {
        QMutexLocker lock(&m_mutex);
        std::forward<Body>(body)(m_function);
    }

private:
    mutable QMutex m_mutex;
    Function m_function;
};

} // namespace platform
