#include "kit/ZipUnpacker.h"

#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMutex>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kReadBufferSize = 4096;
constexpr uLong kMadeByUnix = 3;
constexpr int kMaxLinkTarget = 4096;

platform::Error zipError(int code, const QString &detail = QString())
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
    case ZCZipArchive::ExpandsTooFar: e.description = detail; break;
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

namespace {

QMutex limitsMutex;
ZCZipArchive::Limits currentLimits;

QString sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

} // namespace

ZCZipArchive::Limits ZCZipArchive::limits()
{
    QMutexLocker lock(&limitsMutex);
    return currentLimits;
}

void ZCZipArchive::setLimits(const Limits &limits)
{
    QMutexLocker lock(&limitsMutex);
    currentLimits = limits;
}

// Every unpacking form of the archive ends here, beside the unpacker it runs.
bool ZCZipArchive::unzipFileAtPath(const QString &path, const QString &destination, bool preserveAttributes,
                                   bool overwrite, const QString &password, platform::Error *error,
                                   ZCZipArchiveDelegate *delegate, const ProgressHandler &progressHandler,
                                   const CompletionHandler &completionHandler)
{
    platform::Error outError;
    QString reportedPath;
    bool success = false;
    if (!password.isEmpty()) {
        // This minizip can't decrypt: say so rather than unpack garbage.
        outError = zipError(PasswordNotSupported);
    } else {
        ZipUnpacker unpacker(path, destination, preserveAttributes, overwrite, delegate, progressHandler);
        success = unpacker.run(&outError);
        reportedPath = unpacker.reportedPath();
    }
    if (error)
        *error = outError;
    if (completionHandler)
        completionHandler(reportedPath, success, outError);
    return success;
}

platform::Error ZipUnpacker::errorFor(int code)
{
    return zipError(code);
}

ZipUnpacker::ZipUnpacker(const QString &path, const QString &destination, bool preserveAttributes,
                         bool overwrite, ZCZipArchiveDelegate *delegate,
                         const ZCZipArchive::ProgressHandler &progressHandler)
    : m_path(path)
    , m_destination(destination)
    , m_preserveAttributes(preserveAttributes)
    , m_overwrite(overwrite)
    , m_delegate(delegate)
    , m_progressHandler(progressHandler)
    , m_limits(ZCZipArchive::limits())
    , m_buffer(kReadBufferSize)
{
}

ZipUnpacker::~ZipUnpacker()
{
    if (m_zip)
        unzClose(m_zip);
}

bool ZipUnpacker::stop(const platform::Error &error)
{
    m_success = false;
    if (!error.isNull())
        m_error = error;
    return false;
}

bool ZipUnpacker::run(platform::Error *error)
{
    if (!openArchive()) {
        if (error)
            *error = m_error;
        return false;
    }
    if (m_delegate) {
        m_delegate->zipArchiveWillUnzipArchiveAtPath(m_path, m_globalInfo);
        m_delegate->zipArchiveProgressEvent(0, m_fileSize);
    }
    unpackEntries();
    unzClose(m_zip);
    m_zip = nullptr;

    removeLinksLeadingOut();
    if (m_preserveAttributes && m_success)
        dateFolders();
    if (m_success && m_delegate)
        m_delegate->zipArchiveDidUnzipArchiveAtPath(m_path, m_globalInfo, m_destination);
    if (!m_cancelled && m_delegate)
        m_delegate->zipArchiveProgressEvent(m_fileSize, m_fileSize);

    if (m_error.isNull() && m_crcFailed)
        m_error = zipError(ZCZipArchive::CrcCheckFailed);
    if (error)
        *error = m_error;
    return m_success;
}

