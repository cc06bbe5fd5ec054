#pragma once

#include <QString>

#include <exception>
#include <string>

namespace platform {

// A named exception with a reason, raised when calling code misuses a
// class ("NSInternalInconsistencyException", "XSViewControllerException").
class Exception : public std::exception
{
public:
    Exception(QString name, QString reason);
    const char *what() const noexcept override;
    const QString &name() const { return m_name; }
    const QString &reason() const { return m_reason; }

private:
    QString m_name;
    QString m_reason;
    std::string m_what;
};

inline constexpr const char *kInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char *kInvalidArgumentException = "NSInvalidArgumentException";

// Logs "Assertion failure in <function>: <text>" and raises an internal
// inconsistency exception. For misuse by code only; data errors are results.
[[noreturn]] void raiseAssertion(const char *function, const QString &text);

// What the running program does with an exception that nothing caught
// before the event loop (GuardedApplication hands each one here): it is
// logged, the user is told in one alert per reason, and the program goes on
// with its documents open. Callable from any thread.
void reportUncaughtException(std::exception_ptr exception);

inline constexpr const char *kUncaughtExceptionText = "An internal error stopped the last action.";
inline constexpr const char *kUncaughtExceptionSuggestion =
    "Your open documents stay open. Save your work, then quit and start Kantelo again.";

} // namespace platform

#define KT_ASSERT(condition, text)                                    \
    do {                                                              \
        if (!(condition))                                             \
            ::platform::raiseAssertion(Q_FUNC_INFO, (text));          \
    } while (false)
