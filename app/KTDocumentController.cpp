#include "app/KTDocumentController.h"

#include "app/XSDocument.h"
#include "platform/TypeTable.h"

#include <QCoreApplication>
#include <QPointer>

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

void KTDocumentController::openDocumentWithContentsOfURL(const QUrl &url, bool display, OpenCompletion completion)
{
    Document *current = currentDocument();
    const QString type = typeForContentsOfURL(url);

    if (type == QLatin1String(TypeTable::kTemplate) && m_templateRoute) {
        Document *target = m_templateRoute(url, current);
        completeLater(completion, target, Error{});
        return;
    }
    if (type == QLatin1String(TypeTable::kFrames) && m_frameArchiveRoute) {
        m_frameArchiveRoute(url, current);
        if (completion)
            completion(current, false, Error{});
        return;
    }

    auto *startup = qobject_cast<XSDocument *>(current);
    if (startup && startup->isDefaultImage() && !documentForURL(url)) {
        // The start-up document takes the URL only with the picture: a file
        // it could not show must never become the file it saves over.
        if (!startup->importImage(url)) {
            completeLater(completion, nullptr,
                          Error{QString::fromLatin1(kKanteloErrorDomain), 1,
                                QString::fromLatin1(XSDocument::kImageCouldNotBeOpened), {}, {}});
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
