#pragma once

#include <QString>

namespace platform {

struct Error;

// Folders for files the program writes for a moment: a picture dragged out
// of the canvas, picture data dropped on it, a picture shared. They live
// under the system's temporary folder in a folder of this user's alone
// (mode 0700, never one another user made), which holds one folder per
// running program, locked while it runs. A program's folder goes at quit;
// those of programs that ended without quitting go at the next start.
namespace TemporaryFolders {

// A new empty folder (0700) inside this run's folder; empty when none can
// be made, with the reason.
QString makeFolder(Error *error = nullptr);
// Removes this run's folder with everything in it (done at quit).
void removeRunFolder();
// Removes the folders of runs that are over; the running ones are kept.
void removeStaleFolders();
// The user's folder that holds the runs' folders.
QString rootPath();

} // namespace TemporaryFolders

} // namespace platform
