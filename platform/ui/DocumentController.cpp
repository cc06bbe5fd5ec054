#include "platform/ui/DocumentController.h"

#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Document.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/WindowController.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

namespace platform {

namespace {
QPointer<DocumentController> g_shared;
}

DocumentController::DocumentController(QObject *parent)
    : QObject(parent)
{
    if (!g_shared)
        g_shared = this;
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::focusWindowChanged, this, &DocumentController::focusWindowChanged);
}

DocumentController::~DocumentController()
{
    if (g_shared == this)
        g_shared = nullptr;
}

DocumentController *DocumentController::sharedDocumentController(bool create)
{
    if (!g_shared && create)
        new DocumentController(QCoreApplication::instance());
    return g_shared.data();
}

QList<Document *> DocumentController::documents() const
{
    QList<Document *> out;
    for (const auto &doc : m_documents) {
        if (doc)
            out.append(doc.data());
    }
    return out;
}

int DocumentController::nextUntitledNumber() const
{
    int highest = 0;
    for (Document *doc : documents()) {
        if (doc->fileURL().isEmpty())
            highest = std::max(highest, doc->untitledNumber());
    }
    return highest + 1;
}

void DocumentController::addDocument(Document *document)
{
    if (!document || documents().contains(document))
        return;
    if (document->fileURL().isEmpty() && document->untitledNumber() == 0)
        document->setUntitledNumber(nextUntitledNumber());
    m_documents.append(document);
    if (!m_current)
        m_current = document;
    disconnect(document, &Document::closing, this, nullptr);
    connect(document, &Document::closing, this, [this, document] { removeDocument(document); });
    emit documentsChanged();
}

void DocumentController::removeDocument(Document *document)
{
    m_documents.removeAll(document);
    if (m_current == document)
        m_current = m_documents.isEmpty() ? nullptr : m_documents.constLast();
    emit documentsChanged();
}

Document *DocumentController::documentForURL(const QUrl &url) const
{
    if (url.isEmpty())
        return nullptr;
    const QString path = url.isLocalFile() ? QFileInfo(url.toLocalFile()).canonicalFilePath() : QString();
    for (Document *doc : documents()) {
        if (doc->fileURL() == url)
            return doc;
        if (!path.isEmpty() && doc->fileURL().isLocalFile()
            && QFileInfo(doc->fileURL().toLocalFile()).canonicalFilePath() == path)
            return doc;
    }
    return nullptr;
}

Document *DocumentController::currentDocument() const
{
    return m_current.data();
}

void DocumentController::setCurrentDocument(Document *document)
{
    m_current = document;
}

void DocumentController::focusWindowChanged(QWindow *window)
{
    if (!window)
        return;
    for (Document *doc : documents()) {
        for (WindowController *controller : doc->windowControllers()) {
            if (controller->isWindowLoaded() && controller->window()
                && controller->window()->windowHandle() == window) {
                m_current = doc;
                return;
            }
        }
    }
}

bool DocumentController::hasEditedDocuments() const
{
    for (Document *doc : documents()) {
        if (doc->isDocumentEdited())
            return true;
    }
    return false;
}

Document *DocumentController::makeUntitledDocument(Error *error)
{
    if (error)
        *error = Error{QString::fromLatin1(kKanteloErrorDomain), 1, QStringLiteral("No document can be made."), {}, {}};
    return nullptr;
}

Document *DocumentController::makeDocumentWithContentsOfURL(const QUrl &url, const QString &type, Error *error)
{
    Document *doc = makeUntitledDocument(error);
    if (!doc)
        return nullptr;
    doc->setFileURL(url);
    doc->setFileType(type);
    if (!doc->readFromURL(url, type, error)) {
        delete doc;
        return nullptr;
    }
    return doc;
}

QString DocumentController::typeForContentsOfURL(const QUrl &url) const
{
    return url.isLocalFile() ? TypeTable::typeForFile(url.toLocalFile()) : QString();
}

Document *DocumentController::openUntitledDocumentAndDisplay(bool display, Error *error)
{
    Document *doc = makeUntitledDocument(error);
    if (!doc)
        return nullptr;
    addDocument(doc);
    doc->makeWindowControllers();
    if (display)
        doc->showWindows();
    return doc;
}

void DocumentController::openDocumentWithContentsOfURL(const QUrl &url, bool display, OpenCompletion completion)
{
    if (Document *open = documentForURL(url)) {
        if (display)
            open->showWindows();
        if (completion)
            completion(open, true, Error{});
        return;
    }
    Error error;
    if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isFile()) {
        const bool folder = QFileInfo(url.toLocalFile()).isDir();
        error = Error{QString::fromLatin1(kKanteloErrorDomain), 1,
                      (folder ? QStringLiteral("The file “%1” couldn’t be opened because it is a folder.")
                              : QStringLiteral("The file “%1” couldn’t be opened because there is no such file."))
                          .arg(url.fileName()),
                      {}, {}};
        if (completion)
            completion(nullptr, false, error);
        return;
    }
    Document *doc = makeDocumentWithContentsOfURL(url, typeForContentsOfURL(url), &error);
    if (!doc) {
        if (completion)
            completion(nullptr, false, error);
        return;
    }
    addDocument(doc);
    doc->makeWindowControllers();
    if (display)
        doc->showWindows();
    noteNewRecentDocumentURL(url);
    if (completion)
        completion(doc, false, Error{});
}

void DocumentController::openDocumentsWithURLs(const QList<QUrl> &urls)
{
    for (const QUrl &url : urls) {
        openDocumentWithContentsOfURL(url, true, [](Document *, bool, const Error &error) {
            if (!error.isNull())
                presentError(error);
        });
    }
}

QStringList DocumentController::openableTypes() const
{
    return {};
}

void DocumentController::openDocument()
{
    OpenPanelRequest request;
    request.allowsMultipleSelection = true;
    request.allowedTypes = openableTypes();
    request.nameFilters = openPanelNameFilters();
    if (Document *doc = currentDocument())
        request.parent = doc->windowForSheet();
    const QList<QUrl> urls = runOpenPanel(request);
    openDocumentsWithURLs(urls);
}

QList<QUrl> DocumentController::recentDocumentURLs() const
{
    QList<QUrl> out;
    const QVariantList stored = UserDefaults::standard().arrayForKey(QString::fromLatin1(kRecentDocumentsKey));
    for (const QVariant &value : stored) {
        const QUrl url(value.toString());
        if (url.isValid() && !url.isEmpty())
            out.append(url);
    }
    return out;
}

void DocumentController::noteNewRecentDocumentURL(const QUrl &url)
{
    if (url.isEmpty())
        return;
    QList<QUrl> urls = recentDocumentURLs();
    urls.removeAll(url);
    urls.prepend(url);
    while (urls.size() > kMaximumRecentDocumentCount)
        urls.removeLast();
    QVariantList stored;
    for (const QUrl &u : urls)
        stored.append(u.toString());
    UserDefaults::standard().setObject(QString::fromLatin1(kRecentDocumentsKey), stored);
    emit recentDocumentsChanged();
}

void DocumentController::clearRecentDocuments()
{
    UserDefaults::standard().removeObject(QString::fromLatin1(kRecentDocumentsKey));
    emit recentDocumentsChanged();
}

bool DocumentController::reviewUnsavedDocuments()
{
    for (Document *doc : documents()) {
        if (!doc->isDocumentEdited())
            continue;
        doc->showWindows();
        if (!doc->canClose())
            return false;
    }
    return true;
}

void DocumentController::closeAllDocuments()
{
    for (Document *doc : documents())
        doc->close();
}

} // namespace platform
