#include "app/KTDocumentController.h"

#include "app/XSDocument.h"
#include "design/KTTemplate.h"
#include "kit/VLLongProcess.h"
#include "platform/Alert.h"
#include "platform/FileWrapper.h"
#include "platform/Log.h"
#include "platform/TemporaryFolders.h"
#include "platform/TypeTable.h"
#include "platform/ui/FilePanels.h"
#include "stores/KTFrameLibraryImporter.h"
#include "stores/LibraryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSemaphore>

#include <cmath>

using namespace platform;

namespace {

// Completions of the routes that reuse a document run on a later pass.
void completeLater(const DocumentController::OpenCompletion &completion, Document *doc, const Error &error)
{
    if (!completion)
        return;
    QPointer<Document> target(doc);
    QMetaObject::invokeMethod(QCoreApplication::instance(), [completion, target, error] {
        completion(target.data(), false, error);
    }, Qt::QueuedConnection);
}

Error kanteloError(const QString &description)
{
    return Error{QString::fromLatin1(kKanteloErrorDomain), 1, description, {}, {}};
}

// One frame archive going into the library: the importer reports to it on
// the main thread, while a long process waits for the end so that its
// progress panel shows when the import takes a while.
struct FrameArchiveImport : KTFrameLibraryImporterDelegate {
    QUrl url;
    QPointer<KTDocumentController> controller;
    std::shared_ptr<VLLongProcess> process;
    std::shared_ptr<KTFrameLibraryImporter> importer;
    QSemaphore ended;
    bool succeeded = false;
    Error error;

    void importerDidFinish(KTFrameLibraryImporter *) override
    {
        succeeded = true;
        ended.release();
    }
    void importerFailedWithError(KTFrameLibraryImporter *, const Error &failure) override
    {
        error = failure;
        ended.release();
    }
    void importerProgress(KTFrameLibraryImporter *, double progress) override
    {
        if (process)
            process->setProgressCount(qint64(std::lround(std::clamp(progress, 0.0, 1.0) * 100)));
    }

    void report()
    {
        const QString name = QFileInfo(url.toLocalFile()).completeBaseName();
        if (succeeded) {
            AlertRequest request;
            request.style = AlertRequest::Style::Informational;
            request.messageText = QString::fromLatin1(KTDocumentController::kFramesImportedMessage);
            request.informativeText = KTDocumentController::framesImportedText(
                name, importer->importedCollectionIDs().size(), importer->importedSetIDs().size(),
                importer->importedFrameIDs().size(), importer->updatedCollectionIDs().size(),
                importer->updatedSetIDs().size(), importer->updatedFrameIDs().size());
            runAlert(request);
        } else {
            logLine(QString::fromLatin1(KTDocumentController::kImporterFailedLog).arg(error.description));
            // The alert says which archive failed.
            Error shown = error;
            const QString file = QFileInfo(url.toLocalFile()).fileName();
            if (!shown.description.contains(file))
                shown.description = QStringLiteral("The frame archive “%1” could not be imported. %2").arg(file, shown.description);
            shown.userInfo.insert(QStringLiteral("NSFilePath"), url.toLocalFile());
            presentError(shown);
        }
        if (controller)
            emit controller->frameArchiveImportEnded(url, succeeded);
    }
};

} // namespace

KTDocumentController::KTDocumentController(QObject *parent)
    : DocumentController(parent)
{
}

KTDocumentController::~KTDocumentController() = default;

KTDocumentController *KTDocumentController::sharedDocumentController()
{
    if (DocumentController *existing = DocumentController::sharedDocumentController(false))
        return qobject_cast<KTDocumentController *>(existing);
    return new KTDocumentController(QCoreApplication::instance());
}

Document *KTDocumentController::makeUntitledDocument(Error *)
{
    return new XSDocument;
}

QStringList KTDocumentController::openableTypes() const
{
    return {QString::fromLatin1(TypeTable::kImage), QString::fromLatin1(TypeTable::kPDF),
            QString::fromLatin1(TypeTable::kTemplate), QString::fromLatin1(TypeTable::kFrames)};
}

