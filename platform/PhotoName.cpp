#include "platform/PhotoName.h"

#include "platform/ReplacingFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
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
    m_location = FileLocation::of(m_bytes);
    struct stat st {};
    if (!m_location.status(&st)) {
        const int error = m_location.isValid() ? errno : m_location.error();
        if (m_location.refusedLink()) {
            m_kind = Kind::SharedLink;
            m_blockedAt = QFileInfo(QFile::decodeName(m_location.refusedLinkPath())).absolutePath();
        } else if (error == EACCES) {
            m_kind = Kind::Unreachable;
            const QByteArray at = m_location.isValid() ? m_location.folderPath() : m_location.failedAt();
            m_blockedAt = QFile::decodeName(at);
        } else {
            m_kind = error == ELOOP ? Kind::Loop : Kind::Nothing;
        }
        return;
    }
    m_kind = S_ISREG(st.st_mode) ? Kind::File : S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
    if (m_kind != Kind::File)
        return;
    // The file a symbolic link leads to is the one replaced, so its
    // path is the one that must be named.
    if (!isUtf8(m_bytes) || !isUtf8(m_location.path())) {
        m_shown = QDir::cleanPath(QFile::decodeName(m_bytes));
        nameAgain();
    }
}

PhotoName::~PhotoName()
{
    if (!m_second.isEmpty()) {
        ReplacingFile::withdrawStandIn(m_path);
        ::unlinkat(m_hidden, m_second.constData(), 0);
    }
    m_heldSecond.reset();
    if (m_hidden >= 0) {
        ::unlinkat(m_location.folder(), m_hiddenName.constData(), AT_REMOVEDIR);
        ::close(m_hidden);
    }
    m_heldFolder.reset();
}

QString PhotoName::fitted(const QString &name)
{
    if (QFile::encodeName(name).size() <= NAME_MAX)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString tail = dot > 0 ? name.mid(dot) : QString();
    if (QFile::encodeName(tail).size() > NAME_MAX / 4)
        tail.clear();
    const QString head = tail.isEmpty() ? name : name.left(dot);
    const qsizetype room = NAME_MAX - QFile::encodeName(tail).size();
    QString kept;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < head.size();) {
        // A character, not half of one.
        const qsizetype length = head.at(i).isHighSurrogate() && i + 1 < head.size() ? 2 : 1;
        const QString character = head.mid(i, length);
        bytes += QFile::encodeName(character).size();
        if (bytes > room)
            break;
        kept += character;
        i += length;
    }
    return kept + tail;
}

void PhotoName::nameAgain()
{
    const int folder = m_location.folder();
    const QByteArray folderBytes = m_location.folderPath();
    const QByteArray &name = m_location.name();
    const QString own = QFile::decodeName(name);
    const QString folderPath =
        isUtf8(folderBytes) ? QFile::decodeName(folderBytes) : QStringLiteral("/proc/self/fd/%1").arg(folder);
    m_path = folderPath + QLatin1Char('/') + own;
    if (QFile::encodeName(own) == name)
        return;
    TemporaryNames::clearLeftoversIn(folder);
    // Hidden, and the second name is the one shown, which a design may
    // write on the framed photo.
    // Held before it is made: a signal in between finds it all the same.
    for (int attempt = 0; attempt < 10 && m_hiddenName.isEmpty(); ++attempt) {
        const QByteArray hidden = TemporaryNames::make();
        m_heldFolder.reset(folder, hidden, true);
        if (::mkdirat(folder, hidden.constData(), 0700) == 0)
            m_hiddenName = hidden;
        else if (errno != EEXIST)
            break;
    }
    if (m_hiddenName.isEmpty()) {
        m_problem = QString::fromLocal8Bit(std::strerror(errno));
        m_heldFolder.reset();
        return;
    }
    // The photo's owner may clear it, should a kill leave it.
    struct stat photo {};
    if (m_location.status(&photo) && photo.st_uid != ::geteuid())
        (void)!::fchownat(folder, m_hiddenName.constData(), photo.st_uid, photo.st_gid, AT_SYMLINK_NOFOLLOW);
    m_hidden = ::openat(folder, m_hiddenName.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const QString secondName = fitted(own);
    const QByteArray second = QFile::encodeName(secondName);
    if (m_hidden >= 0)
        m_heldSecond.reset(m_hidden, second);
    if (m_hidden < 0 || ::linkat(folder, name.constData(), m_hidden, second.constData(), 0) != 0) {
        m_problem = QString::fromLocal8Bit(std::strerror(errno));
        m_heldSecond.reset();
        if (m_hidden < 0) {
            ::unlinkat(folder, m_hiddenName.constData(), AT_REMOVEDIR);
            m_heldFolder.reset();
        }
        return;
    }
    m_second = second;
    m_path = folderPath + QLatin1Char('/') + QString::fromLatin1(m_hiddenName) + QLatin1Char('/') + secondName;
    ReplacingFile::standIn(m_path, m_location.pathThroughFolder());
}

} // namespace platform
