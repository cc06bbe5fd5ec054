#include "kit/ZCZipArchive.h"

#include "platform/Assert.h"
#include "platform/Log.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTime>

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

constexpr int kWriteBufferSize = 16384;
constexpr uLong kMadeByUnix = 3;

void zlog(const QString &line)
{
    platform::logLine(line);
}

// This build writes no encrypted entries: a password is refused, with a word.
bool refusesPassword(const QString &password)
{
    if (password.isEmpty())
        return false;
    zlog("[ZCZipArchive] Refused to write with a password: encryption is not supported");
    return true;
}

// The modification date and Unix permissions an entry for `path` keeps.
void stampOf(const QString &path, QDateTime *date, quint32 *attributes)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        *date = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
        *attributes = (0x8000u + quint32(st.st_mode & 0777)) << 16;
    }
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

bool ZCZipArchive::closeEntry(bool written)
{
    if (zipCloseFileInZip(m_zip) != ZIP_OK)
        written = false;
    if (!written)
        m_failed = true;
    return written;
}

bool ZCZipArchive::writeFileAtPath(const QString &path, const QString &fileName,
                                   const QString &password)
{
    KT_ASSERT(m_zip, "Attempting to write to an archive which was never opened");
    if (refusesPassword(password))
        return false;
    QFile input(path);
    if (!input.open(QIODevice::ReadOnly))
        return false;

    QDateTime date;
    quint32 attributes = 0;
    stampOf(path, &date, &attributes);
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
    return closeEntry(ok);
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
    if (refusesPassword(password))
        return false;
    if (!openEntry(filename, QDateTime::currentDateTime(), 0, Z_DEFAULT_COMPRESSION))
        return false;
    bool ok = zipWriteInFileInZip(m_zip, data.constData(), unsigned(data.size())) == ZIP_OK;
    return closeEntry(ok);
}

bool ZCZipArchive::writeFolderAtPath(const QString &path, const QString &folderName,
                                     const QString &password)
{
    KT_ASSERT(m_zip, "Attempting to write to an archive which was never opened");
    if (refusesPassword(password))
        return false;
    QDateTime date;
    quint32 attributes = 0;
    stampOf(path, &date, &attributes);
    if (!openEntry(folderName + '/', date, attributes, 0))
        return false;
    bool ok = zipWriteInFileInZip(m_zip, "", 0) == ZIP_OK;
    return closeEntry(ok);
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
    if (refusesPassword(password))
        return false;
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
    if (refusesPassword(password))
        return false;
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
    // Made once a run, and removed with its folder as the program ends.
    static QTemporaryDir folder;
    static const QString path = [] {
        if (!folder.isValid())
            return QString();
        const QString file = folder.filePath(".DS_Store");
        QFile f(file);
        return f.open(QIODevice::WriteOnly) ? file : QString();
    }();
    return path;
}
