#include "platform/Error.h"

#include "platform/Dispatch.h"
#include "platform/GlobalHook.h"
#include "platform/Log.h"

namespace platform {

namespace {
GlobalHook<void(const Error &)> &presenterHook()
{
    static GlobalHook<void(const Error &)> hook;
    return hook;
}

void logError(const Error &error)
{
    QString line = QStringLiteral("ERROR: %1 (%2 %3)").arg(error.description, error.domain).arg(error.code);
    if (!error.recoverySuggestion.isEmpty())
        line += QLatin1Char(' ') + error.recoverySuggestion;
    logLine(line);
}
} // namespace

void setErrorPresenter(ErrorPresenter presenter)
{
    presenterHook().set(std::move(presenter));
}

void presentError(const Error &error)
{
    auto present = [error] {
        const ErrorPresenter presenter = presenterHook().get();
        if (presenter)
            presenter(error);
        else
            logError(error);
    };
    // On the main thread the error shows at once; from a worker it is
    // queued, so a worker never waits on a modal alert.
    if (isMainThread())
        present();
    else
        runOnMainThread(std::move(present), false);
}

} // namespace platform
