#pragma once

#include "platform/ui/DocumentController.h"

#include <functional>

// The application's document controller: routes each opened file by kind.
// A photo goes into the untitled start-up document while that still shows
// the start-up picture, anything else opens as a document of its own.
// Design templates and frame archives are handed to their own routes.
class KTDocumentController : public platform::DocumentController
{
    Q_OBJECT
public:
    // Takes the URL and the document the user is working in (may be null)
    // and answers the document that took it, or null.
    using Route = std::function<platform::Document *(const QUrl &url, platform::Document *current)>;

    explicit KTDocumentController(QObject *parent = nullptr);
    ~KTDocumentController() override;

    // The shared controller, made as this class when none exists yet.
    static KTDocumentController *sharedDocumentController();

    platform::Document *makeUntitledDocument(platform::Error *error) override;
    void openDocumentWithContentsOfURL(const QUrl &url, bool display, OpenCompletion completion) override;
    QStringList openableTypes() const override;

    void setTemplateRoute(Route route) { m_templateRoute = std::move(route); }
    void setFrameArchiveRoute(Route route) { m_frameArchiveRoute = std::move(route); }

private:
    Route m_templateRoute;
    Route m_frameArchiveRoute;
};
