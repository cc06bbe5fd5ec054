#include "app/KTCommandLineRun.h"

#include "platform/Alert.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/ui/Application.h"
#include "platform/ui/Document.h"
#include "platform/ui/DocumentController.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<bool> g_failed{false};
std::atomic<bool> g_written{false};

void printError(const QString &reason)
{
    const QByteArray line = QStringLiteral("ERROR: %1\n").arg(reason.simplified()).toLocal8Bit();
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
}

} // namespace

void KTCommandLineRun::installPresenters()
{
    platform::setErrorPresenter([](const platform::Error &error) {
        QString text = error.description.isEmpty() ? QStringLiteral("%1 error %2").arg(error.domain).arg(error.code)
                                                   : error.description;
        // Which file, and why, when the error knows.
        const QString path = error.userInfo.value(QStringLiteral("NSFilePath")).toString();
        if (!path.isEmpty() && !text.contains(path))
            text += QStringLiteral(": “%1”").arg(path);
        const QString reason = error.userInfo.value(QStringLiteral("NSLocalizedFailureReason")).toString();
        if (!reason.isEmpty() && !text.contains(reason))
            text += QStringLiteral(": ") + reason;
        fail(text);
    });
    // The run's own failure is its one "ERROR:" line; diagnostics on the
    // way there are only warnings.
    platform::setLogSink([](const QString &line) {
        static const QString errorTag = QStringLiteral("ERROR: ");
        const QString shown = line.startsWith(errorTag) ? QStringLiteral("Warning: ") + line.mid(errorTag.size()) : line;
        const QByteArray bytes = shown.toLocal8Bit() + '\n';
        std::fputs(bytes.constData(), stderr);
        std::fflush(stderr);
    });
    platform::setAlertPresenter([](const platform::AlertRequest &request) {
        QString text = request.messageText;
        if (!request.informativeText.isEmpty())
            text += QLatin1Char(' ') + request.informativeText;
        const QByteArray line = QStringLiteral("Warning: %1\n").arg(text.simplified()).toLocal8Bit();
        std::fputs(line.constData(), stderr);
        std::fflush(stderr);
        // The questions asked without a window offer going on without harm
        // last ("Don't Save", "Quit anyway", "Continue Without Library").
        return int(request.buttons.isEmpty() ? 0 : request.buttons.size() - 1);
    });
}

void KTCommandLineRun::fail(const QString &reason)
{
    // Once the framed file is written, later trouble (a store saved at quit)
    // does not undo that.
    if (g_written) {
        const QByteArray line = QStringLiteral("Warning: %1\n").arg(reason.simplified()).toLocal8Bit();
        std::fputs(line.constData(), stderr);
        std::fflush(stderr);
        return;
    }
    if (g_failed.exchange(true))
        return;
    printError(reason);
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, [] {
        // Nothing is saved on the way out: the photo stays as it was.
        if (platform::DocumentController *controller = platform::DocumentController::sharedDocumentController(false)) {
            for (platform::Document *doc : controller->documents())
                doc->updateChangeCount(platform::Document::ChangeKind::Cleared);
        }
        if (platform::Application *application = platform::Application::shared())
            application->terminate();
        else
            QCoreApplication::exit(kFailureStatus);
    }, Qt::QueuedConnection);
}

bool KTCommandLineRun::hasFailed()
{
    return g_failed.load();
}

void KTCommandLineRun::markWritten()
{
    g_written = true;
}

bool KTCommandLineRun::wasWritten()
{
    return g_written.load();
}

int KTCommandLineRun::finish()
{
    if (g_written && !g_failed)
        return 0;
    if (!g_failed.exchange(true))
        printError(QStringLiteral("The framed image was not written."));
    return kFailureStatus;
}

void KTCommandLineRun::reset()
{
    g_failed = false;
    g_written = false;
}
