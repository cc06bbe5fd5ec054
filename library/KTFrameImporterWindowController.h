#pragma once

#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/ui/WindowController.h"
#include "stores/KTFrameLibraryImporter.h"

#include <QLabel>
#include <QList>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QUrl>

#include <functional>

class Frame;
class FrameCollection;
class FrameSet;
class LibraryItem;

// The window of one frame archive opened with the program: the archive's
// name and icon, the import with its progress, and then the list of what
// the import added, grouped under headings, each item with a way to show it
// in the library. The controller lives until its window closes.
class KTFrameImporterWindowController : public platform::WindowController, public KTFrameLibraryImporterDelegate
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "KTFrameImporterWindowController";
    // A failed import ends in a state of its own: the window says why and
    // offers Close.
    enum State : quint64 { Ready = 0, Importing = 1, Done = 2, Failed = 3 };
    static constexpr double kGroupRowHeight = 21.0;
    static constexpr double kItemRowHeight = 50.0;
    static constexpr const char *kMissingFileMessage = "The selected file cannot be found";
    static constexpr const char *kMissingFileText = "Do you want to choose another file? ";
    static constexpr const char *kChooseAnotherButton = "Choose another file";
    static constexpr const char *kChooseMessage = "Choose a new frames archive to import";
    static constexpr const char *kImporterFailedLog = "Importer Failed with error: %1";
    static constexpr const char *kUnreadableText =
        "“%1” could not be read. It is not a frame archive, or it is damaged or incomplete.";
    static constexpr const char *kUnpackFailedText =
        "The frames in “%1” could not be unpacked. Make sure there is room on the disk, then try again.";
    static constexpr const char *kImportFailedText = "The frames in “%1” could not be added to your library.";

    // Where the import goes and how an item is shown in the library; the
    // application's delegate when not given.
    struct Services {
        std::function<platform::ManagedObjectContext *()> context;
        std::function<QString()> graphicsFolder;
        std::function<void(LibraryItem *)> showInLibrary;
    };

    explicit KTFrameImporterWindowController(const QUrl &url, Services services = {});
    ~KTFrameImporterWindowController() override;

    // Makes a controller for the archive and shows its window.
    static KTFrameImporterWindowController *openArchive(const QUrl &url, Services services = {});

    QUrl url() const { return m_url; }
    State state() const { return m_state; }

    void defaultButtonPressed();
    void cancelPressed();
    void revealFrameArchive();
    // A press in row `row` of the result list.
    void iconPreviewPressed(int row);

    // KTFrameLibraryImporterDelegate (main thread).
    void importerDidFinish(KTFrameLibraryImporter *importer) override;
    void importerFailedWithError(KTFrameLibraryImporter *importer, const platform::Error &error) override;
    void importerProgress(KTFrameLibraryImporter *importer, double progress) override;

    // The result list.
    int numberOfRows() const { return m_numberOfRows; }
    int collectionRows() const { return m_collectionRows; }
    int setRows() const { return m_setRows; }
    bool isGroupRow(int row) const;
    QString headingForRow(int row) const;
    LibraryItem *frameObjectForRow(int row) const;
    // The name shown in an item row: with its number of children when not 0.
    QString titleForRow(int row) const;

    QLabel *filePathLabel() const { return m_filePathLabel; }
    QLabel *summaryLabel() const { return m_summaryLabel; }
    // Why the import failed, in the user's words.
    QLabel *failureLabel() const { return m_failureLabel; }
    // The words for a failure of the archive `name`.
    static QString failureText(const platform::Error &error, const QString &name);
    QPushButton *defaultButton() const { return m_defaultButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QProgressBar *progressIndicator() const { return m_progressIndicator; }
    QTableWidget *tableView() const { return m_tableView; }
    QStackedWidget *tabView() const { return m_tabView; }

signals:
    void importEnded(bool succeeded);

protected:
    QWidget *loadWindow() override;
    void windowDidLoad() override;
    void windowWillClose() override;

private:
    void setState(State state);
    void startImport();
    void showArchive();
    // Asks for another archive when this one is gone; answers whether it was there.
    bool fileIsThereOrAsk();
    void loadImportedItemsFromImporter(KTFrameLibraryImporter *importer);
    void reloadTable();

    QUrl m_url;
    Services m_services;
    State m_state = Ready;
    QList<FrameCollection *> m_collections;
    QList<FrameSet *> m_sets;
    QList<Frame *> m_frames;
    int m_numberOfRows = 0;
    int m_collectionRows = 0;
    int m_setRows = 0;

    QPointer<QStackedWidget> m_tabView;
    QPointer<QPushButton> m_defaultButton;
    QPointer<QPushButton> m_cancelButton;
    QPointer<QPushButton> m_revealButton;
    QPointer<QLabel> m_filePathLabel;
    QPointer<QLabel> m_archiveIconImageView;
    QPointer<QLabel> m_summaryLabel;
    QPointer<QLabel> m_failureLabel;
    QPointer<QProgressBar> m_progressIndicator;
    QPointer<QTableWidget> m_tableView;
};
