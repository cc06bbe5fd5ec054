#pragma once

#include <QByteArray>

namespace platform {

// The one way a file or folder the program keeps for a moment beside the
// user's files is named: ".kantelo-<pid>-<letters>", hidden, short whatever
// the user's file is called, and saying which run it belongs to. A run's
// own go when it ends on a TERM, INT or HUP; those of runs no longer alive
// go the next time a run works in their folder.
namespace TemporaryNames {

QByteArray make();
// The process a temporary name belongs to; 0 when it is none.
long ownerOf(const char *name);

// Removes the temporaries of runs no longer alive from the folder (an open
// one), once a folder in a run: a file, or a folder with the files in it.
void clearLeftoversIn(int folder);

// A temporary of this run, removed when the run ends on a signal. A folder
// goes after the files held in it.
class Held
{
public:
    Held() = default;
    Held(int folder, const QByteArray &name, bool isFolder = false);
    ~Held();
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    // Holds another name, or none.
    void reset(int folder = -1, const QByteArray &name = {}, bool isFolder = false);

private:
    int m_slot = -1;
};

// Removes every temporary held now, as a terminating signal does; for the
// signal's handler and tests.
void removeHeld();
// Installs the handler for TERM, INT and HUP: it removes what is held, then
// ends the program as the signal would have.
void removeHeldAtTermination();

} // namespace TemporaryNames

} // namespace platform
