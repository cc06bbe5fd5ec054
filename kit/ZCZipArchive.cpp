#include "kit/ZCZipArchive.h"

#include "platform/Assert.h"
#include "platform/Log.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTime>
#include <QRegularExpression>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// ---------------------------------------------------------------------------
// Delegate defaults

void ZCZipArchiveDelegate::zipArchiveWillUnzipArchiveAtPath(const QString &, unz_global_info) {}
void ZCZipArchiveDelegate::zipArchiveProgressEvent(qint64, qint64) {}
bool ZCZipArchiveDelegate::zipArchiveShouldUnzipFileAtIndex(qint64, qint64, const QString &,
                                                            unz_file_info)
{
    return true;
}
void ZCZipArchiveDelegate::zipArchiveWillUnzipFileAtIndex(qint64, qint64, const QString &,
                                                          unz_file_info)
{
}
bool ZCZipArchiveDelegate::zipArchiveDidUnzipFileAtIndex(qint64, qint64, const QString &,
                                                         unz_file_info)
{
    return false;
}
void ZCZipArchiveDelegate::zipArchiveDidUnzipFileAtIndexUnzippedFilePath(qint64, qint64,
                                                                         const QString &,
                                                                         const QString &)
{
}
void ZCZipArchiveDelegate::zipArchiveDidUnzipArchiveAtPath(const QString &, unz_global_info,
                                                           const QString &)
{
}

namespace {

constexpr int kReadBufferSize = 4096;
constexpr int kWriteBufferSize = 16384;
constexpr uLong kMadeByUnix = 3;
constexpr int kMaxLinkTarget = 4096;

platform::Error zipError(int code)
{
    platform::Error e;
    e.domain = ZCZipArchive::kErrorDomain;
    e.code = code;
    switch (code) {
    case ZCZipArchive::FailedOpenZipFile: e.description = "failed to open zip file"; break;
    case ZCZipArchive::FailedOpenFirstFile:
        e.description = "failed to open first file in zip file";
        break;
    case ZCZipArchive::CrcCheckFailed: e.description = "crc check failed for file"; break;
    case ZCZipArchive::PasswordNotSupported:
        e.description = "password-protected zip files are not supported";
        break;
    case ZCZipArchive::FailedReadFile: e.description = "failed to read file in zip file"; break;
    case ZCZipArchive::FailedWriteFile: e.description = "failed to write unzipped file"; break;
    default: e.description = "zip file error"; break;
    }
    return e;
}

platform::Error outOfSpaceFolderError(const QString &path)
{
    platform::Error e;
    e.domain = ZCZipArchive::kCocoaErrorDomain;
    e.code = ZCZipArchive::kCocoaFileWriteOutOfSpaceError;
    e.description = QString("The folder \"%1\" couldn't be created because there isn't enough space.")
                        .arg(QFileInfo(path).fileName());
    return e;
}

platform::Error posixError(int code)
{
    platform::Error e;
    e.domain = ZCZipArchive::kPOSIXErrorDomain;
    e.code = code;
    e.description = QString::fromLocal8Bit(std::strerror(code));
    return e;
}

void zlog(const QString &line)
{
    platform::logLine(line);
}

QString decodeName(const QByteArray &raw)
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString name = utf8.decode(raw);
    if (!utf8.hasError())
        return name;
    QStringDecoder gb("GB18030", QStringConverter::Flag::Stateless);
    if (gb.isValid()) {
        QString alt = gb.decode(raw);
        if (!gb.hasError())
            return alt;
    }
    return QString::fromLatin1(raw);
}

// The entry name as a clean relative path below the destination, or an empty
// string when it must be refused (absolute, climbing out, empty, NUL inside).
QString safeRelativePath(const QString &name)
{
    if (name.isEmpty() || name.startsWith('/') || name.contains(QChar(0)))
        return {};
    QStringList parts;
    for (const QString &c : name.split('/', Qt::SkipEmptyParts)) {
        if (c == ".")
            continue;
        if (c == "..")
            return {};
        parts << c;
    }
    return parts.join('/');
}

