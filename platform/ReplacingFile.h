#pragma once

#include <QIODevice>
#include <QString>

#include <sys/types.h>

namespace platform {

// A new file that takes the place of the one at a path only when it is
// whole: written beside it under no name (or a short hidden one, where the
// disk can't keep a file without a name), then given the old file's owner
// and group where the system allows, its mode and its extended attributes,
// synced and renamed over it. Any name fits that fits the folder. A symbolic
// link is followed: the file it names is replaced, the link kept. The old
// file's other hard links keep the old contents. Dropped or cancelled
// before its commit, it leaves the old file as it was and nothing behind.
class ReplacingFile : public QIODevice
{
public:
    explicit ReplacingFile(const QString &path);
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

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    enum class Step { None, File, Folder, Write, Replace };
    bool fail(Step step, int errnum);
    bool writeOut(const char *data, qint64 size, qint64 at);
    bool flushBuffer();
    void keepAttributesOf(const QByteArray &original);
    void discard();

    QString m_path;
    QString m_target;
    QByteArray m_folder;
    QByteArray m_linkedName; // the hidden name the file has, if any
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
