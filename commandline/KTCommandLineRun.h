#pragma once

#include <QString>
#include <QStringList>

namespace platform {
class PhotoName;
}

// `kantelo -template=NAME -process PHOTO`: puts a saved design around one
// photo and writes it over the photo's file, in its own type with its
// metadata, then ends. No window, no window system: it runs on Qt's
// offscreen platform (fonts and drawing, no display), from a terminal,
// cron, ssh or a container alike. No one is at the screen, so nothing waits
// on a question: the one failure goes to stderr as "ERROR: <reason>", and
// the status says whether the framed file was written.
class KTCommandLineRun
{
public:
    static constexpr int kFailureStatus = 1;
    static constexpr int kUsageStatus = 2;

    static constexpr const char *kUsageError =
        "-process frames one photo with a saved design: kantelo -template=NAME -process PHOTO";
    static constexpr const char *kNoPhotoError = "“%1” is no photo to frame.";
    static constexpr const char *kTemplateNamedNotFound = "Template named '%1' not found";
    static constexpr const char *kTemplateNamedUnreadable = "Template named '%1' could not be read";
    static constexpr const char *kNoFileToProcess = "There is no photo file to write the framed image to";
    static constexpr const char *kIsFolder = "The file “%1” couldn’t be opened because it is a folder.";
    static constexpr const char *kNoSuchFile = "The file “%1” couldn’t be opened because there is no such file.";
    static constexpr const char *kNotAFile =
        "The file “%1” couldn’t be opened because it is not a photo file but a device or pipe.";
    static constexpr const char *kSymlinkLoop =
        "The file “%1” couldn’t be opened because its symbolic links go round in a loop.";
    static constexpr const char *kFolderNotSearchable =
        "The file “%1” couldn’t be opened because you have no permission to open the folder “%2” it is in.";
    // Followed, it could send the framed photo over any file of the user's.
    static constexpr const char *kSharedLink =
        "“%1” is a symbolic link that another user made in the shared folder “%2”, and such a link is not "
        "followed. Frame the photo it leads to by its own name.";
    // A name that is not UTF-8 is framed under a second name in a hidden folder beside it.
    static constexpr const char *kNoSecondName =
        "“%1” can't be framed in place: its name is not UTF-8, and its folder can't take the second name it is "
        "framed under (%2). Rename the photo, then try again.";
    // Checked before any drawing: a refusal after the render wastes the wait.
    static constexpr const char *kTypeNotWritable =
        "“%1” can't be framed in place: pictures of its type can't be written. Save a copy as JPEG, PNG or TIFF "
        "and frame that.";
    // The framed picture has 8 bits a channel: a deeper photo would lose precision unasked.
    static constexpr const char *kDeeperThanWritten =
        "“%1” can't be framed in place: it has %2 bits a channel, and the framed picture is written with 8, "
        "which would lose that precision. Frame it into a new file with Batch Processing, or save a copy with 8 "
        "bits a channel and frame that.";
    static constexpr const char *kFileReadOnly = "“%1” is read-only. Make it writable, then try again.";
    static constexpr const char *kNoPermissionsAtAll =
        "“%1” lets no one read or change it: its permissions are all off. Make it readable and writable, then "
        "try again.";
    static constexpr const char *kMarkedImmutable =
        "“%1” is marked immutable, so no one may change it, not even its owner. Remove the mark (chattr -i), then "
        "try again.";
    static constexpr const char *kFileNotYours =
        "You have no permission to change “%1”. Frame a copy of it, or ask its owner for the right to change it.";
    static constexpr const char *kFolderReadOnly =
        "The folder “%1” is read-only: the framed photo is written beside the old one. Make the folder writable, "
        "then try again.";
    static constexpr const char *kFolderNotYours =
        "You have no permission to write in the folder “%1”: the framed photo is written beside the old one. "
        "Frame a copy of it in a folder of your own.";
    static constexpr const char *kReadOnlyDisk =
        "“%1” is on a read-only disk (“%2”). Copy it to a disk that can be written, then frame the copy.";
    static constexpr const char *kNotWritten = "The framed image was not written.";
    // What to do, after the reason.
    static constexpr const char *kFramesLackMemoryAdvice = "Close other programs, or choose a design of fewer frames.";
    static constexpr const char *kFramesMissingAdvice =
        "Choose another design, or open it in Kantelo and give it frames from the library.";
    static constexpr const char *kPicturesMissingAdvice =
        "Choose another design, or open it in Kantelo and pick its overlays' pictures again.";
    static constexpr const char *kDamagedStoreAdvice =
        "Start Kantelo to move it aside, keeping it, and begin a new one.";
    static constexpr const char *kNewerStoreAdvice = "Use the newer Kantelo that wrote it.";

    // Whether the arguments ask for this run (they hold "-process").
    static bool isProcessRun(int argc, char *argv[]);
    // The whole run, its application included; answers the exit status.
    // The photo's name is taken from `argv` as bytes: it need not be UTF-8.
    static int exec(int argc, char *argv[]);

    // Why the framed photo can't be written over the photo as `uti`; empty when it can.
    static QString whyNotWritable(const platform::PhotoName &photo, const QString &uti);
};
