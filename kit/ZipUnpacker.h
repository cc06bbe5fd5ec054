#pragma once

#include "kit/ZCZipArchive.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

// One unpacking run of ZCZipArchive, in its steps: open the archive, make the
// destination, then for each entry read its record, find its place below the
// destination, write it within the limits, and close it; at the end, check
// the links made and date the folders. The limits count the bytes really
// inflated, since an entry's header may lie about its size.
class ZipUnpacker
{
public:
    ZipUnpacker(const QString &path, const QString &destination, bool preserveAttributes, bool overwrite,
                ZCZipArchiveDelegate *delegate, const ZCZipArchive::ProgressHandler &progressHandler);
    ~ZipUnpacker();
    ZipUnpacker(const ZipUnpacker &) = delete;
    ZipUnpacker &operator=(const ZipUnpacker &) = delete;

    // Answers success; `error` is set when it failed (it may stay null when
    // an entry could not be opened or the delegate cancelled).
    bool run(platform::Error *error);
    // The archive path for the completion, empty when it could not be opened.
    const QString &reportedPath() const { return m_reportedPath; }

    // The error of one of ZCZipArchive's codes.
    static platform::Error errorFor(int code);

private:
    // One entry as its record describes it.
    struct Entry {
        unz_file_info info{};
        QString name;      // as stored, backslashes made slashes
        QString relative;  // below the destination; empty when refused
        QString fullPath;
        QByteArray fullPathBytes;
        bool madeByUnix = false;
        bool isSymlink = false;
        bool isDirectory = false;
    };
    enum class Next { Continue, Skip, Stop };

    bool openArchive();
    void unpackEntries();
    Next readEntry(Entry *entry);
    Next placeEntry(Entry *entry);
    bool writeEntry(const Entry &entry);
    bool writeFile(const Entry &entry);
    bool writeLink(const Entry &entry);
    bool closeEntry(const Entry &entry);
    bool goToNext();
    void removeLinksLeadingOut();
    void dateFolders();
    bool stop(const platform::Error &error);

    QString m_path;
    QString m_destination;
    bool m_preserveAttributes;
    bool m_overwrite;
    ZCZipArchiveDelegate *m_delegate;
    const ZCZipArchive::ProgressHandler &m_progressHandler;
    ZCZipArchive::Limits m_limits;

    unzFile m_zip = nullptr;
    QString m_reportedPath;
    qint64 m_fileSize = 0;
    unz_global_info m_globalInfo{};
    QString m_destRoot;
    QByteArray m_destRootBytes;

    struct Dated {
        QByteArray path;
        QDateTime modDate;
    };
    std::vector<Dated> m_dated;
    std::vector<QByteArray> m_createdLinks;
    std::vector<char> m_buffer;

    bool m_success = true;
    bool m_cancelled = false;
    bool m_crcFailed = false;
    platform::Error m_error;
    qint64 m_entryIndex = -1;
    qint64 m_filesDone = 0;
    qint64 m_compressedSoFar = 0;
    qint64 m_inflatedTotal = 0;
    int m_ret = UNZ_OK;
};
