#include "extensions/photos/PhotoEditingViewController.h"

#include "platform/PhotoName.h"
#include "platform/ReplacingFile.h"
#include "platform/TypeTable.h"
#include "platform/handoff/Handoff.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr QSize kPreviewSize(560, 420);

void say(FILE *stream, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// What tells one state of the working copy from another: a save replaces the
// file (new inode) or rewrites it (new time or size).
QByteArray fileStamp(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return QByteArray::number(qulonglong(info.st_ino)) + ':' + QByteArray::number(qlonglong(info.st_size)) + ':'
           + QByteArray::number(qlonglong(info.st_mtim.tv_sec)) + '.' + QByteArray::number(qlonglong(info.st_mtim.tv_nsec));
}

} // namespace

PhotoEditingViewController::PhotoEditingViewController(const Options &options, QWidget *parent)
    : QDialog(parent)
    , m_options(options)
{
    setObjectName(QStringLiteral("PhotoEditingViewController"));
    setWindowTitle(QStringLiteral("Retouchlet – %1").arg(QFileInfo(options.photo).fileName()));

    auto *hint = new QLabel(QStringLiteral("Frame the photo in Kantelo and save it there; the preview follows each save.\n"
                                           "Done writes the result to “%1”.")
                                .arg(QFileInfo(target()).fileName()),
                            this);
    hint->setWordWrap(true);
    m_imageView = new QLabel(this);
    m_imageView->setObjectName(QStringLiteral("imageView"));
    m_imageView->setAlignment(Qt::AlignCenter);
    m_imageView->setMinimumSize(kPreviewSize / 2);
    m_imageView->resize(kPreviewSize);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton *doneButton = buttons->addButton(QStringLiteral("Done"), QDialogButtonBox::AcceptRole);
    doneButton->setObjectName(QStringLiteral("Done"));
    doneButton->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(m_imageView, 1);
    layout->addWidget(buttons);
    resize(kPreviewSize + QSize(40, 100));

    if (m_options.script) {
        m_answers = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_answers, &QSocketNotifier::activated, this, &PhotoEditingViewController::readScriptAnswer);
    }
}

PhotoEditingViewController::~PhotoEditingViewController() = default;