bool ZipUnpacker::openArchive()
{
    m_zip = unzOpen64(QFile::encodeName(m_path).constData());
    if (!m_zip)
        return stop(zipError(ZCZipArchive::FailedOpenZipFile));
    m_fileSize = QFileInfo(m_path).size();
    if (unzGetGlobalInfo(m_zip, &m_globalInfo) != UNZ_OK || unzGoToFirstFile(m_zip) != UNZ_OK)
        return stop(zipError(ZCZipArchive::FailedOpenFirstFile));
    // From here on the completion names the archive.
    m_reportedPath = m_path;
    // The destination itself is the caller's choice; only what lies below it
    // is the archive's.
    if (!QDir().mkpath(m_destination))
        return stop(zipError(ZCZipArchive::FailedWriteFile));
    m_destRoot = QDir::cleanPath(QDir(m_destination).absolutePath());
    m_destRootBytes = QFile::encodeName(m_destRoot);
    return true;
}

void ZipUnpacker::unpackEntries()
{
    do {
        Entry entry;
        Next next = readEntry(&entry);
        if (next == Next::Continue)
            next = placeEntry(&entry);
        if (next == Next::Stop)
            return;
        if (next == Next::Skip) {
            unzCloseCurrentFile(m_zip);
            goToNext();
            continue;
        }
        if (!writeEntry(entry) || !closeEntry(entry)) {
            m_success = false;
            return;
        }
        const bool moved = goToNext();
        const qint64 total = qint64(m_globalInfo.number_entry);
        if (m_delegate && !m_delegate->zipArchiveDidUnzipFileAtIndex(m_entryIndex, total, m_path, entry.info))
            m_delegate->zipArchiveDidUnzipFileAtIndexUnzippedFilePath(m_entryIndex, total, m_path,
                                                                      entry.fullPath);
        ++m_filesDone;
        if (m_progressHandler)
            m_progressHandler(entry.name, entry.info, m_filesDone, total);
        if (!moved)
            return;
    } while (m_success && m_ret == UNZ_OK);
}

