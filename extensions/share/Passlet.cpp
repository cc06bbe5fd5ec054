#include "extensions/share/Passlet.h"

#include "platform/Bundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>
#include <QUuid>

namespace Passlet {

namespace {

constexpr const char *kNoSuchFile = "“%1” can’t be handed over: there is no such file.";
constexpr const char *kNotAFile = "“%1” can’t be handed over: it is no file.";
constexpr const char *kNotReadable = "“%1” can’t be handed over: it can’t be read.";
constexpr const char *kNothingOnClipboard = "The clipboard holds no picture and no files.";
constexpr const char *kPictureNotWritten = "The pasted picture couldn’t be written to “%1”: %2";
constexpr const char *kNoTiffWriter = "this system has no TIFF writer";

} // namespace

QString pastedPicturesFolder()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return QDir(cache.isEmpty() ? QDir::tempPath() : cache)
        .filePath(QStringLiteral("Kantelo/%1.Passlet").arg(platform::Bundle::identifier()));
}

bool checkReadable(const QStringList &paths, platform::Error *error)
{
    for (const QString &path : paths) {
        const QFileInfo info(path);
        const char *why = nullptr;
        if (!info.exists())
            why = kNoSuchFile;
        else if (!info.isFile())
            why = kNotAFile;
        else if (QFile file(path); !file.open(QIODevice::ReadOnly))
            why = kNotReadable;
        if (why) {
            platform::setError(error, QString::fromUtf8(why).arg(path));
            return false;
        }
    }
    return true;
}

QString writePastedPicture(const QImage &picture, platform::Error *error)
{
    const QString folder = pastedPicturesFolder();
    const QString path =
        QDir(folder).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".tiff"));
    auto fail = [&](const QString &why) {
        platform::setError(error, QString::fromUtf8(kPictureNotWritten).arg(path, why));
        return QString();
    };
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("the folder couldn’t be made"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    QImageWriter writer(&file, "tiff");
    if (!writer.canWrite())
        return fail(QString::fromUtf8(kNoTiffWriter));
    writer.setCompression(1); // LZW: lossless, a screenshot a fraction of its raw size
    if (!writer.write(picture))
        return fail(writer.errorString());
    if (!file.commit())
        return fail(file.errorString());
    return path;
}

QStringList filesFromClipboard(const QMimeData *data, platform::Error *error)
{
    QStringList files;
    if (data && data->hasUrls()) {
        for (const QUrl &url : data->urls()) {
            if (url.isLocalFile())
                files.append(url.toLocalFile());
        }
    }
    if (!files.isEmpty())
        return files;
    const QImage picture = data && data->hasImage() ? qvariant_cast<QImage>(data->imageData()) : QImage();
    if (picture.isNull()) {
        platform::setError(error, QString::fromUtf8(kNothingOnClipboard));
        return {};
    }
    const QString path = writePastedPicture(picture, error);
    return path.isEmpty() ? QStringList() : QStringList{path};
}

} // namespace Passlet
