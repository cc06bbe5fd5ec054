#pragma once

namespace platform {

// Makes an object the current one of its kind on the calling thread while
// the scope lives; scopes nest and the innermost wins. Drawing code deep
// below reaches the run's caches this way without threading them through.
template <typename T>
class CurrentScope
{
public:
    explicit CurrentScope(T *object)
        : m_previous(s_current)
    {
        s_current = object;
    }
    ~CurrentScope() { s_current = m_previous; }
    CurrentScope(const CurrentScope &) = delete;
    CurrentScope &operator=(const CurrentScope &) = delete;

    static T *current() { return s_current; }

private:
    static inline thread_local T *s_current = nullptr;
    T *m_previous;
};

} // namespace platform