// Opens the current entry and reads its record and name.
ZipUnpacker::Next ZipUnpacker::readEntry(Entry *entry)
{
    ++m_entryIndex;
    if (m_entryIndex >= m_limits.entries) {
        stop(zipError(ZCZipArchive::ExpandsTooFar,
                      QString("the archive holds more than %1 entries").arg(m_limits.entries)));
        return Next::Stop;
    }
    if (unzGetCurrentFileInfo(m_zip, &entry->info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        stop(zipError(ZCZipArchive::FailedReadFile));
        return Next::Stop;
    }
    if (entry->info.flag & 1) {
        // An encrypted entry can't be read here.
        stop(zipError(ZCZipArchive::PasswordNotSupported));
        return Next::Stop;
    }
    if (unzOpenCurrentFile(m_zip) != UNZ_OK) {
        stop({});
        return Next::Stop;
    }
    m_compressedSoFar += qint64(entry->info.compressed_size);

    const qint64 total = qint64(m_globalInfo.number_entry);
    if (m_delegate && !m_delegate->zipArchiveShouldUnzipFileAtIndex(m_entryIndex, total, m_path, entry->info)) {
        m_cancelled = true;
        unzCloseCurrentFile(m_zip);
        stop({});
        return Next::Stop;
    }
    if (m_delegate) {
        m_delegate->zipArchiveWillUnzipFileAtIndex(m_entryIndex, total, m_path, entry->info);
        m_delegate->zipArchiveProgressEvent(m_compressedSoFar, m_fileSize);
    }

    QByteArray rawName(int(entry->info.size_filename), '\0');
    unz_file_info again{};
    if (entry->info.size_filename > 0
        && unzGetCurrentFileInfo(m_zip, &again, rawName.data(), entry->info.size_filename, nullptr, 0,
                                 nullptr, 0)
               != UNZ_OK) {
        unzCloseCurrentFile(m_zip);
        stop(zipError(ZCZipArchive::FailedReadFile));
        return Next::Stop;
    }
    entry->madeByUnix = (entry->info.version >> 8) == kMadeByUnix;
    entry->isSymlink = entry->madeByUnix && ((entry->info.external_fa >> 28) & 0xF) == 0xA;
    entry->isDirectory = !rawName.isEmpty() && (rawName.endsWith('/') || rawName.endsWith('\\'));
    entry->name = decodeName(rawName);
    entry->name.replace('\\', '/');
    return Next::Continue;
}

// Finds the entry's place below the destination and makes its folders,
// refusing names and links that would lead out.
ZipUnpacker::Next ZipUnpacker::placeEntry(Entry *entry)
{
    entry->relative = safeRelativePath(entry->name);
    if (entry->relative.isEmpty()) {
        // "./" names the destination itself and is harmless; anything else
        // without a safe name is refused.
        if (entry->name.isEmpty() || entry->name.contains(QRegularExpression("[^./]"))
            || entry->name.contains(".."))
            zlog(QString("[ZCZipArchive] Refused entry \"%1\": it would land outside the destination")
                     .arg(entry->name));
        return Next::Skip;
    }
    entry->fullPath = m_destRoot + '/' + entry->relative;
    entry->fullPathBytes = QFile::encodeName(entry->fullPath);

    QStringList folders = entry->relative.split('/', Qt::SkipEmptyParts);
    if (!entry->isDirectory)
        folders.removeLast();
    QString failedPath;
    int err = 0;
    switch (makeFolders(m_destRootBytes, folders, &failedPath, &err)) {
    case FolderResult::Ok: break;
    case FolderResult::Refused:
        zlog(QString("[ZCZipArchive] Refused entry \"%1\": \"%2\" is a symbolic link").arg(entry->name, failedPath));
        return Next::Skip;
    case FolderResult::NoSpace:
        unzCloseCurrentFile(m_zip);
        stop(outOfSpaceFolderError(failedPath));
        return Next::Stop;
    case FolderResult::Failed:
        zlog(QString("[ZCZipArchive] Error: %1").arg(QString::fromLocal8Bit(std::strerror(err))));
        if (!entry->isDirectory)
            return Next::Skip;
        break;
    }

    struct stat existing;
    const bool exists = ::lstat(entry->fullPathBytes.constData(), &existing) == 0;
    if (exists && S_ISLNK(existing.st_mode)) {
        zlog(QString("[ZCZipArchive] Refused entry \"%1\": it would write through a symbolic link").arg(entry->name));
        return Next::Skip;
    }
    if (exists && !entry->isDirectory && !m_overwrite)
        return Next::Skip;

    if (m_preserveAttributes) {
        const QDateTime modDate = ZCZipArchive::dateWithMSDOSFormat(quint32(entry->info.dosDate));
        if (modDate.isValid())
            m_dated.push_back({entry->fullPathBytes, modDate});
    }
    return Next::Continue;
}

bool ZipUnpacker::writeEntry(const Entry &entry)
{
    if (entry.isDirectory)
        return true; // the folder exists now
    return entry.isSymlink ? writeLink(entry) : writeFile(entry);
}

bool ZipUnpacker::writeFile(const Entry &entry)
{
    const char *path = entry.fullPathBytes.constData();
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        int e = errno;
        if (isNoSpace(e))
            return stop(posixError(ZCZipArchive::kPOSIXNoSpace));
        zlog(QString("[ZCZipArchive] Error: could not write \"%1\": %2")
                 .arg(entry.fullPath, QString::fromLocal8Bit(std::strerror(e))));
        return true;
    }
    bool failed = false;
    qint64 entryBytes = 0;
    for (;;) {
        int n = unzReadCurrentFile(m_zip, m_buffer.data(), kReadBufferSize);
        if (n == 0)
            break;
        if (n < 0) {
            failed = !stop(zipError(n == UNZ_CRCERROR ? ZCZipArchive::CrcCheckFailed : ZCZipArchive::FailedReadFile));
            break;
        }
        entryBytes += n;
        m_inflatedTotal += n;
        if (entryBytes > m_limits.entryBytes || m_inflatedTotal > m_limits.totalBytes) {
            const bool entryTooBig = entryBytes > m_limits.entryBytes;
            const QString detail = entryTooBig
                ? QString("\"%1\" expands beyond %2").arg(entry.name, sizeText(m_limits.entryBytes))
                : QString("the archive expands beyond %1").arg(sizeText(m_limits.totalBytes));
            zlog("[ZCZipArchive] Refused archive: " + detail);
            failed = !stop(zipError(ZCZipArchive::ExpandsTooFar, detail));
            break;
        }
        int err = 0;
        if (!writeAll(fd, m_buffer.data(), n, &err)) {
            failed = !stop(isNoSpace(err) ? posixError(ZCZipArchive::kPOSIXNoSpace)
                                          : zipError(ZCZipArchive::FailedWriteFile));
            break;
        }
    }
    if (!failed && m_preserveAttributes && entry.madeByUnix && (entry.info.external_fa >> 16) != 0) {
        // Only the permission bits, and the owner keeps read/write.
        mode_t mode = mode_t((entry.info.external_fa >> 16) & 0777) | 0600;
        if (::fchmod(fd, mode) != 0)
            zlog("[ZCZipArchive] Failed to set attributes - whilst setting permissions");
    }
    if (::close(fd) != 0 && !failed) {
        int e = errno;
        failed = !stop(isNoSpace(e) ? posixError(ZCZipArchive::kPOSIXNoSpace) : zipError(ZCZipArchive::FailedWriteFile));
    }
    if (failed) {
        ::unlink(path);
        return false;
    }
    if (m_preserveAttributes && entry.info.dosDate != 0
        && !setModificationDate(entry.fullPathBytes, ZCZipArchive::dateWithMSDOSFormat(quint32(entry.info.dosDate))))
        zlog("[ZCZipArchive] Failed to set attributes - whilst setting modification date");
    return true;
}