bool PhotoEditingViewController::startContentEditing(platform::Error *error)
{
    // A per-session folder of the user's own under the cache folder, so a
    // second edit of a photo of the same name never meets this one.
    const QString base = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
                             .filePath(QString::fromLatin1(kFolderName));
    QDir().mkpath(base);
    QFile::setPermissions(base, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QTemporaryDir session(base + QStringLiteral("/edit-XXXXXX"));
    if (!session.isValid()) {
        platform::setError(
            error, QStringLiteral("Couldn't make a working folder in “%1”: %2").arg(base, session.errorString()));
        return false;
    }
    session.setAutoRemove(false);
    m_folder = session.path();
    // Named as the photo is, as a QString can hold it and the disk take it.
    m_tempURL = QDir(m_folder).filePath(platform::PhotoName::fitted(QFileInfo(m_options.photo).fileName()));

    // Read by the name as the file system has it, which need not be UTF-8.
    const QByteArray photoPath =
        m_options.photoPath.isEmpty() ? QFile::encodeName(m_options.photo) : m_options.photoPath;
    QFile photo;
    QFile copy(m_tempURL);
    const int fd = ::open(photoPath.constData(), O_RDONLY | O_CLOEXEC);
    const int openError = fd < 0 ? errno : 0;
    struct stat copiedFrom {};
    bool copied = fd >= 0 && ::fstat(fd, &copiedFrom) == 0
                  && photo.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)
                  && copy.open(QIODevice::WriteOnly);
    if (fd >= 0 && !photo.isOpen())
        ::close(fd);
    while (copied && !photo.atEnd()) {
        const QByteArray block = photo.read(1 << 20);
        copied = !block.isEmpty() && copy.write(block) == block.size();
    }
    copied = copied && copy.flush();
    if (!copied) {
        const QString why = fd < 0            ? QString::fromLocal8Bit(std::strerror(openError))
                            : !photo.isOpen() ? photo.errorString()
                            : copy.error()    ? copy.errorString()
                                              : photo.errorString();
        platform::setError(error,
                           QStringLiteral("Couldn't copy “%1” to “%2”: %3").arg(m_options.photo, m_tempURL, why));
        QDir(m_folder).removeRecursively();
        return false;
    }
    copy.close();
    m_copied = platform::FileIdentity::of(copiedFrom);
    // The copy is ours to change even when the photo was read-only.
    QFile::setPermissions(m_tempURL, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    m_handedOverStamp = fileStamp(m_tempURL);
    reloadPreview();

    platform::Error reason;
    if (!platform::Handoff::openFileWithApplication(m_tempURL, &reason)) {
        platform::setError(error,
                           QStringLiteral("Couldn't open the photo in Kantelo. %1\nThe working copy stays in “%2”.")
                               .arg(reason.description, m_tempURL));
        return false;
    }
    watchTempForChanges();
    if (m_options.script)
        say(stdout, QStringLiteral("working-copy %1").arg(scriptName(m_tempURL)));
    return true;
}

void PhotoEditingViewController::watchTempForChanges()
{
    // Kantelo saves by writing a new file and renaming it over the copy, which
    // changes the folder's entries; a rewrite in place changes the file.
    m_source = new QFileSystemWatcher(this);
    if (!m_source->addPath(m_folder)) {
        delete m_source;
        m_source = nullptr;
        return;
    }
    m_source->addPath(m_tempURL);
    auto *coalesce = new QTimer(this);
    coalesce->setSingleShot(true);
    coalesce->setInterval(100); // one save makes several events
    connect(coalesce, &QTimer::timeout, this, &PhotoEditingViewController::reloadPreview);
    auto changed = [this, coalesce](const QString &path) {
        if (m_source && path == m_folder && !QFileInfo(m_folder).isDir()) {
            // The folder itself went away: later saves can't be seen.
            m_source->deleteLater();
            m_source = nullptr;
        }
        coalesce->start();
    };
    connect(m_source, &QFileSystemWatcher::directoryChanged, this, changed);
    connect(m_source, &QFileSystemWatcher::fileChanged, this, changed);
}

void PhotoEditingViewController::reloadPreview()
{
    if (m_source && !m_source->files().contains(m_tempURL) && QFileInfo::exists(m_tempURL))
        m_source->addPath(m_tempURL); // a replaced file is watched anew
    if (fileStamp(m_tempURL) != m_handedOverStamp)
        m_saved = true;

    QImageReader reader(m_tempURL);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (size.isValid() && (size.width() > kPreviewSize.width() || size.height() > kPreviewSize.height()))
        reader.setScaledSize(size.scaled(kPreviewSize, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull()) {
        m_imageView->setPixmap(QPixmap());
        m_imageView->setText(QStringLiteral("No preview of this picture"));
    } else {
        m_imageView->setPixmap(QPixmap::fromImage(image));
    }
    if (m_options.script)
        say(stdout, image.isNull() ? QStringLiteral("preview none")
                                   : QStringLiteral("preview %1x%2").arg(size.width()).arg(size.height()));
}

void PhotoEditingViewController::done(int result)
{
    if (m_finished)
        return;
    if (result == QDialog::Accepted) {
        finishContentEditing();
        return;
    }
    if (m_saved && !m_options.script) {
        QMessageBox question(QMessageBox::Question, QStringLiteral("Discard the framed photo?"),
                             QStringLiteral("“%1” stays as it is. What you saved in Kantelo is kept in “%2”.")
                                 .arg(target(), m_tempURL),
                             QMessageBox::NoButton, this);
        QPushButton *discard = question.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
        question.setDefaultButton(question.addButton(QStringLiteral("Keep Editing"), QMessageBox::RejectRole));
        question.exec();
        if (question.clickedButton() != discard)
            return;
    }
    cancelContentEditing();
}

QByteArray PhotoEditingViewController::targetPath() const
{
    if (!m_options.output.isEmpty())
        return m_options.outputPath.isEmpty() ? QFile::encodeName(m_options.output) : m_options.outputPath;
    return m_options.photoPath.isEmpty() ? QFile::encodeName(m_options.photo) : m_options.photoPath;
}

void PhotoEditingViewController::finishContentEditing()
{
    reloadPreview();
    platform::Error failure;
    // Over the photo, only the photo as it was copied is replaced.
    struct stat output {};
    const bool overPhoto = m_options.output.isEmpty()
                           || (::stat(targetPath().constData(), &output) == 0 && output.st_dev == m_copied.device
                               && output.st_ino == m_copied.inode);
    const bool written = writeJPEG(m_tempURL, targetPath(), &failure, overPhoto ? m_copied : platform::FileIdentity());
    const bool sidecar = !written || m_options.adjustmentData.isEmpty()
                         || writeAdjustmentData(m_options.adjustmentData, &failure);
    m_finished = true;
    delete m_source;
    m_source = nullptr;
    if (!written || !sidecar) {
        const QString message =
            QStringLiteral("%1\nThe working copy stays in “%2”.").arg(failure.description, m_tempURL);
        say(stderr, QStringLiteral("ERROR: ") + message);
        if (!m_options.script)
            QMessageBox::warning(this, written ? QStringLiteral("The adjustment data wasn't written")
                                               : QStringLiteral("The photo wasn't written"),
                                 message);
        QDialog::done(QDialog::Rejected);
        QCoreApplication::exit(Failed);
        return;
    }
    QDir(m_folder).removeRecursively();
    QDialog::done(QDialog::Accepted);
    QCoreApplication::exit(Written);
}

void PhotoEditingViewController::cancelContentEditing()
{
    m_finished = true;
    delete m_source;
    m_source = nullptr;
    say(stderr, QStringLiteral("Cancelled: “%1” is untouched; the working copy stays in “%2”.").arg(target(), m_tempURL));
    QDialog::done(QDialog::Rejected);
    QCoreApplication::exit(Cancelled);
}

void PhotoEditingViewController::readScriptAnswer()
{
    char chunk[256];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (count <= 0) {
        // The script went away without an answer.
        m_answers->setEnabled(false);
        done(QDialog::Rejected);
        return;
    }
    m_answerBuffer.append(chunk, count);
    qsizetype end;
    while ((end = m_answerBuffer.indexOf('\n')) >= 0) {
        const QByteArray answer = m_answerBuffer.left(end).trimmed();
        m_answerBuffer.remove(0, end + 1);
        if (answer == "done")
            done(QDialog::Accepted);
        else if (answer == "cancel")
            done(QDialog::Rejected);
        else if (!answer.isEmpty())
            say(stderr, QStringLiteral("Warning: Ignored the answer “%1”: say done or cancel.").arg(QString::fromLocal8Bit(answer)));
    }
}

bool PhotoEditingViewController::isJPEG(const QString &path)
{
    // Told by content, so a copy whose name and data disagree is converted.
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.format() == "jpeg";
}

bool PhotoEditingViewController::isJPEGName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.isEmpty()
           || platform::TypeTable::typeForExtension(suffix) == QLatin1String(platform::TypeTable::kJPEG);
}

bool PhotoEditingViewController::isJPEGOutputName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.compare(QLatin1String("jpg"), Qt::CaseInsensitive) == 0
           || suffix.compare(QLatin1String("jpeg"), Qt::CaseInsensitive) == 0;
}

