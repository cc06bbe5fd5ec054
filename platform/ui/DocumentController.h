#pragma once

#include "platform/Error.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>

class QWindow;

namespace platform {

class Document;

// Keeps the open documents: opening by URL (with a completion), untitled
// documents, the open panel, recent documents, the current document and the
// review of edited documents before quitting. The first controller made
// becomes the shared one; a subclass is installed by being made first.
class DocumentController : public QObject
{
    Q_OBJECT
public:
    // Document, whether it was already open, error (null on success).
    using OpenCompletion = std::function<void(Document *, bool, const Error &)>;

    static constexpr int kMaximumRecentDocumentCount = 10;
    static constexpr const char *kRecentDocumentsKey = "RecentDocumentURLs";

    explicit DocumentController(QObject *parent = nullptr);
    ~DocumentController() override;

    // The shared controller; made as a plain one when `create` and none exists.
    static DocumentController *sharedDocumentController(bool create = true);

    QList<Document *> documents() const;
    void addDocument(Document *document);
    void removeDocument(Document *document);
    Document *documentForURL(const QUrl &url) const;
    // The document whose window was activated last; windows without a
    // document (welcome, preferences) leave it as it was.
    Document *currentDocument() const;
    void setCurrentDocument(Document *document);
    bool hasEditedDocuments() const;

    // A new, empty document of the application's class (null by default).
    virtual Document *makeUntitledDocument(Error *error);
    // A new document read from the URL.
    virtual Document *makeDocumentWithContentsOfURL(const QUrl &url, const QString &type, Error *error);
    virtual QString typeForContentsOfURL(const QUrl &url) const;

    Document *openUntitledDocumentAndDisplay(bool display, Error *error);
    // Opens the URL (or brings its open document forward) and calls the
    // completion; a failure is handed to the completion, not presented.
    virtual void openDocumentWithContentsOfURL(const QUrl &url, bool display, OpenCompletion completion);
    // Opens each URL, presenting failures.
    void openDocumentsWithURLs(const QList<QUrl> &urls);
    // The Open command: the open panel, several files at once.
    void openDocument();
    virtual QStringList openableTypes() const;
    // The named filters of the Open panel; none by default (one from the types).
    virtual QStringList openPanelNameFilters() const { return {}; }

    QList<QUrl> recentDocumentURLs() const;
    void noteNewRecentDocumentURL(const QUrl &url);
    void clearRecentDocuments();

    // Asks about each edited document in turn; false when the user cancels
    // (the documents reviewed so far stay as they are).
    bool reviewUnsavedDocuments();
    // Closes every document without asking.
    void closeAllDocuments();

signals:
    void recentDocumentsChanged();
    void documentsChanged();

private:
    void focusWindowChanged(QWindow *window);
    int nextUntitledNumber() const;

    QList<QPointer<Document>> m_documents;
    QPointer<Document> m_current;
};

} // namespace platform