QStringList KTDocumentController::openPanelNameFilters() const
{
    auto named = [](const QString &name, const QStringList &types) {
        return name + QLatin1Char(' ') + platform::fileDialogFilter(types);
    };
    return {named(tr("Images"), {QString::fromLatin1(TypeTable::kImage), QString::fromLatin1(TypeTable::kPDF)}),
            named(tr("Designs"), {QString::fromLatin1(TypeTable::kTemplate)}),
            named(tr("Frame archives"), {QString::fromLatin1(TypeTable::kFrames)}), tr("All files (*)")};
}

void KTDocumentController::openDocumentWithContentsOfURL(const QUrl &url, bool display, OpenCompletion completion)
{
    Document *current = currentDocument();
    const QString design =
        url.isLocalFile() ? m_designsForFiles.take(QFileInfo(url.toLocalFile()).absoluteFilePath()) : QString();

    if (KTTemplate::isTemplateAtURL(url)) {
        openTemplatePackage(url, std::move(completion));
        return;
    }
    if (typeForContentsOfURL(url) == QLatin1String(TypeTable::kFrames)) {
        if (m_frameArchiveRoute)
            m_frameArchiveRoute(url, current);
        else
            importFrameArchive(url);
        if (completion)
            completion(current, false, Error{});
        return;
    }

    // A design named with this photo goes on it once it shows (a design file
    // or an archive has no photo to put it on).
    if (!design.isEmpty()) {
        completion = [completion = std::move(completion), design](Document *doc, bool alreadyOpen, const Error &error) {
            if (auto *photo = qobject_cast<XSDocument *>(doc); photo && error.isNull())
                photo->applyDesignNamed(design);
            if (completion)
                completion(doc, alreadyOpen, error);
        };
    }

    auto *startup = qobject_cast<XSDocument *>(current);
    if (startup && startup->isDefaultImage() && !documentForURL(url)) {
        // The start-up document takes the URL only with the picture: a file
        // it could not show must never become the file it saves over.
        Error openError;
        if (!startup->readFromURL(url, QString(), &openError) || !startup->importImage(url)) {
            completeLater(completion, nullptr,
                          openError.isNull() ? kanteloError(QString::fromLatin1(XSDocument::kImageCouldNotBeOpened))
                                             : openError);
            return;
        }
        startup->setFileURL(url);
        noteNewRecentDocumentURL(url);
        if (display)
            startup->showWindows();
        completeLater(completion, startup, Error{});
        return;
    }

    DocumentController::openDocumentWithContentsOfURL(url, display, std::move(completion));
}

void KTDocumentController::applyDesignWhenOpened(const QList<QUrl> &urls, const QString &designName)
{
    for (const QUrl &url : urls) {
        if (url.isLocalFile() && !designName.isEmpty())
            m_designsForFiles.insert(QFileInfo(url.toLocalFile()).absoluteFilePath(), designName);
    }
}

void KTDocumentController::openTemplatePackage(const QUrl &url, OpenCompletion completion)
{
    const std::optional<FileWrapper> wrapper = KTTemplate::fileWrapperForURL(url);
    const std::shared_ptr<KTTemplate> design =
        wrapper ? KTTemplate::templateFromFileWrapper(*wrapper, LibraryStore::sharedContext()) : nullptr;
    const QUrl imageURL = wrapper ? imageURLFromFileWrapper(*wrapper) : QUrl();
    // The photo's copy is read into memory by the import; its folder goes
    // whatever happens next.
    struct RemoveFolder {
        QString path;
        ~RemoveFolder()
        {
            if (!path.isEmpty())
                QDir(path).removeRecursively();
        }
    } removeFolder{imageURL.isEmpty() ? QString() : QFileInfo(imageURL.toLocalFile()).absolutePath()};

    // A package with nothing usable in it changes no window.
    if (!design && imageURL.isEmpty()) {
        completeLater(completion, nullptr,
                      kanteloError(QString::fromUtf8(kTemplateCouldNotBeRead).arg(QFileInfo(url.toLocalFile()).fileName())));
        return;
    }

    auto *target = qobject_cast<XSDocument *>(currentDocument());
    if (!target || target->isDocumentEdited()) {
        Error error;
        target = qobject_cast<XSDocument *>(openUntitledDocumentAndDisplay(true, &error));
        if (!target) {
            completeLater(completion, nullptr, error);
            return;
        }
    }

    if (!imageURL.isEmpty()) {
        target->importImage(imageURL);
        // The framed result is never saved over the temporary copy.
        target->setFileURL(QUrl());
    }
    if (design) {
        target->replaceTemplateWith(design);
        noteNewRecentDocumentURL(url);
    }
    if (!imageURL.isEmpty() || target->isDefaultImage())
        target->updateChangeCount(Document::ChangeKind::Cleared);
    completeLater(completion, target, Error{});
}

