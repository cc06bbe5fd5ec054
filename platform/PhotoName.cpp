#include "platform/PhotoName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool isUtf8(const QByteArray &bytes)
{
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

} // namespace

PhotoName::PhotoName(const QByteArray &named)
{
    m_bytes = named;
    if (!named.startsWith('/')) {
        char here[PATH_MAX];
        if (::getcwd(here, sizeof here))
            m_bytes = QByteArray(here) + '/' + named;
    }
    m_path = QFileInfo(QFile::decodeName(named)).absoluteFilePath();
    m_shown = m_path;
    struct stat st {};
    if (::stat(m_bytes.constData(), &st) != 0)
        m_kind = errno == ELOOP ? Kind::Loop : Kind::Nothing;
    else
        m_kind = S_ISREG(st.st_mode) ? Kind::File : S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
    if (m_kind != Kind::File)
        return;
    // The file a symbolic link leads to is the one replaced, so its
    // path is the one that must be named.
    QByteArray file = m_bytes;
    if (char *real = ::realpath(m_bytes.constData(), nullptr)) {
        file = QByteArray(real);
        std::free(real);
    }
    if (!isUtf8(m_bytes) || !isUtf8(file)) {
        m_shown = QDir::cleanPath(QFile::decodeName(m_bytes));
        nameAgain(file);
    }
}

PhotoName::~PhotoName()
{
    if (!m_second.isEmpty())
        ::unlinkat(m_hidden, m_second.constData(), 0);
    if (m_hidden >= 0) {
        ::unlinkat(m_folder, m_hiddenName.constData(), AT_REMOVEDIR);
        ::close(m_hidden);
    }
    if (m_folder >= 0)
        ::close(m_folder);
}

bool PhotoName::putBack(QString *why)
{
    if (m_second.isEmpty())
        return true;
    struct stat second {
    }, own{};
    const bool same = ::fstatat(m_hidden, m_second.constData(), &second, AT_SYMLINK_NOFOLLOW) == 0
                      && ::fstatat(m_folder, m_name.constData(), &own, AT_SYMLINK_NOFOLLOW) == 0
                      && second.st_dev == own.st_dev && second.st_ino == own.st_ino;
    // Written through the file itself, both names show it already.
    if (same ? ::unlinkat(m_hidden, m_second.constData(), 0) != 0
             : ::renameat(m_hidden, m_second.constData(), m_folder, m_name.constData()) != 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_second.clear();
    return true;
}

void PhotoName::nameAgain(const QByteArray &file)
{
    const qsizetype slash = file.lastIndexOf('/');
    const QByteArray folder = slash > 0 ? file.left(slash) : QByteArray("/");
    m_name = file.mid(slash + 1);
    m_folder = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0) {
        m_problem = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    const QString own = QFile::decodeName(m_name);
    const QString folderPath =
        isUtf8(folder) ? QFile::decodeName(folder) : QStringLiteral("/proc/self/fd/%1").arg(m_folder);
    m_path = folderPath + QLatin1Char('/') + own;
    if (QFile::encodeName(own) == m_name)
        return;
    // Hidden, and the second name is the one shown, which a design may
    // write on the framed photo.
    for (int attempt = 0; attempt < 10 && m_hiddenName.isEmpty(); ++attempt) {
        const QByteArray hidden = QStringLiteral(".kantelo-%1-%2").arg(::getpid()).arg(attempt).toLatin1();
        if (::mkdirat(m_folder, hidden.constData(), 0700) == 0)
            m_hiddenName = hidden;
        else if (errno != EEXIST)
            break;
    }
    if (m_hiddenName.isEmpty()) {
        m_problem = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    m_hidden = ::openat(m_folder, m_hiddenName.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const QByteArray second = QFile::encodeName(own);
    if (m_hidden < 0 || ::linkat(m_folder, m_name.constData(), m_hidden, second.constData(), 0) != 0) {
        m_problem = QString::fromLocal8Bit(std::strerror(errno));
        if (m_hidden < 0)
            ::unlinkat(m_folder, m_hiddenName.constData(), AT_REMOVEDIR);
        return;
    }
    m_second = second;
    m_path = folderPath + QLatin1Char('/') + QString::fromLatin1(m_hiddenName) + QLatin1Char('/') + own;
}

} // namespace platform
