#pragma once

#include <QStringList>

namespace platform {

// What the application asks of its delegate at launch and at quit.
class ApplicationDelegate
{
public:
    enum class TerminateReply { Now, Cancel, Later };

    virtual ~ApplicationDelegate() = default;
    virtual void applicationWillFinishLaunching() {}
    virtual void applicationDidFinishLaunching() {}
    // Asked after launching when no file was opened.
    virtual bool applicationShouldOpenUntitledFile() { return true; }
    // Later: the delegate answers through Application::replyToApplicationShouldTerminate.
    virtual TerminateReply applicationShouldTerminate() { return TerminateReply::Now; }
    virtual void applicationWillTerminate() {}
};

} // namespace platform
