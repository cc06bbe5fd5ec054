#include "platform/Error.h"

#include "platform/Dispatch.h"
#include "platform/Log.h"

#include <QMutex>
#include <QMutexLocker>

namespace platform {

namespace {
QMutex &presenterMutex()
{
    static QMutex mutex;
    return mutex;
}
ErrorPresenter &currentPresenter()
{
    static ErrorPresenter presenter;
    return presenter;
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
    QMutexLocker lock(&presenterMutex());
    currentPresenter() = std::move(presenter);
}

void presentError(const Error &error)
{
    auto present = [error] {
        ErrorPresenter presenter;
        {
            QMutexLocker lock(&presenterMutex());
            presenter = currentPresenter();
        }
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
