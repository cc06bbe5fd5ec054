#pragma once

#include "platform/FileIdentity.h"
#include "platform/FileLocation.h"
#include "platform/TemporaryNames.h"

#include <QIODevice>
#include <QString>

#include <sys/types.h>

namespace platform {

// A new file that takes the place of the one at a path only when it is
// whole: written beside it under no name (or a short hidden one, where the
// disk can't keep a file without a name), then given the old file's owner
// and group where the system allows, its mode and its extended attributes,
// synced and renamed over it. Any name fits that fits the folder. A symbolic
// link is followed as the kernel would follow it (`FileLocation`): the file
// it names is replaced, the link kept. The old file's other hard links keep
// the old contents. Dropped or cancelled before its commit, it leaves the
// old file as it was and nothing behind; killed, it leaves at most a hidden
// temporary that the next run in the folder clears (`TemporaryNames`).
class ReplacingFile : public QIODevice
{
public:
    explicit ReplacingFile(const QString &path);
    // A path as the file system has it: it need not be UTF-8.
    explicit ReplacingFile(const QByteArray &nativePath);

    // The old file is replaced only while its name still holds the file
    // `read` was taken of, unchanged: a file another program moved there
    // since, or rewrote, is left as it is and the commit fails. Before open.
    void replaceOnlyWhatWasRead(const FileIdentity &read);

    // While one lives on a thread, a ReplacingFile opened there for `path`
    // replaces only what was read, as above.
    class Original
    {
    public:
        Original(const QString &path, const FileIdentity &read);
        ~Original();
        Original(const Original &) = delete;
        Original &operator=(const Original &) = delete;

    private:
        friend class ReplacingFile;
        const Original *m_previous;
        QString m_path;
        FileIdentity m_read;
    };

    // `path` stands in for a file whose own path no QString holds (a second
    // name of it): a ReplacingFile for `path` replaces the file at
    // `nativePath` instead, until the stand-in is withdrawn.
    static void standIn(const QString &path, const QByteArray &nativePath);
    static void withdrawStandIn(const QString &path);
    ~ReplacingFile() override;
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    // Write-only or read-write; false, with `failure()`, when the file
    // can't be replaced.
    bool open(OpenMode mode) override;
    void close() override;
    // Writes out what is buffered; false on a failed write.
    bool flush();
    // Puts the new file in place; false, and the old file left, on failure.
    bool commit();
    void cancelWriting();

    bool isSequential() const override { return false; }
    bool seek(qint64 pos) override;
    qint64 size() const override;

    // The system's error of the first step that failed, 0 while none did.
    int errorNumber() const { return m_errno; }
    // Why, in words a user can act on: "the disk is full", "its folder is
    // read-only. ...". Empty while nothing failed.
    QString failure() const;
    // The file that is replaced: the path with its symbolic links followed.
    QString targetPath() const { return m_target; }

    // Tests: whether files may be made without a name, as most disks allow.
    static void allowUnnamedFiles(bool allowed);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    // Changed: the name no longer holds what was read. Link: a link in a
    // shared folder not followed.
    enum class Step { None, File, Folder, Write, Replace, Changed, Link };
    bool fail(Step step, int errnum);
    bool writeOut(const char *data, qint64 size, qint64 at);
    bool flushBuffer();
    void keepAttributesOf();
    bool stillWhatWasRead(bool *gone) const;
    bool replaceOld();
    void discard();

    QString m_path;
    QByteArray m_native;
    QString m_target;
    FileLocation m_location;
    FileIdentity m_read;     // null: whatever the name holds is replaced
    QByteArray m_linkedName; // the hidden name the file has, if any
    TemporaryNames::Held m_held;
    QByteArray m_refusedLink;
    int m_fd = -1;
    bool m_unnamed = false;
    bool m_existed = false;
    QByteArray m_buffer;
    qint64 m_bufferAt = 0;
    qint64 m_at = 0;
    qint64 m_end = 0;
    Step m_step = Step::None;
    int m_errno = 0;
};

} // namespace platform
