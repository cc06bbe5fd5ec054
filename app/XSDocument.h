#pragma once

#include "app/KTDesignDocumentInterface.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/SavePanel.h"
#include "platform/ui/Document.h"

#include <QDateTime>
#include <QPair>
#include <QPointer>
#include <QSize>

#include <memory>

namespace platform {
class ManagedObjectContext;
}
class KTLayersPaletteInterface;
class KTSavePanelAccessoryViewController;
class QPrinter;
class KTTemplate;
class VLImage;
class VLProcessArguments;

// The one kind of document: one photo inside one design. It owns the design,
// imports the photo as the design's image layer and counts every model or
// layer change of its design as an edit.
class XSDocument : public platform::Document, public KTDesignDocumentInterface
{
    Q_OBJECT
public:
    static constexpr const char *kStartupImageName = "Startup_image";
    static constexpr const char *kStartupImageExtension = "jpg";
    static constexpr const char *kStartupImageFileName = "Startup_image.jpg";
    static constexpr const char *kImageCouldNotBeOpened = "Image could not be opened";

    explicit XSDocument(QObject *parent = nullptr);
    ~XSDocument() override;

    std::shared_ptr<KTTemplate> docTemplate() const override { return m_docTemplate; }
    // The window's layers palette controller, once the window is loaded.
    QObject *layersPaletteController() const { return m_layersPaletteController.data(); }
    bool isDefaultImage() const override { return m_isDefaultImage; }

    void makeWindowControllers() override;
    // The window is ready: the photo (or the start-up picture) goes in, then
    // change tracking starts.
    void windowControllerDidLoadNib(platform::WindowController *controller) override;

    // Only checks that the file decodes; the photo is imported with the window.
    bool readFromURL(const QUrl &url, const QString &type, platform::Error *error) override;
    // Answers whether the design took the picture.
    bool importImage(const QUrl &url) override;
    void markAsDirty(const platform::Notification &notification);
    void replaceTemplateWith(const std::shared_ptr<KTTemplate> &other) override;

    QStringList writableTypes() const override;

    // The Print command: the framed picture at its own size, outer shadow
    // included, fitted to the page without margins, after the print dialog.
    void printDocument();
    // The picture printed, and its drawing onto a set-up printer.
    QImage printImage() const;
    void printOnPrinter(QPrinter &printer) const;

    // --- the design's own commands ---
    // The design report as a PDF, shown with the desktop's viewer.
    void generateDesignReport();
    // Asks where to write the design as a template package.
    void saveTemplate();
    // Takes the design of a chosen package; an unreadable one changes nothing.
    void replaceTemplateFromFile();
    // Stores the chosen packages among the saved designs of `context`.
    void importTemplate(platform::ManagedObjectContext *context);

    // --- saving the framed image ---
    static constexpr const char *kLastSaveURLKey = "LastSaveURL";
    enum class SaveOperation { Save, SaveAs };

