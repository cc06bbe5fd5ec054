#pragma once

#include "platform/ui/DocumentController.h"

#include <QHash>

#include <functional>

namespace platform {
class FileWrapper;
}

// The application's document controller: routes each opened file by kind.
// A design template package goes into a document, a frame archive into the
// library, a photo into the untitled start-up document while that still
// shows the start-up picture; anything else opens as a document of its own.
class KTDocumentController : public platform::DocumentController
{
    Q_OBJECT
public:
    // Takes the URL and the document the user is working in (may be null)
    // and answers the document that took it, or null.
    using Route = std::function<platform::Document *(const QUrl &url, platform::Document *current)>;

    static constexpr const char *kTemplateCouldNotBeRead = "The design template “%1” could not be read.";
    static constexpr const char *kFramesImportTitle = "Importing frames";
    static constexpr const char *kFramesImportProgress = "Progress: %d%%";
    static constexpr const char *kFramesImportedMessage = "Frames imported";
    static constexpr const char *kFramesImportedText = "“%1” added %2, %3 and %4 to your library.";
    static constexpr const char *kFramesUpdatedText = "“%1” updated %2, %3 and %4 in your library.";
    static constexpr const char *kFramesAlsoUpdatedText = "It updated %1, %2 and %3.";
    // The sentences above for an archive's name and its counts of items
    // added, and of items the library had that it changed.
    static QString framesImportedText(const QString &name, qsizetype collections, qsizetype sets, qsizetype frames,
                                      qsizetype updatedCollections = 0, qsizetype updatedSets = 0,
                                      qsizetype updatedFrames = 0);
    static constexpr const char *kImporterFailedLog = "Importer Failed with error: %1";
    static constexpr const char *kNoLibraryText = "There is no frame library to import “%1” into.";
    static constexpr double kFramesImportPopUpDelay = 0.5;

    explicit KTDocumentController(QObject *parent = nullptr);
    ~KTDocumentController() override;

    // The shared controller, made as this class when none exists yet.
    static KTDocumentController *sharedDocumentController();

    platform::Document *makeUntitledDocument(platform::Error *error) override;
    void openDocumentWithContentsOfURL(const QUrl &url, bool display, OpenCompletion completion) override;
    QStringList openableTypes() const override;
    // "Images" (every photo type the decoders read), "Designs", "Frame archives", "All files".
    QStringList openPanelNameFilters() const override;

    // The photo inside a template package, written to a fresh temporary
    // folder of its own; empty when the package has none or writing fails.
    QUrl imageURLFromFileWrapper(const platform::FileWrapper &wrapper) const;

    // The archive import window takes frame archives once it exists; until
    // then they are imported into the library directly.
    void setFrameArchiveRoute(Route route) { m_frameArchiveRoute = std::move(route); }

    // The saved design named with these files (at start, or handed over by a
    // later start) goes on them when they open, and on no other file.
    void applyDesignWhenOpened(const QList<QUrl> &urls, const QString &designName);

signals:
    // A frame archive opened here ended its import (tests wait on it).
    void frameArchiveImportEnded(const QUrl &url, bool succeeded);

private:
    void openTemplatePackage(const QUrl &url, OpenCompletion completion);
    void importFrameArchive(const QUrl &url);

    Route m_frameArchiveRoute;
    QHash<QString, QString> m_designsForFiles; // absolute path -> design name
};
