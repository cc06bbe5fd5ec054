#include "platform/Alert.h"

#include "platform/Dispatch.h"
#include "platform/GlobalHook.h"
#include "platform/Log.h"

namespace platform {

namespace {
GlobalHook<int(const AlertRequest &)> &presenterHook()
{
    static GlobalHook<int(const AlertRequest &)> hook;
    return hook;
}

// Without windows nobody can answer: say what was asked and take the default.
int logAndAnswerDefault(const AlertRequest &request)
{
    QString line = QStringLiteral("Alert: %1").arg(request.messageText);
    if (!request.informativeText.isEmpty())
        line += QStringLiteral(" (%1)").arg(request.informativeText);
    logLine(line);
    return 0;
}
} // namespace

void setAlertPresenter(AlertPresenter presenter)
{
    presenterHook().set(std::move(presenter));
}

int runAlert(const AlertRequest &request)
{
    int answer = 0;
    auto ask = [&] {
        const AlertPresenter presenter = presenterHook().get();
        answer = presenter ? presenter(request) : logAndAnswerDefault(request);
        const int buttons = request.buttons.isEmpty() ? 1 : int(request.buttons.size());
        if (answer < 0 || answer >= buttons)
            answer = 0;
    };
    // Alerts are modal and belong to the main thread; a worker waits for the answer.
    runOnMainThread(ask, true);
    return answer;
}

} // namespace platform
