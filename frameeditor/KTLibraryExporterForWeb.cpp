#include "frameeditor/KTLibraryExporterForWeb.h"

#include "kit/ImageAdditions.h"
#include "platform/Dispatch.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/ui/FilePanels.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/LibraryStore.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QPointer>
#include <QSaveFile>

#include <memory>

namespace {

// Room for "-icon.png" within the 255 bytes a file name may have.
constexpr qsizetype kMaximumComponentBytes = 240;
// Lines of a failed export shown before the rest is counted.
constexpr qsizetype kErrorsShown = 10;

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

bool makeFolder(const QString &path, QStringList *errors)
{
    if (QDir().mkpath(path))
        return true;
    errors->append(QObject::tr("Could not create the folder %1").arg(path));
    return false;
}

// An item without a picture writes nothing.
void writePNG(const QImage &image, const QString &path, QStringList *errors)
{
    if (image.isNull())
        return;
    const QByteArray data = VLKit::pngData(image);
    QSaveFile file(path);
    if (data.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        errors->append(QObject::tr("Could not write %1: %2").arg(path, file.errorString()));
}

} // namespace

KTLibraryExporterForWeb::KTLibraryExporterForWeb(LibraryStore *library, QObject *parent)
    : QObject(parent)
    , m_library(library)
{
}

KTLibraryExporterForWeb::~KTLibraryExporterForWeb() = default;

QString KTLibraryExporterForWeb::safePathComponent(const QString &name)
{
    QString clean;
    clean.reserve(name.size());
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            clean.append(QLatin1Char('-'));
        else if (c.unicode() >= 0x20 && c.unicode() != 0x7f)
            clean.append(c);
    }
    clean = clean.trimmed();
    if (clean.isEmpty())
        return QStringLiteral("Untitled");
    // No hidden names either (and so never "." or ".."): web servers refuse them.
    for (qsizetype i = 0; i < clean.size() && clean.at(i) == QLatin1Char('.'); ++i)
        clean[i] = QLatin1Char('_');
    while (clean.toUtf8().size() > kMaximumComponentBytes) {
        clean.chop(1);
        if (!clean.isEmpty() && clean.back().isHighSurrogate())
            clean.chop(1);
    }
    return clean;
}

QString KTLibraryExporterForWeb::rootFolderName()
{
    const QDate today = QDate::currentDate();
    return QString::fromLatin1(kRootFormat).arg(today.year()).arg(today.month()).arg(today.day());
}

void KTLibraryExporterForWeb::exportLibrary()
{
    platform::OpenPanelRequest request;
    request.title = tr("Choose the Folder for the Web Export");
    request.choosesDirectories = true;
    request.directory = platform::UserDefaults::standard().stringForKey(key(kExportPathKey));
    request.parent = QApplication::activeWindow();
    const QList<QUrl> chosen = platform::runOpenPanel(request);
    if (chosen.isEmpty()) {
        emit exportEnded(QString(), {});
        return;
    }
    platform::UserDefaults::standard().setObject(key(kExportPathKey), chosen.constLast().toLocalFile());
    startExportAtURL(chosen.constLast());
}

void KTLibraryExporterForWeb::exportCollectionToFolder(FrameCollection *collection, const QString &folder,
                                                       QStringList *errors)
{
    const QString path = QDir(folder).filePath(safePathComponent(collection->name()));
    if (!makeFolder(path, errors))
        return;
    writePNG(collection->iconImage(), QDir(path).filePath(key(kCollectionIconName)), errors);
    for (FrameSet *set : collection->framesets())
        exportFrameSetToFolder(set, path, errors);
}

void KTLibraryExporterForWeb::exportFrameSetToFolder(FrameSet *set, const QString &folder, QStringList *errors)
{
    const QString path = QDir(folder).filePath(safePathComponent(set->name()));
    if (!makeFolder(path, errors))
        return;
    writePNG(set->iconImage(), QDir(path).filePath(key(kSetIconName)), errors);
    for (Frame *frame : set->frames())
        exportFrameToFolder(frame, path, errors);
}

void KTLibraryExporterForWeb::exportFrameToFolder(Frame *frame, const QString &folder, QStringList *errors)
{
    const QString name = QString::fromLatin1(kFrameIconFormat).arg(safePathComponent(frame->name()));
    writePNG(frame->iconImage(), QDir(folder).filePath(name), errors);
}

void KTLibraryExporterForWeb::startExportAtURL(const QUrl &folder)
{
    const QString root = QDir(folder.toLocalFile()).filePath(rootFolderName());
    platform::ManagedObjectContext *main = m_library ? m_library->managedObjectContext() : nullptr;
    if (folder.toLocalFile().isEmpty() || !main) {
        const QStringList errors{tr("There is no folder or no library to export.")};
        platform::presentError(platform::describedError(errors.first()));
        emit exportEnded(root, errors);
        return;
    }
    // The child is ended on the main thread that made it, never by its own.
    struct Run {
        std::unique_ptr<platform::ManagedObjectContext> child;
    };
    auto run = std::make_shared<Run>();
    run->child = main->newChildContext();
    QPointer<KTLibraryExporterForWeb> self = this;
    std::function<void(const QString &)> open = m_openFolder;
    run->child->perform([run, root, self, open] {
        QStringList errors;
        if (makeFolder(root, &errors)) {
            const auto collections =
                run->child->fetchObjects<FrameCollection>({}, {platform::SortDescriptor(QStringLiteral("name"))});
            for (FrameCollection *collection : collections)
                exportCollectionToFolder(collection, root, &errors);
        }
        platform::runOnMainThread([run, root, errors, self, open] {
            run->child.reset();
            if (!errors.isEmpty()) {
                QString text = errors.mid(0, kErrorsShown).join(QLatin1Char('\n'));
                if (errors.size() > kErrorsShown)
                    text += tr("\n…and %1 more").arg(errors.size() - kErrorsShown);
                platform::Error error = platform::describedError(tr("The web export into %1 is incomplete.").arg(root));
                error.recoverySuggestion = text;
                platform::presentError(error);
            } else if (open) {
                open(root);
            }
            if (self)
                emit self->exportEnded(root, errors);
        }, false);
    });
}