// Whether a link placed at `linkRelative` with `target` stays inside the
// destination when read as written.
bool linkTargetStaysInside(const QString &linkRelative, const QString &target)
{
    if (target.isEmpty() || target.startsWith('/') || target.contains(QChar(0)))
        return false;
    QStringList stack = linkRelative.split('/', Qt::SkipEmptyParts);
    if (!stack.isEmpty())
        stack.removeLast();
    for (const QString &c : target.split('/', Qt::SkipEmptyParts)) {
        if (c == ".")
            continue;
        if (c == "..") {
            if (stack.isEmpty())
                return false;
            stack.removeLast();
        } else {
            stack << c;
        }
    }
    return true;
}

enum class FolderResult { Ok, Refused, NoSpace, Failed };

// Makes the folders `components` below `root` one by one, never passing
// through a symbolic link, so an archive can't redirect writes elsewhere.
FolderResult makeFolders(const QByteArray &root, const QStringList &components, QString *failedPath,
                         int *err)
{
    QByteArray current = root;
    for (const QString &c : components) {
        current += '/';
        current += QFile::encodeName(c);
        struct stat st;
        if (::lstat(current.constData(), &st) == 0) {
            if (S_ISLNK(st.st_mode)) {
                *failedPath = QFile::decodeName(current);
                return FolderResult::Refused;
            }
            if (S_ISDIR(st.st_mode))
                continue;
            *failedPath = QFile::decodeName(current);
            *err = EEXIST;
            return FolderResult::Failed;
        }
        if (::mkdir(current.constData(), 0755) != 0) {
            int e = errno;
            if (e == EEXIST && ::lstat(current.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
            *failedPath = QFile::decodeName(current);
            *err = e;
            return e == ENOSPC || e == EDQUOT ? FolderResult::NoSpace : FolderResult::Failed;
        }
    }
    return FolderResult::Ok;
}

bool setModificationDate(const QByteArray &path, const QDateTime &date)
{
    if (!date.isValid())
        return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = date.toSecsSinceEpoch();
    times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool writeAll(int fd, const char *data, qint64 size, int *err)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *err = errno;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool isNoSpace(int e)
{
    return e == ENOSPC || e == EDQUOT;
}

} // namespace

// ---------------------------------------------------------------------------
// Unpacking

bool ZCZipArchive::unzipFileAtPath(const QString &path, const QString &destination)
{
    return unzipFileAtPath(path, destination, true, true, QString(), nullptr, nullptr, {}, {});
}

bool ZCZipArchive::unzipFileAtPath(const QString &path, const QString &destination,
                                   ZCZipArchiveDelegate *delegate)
{
    return unzipFileAtPath(path, destination, true, true, QString(), nullptr, delegate, {}, {});
}

bool ZCZipArchive::unzipFileAtPath(const QString &path, const QString &destination, bool overwrite,
                                   const QString &password, platform::Error *error)
{
    return unzipFileAtPath(path, destination, true, overwrite, password, error, nullptr, {}, {});
}

bool ZCZipArchive::unzipFileAtPath(const QString &path, const QString &destination, bool overwrite,
                                   const QString &password, platform::Error *error,
                                   ZCZipArchiveDelegate *delegate)
{
    return unzipFileAtPath(path, destination, true, overwrite, password, error, delegate, {}, {});
}

bool ZCZipArchive::unzipFileAtPath(const QString &path, const QString &destination,
                                   bool preserveAttributes, bool overwrite,
                                   const QString &password, platform::Error *error,
                                   ZCZipArchiveDelegate *delegate)
{
    return unzipFileAtPath(path, destination, preserveAttributes, overwrite, password, error,
                           delegate, {}, {});
}

bool ZCZipArchive::unzipFileAtPath(const QString &path, const QString &destination, bool overwrite,
                                   const QString &password, const ProgressHandler &progressHandler,
                                   const CompletionHandler &completionHandler)
{
    return unzipFileAtPath(path, destination, true, overwrite, password, nullptr, nullptr,
                           progressHandler, completionHandler);
}

bool ZCZipArchive::unzipFileAtPath(const QString &path, const QString &destination,
                                   const ProgressHandler &progressHandler,
                                   const CompletionHandler &completionHandler)
{
    return unzipFileAtPath(path, destination, true, true, QString(), nullptr, nullptr,
                           progressHandler, completionHandler);
}

bool ZCZipArchive::unzipFileAtPath(const QString &path, const QString &destination,
                                   bool preserveAttributes, bool overwrite,
                                   const QString &password, platform::Error *error,
                                   ZCZipArchiveDelegate *delegate,
                                   const ProgressHandler &progressHandler,
                                   const CompletionHandler &completionHandler)
{
    auto fail = [&](const QString &reportedPath, const platform::Error &e) {
        if (error)
            *error = e;
        if (completionHandler)
            completionHandler(reportedPath, false, e);
        return false;
    };

    // This minizip can't decrypt: say so rather than unpack garbage.
    if (!password.isEmpty())
        return fail(QString(), zipError(PasswordNotSupported));

    unzFile zip = unzOpen64(QFile::encodeName(path).constData());
    if (!zip)
        return fail(QString(), zipError(FailedOpenZipFile));

    const qint64 fileSize = QFileInfo(path).size();
    unz_global_info globalInfo{};
    if (unzGetGlobalInfo(zip, &globalInfo) != UNZ_OK || unzGoToFirstFile(zip) != UNZ_OK) {
        unzClose(zip);
        return fail(QString(), zipError(FailedOpenFirstFile));
    }

    // The destination itself is the caller's choice; only what lies below it
    // is the archive's.
    if (!QDir().mkpath(destination)) {
        unzClose(zip);
        return fail(path, zipError(FailedWriteFile));
    }
    const QString destRoot = QDir::cleanPath(QDir(destination).absolutePath());
    const QByteArray destRootBytes = QFile::encodeName(destRoot);

    if (delegate) {
        delegate->zipArchiveWillUnzipArchiveAtPath(path, globalInfo);
        delegate->zipArchiveProgressEvent(0, fileSize);
    }

    struct Dated {
        QByteArray path;
        QDateTime modDate;
    };
    std::vector<Dated> dated;
    std::vector<QByteArray> createdLinks;

    bool success = true;
    bool cancelled = false;
    bool crcFailed = false;
    platform::Error keptError;
    qint64 currentFileNumber = 0;
    qint64 currentPosition = 0;
    qint64 entryIndex = -1;
    std::vector<char> buffer(kReadBufferSize);
    int ret = UNZ_OK;

    do {
        ++entryIndex;
        unz_file_info fileInfo{};
        if (unzGetCurrentFileInfo(zip, &fileInfo, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
            success = false;
            keptError = zipError(FailedReadFile);
            break;
        }
        if (fileInfo.flag & 1) {
            // An encrypted entry can't be read here.
            success = false;
            keptError = zipError(PasswordNotSupported);
            break;
        }
        if (unzOpenCurrentFile(zip) != UNZ_OK) {
            success = false;
            break;
        }
        currentPosition += qint64(fileInfo.compressed_size);

        if (delegate && !delegate->zipArchiveShouldUnzipFileAtIndex(
                            entryIndex, qint64(globalInfo.number_entry), path, fileInfo)) {
            success = false;
            cancelled = true;
            unzCloseCurrentFile(zip);
            break;
        }
        if (delegate) {
            delegate->zipArchiveWillUnzipFileAtIndex(entryIndex, qint64(globalInfo.number_entry),
                                                     path, fileInfo);
            delegate->zipArchiveProgressEvent(currentPosition, fileSize);
        }

        QByteArray rawName(int(fileInfo.size_filename), '\0');
        unz_file_info again{};
        if (fileInfo.size_filename > 0
            && unzGetCurrentFileInfo(zip, &again, rawName.data(), fileInfo.size_filename, nullptr,
                                     0, nullptr, 0)
                   != UNZ_OK) {
            unzCloseCurrentFile(zip);
            success = false;
            keptError = zipError(FailedReadFile);
            break;
        }
        const bool madeByUnix = (fileInfo.version >> 8) == kMadeByUnix;
        const bool isSymlink = madeByUnix && ((fileInfo.external_fa >> 28) & 0xF) == 0xA;
        const bool isDirectory =
            !rawName.isEmpty() && (rawName.endsWith('/') || rawName.endsWith('\\'));
        QString strPath = decodeName(rawName);
        strPath.replace('\\', '/');

        const QString relative = safeRelativePath(strPath);
        bool skip = false;
        if (relative.isEmpty()) {
            // "./" names the destination itself and is harmless; anything
            // else without a safe name is refused.
            if (strPath.isEmpty() || strPath.contains(QRegularExpression("[^./]"))
                || strPath.contains(".."))
                zlog(QString("[ZCZipArchive] Refused entry \"%1\": it would land outside the destination")
                         .arg(strPath));
            skip = true;
        }

        const QString fullPath = skip ? QString() : destRoot + '/' + relative;
        const QByteArray fullPathBytes = QFile::encodeName(fullPath);
        QStringList components = relative.split('/', Qt::SkipEmptyParts);

        if (!skip) {
            QStringList folders = components;
            if (!isDirectory)
                folders.removeLast();
            QString failedPath;
            int err = 0;
            switch (makeFolders(destRootBytes, folders, &failedPath, &err)) {
            case FolderResult::Ok: break;
            case FolderResult::Refused:
                zlog(QString("[ZCZipArchive] Refused entry \"%1\": \"%2\" is a symbolic link")
                         .arg(strPath, failedPath));
                skip = true;
                break;
            case FolderResult::NoSpace:
                keptError = outOfSpaceFolderError(failedPath);
                success = false;
                break;
            case FolderResult::Failed:
                zlog(QString("[ZCZipArchive] Error: %1").arg(QString::fromLocal8Bit(std::strerror(err))));
                skip = !isDirectory;
                break;
            }
            if (!success) {
                unzCloseCurrentFile(zip);
                break;
            }
        }

        struct stat existing;
        const bool exists = !skip && ::lstat(fullPathBytes.constData(), &existing) == 0;
        if (!skip && exists && S_ISLNK(existing.st_mode)) {
            zlog(QString("[ZCZipArchive] Refused entry \"%1\": it would write through a symbolic link")
                     .arg(strPath));
            skip = true;
        }
        if (!skip && exists && !isDirectory && !overwrite)
            skip = true;

        if (skip) {
            unzCloseCurrentFile(zip);
            ret = unzGoToNextFile(zip);
            if (ret != UNZ_OK && ret != UNZ_END_OF_LIST_OF_FILE) {
                success = false;
                keptError = zipError(FailedReadFile);
            }
            continue;
        }

        if (preserveAttributes) {
            const QDateTime modDate = dateWithMSDOSFormat(quint32(fileInfo.dosDate));
            if (modDate.isValid())
                dated.push_back({fullPathBytes, modDate});
        }

        bool entryFailed = false;
        if (isDirectory) {
            // Nothing to write: the folder exists now.
        } else if (!isSymlink) {
            int fd = ::open(fullPathBytes.constData(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd < 0) {
                int e = errno;
                if (isNoSpace(e)) {
                    keptError = posixError(kPOSIXNoSpace);
                    entryFailed = true;
                } else {
                    zlog(QString("[ZCZipArchive] Error: could not write \"%1\": %2")
                             .arg(fullPath, QString::fromLocal8Bit(std::strerror(e))));
                }
            } else {
                int err = 0;
                for (;;) {
                    int n = unzReadCurrentFile(zip, buffer.data(), kReadBufferSize);
                    if (n == 0)
                        break;
                    if (n < 0) {
                        keptError = n == UNZ_CRCERROR ? zipError(CrcCheckFailed)
                                                      : zipError(FailedReadFile);
                        entryFailed = true;
                        break;
                    }
                    if (!writeAll(fd, buffer.data(), n, &err)) {
                        keptError = isNoSpace(err) ? posixError(kPOSIXNoSpace)
                                                   : zipError(FailedWriteFile);
                        entryFailed = true;
                        break;
                    }
                }
                if (!entryFailed && preserveAttributes && madeByUnix
                    && (fileInfo.external_fa >> 16) != 0) {
                    // Only the permission bits, and the owner keeps read/write.
                    mode_t mode = mode_t((fileInfo.external_fa >> 16) & 0777) | 0600;
                    if (::fchmod(fd, mode) != 0)
                        zlog("[ZCZipArchive] Failed to set attributes - whilst setting permissions");
                }
                if (::close(fd) != 0 && !entryFailed) {
                    int e = errno;
                    keptError = isNoSpace(e) ? posixError(kPOSIXNoSpace) : zipError(FailedWriteFile);
                    entryFailed = true;
                }
                if (entryFailed) {
                    ::unlink(fullPathBytes.constData());
                } else if (preserveAttributes && fileInfo.dosDate != 0) {
                    if (!setModificationDate(fullPathBytes,
                                             dateWithMSDOSFormat(quint32(fileInfo.dosDate))))
                        zlog("[ZCZipArchive] Failed to set attributes - whilst setting modification date");
                }
            }
        } else {
            QByteArray target;
            for (;;) {
                int n = unzReadCurrentFile(zip, buffer.data(), kReadBufferSize);
                if (n == 0)
                    break;
                if (n < 0) {
                    keptError = zipError(FailedReadFile);
                    entryFailed = true;
                    break;
                }
                target.append(buffer.data(), n);
                if (target.size() > kMaxLinkTarget)
                    break;
            }
            const QString targetText = QString::fromUtf8(target);
            if (!entryFailed) {
                if (target.size() > kMaxLinkTarget || !linkTargetStaysInside(relative, targetText)) {
                    zlog(QString("[ZCZipArchive] Refused symbolic link \"%1\" to \"%2\": it points outside the destination")
                             .arg(fullPath, targetText));
                } else if (::symlink(target.constData(), fullPathBytes.constData()) != 0) {
                    zlog(QString("Failed to create symbolic link at \"%1\" to \"%2\". symlink() error code: %3")
                             .arg(fullPath, targetText)
                             .arg(errno));
                } else {
                    createdLinks.push_back(fullPathBytes);
                }
            }
        }

        int closeRet = unzCloseCurrentFile(zip);
        if (!entryFailed && closeRet == UNZ_CRCERROR) {
            crcFailed = true;
            keptError = zipError(CrcCheckFailed);
            entryFailed = true;
            if (!isDirectory && !isSymlink)
                ::unlink(fullPathBytes.constData());
        } else if (!entryFailed && closeRet != UNZ_OK) {
            keptError = zipError(FailedReadFile);
            entryFailed = true;
        }
        if (entryFailed) {
            success = false;
            break;
        }

        ret = unzGoToNextFile(zip);
        if (delegate
            && !delegate->zipArchiveDidUnzipFileAtIndex(entryIndex, qint64(globalInfo.number_entry),
                                                        path, fileInfo))
            delegate->zipArchiveDidUnzipFileAtIndexUnzippedFilePath(
                entryIndex, qint64(globalInfo.number_entry), path, fullPath);
        ++currentFileNumber;
        if (progressHandler)
            progressHandler(strPath, fileInfo, currentFileNumber, qint64(globalInfo.number_entry));
        if (ret != UNZ_OK && ret != UNZ_END_OF_LIST_OF_FILE) {
            success = false;
            keptError = zipError(FailedReadFile);
        }
    } while (success && ret == UNZ_OK);

    unzClose(zip);

    // A link made early may look harmless alone yet lead out through another
    // link; check where each one really ends up.
    if (!createdLinks.empty()) {
        const QByteArray realRoot = QFile::encodeName(QFileInfo(destRoot).canonicalFilePath());
        for (const QByteArray &link : createdLinks) {
            char resolved[PATH_MAX];
            bool inside = false;
            if (::realpath(link.constData(), resolved)) {
                QByteArray r(resolved);
                inside = r == realRoot || r.startsWith(realRoot + '/');
            }
            if (!inside) {
                zlog(QString("[ZCZipArchive] Removed symbolic link \"%1\": it points outside the destination")
                         .arg(QFile::decodeName(link)));
                ::unlink(link.constData());
            }
        }
    }

    if (preserveAttributes && success) {
        for (const Dated &d : dated) {
            struct stat st;
            if (::lstat(d.path.constData(), &st) != 0)
                continue;
            if (!setModificationDate(d.path, d.modDate))
                zlog(QString("[ZCZipArchive] Set attributes failed for directory: %1.")
                         .arg(QFile::decodeName(d.path)));
        }
    }

    if (success && delegate)
        delegate->zipArchiveDidUnzipArchiveAtPath(path, globalInfo, destination);
    if (!cancelled && delegate)
        delegate->zipArchiveProgressEvent(fileSize, fileSize);

    platform::Error outError = keptError;
    if (outError.isNull() && crcFailed)
        outError = zipError(CrcCheckFailed);
    if (error)
        *error = outError;
    if (completionHandler)
        completionHandler(path, success, outError);
    return success;
}

bool ZCZipArchive::isFilePasswordProtectedAtPath(const QString &path)
{
    unzFile zip = unzOpen64(QFile::encodeName(path).constData());
    if (!zip)
        return false;
    bool answer = false;
    int ret = unzGoToFirstFile(zip);
    while (ret == UNZ_OK) {
        unz_file_info info{};
        if (unzGetCurrentFileInfo(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
            break;
        if (info.flag & 1) {
            answer = true;
            break;
        }
        ret = unzGoToNextFile(zip);
    }
    unzClose(zip);
    return answer;
}

// ---------------------------------------------------------------------------
// Dates

QDateTime ZCZipArchive::dateWithMSDOSFormat(quint32 msdos)
{
    const int year = 1980 + int((msdos >> 25) & 0x7F);
    const int month = int((msdos >> 21) & 0x0F);
    const int day = int((msdos >> 16) & 0x1F);
    const int hour = int((msdos >> 11) & 0x1F);
    const int minute = int((msdos >> 5) & 0x3F);
    const int second = int(msdos & 0x1F) * 2;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::LocalTime);
}

void ZCZipArchive::zipInfoSetDate(zip_fileinfo *info, const QDateTime &when)
{
    QDateTime date = when.isValid() ? when.toLocalTime() : QDateTime::currentDateTime();
    // DOS dates span 1980 to 2107; anything else would wrap into nonsense.
    const QDateTime earliest(QDate(1980, 1, 1), QTime(0, 0), Qt::LocalTime);
    const QDateTime latest(QDate(2107, 12, 31), QTime(23, 59, 58), Qt::LocalTime);
    if (date < earliest)
        date = earliest;
    if (date > latest)
        date = latest;
    info->tmz_date.tm_sec = uInt(date.time().second());
    info->tmz_date.tm_min = uInt(date.time().minute());
    info->tmz_date.tm_hour = uInt(date.time().hour());
    info->tmz_date.tm_mday = uInt(date.date().day());
    info->tmz_date.tm_mon = uInt(date.date().month() - 1);
    info->tmz_date.tm_year = uInt(date.date().year());
}

// ---------------------------------------------------------------------------
// Writing

ZCZipArchive::ZCZipArchive(const QString &path)
    : m_path(path)
{
}

ZCZipArchive::~ZCZipArchive()
{
    if (m_zip)
        zipClose(m_zip, nullptr);
}

bool ZCZipArchive::open()
{
    KT_ASSERT(!m_zip, "Attempting open an archive which is already open");
    m_failed = false;
    m_zip = zipOpen64(QFile::encodeName(m_path).constData(), APPEND_STATUS_CREATE);
    return m_zip != nullptr;
}

bool ZCZipArchive::openEntry(const QString &name, const QDateTime &date, quint32 externalAttributes,
                             int level)
{
    if (name.isEmpty()) {
        zlog("[ZCZipArchive] Refused to write an entry without a name");
        return false;
    }
    zip_fileinfo info{};
    zipInfoSetDate(&info, date);
    info.dosDate = 0;
    info.internal_fa = 0;
    info.external_fa = externalAttributes;
    // Unix permissions in the upper half only mean something when the
    // archive says it was made on Unix.
    const uLong madeBy = externalAttributes ? (kMadeByUnix << 8) | 20 : 20;
    const QByteArray encoded = name.toUtf8();
    bool ascii = true;
    for (char c : encoded)
        if (uchar(c) >= 0x80)
            ascii = false;
    const uLong flagBase = ascii ? 0 : (1u << 11); // names in UTF-8
    int ret = zipOpenNewFileInZip4(m_zip, encoded.constData(), &info, nullptr, 0, nullptr, 0,
                                   nullptr, level == 0 ? 0 : Z_DEFLATED, level, 0, -MAX_WBITS,
                                   DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, madeBy, flagBase);
    if (ret != ZIP_OK) {
        m_failed = true;
        return false;
    }
    return true;
}

bool ZCZipArchive::writeFileAtPath(const QString &path, const QString &fileName,
                                   const QString &password)
{
    KT_ASSERT(m_zip, "Attempting to write to an archive which was never opened");
    if (!password.isEmpty()) {
        zlog("[ZCZipArchive] Refused to write with a password: encryption is not supported");
        return false;
    }
    QFile input(path);
    if (!input.open(QIODevice::ReadOnly))
        return false;

    QDateTime date;
    quint32 attributes = 0;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        date = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
        attributes = (0x8000u + quint32(st.st_mode & 0777)) << 16;
    }
    const QString name = fileName.isEmpty() ? QFileInfo(path).fileName() : fileName;
    if (!openEntry(name, date, attributes, Z_DEFAULT_COMPRESSION))
        return false;

    std::vector<char> buffer(kWriteBufferSize);
    bool ok = true;
    for (;;) {
        qint64 n = input.read(buffer.data(), kWriteBufferSize);
        if (n == 0)
            break;
        if (n < 0 || zipWriteInFileInZip(m_zip, buffer.data(), unsigned(n)) != ZIP_OK) {
            ok = false;
            break;
        }
    }
    if (zipCloseFileInZip(m_zip) != ZIP_OK)
        ok = false;
    if (!ok)
        m_failed = true;
    return ok;
}

bool ZCZipArchive::writeFile(const QString &path, const QString &password)
{
    return writeFileAtPath(path, QString(), password);
}

bool ZCZipArchive::writeData(const QByteArray &data, const QString &filename,
                             const QString &password)
{
    if (!m_zip || data.isNull())
        return false;
    if (!password.isEmpty()) {
        zlog("[ZCZipArchive] Refused to write with a password: encryption is not supported");
        return false;
    }
    if (!openEntry(filename, QDateTime::currentDateTime(), 0, Z_DEFAULT_COMPRESSION))
        return false;
    bool ok = zipWriteInFileInZip(m_zip, data.constData(), unsigned(data.size())) == ZIP_OK;
    if (zipCloseFileInZip(m_zip) != ZIP_OK)
        ok = false;
    if (!ok)
        m_failed = true;
    return ok;
}

bool ZCZipArchive::writeFolderAtPath(const QString &path, const QString &folderName,
                                     const QString &password)
{
    KT_ASSERT(m_zip, "Attempting to write to an archive which was never opened");
    if (!password.isEmpty()) {
        zlog("[ZCZipArchive] Refused to write with a password: encryption is not supported");
        return false;
    }
    QDateTime date;
    quint32 attributes = 0;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        date = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
        attributes = (0x8000u + quint32(st.st_mode & 0777)) << 16;
    }
    if (!openEntry(folderName + '/', date, attributes, 0))
        return false;
    bool ok = zipWriteInFileInZip(m_zip, "", 0) == ZIP_OK;
    if (zipCloseFileInZip(m_zip) != ZIP_OK)
        ok = false;
    if (!ok)
        m_failed = true;
    return ok;
}

bool ZCZipArchive::close()
{
    KT_ASSERT(m_zip, "[ZCZipArchive] Attempting to close an archive which was never opened");
    const bool closed = zipClose(m_zip, nullptr) == ZIP_OK;
    m_zip = nullptr;
    return closed && !m_failed;
}

// ---------------------------------------------------------------------------
// Whole archives

bool ZCZipArchive::createZipFileAtPath(const QString &path, const QStringList &paths,
                                       const QString &password)
{
    if (!password.isEmpty()) {
        zlog("[ZCZipArchive] Refused to write with a password: encryption is not supported");
        return false;
    }
    ZCZipArchive archive(path);
    if (!archive.open())
        return false;
    for (const QString &file : paths)
        archive.writeFile(file, password);
    return archive.close();
}

bool ZCZipArchive::createZipFileAtPath(const QString &path, const QString &directoryPath,
                                       bool keepParentDirectory, const QString &password)
{
    if (!password.isEmpty()) {
        zlog("[ZCZipArchive] Refused to write with a password: encryption is not supported");
        return false;
    }
    ZCZipArchive archive(path);
    if (!archive.open())
        return false;

    const QDir root(directoryPath);
    const QString parentName = QFileInfo(QDir::cleanPath(root.absolutePath())).fileName();
    const auto filters = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    QStringList found;
    QDirIterator it(directoryPath, filters, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    found.sort();

    for (const QString &full : found) {
        const QFileInfo info(full);
        QString name = root.relativeFilePath(full);
        if (keepParentDirectory)
            name = parentName + '/' + name;
        if (info.isDir() && !info.isSymLink()) {
            if (QDir(full).isEmpty(filters)) {
                const QString placeholder = temporaryPathForDiscardableFile();
                if (!placeholder.isEmpty())
                    archive.writeFileAtPath(placeholder, name + '/' + QFileInfo(placeholder).fileName(),
                                            QString());
            }
        } else {
            archive.writeFileAtPath(full, name, QString());
        }
    }
    return archive.close();
}

QString ZCZipArchive::temporaryPathForDiscardableFile()
{
    static std::once_flag once;
    static QString path;
    std::call_once(once, [] {
        const QString folder =
            QDir::tempPath() + '/' + QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (!QDir().mkpath(folder))
            return;
        const QString file = folder + "/.DS_Store";
        QFile f(file);
        if (f.open(QIODevice::WriteOnly))
            path = file;
    });
    return path;
}