QString PhotoEditingViewController::scriptName(const QString &name)
{
    QString line;
    line.reserve(name.size());
    for (const QChar c : name) {
        const char16_t code = c.unicode();
        // Line readers also break at NEL and the Unicode line and paragraph
        // separators: those go as their UTF-8 bytes, as the other C1 controls.
        if (code < 0x20 || code == 0x7f || c == QLatin1Char('%'))
            line += QStringLiteral("%%1").arg(code, 2, 16, QLatin1Char('0')).toUpper();
        else if ((code >= 0x80 && code < 0xa0) || code == 0x2028 || code == 0x2029)
            line += QString::fromLatin1(QString(c).toUtf8().toPercentEncoding());
        else
            line += c;
    }
    return line;
}

bool PhotoEditingViewController::writeJPEG(const QString &source, const QByteArray &targetPath, platform::Error *error,
                                           const platform::FileIdentity &original)
{
    if (!isJPEG(source))
        return convertImageAtURLToJPEGAtURL(source, targetPath, error, original);
    const QString target = QFile::decodeName(targetPath);
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        platform::setError(error, QStringLiteral("Couldn't read “%1”: %2").arg(source, in.errorString()));
        return false;
    }
    platform::ReplacingFile out(targetPath);
    out.replaceOnlyWhatWasRead(original);
    if (!out.open(QIODevice::WriteOnly)) {
        platform::setError(error, QStringLiteral("Couldn't write “%1”: %2").arg(target, out.errorString()));
        return false;
    }
    while (!in.atEnd()) {
        const QByteArray block = in.read(1 << 20);
        if (block.isEmpty() || out.write(block) != block.size()) {
            platform::setError(error, QStringLiteral("Couldn't copy “%1” to “%2”: %3")
                                          .arg(source, target, block.isEmpty() ? in.errorString() : out.errorString()));
            out.cancelWriting();
            return false;
        }
    }
    if (!out.commit()) {
        platform::setError(error, QStringLiteral("Couldn't write “%1”: %2").arg(target, out.errorString()));
        return false;
    }
    return true;
}

