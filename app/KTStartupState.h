#pragma once

#include <QObject>

#include <functional>

namespace platform {
class ManagedObjectContext;
}

// What a document asks of the running application while it starts: where
// the saved designs are and whether the first-run import is still bringing
// them in. The application delegate implements it and is the current one.
class KTStartupState
{
public:
    virtual ~KTStartupState() = default;
    virtual platform::ManagedObjectContext *templatesManagedObjectContext() = 0;
    virtual bool isImportingInitialFrames() const = 0;
    // Calls `then` once, while `receiver` lives, when the first-run import ends.
    virtual void whenInitialFramesImportEnds(QObject *receiver, std::function<void()> then) = 0;

    static KTStartupState *current() { return s_current; }
    static void setCurrent(KTStartupState *state) { s_current = state; }

private:
    static inline KTStartupState *s_current = nullptr;
};
