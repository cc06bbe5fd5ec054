#pragma once

#include "platform/Error.h"

#include <QString>
#include <QStringList>

class QImage;
class QMimeData;

// What the "Open with" hand-off does before the files go to Kantelo: checks
// the files it was given, and turns what the clipboard holds into files.
namespace Passlet {

// The folder pasted pictures are written to, under the cache folder. Its name
// carries the application's identifier and ".Passlet", which the application
// recognises: a document opened from it never saves over its file.
QString pastedPicturesFolder();

// True when every path names a readable regular file; otherwise false with
// the first one that is not and why.
bool checkReadable(const QStringList &paths, platform::Error *error);

// Writes the picture as a TIFF file of a fresh name in the pasted pictures
// folder, atomically. Answers the path, or empty with the reason.
QString writePastedPicture(const QImage &picture, platform::Error *error);

// The files to hand over for what the clipboard holds: its local files when
// it holds any (a picture beside them is left out), else its picture written
// by writePastedPicture. Empty with the reason when it holds neither.
QStringList filesFromClipboard(const QMimeData *data, platform::Error *error);

} // namespace Passlet
