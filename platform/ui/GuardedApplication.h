#pragma once

#include <QApplication>

namespace platform {

// The program's QApplication. An exception that escapes an event handler or
// a slot ends that event only: it goes to reportUncaughtException
// (platform/Assert.h) instead of through the event loop, which would end
// the program and lose the open documents.
class GuardedApplication : public QApplication
{
public:
    GuardedApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace platform
