#include "platform/ui/GuardedApplication.h"

#include "platform/Assert.h"

#include <cxxabi.h>

namespace platform {

GuardedApplication::GuardedApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool GuardedApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const abi::__forced_unwind &) {
        throw; // a thread being cancelled must finish unwinding
    } catch (...) {
        reportUncaughtException(std::current_exception());
        return false;
    }
}

} // namespace platform
