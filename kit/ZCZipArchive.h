#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <unzip.h>
#include <zip.h>

#include <functional>

// Optional callbacks of an unpacking run. Every method has a do-nothing
// default, so a delegate overrides only what it wants.
class ZCZipArchiveDelegate
{
public:
    virtual ~ZCZipArchiveDelegate() = default;

    virtual void zipArchiveWillUnzipArchiveAtPath(const QString &path, unz_global_info zipInfo);
    // Compressed bytes reached so far against the archive's file size.
    virtual void zipArchiveProgressEvent(qint64 loaded, qint64 total);
    // Answering false cancels the whole run.
    virtual bool zipArchiveShouldUnzipFileAtIndex(qint64 fileIndex, qint64 totalFiles,
                                                  const QString &archivePath, unz_file_info fileInfo);
    virtual void zipArchiveWillUnzipFileAtIndex(qint64 fileIndex, qint64 totalFiles,
                                                const QString &archivePath, unz_file_info fileInfo);
    // Answers whether it was handled; the default answers false, and the
    // run then sends the form with the unpacked file's path instead.
    virtual bool zipArchiveDidUnzipFileAtIndex(qint64 fileIndex, qint64 totalFiles,
                                               const QString &archivePath, unz_file_info fileInfo);
    virtual void zipArchiveDidUnzipFileAtIndexUnzippedFilePath(qint64 fileIndex, qint64 totalFiles,
                                                               const QString &archivePath,
                                                               const QString &unzippedFilePath);
    virtual void zipArchiveDidUnzipArchiveAtPath(const QString &path, unz_global_info zipInfo,
                                                 const QString &unzippedPath);
};

// The program's one way into and out of zip files, on minizip. Unpacking
// treats every archive as untrusted: nothing is written outside the
// destination, links never lead out of it, nested archives stay packed.
class ZCZipArchive
{
public:
    static constexpr const char *kErrorDomain = "ZCZipArchiveErrorDomain";
    static constexpr const char *kCocoaErrorDomain = "NSCocoaErrorDomain";
    static constexpr const char *kPOSIXErrorDomain = "NSPOSIXErrorDomain";

    enum ErrorCode {
        FailedOpenZipFile = -1,
        FailedOpenFirstFile = -2,
        CrcCheckFailed = -3,
        PasswordNotSupported = -4,
        FailedReadFile = -5,
        FailedWriteFile = -6,
        ExpandsTooFar = -7,
    };
    static constexpr int kCocoaFileWriteOutOfSpaceError = 640;
    static constexpr int kPOSIXNoSpace = 28;

    // Entry name as stored (backslashes made slashes), its record, the count
    // of entries handled so far (1 for the first) and the archive's total.
    using ProgressHandler = std::function<void(const QString &entry, unz_file_info zipInfo,
                                               qint64 entryNumber, qint64 total)>;
    // Archive path (empty when it could not be opened), success, error.
    using CompletionHandler = std::function<void(const QString &path, bool succeeded,
                                                 const platform::Error &error)>;

    // Unpacking. Every form ends in the full one at the bottom; the defaults
    // are: preserve attributes, overwrite, no password, no delegate.
    static bool unzipFileAtPath(const QString &path, const QString &destination);
    static bool unzipFileAtPath(const QString &path, const QString &destination,
                                ZCZipArchiveDelegate *delegate);
    static bool unzipFileAtPath(const QString &path, const QString &destination, bool overwrite,
                                const QString &password, platform::Error *error);
    static bool unzipFileAtPath(const QString &path, const QString &destination, bool overwrite,
                                const QString &password, platform::Error *error,
                                ZCZipArchiveDelegate *delegate);
    static bool unzipFileAtPath(const QString &path, const QString &destination,
                                bool preserveAttributes, bool overwrite, const QString &password,
                                platform::Error *error, ZCZipArchiveDelegate *delegate);
    static bool unzipFileAtPath(const QString &path, const QString &destination, bool overwrite,
                                const QString &password, const ProgressHandler &progressHandler,
                                const CompletionHandler &completionHandler);
    static bool unzipFileAtPath(const QString &path, const QString &destination,
                                const ProgressHandler &progressHandler,
                                const CompletionHandler &completionHandler);
    static bool unzipFileAtPath(const QString &path, const QString &destination,
                                bool preserveAttributes, bool overwrite, const QString &password,
                                platform::Error *error, ZCZipArchiveDelegate *delegate,
                                const ProgressHandler &progressHandler,
                                const CompletionHandler &completionHandler);

    // What one unpacking run may inflate, counted in bytes really written:
    // more is refused as a hostile archive and the run stops.
    struct Limits {
        qint64 totalBytes = qint64(2) << 30;
        qint64 entryBytes = qint64(512) << 20;
        qint64 entries = 50000;
    };
    static Limits limits();
    static void setLimits(const Limits &limits);

    static bool isFilePasswordProtectedAtPath(const QString &path);

    // Whole archives.
    static bool createZipFileAtPath(const QString &path, const QStringList &paths,
                                    const QString &password = QString());
    static bool createZipFileAtPath(const QString &path, const QString &directoryPath,
                                    bool keepParentDirectory = false,
                                    const QString &password = QString());

    // Entry by entry.
    explicit ZCZipArchive(const QString &path);
    ~ZCZipArchive();
    ZCZipArchive(const ZCZipArchive &) = delete;
    ZCZipArchive &operator=(const ZCZipArchive &) = delete;

    const QString &path() const { return m_path; }
    bool open();
    // A null file name means the source's own name. A non-empty password is
    // refused: this minizip has no encryption.
    bool writeFileAtPath(const QString &path, const QString &fileName, const QString &password);
    bool writeFile(const QString &path, const QString &password);
    bool writeData(const QByteArray &data, const QString &filename, const QString &password);
    bool writeFolderAtPath(const QString &path, const QString &folderName, const QString &password);
    // Answers false when finishing the archive failed (a full disk, say) or
    // when any entry written before failed.
    bool close();

    // A DOS date and time (date in the upper 16 bits) as a local date.
    static QDateTime dateWithMSDOSFormat(quint32 msdosDateTime);
    // The broken-down entry date minizip wants, month 0-based, year in full.
    static void zipInfoSetDate(zip_fileinfo *info, const QDateTime &date);

private:
    static QString temporaryPathForDiscardableFile();
    bool openEntry(const QString &name, const QDateTime &date, quint32 externalAttributes,
                   int level);
    // Closes the entry open for writing; false (and the archive marked failed)
    // when it was not written whole.
    bool closeEntry(bool written);

    QString m_path;
    zipFile m_zip = nullptr;
    bool m_failed = false;
};