bool PhotoEditingViewController::convertImageAtURLToJPEGAtURL(const QString &source, const QByteArray &targetPath,
                                                              platform::Error *error,
                                                              const platform::FileIdentity &original)
{
    const QString target = QFile::decodeName(targetPath);
    QImageReader reader(source);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) {
        platform::setError(error,
                           QStringLiteral("Couldn't read the picture “%1”: %2").arg(source, reader.errorString()));
        return false;
    }
    if (image.hasAlphaChannel()) {
        // JPEG has no alpha: transparent parts go onto white, not black.
        QImage flat(image.size(), QImage::Format_RGB32);
        flat.setDevicePixelRatio(image.devicePixelRatio());
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
        painter.end();
        image = flat;
    }
    platform::ReplacingFile out(targetPath);
    out.replaceOnlyWhatWasRead(original);
    if (!out.open(QIODevice::WriteOnly)) {
        platform::setError(error, QStringLiteral("Couldn't write “%1”: %2").arg(target, out.errorString()));
        return false;
    }
    QImageWriter writer(&out, "jpeg");
    writer.setQuality(kJPEGQuality);
    if (!writer.write(image)) {
        platform::setError(error, QStringLiteral("Couldn't write “%1”: %2").arg(target, writer.errorString()));
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        platform::setError(error, QStringLiteral("Couldn't write “%1”: %2").arg(target, out.errorString()));
        return false;
    }
    return true;
}

bool PhotoEditingViewController::writeAdjustmentData(const QString &target, platform::Error *error)
{
    const QJsonObject adjustment{
        {QStringLiteral("formatIdentifier"), QString::fromLatin1(kAdjustmentFormatIdentifier)},
        {QStringLiteral("formatVersion"), QString::fromLatin1(kAdjustmentFormatVersion)},
        {QStringLiteral("data"), QString()}, // base64, empty: nothing is read back
    };
    platform::ReplacingFile out(target);
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(adjustment).toJson()) < 0 || !out.commit()) {
        platform::setError(
            error, QStringLiteral("Couldn't write the adjustment data “%1”: %2").arg(target, out.errorString()));
        return false;
    }
    return true;
}
