#pragma once

#include "platform/Error.h"
#include "platform/FileIdentity.h"

#include <QDialog>
#include <QString>

class QFileSystemWatcher;
class QLabel;
class QSocketNotifier;

// The editing window of the external-editor hand-off: the photo is copied to
// a private folder, opened in Kantelo, and its saves there are previewed;
// Done returns the working copy as a JPEG, Cancel leaves the photo alone.
class PhotoEditingViewController : public QDialog
{
    Q_OBJECT
public:
    // Exit statuses of the program.
    enum Status { Written = 0, Cancelled = 1, Usage = 2, Failed = 3 };

    struct Options {
        QString photo;          // what the image manager handed over
        QString output;         // where the JPEG goes: the photo itself when empty
        QByteArray photoPath;   // the same two as the file system has them (not
        QByteArray outputPath;  // always UTF-8); from `photo`, `output` when empty
        QString adjustmentData; // sidecar file, none when empty
        bool script = false;    // answers on standard input, progress on standard output
    };

    explicit PhotoEditingViewController(const Options &options, QWidget *parent = nullptr);
    ~PhotoEditingViewController() override;

    // Copies the photo, hands the copy to Kantelo and starts watching. False
    // with a reason when nothing could be handed over.
    bool startContentEditing(platform::Error *error);

    QString tempURL() const { return m_tempURL; }

    // Writes the working copy to `target` (as the file system names it) as a
    // JPEG, atomically: a JPEG is copied as it is, anything else converted
    // at quality 80. Given `original`, the file it was copied from, only
    // that file is replaced: one another program put there since is left.
    static bool writeJPEG(const QString &source, const QByteArray &target, platform::Error *error,
                          const platform::FileIdentity &original = {});
    static bool convertImageAtURLToJPEGAtURL(const QString &source, const QByteArray &target, platform::Error *error,
                                             const platform::FileIdentity &original = {});
    static bool isJPEG(const QString &path);
    // The sidecar with the adjustment data that goes with the result.
    static bool writeAdjustmentData(const QString &target, platform::Error *error);
    // Refuses a target whose name says another type than JPEG.
    static bool isJPEGName(const QString &path);
    // An OUTPUT names a JPEG: it ends in .jpg or .jpeg, in any case.
    static bool isJPEGOutputName(const QString &path);
    // A name as a line of the --script protocol gives it: "%", line breaks
    // and other control characters percent-encoded, so it is one line.
    static QString scriptName(const QString &name);

    static constexpr int kJPEGQuality = 80;
    static constexpr const char *kFolderName = "com.velmoorsoft.Kantelo3.Retouchlet";
    static constexpr const char *kAdjustmentFormatIdentifier = "com.velmoorsoft.Kantelo";
    static constexpr const char *kAdjustmentFormatVersion = "1";

    void done(int result) override;

private:
    void watchTempForChanges();
    void reloadPreview();
    void finishContentEditing();
    void cancelContentEditing();
    void readScriptAnswer();
    QString target() const { return m_options.output.isEmpty() ? m_options.photo : m_options.output; }
    QByteArray targetPath() const;

    Options m_options;
    QLabel *m_imageView = nullptr;
    QString m_folder;  // the private per-session folder
    QString m_tempURL; // the working copy
    QFileSystemWatcher *m_source = nullptr;
    QSocketNotifier *m_answers = nullptr;
    QByteArray m_answerBuffer;
    QByteArray m_handedOverStamp;
    platform::FileIdentity m_copied; // the photo as it was copied
    bool m_saved = false; // Kantelo wrote the working copy at least once
    bool m_finished = false;
};