QUrl KTDocumentController::imageURLFromFileWrapper(const FileWrapper &wrapper) const
{
    const FileWrapper *folder = wrapper.entry(QString::fromLatin1(KTTemplate::kImageEntry));
    if (!folder || !folder->isDirectory())
        return {};
    // The folder holds the one photo; the first file in it is taken.
    QString name;
    const FileWrapper *photo = nullptr;
    for (const QString &entryName : folder->entryNames()) {
        const FileWrapper *entry = folder->entry(entryName);
        if (entry && entry->isRegularFile()) {
            name = entryName;
            photo = entry;
            break;
        }
    }
    if (!photo)
        return {};

    const QString temporary = platform::TemporaryFolders::makeFolder();
    if (temporary.isEmpty())
        return {};
    const QString path = temporary + QLatin1Char('/') + name;
    if (!photo->writeToPath(path)) {
        QDir(temporary).removeRecursively();
        return {};
    }
    return QUrl::fromLocalFile(path);
}

void KTDocumentController::importFrameArchive(const QUrl &url)
{
    LibraryStore *library = LibraryStore::shared();
    ManagedObjectContext *context = library ? library->managedObjectContext() : nullptr;
    if (!context) {
        presentError(kanteloError(QString::fromUtf8(kNoLibraryText).arg(QFileInfo(url.toLocalFile()).fileName())));
        emit frameArchiveImportEnded(url, false);
        return;
    }
    const QString graphics = library->framesGraphicsFolder();
    QDir().mkpath(graphics);

    auto import = std::make_shared<FrameArchiveImport>();
    import->url = url;
    import->controller = this;
    import->process = std::make_shared<VLLongProcess>();
    import->process->setTotalCount(100);
    import->process->setWindowTitle(QString::fromLatin1(kFramesImportTitle));
    import->process->setProgressStringFormat(QString::fromLatin1(kFramesImportProgress));
    import->process->setWindowPopUpDelay(kFramesImportPopUpDelay);
    import->process->setProcessFinishedBlock([import] {
        // Reported on a later pass: the worker that waited is let go first.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [import] {
            import->report();
            // Ends the circle of the import and its process.
            import->process.reset();
            import->importer.reset();
        }, Qt::QueuedConnection);
    });
    import->importer = std::make_shared<KTFrameLibraryImporter>(url, QUrl::fromLocalFile(graphics), context);
    import->importer->setDelegate(import.get());
    FrameArchiveImport *waiting = import.get();
    import->process->runInBackground([waiting] { waiting->ended.acquire(); });
    import->importer->startImport();
}

QString KTDocumentController::framesImportedText(const QString &name, qsizetype collections, qsizetype sets,
                                                 qsizetype frames, qsizetype updatedCollections, qsizetype updatedSets,
                                                 qsizetype updatedFrames)
{
    auto counted = [](const QString &sentence, qsizetype c, qsizetype s, qsizetype f) {
        return sentence.arg(tr("%n collection(s)", nullptr, int(c)), tr("%n set(s)", nullptr, int(s)),
                            tr("%n frame(s)", nullptr, int(f)));
    };
    const bool updated = updatedCollections + updatedSets + updatedFrames > 0;
    if (updated && collections + sets + frames == 0)
        return counted(tr(kFramesUpdatedText).arg(name), updatedCollections, updatedSets, updatedFrames);
    QString text = counted(tr(kFramesImportedText).arg(name), collections, sets, frames);
    if (updated)
        text += QLatin1Char(' ') + counted(tr(kFramesAlsoUpdatedText), updatedCollections, updatedSets, updatedFrames);
    return text;
}
