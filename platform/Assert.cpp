#include "platform/Assert.h"

#include "platform/Dispatch.h"
#include "platform/Error.h"
#include "platform/Log.h"

#include <QSet>

namespace platform {

Exception::Exception(QString name, QString reason)
    : m_name(std::move(name))
    , m_reason(std::move(reason))
    , m_what((m_name + QStringLiteral(": ") + m_reason).toStdString())
{
}

const char *Exception::what() const noexcept
{
    return m_what.c_str();
}

void raiseAssertion(const char *function, const QString &text)
{
    logLine(QStringLiteral("Assertion failure in %1: %2").arg(QString::fromUtf8(function), text));
    throw Exception(QString::fromLatin1(kInternalInconsistencyException), text);
}

namespace {

struct Described {
    QString name;
    QString reason;
};

Described describe(const std::exception_ptr &exception)
{
    try {
        std::rethrow_exception(exception);
    } catch (const Exception &e) {
        return {e.name(), e.reason()};
    } catch (const std::exception &e) {
        return {QStringLiteral("std::exception"), QString::fromUtf8(e.what())};
    } catch (...) {
        return {QStringLiteral("exception"), QStringLiteral("of an unknown type")};
    }
}

} // namespace

void reportUncaughtException(std::exception_ptr exception)
{
    if (!exception)
        return;
    const Described described = describe(exception);
    logLine(QStringLiteral("ERROR: Uncaught %1: %2").arg(described.name, described.reason));
    runOnMainThread(
        [described] {
            // A fault that repeats (a paint, a timer) or strikes while its
            // alert is up is logged only: one alert, not a flood of them.
            static QSet<QString> shown;
            static bool showing = false;
            const QString key = described.name + QLatin1Char('\n') + described.reason;
            if (showing || shown.contains(key))
                return;
            shown.insert(key);
            Error error = describedError(QString::fromLatin1(kUncaughtExceptionText));
            error.recoverySuggestion = QString::fromLatin1(kUncaughtExceptionSuggestion);
            error.userInfo.insert(QStringLiteral("NSLocalizedFailureReason"), described.reason);
            showing = true;
            presentError(error);
            showing = false;
        },
        false);
}

} // namespace platform
