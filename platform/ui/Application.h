#pragma once

#include "platform/ui/ApplicationDelegate.h"

#include <QObject>

#include <functional>

namespace platform {

// The application's launch and quit sequence around QApplication: the
// delegate's launch steps, then at quit the review of edited documents, the
// delegate's decision and its last words. Closing the last window does not
// quit; the application decides.
class Application : public QObject
{
    Q_OBJECT
public:
    explicit Application(ApplicationDelegate *delegate, QObject *parent = nullptr);
    ~Application() override;

    static Application *shared();

    ApplicationDelegate *delegate() const { return m_delegate; }

    // Will-finish launching, the files given at start opened as documents,
    // did-finish launching, then an untitled document when no file opened.
    void finishLaunching(const QStringList &files = {});
    bool isRunning() const { return m_running; }

    // The Quit command.
    void terminate();
    // The delegate's later answer to a Later reply.
    void replyToApplicationShouldTerminate(bool shouldTerminate);
    bool isTerminating() const { return m_terminating; }
    bool isAwaitingTerminateReply() const { return m_awaitingReply; }

    // What finally ends the process (QCoreApplication::quit by default).
    void setQuitHandler(std::function<void()> handler);

signals:
    void willTerminate();

private:
    void finishTerminating();

    ApplicationDelegate *m_delegate;
    bool m_running = false;
    void quitUnlessAWindowStays();

    bool m_terminating = false;
    bool m_awaitingReply = false;
    std::function<void()> m_quit;
};

} // namespace platform