bool ZipUnpacker::writeLink(const Entry &entry)
{
    QByteArray target;
    for (;;) {
        int n = unzReadCurrentFile(m_zip, m_buffer.data(), kReadBufferSize);
        if (n == 0)
            break;
        if (n < 0)
            return stop(zipError(ZCZipArchive::FailedReadFile));
        target.append(m_buffer.data(), n);
        if (target.size() > kMaxLinkTarget)
            break;
    }
    const QString targetText = QString::fromUtf8(target);
    if (target.size() > kMaxLinkTarget || !linkTargetStaysInside(entry.relative, targetText)) {
        zlog(QString("[ZCZipArchive] Refused symbolic link \"%1\" to \"%2\": it points outside the destination")
                 .arg(entry.fullPath, targetText));
    } else if (::symlink(target.constData(), entry.fullPathBytes.constData()) != 0) {
        zlog(QString("Failed to create symbolic link at \"%1\" to \"%2\". symlink() error code: %3")
                 .arg(entry.fullPath, targetText)
                 .arg(errno));
    } else {
        m_createdLinks.push_back(entry.fullPathBytes);
    }
    return true;
}

bool ZipUnpacker::closeEntry(const Entry &entry)
{
    const int closeRet = unzCloseCurrentFile(m_zip);
    if (closeRet == UNZ_CRCERROR) {
        m_crcFailed = true;
        if (!entry.isDirectory && !entry.isSymlink)
            ::unlink(entry.fullPathBytes.constData());
        return stop(zipError(ZCZipArchive::CrcCheckFailed));
    }
    if (closeRet != UNZ_OK)
        return stop(zipError(ZCZipArchive::FailedReadFile));
    return true;
}

bool ZipUnpacker::goToNext()
{
    m_ret = unzGoToNextFile(m_zip);
    if (m_ret != UNZ_OK && m_ret != UNZ_END_OF_LIST_OF_FILE)
        return stop(zipError(ZCZipArchive::FailedReadFile));
    return true;
}

// A link made early may look harmless alone yet lead out through another
// link; check where each one really ends up.
void ZipUnpacker::removeLinksLeadingOut()
{
    if (m_createdLinks.empty())
        return;
    const QByteArray realRoot = QFile::encodeName(QFileInfo(m_destRoot).canonicalFilePath());
    for (const QByteArray &link : m_createdLinks) {
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

void ZipUnpacker::dateFolders()
{
    for (const Dated &d : m_dated) {
        struct stat st;
        if (::lstat(d.path.constData(), &st) != 0)
            continue;
        if (!setModificationDate(d.path, d.modDate))
            zlog(QString("[ZCZipArchive] Set attributes failed for directory: %1.").arg(QFile::decodeName(d.path)));
    }
}
