#pragma once

#include "platform/ui/WindowController.h"
#include "stores/KTFrameLibraryExporter.h"

#include <QLabel>
#include <QList>
#include <QPointer>
#include <QProgressBar>
#include <QUrl>

#include <functional>
#include <memory>

class LibraryItem;

// Exports the library items chosen in the frame editor into a frame archive:
// a save panel that says what will be exported, then a progress sheet on the
// parent window while the exporter works in the background. The window is
// that sheet.
class KTFrameExporterWindowController : public platform::WindowController, public KTFrameLibraryExporterDelegate
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "KTFrameExporterWindowController";
    // What the completion handler receives.
    static constexpr int kCancelled = 0;
    static constexpr int kSucceeded = 1;
    static constexpr int kFailed = -1001;

    static constexpr const char *kSummaryFormat = "Exporting %1, %2, %3";
    static constexpr const char *kPrompt = "Export";
    static constexpr const char *kProgressText = "Exporting frames…";

    // The items are copied; sets and collections the archive needs as their
    // parents are found here.
    explicit KTFrameExporterWindowController(const QList<LibraryItem *> &items, QObject *parent = nullptr);
    ~KTFrameExporterWindowController() override;

    QList<LibraryItem *> items() const { return m_items; }
    QList<LibraryItem *> missingParentObjects() const { return m_missingParentObjects; }
    // Collections, sets and frames the export covers (counted when the window loads).
    quint64 totalItems() const { return m_totalItems; }
    QUrl url() const { return m_url; }
    bool isExporting() const { return m_exporter != nullptr; }

    // Asks for the destination, then exports with the sheet shown on
    // `parent`. The handler runs once, later on the main thread: kCancelled
    // when the save panel was cancelled, else kSucceeded or kFailed (the
    // failure shown to the user first).
    void beginSheetModalForWindow(QWidget *parent, std::function<void(int)> completionHandler);

    // The file name offered in the save panel; empty when there is none to offer.
    QString suggestedName() const;
    // Parents of the items not among them, in the order of the items.
    QList<LibraryItem *> missingParents() const;

    // The summary shown in the save panel and the sheet.
    QString informationText() const;
    QLabel *informationLabel() const { return m_informationLabel; }
    QLabel *progressLabel() const { return m_progressLabel; }
    QProgressBar *progressIndicator() const { return m_progressIndicator; }
    QWidget *savePanelAccessoryView() const { return m_savePanelAccessoryView; }

    // KTFrameLibraryExporterDelegate (main thread).
    void progressUpdated(const KTFrameLibraryExportProgress &progress) override;
    void exportFinished(bool succeeded) override;

protected:
    QWidget *loadWindow() override;
    void windowDidLoad() override;

private:
    void startExport();
    void endSheet(int returnCode);

    QList<LibraryItem *> m_items;
    QList<LibraryItem *> m_missingParentObjects;
    quint64 m_collections = 0;
    quint64 m_sets = 0;
    quint64 m_frames = 0;
    quint64 m_totalItems = 0;
    QUrl m_url;
    std::shared_ptr<KTFrameLibraryExporter> m_exporter;
    std::function<void(int)> m_completionHandler;

    QPointer<QWidget> m_progressSection;
    QPointer<QProgressBar> m_progressIndicator;
    QPointer<QLabel> m_progressLabel;
    QPointer<QLabel> m_informationLabel;
    QPointer<QWidget> m_savePanelAccessoryView;
    QPointer<QLabel> m_savePanelAccessoryViewTextField;
};