    // The accessory of this document's save panels, made on first use.
    KTSavePanelAccessoryViewController *savePanelAccessoryViewController();
    // The panel of the save being prepared, until writing starts.
    platform::SavePanel *savePanel() const { return m_savePanel.data(); }
    // Sets the panel up: accepted extensions, accessory, format, quality,
    // resolution and size, the proposed name and the folder.
    bool prepareSavePanel(platform::SavePanel *panel);
    // Remembers the folder, takes the accessory's type for Save As, writes,
    // and on success makes the file the document's own.
    bool saveToURL(const QUrl &url, const QString &type, SaveOperation operation, platform::Error *error);
    // The framed image at the accessory's size (the framed size of the photo
    // when no panel chose one), as the type.
    bool writeToURL(const QUrl &url, const QString &type, platform::Error *error) override;
    // The drag-out: the framed image at `size` (the photo's size when empty)
    // in the format of the index.
    bool saveToURL(const QUrl &url, const QSizeF &size, int formatIndex, platform::Error *error = nullptr);
    bool writeFramedPicture(const QUrl &url, const QSizeF &lastDrawnSize, int formatIndex,
                            platform::Error *error) override;
    QUrl writeFramedPictureFile(const QSizeF &lastDrawnSize, int formatIndex = -1,
                                platform::Error *error = nullptr) override;
    // A type the encoders cannot write (HEIC, GIF, WebP...) asks where to save.
    // The first plain Save over the photo the document was opened on asks
    // before the framed picture replaces it.
    bool saveDocument(platform::Error *error) override;
    static constexpr const char *kReplaceOriginalQuestion = "Replace the original photo with the framed picture?";
    static constexpr const char *kReplaceOriginalText =
        "“%1” will be overwritten with the framed picture. The original photo and the design cannot be recovered from it.";
    // A file another program wrote since the document read or saved it.
    static constexpr const char *kChangedOnDiskQuestion = "“%1” has been changed by another program.";
    static constexpr const char *kChangedOnDiskText =
        "It changed after Kantelo opened or saved it. Replacing it with the framed picture loses those changes.";
    static constexpr const char *kReplaceOriginalSaveAs = "Save As…";
    static constexpr const char *kReplaceOriginalReplace = "Replace";
    static constexpr const char *kReplaceOriginalCancel = "Cancel";
    bool saveDocumentAs(platform::Error *error) override;
    // The menu commands: a failure is shown to the user.
    void saveDocumentFromMenu();
    void saveDocumentAsFromMenu();

    static QString exportExtensionFromPreferences();
    // The name less its extension, changed by the name rule of the defaults,
    // with the preferred format's extension when asked.
    static QString createExportFileNameAndAddExtension(const QString &name, bool addExtension);

    // Renders the design at `size` pixels off the main thread behind a
    // progress window that shows after `popUpDelay` seconds, writes it to the
    // file as the type (replacing it atomically), and returns once written.
    // The main thread keeps handling events meanwhile. False with the reason
    // when nothing was written; the old file is then untouched.
    bool renderAndWrite(const QUrl &url, const QString &uti, QSize size, double popUpDelay,
                        platform::Error *error);
    // --- end of saving the framed image ---

    // --- command-line run ---
    static constexpr const char *kTemplateNotFound = "Template not found";
    static constexpr const char *kTemplateNamedNotFound = "Template named '%1' not found";
    static constexpr const char *kTemplateNamedUnreadable = "Template named '%1' could not be read";
    // Applies the saved design named by -template=NAME. Runs once the window
    // has loaded (and once the first-run import of the built-in designs is done).
    // The program's own arguments do not count here: the design named at
    // start goes on the files named with it (applyDesignNamed, through the
    // document controller), not on every photo.
    void processArguments(const VLProcessArguments &options);
    // Puts the saved design of that name around the photo, or says it isn't there.
    void applyDesignNamed(const QString &name);
    // --- end of command-line run ---

signals:
    void imageImported();

private:
    void observeTemplate();
    // Puts the other design's layers and settings into this one and the strip.
    void takeDesignFrom(const std::shared_ptr<KTTemplate> &other);
    friend class KTApplyDesignCommand;
    KTLayersPaletteInterface *palette() const;

    std::shared_ptr<KTTemplate> m_docTemplate;
    // The photo the open decoded, until the import takes it.
    std::shared_ptr<VLImage> m_openedImage;
    QString m_openedPath;
    bool m_isDefaultImage = false;
    // The photo file the document was opened on, until a save replaced it.
    QUrl m_originalPhotoURL;
    // The document's file as last read or written here: its time and size.
    void noteFileOnDisk();
    bool fileChangedOnDisk() const;
    QPair<QDateTime, qint64> m_fileOnDisk;
    QPointer<QObject> m_layersPaletteController;
    bool m_observing = false;
    QList<platform::NotificationCenter::ObserverId> m_observers;

    // --- saving the framed image ---
    QPointer<KTSavePanelAccessoryViewController> m_savePanelAccessoryViewController;
    QPointer<platform::SavePanel> m_savePanel;
    // --- end of saving the framed image ---
};
