#pragma once

#include "platform/NotificationCenter.h"
#include "platform/ui/Document.h"

#include <QPointer>
#include <QSize>

#include <memory>

class KTLayersPaletteInterface;
class QPrinter;
class KTTemplate;
class VLProcessArguments;
class XSDocumentWindowController;

// The one kind of document: one photo inside one design. It owns the design,
// imports the photo as the design's image layer and counts every model or
// layer change of its design as an edit.
class XSDocument : public platform::Document
{
    Q_OBJECT
public:
    static constexpr const char *kStartupImageName = "Startup_image";
    static constexpr const char *kStartupImageExtension = "jpg";
    static constexpr const char *kStartupImageFileName = "Startup_image.jpg";
    static constexpr const char *kImageCouldNotBeOpened = "Image could not be opened";

    explicit XSDocument(QObject *parent = nullptr);
    ~XSDocument() override;

    std::shared_ptr<KTTemplate> docTemplate() const { return m_docTemplate; }
    // The window's layers palette controller, once the window is loaded.
    QObject *layersPaletteController() const { return m_layersPaletteController.data(); }
    bool isDefaultImage() const { return m_isDefaultImage; }

    void makeWindowControllers() override;
    // The window is ready: the photo (or the start-up picture) goes in, then
    // change tracking starts.
    void windowControllerDidLoadNib(XSDocumentWindowController *controller);

    // Only checks that the file decodes; the photo is imported with the window.
    bool readFromURL(const QUrl &url, const QString &type, platform::Error *error) override;
    // Answers whether the design took the picture.
    bool importImage(const QUrl &url);
    void markAsDirty(const platform::Notification &notification);
    void replaceTemplateWith(const std::shared_ptr<KTTemplate> &other);

    QStringList writableTypes() const override;

    // The Print command: the framed picture at its own size, outer shadow
    // included, fitted to the page without margins, after the print dialog.
    void printDocument();
    // The picture printed, and its drawing onto a set-up printer.
    QImage printImage() const;
    void printOnPrinter(QPrinter &printer) const;

    // --- saving the framed image ---
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
    static constexpr const char *kNoFileToProcess = "There is no photo file to write the framed image to";
    static constexpr double kProcessPopUpDelay = 0.3;
    // Applies the saved design named by -template=NAME and, with -process,
    // writes the framed photo over its file and quits. Runs once the window
    // has loaded (and once the first-run import of the built-in designs is done).
    void processArguments();
    void processArguments(const VLProcessArguments &options);
    // Writes the framed image over the document's file in its own type at
    // the photo's framed size, then closes and quits.
    void saveAndQuit();
    // --- end of command-line run ---

signals:
    void imageImported();

private:
    void observeTemplate();
    KTLayersPaletteInterface *palette() const;

    std::shared_ptr<KTTemplate> m_docTemplate;
    bool m_isDefaultImage = false;
    QPointer<QObject> m_layersPaletteController;
    bool m_observing = false;
    QList<platform::NotificationCenter::ObserverId> m_observers;
};
