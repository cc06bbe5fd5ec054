#include "app/XSDocument.h"

#include "design/KTPreferenceKeys.h"
#include "app/KTStartupState.h"
#include "design/TemplatesStore.h"
#include "app/KTSavePanelAccessoryViewController.h"
#include "design/Variation.h"
#include "design/ui/KTReportView.h"
#include "design/ui/KTTemplateSaving.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/MessageBoxPresenter.h"
#include "kit/VLProcessArguments.h"
#include "platform/Alert.h"
#include "platform/Log.h"
#include "platform/ui/Application.h"
#include "app/XSDocumentWindowController.h"
#include "app/KTLayersPaletteInterface.h"
#include "design/KTExportQuality.h"
#include "design/KTExportSizeSettings.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTLayerKinds.h"
#include "design/KTTemplate.h"
#include "kit/VLLongProcess.h"
#include "kit/VLWAnalytics.h"
#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/TemporaryFolders.h"
#include "platform/TimingLog.h"
#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
#include "design/VLImage.h"
#include "platform/codec/ExportFormat.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/ImageProperties.h"
#include "platform/ui/SavePanel.h"
#include "platform/ui/WaitForWork.h"
#include "stores/LibraryStore.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStandardPaths>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPointer>
#include <QUndoCommand>
#include <QUndoStack>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>

using namespace platform;

XSDocument::XSDocument(QObject *parent)
    : Document(parent)
    , m_docTemplate(std::make_shared<KTTemplate>())
{
}

XSDocument::~XSDocument()
{
    for (NotificationCenter::ObserverId id : std::as_const(m_observers))
        NotificationCenter::defaultCenter().removeObserver(id);
}

void XSDocument::makeWindowControllers()
{
    addWindowController(XSDocumentWindowController::defaultController());
}

KTLayersPaletteInterface *XSDocument::palette() const
{
    return dynamic_cast<KTLayersPaletteInterface *>(m_layersPaletteController.data());
}

void XSDocument::windowControllerDidLoadNib(platform::WindowController *windowController)
{
    auto *controller = qobject_cast<XSDocumentWindowController *>(windowController);
    if (controller)
        m_layersPaletteController = controller->layersPaletteController();
    if (KTLayersPaletteInterface *layers = palette())
        layers->buildEmptyPalette();
    if (!fileURL().isEmpty()) {
        importImage(fileURL());
    } else {
        const QString startup = Bundle::pathForResource(QString::fromLatin1(kStartupImageName),
                                                        QString::fromLatin1(kStartupImageExtension));
        if (!startup.isEmpty())
            importImage(QUrl::fromLocalFile(startup));
        m_isDefaultImage = true;
        setFileURL(QUrl());
    }
    setHasUndoManager(true);
    observeTemplate();
}

void XSDocument::observeTemplate()
{
    if (m_observing)
        return;
    m_observing = true;
    QPointer<XSDocument> self(this);
    auto handler = [self](const Notification &notification) {
        if (self)
            self->markAsDirty(notification);
    };
    NotificationCenter &center = NotificationCenter::defaultCenter();
    m_observers << center.addObserver(QString::fromLatin1(KTTemplate::kLayerChangedNotification), m_docTemplate.get(),
                                      handler, this);
    m_observers << center.addObserver(QString::fromLatin1(KTTemplate::kModelChangedNotification), m_docTemplate.get(),
                                      handler, this);
}

bool XSDocument::readFromURL(const QUrl &url, const QString &, Error *error)
{
    TimingLog::mark("open");
    // The decoder reads the header first and refuses a picture this machine
    // can't hold before decoding it; what it decodes is kept for the import,
    // so the photo is decoded once.
    const QString path = url.toLocalFile();
    Error reason;
    m_openedImage = VLImage::initWithContentsOfFile(path, true, &reason);
    if (m_openedImage && m_openedImage->isPDF())
        m_openedImage = m_openedImage->pageAsPhoto(&reason);
    m_openedPath = m_openedImage ? path : QString();
    if (m_openedImage)
        return true;
    if (error) {
        *error = Error{QString::fromLatin1(kKanteloErrorDomain), 1, QString::fromLatin1(kImageCouldNotBeOpened), {}, {}};
        error->userInfo.insert(QStringLiteral("NSFilePath"), path);
        if (!reason.description.isEmpty())
            error->userInfo.insert(QStringLiteral("NSLocalizedFailureReason"), reason.description);
        error->recoverySuggestion = tr("Choose another photo, or save this one again from the program that made it.");
    }
    return false;
}

bool XSDocument::importImage(const QUrl &url)
{
    std::shared_ptr<VLImage> decoded;
    if (m_openedImage && url.toLocalFile() == m_openedPath)
        decoded = std::move(m_openedImage);
    m_openedImage.reset();
    m_openedPath.clear();
    // A photo no open read first (Replace Photo, a drop) is read here, so
    // one that can't be says which and why instead of nothing happening.
    if (!decoded && url.isLocalFile()) {
        Error error;
        const bool read = readFromURL(url, QString(), &error);
        decoded = std::move(m_openedImage);
        m_openedImage.reset();
        m_openedPath.clear();
        if (!read) {
            presentError(error);
            return false;
        }
    }
    // A new photo in an edited design keeps the design's edits unsaved.
    const bool wasEdited = isDocumentEdited();
    const bool imported = m_docTemplate->importImage(url, std::move(decoded));
    TimingLog::mark("decoded");
    if (imported) {
        if (url.fileName() != QLatin1String(kStartupImageFileName))
            VLWAnalytics::trackEventProperties(QStringLiteral("Usage"),
                                               QVariantMap{{QStringLiteral("Action"), QStringLiteral("Loaded image")}});
        if (KTLayersPaletteInterface *layers = palette())
            layers->setImageLayer(m_docTemplate->imageLayer());
        m_isDefaultImage = false;
        m_originalPhotoURL = url;
        setFileURL(url);
        setFileType(TypeTable::typeForFile(url.toLocalFile()));
        noteFileOnDisk();
        if (!wasEdited)
            updateChangeCount(ChangeKind::Cleared);
        emit imageImported();
    }

    // Files handed over by the extensions: the share extension's copy is
    // never saved over; the photo-editing one's copy is saved back in place.
    const QString path = url.toLocalFile();
    const QString bundle = Bundle::identifier();
    if (path.contains(bundle + QStringLiteral(".Passlet"))) {
        VLWAnalytics::trackEventProperties(QStringLiteral("Extensions"), QVariantMap{{QStringLiteral("Type"), QStringLiteral("Share")}});
        QPointer<XSDocument> self(this);
        QMetaObject::invokeMethod(this, [self] {
            if (self)
                self->setFileURL(QUrl());
        }, Qt::QueuedConnection);
    } else if (path.contains(bundle + QStringLiteral(".Retouchlet"))) {
        m_originalPhotoURL.clear(); // the hand-off copy is meant to be saved back
        VLWAnalytics::trackEventProperties(QStringLiteral("Extensions"), QVariantMap{{QStringLiteral("Type"), QStringLiteral("Photos")}});
    }
    return imported;
}

void XSDocument::markAsDirty(const Notification &notification)
{
    // A notification with user info only asks for a redraw.
    if (!notification.userInfo.has_value())
        updateChangeCount(ChangeKind::Done);
}

namespace {

// A design as the document held it: its settings, its photo's crop and its
// other layers, the layer objects themselves. The steps recorded after an
// Apply Design name those objects, so Undo and Redo bring back the very
// layers, not copies read back from an archive.
struct KTHeldDesign {
    QString name;
    bool drawShadows = true;
    double shadowAngle = 0;
    double shadowOffset = 0;
    bool exportExternalShadow = false;
    double cropBottom = 0, cropLeft = 0, cropRight = 0, cropTop = 0;
    bool photoHidden = false;
    KTTemplate::LayerList layers; // outermost first, the photo left out

    static KTHeldDesign of(const KTTemplate &design)
    {
        KTHeldDesign held;
        held.name = design.name();
        held.drawShadows = design.drawShadows();
        held.shadowAngle = design.shadowAngle();
        held.shadowOffset = design.shadowOffset();
        held.exportExternalShadow = design.exportExternalShadow();
        const auto photo = design.imageLayer();
        if (photo) {
            held.cropBottom = photo->cropBottom();
            held.cropLeft = photo->cropLeft();
            held.cropRight = photo->cropRight();
            held.cropTop = photo->cropTop();
            held.photoHidden = photo->hidden();
        }
        for (const KTTemplate::LayerPtr &layer : design.layers()) {
            if (layer != photo)
                held.layers.append(layer);
        }
        return held;
    }

    // A design for replaceDesignWith to take these layers from.
    std::shared_ptr<KTTemplate> design() const
    {
        auto design = std::make_shared<KTTemplate>();
        design->setUsedForIconGeneration(true); // a carrier: the recent frames stay as they are
        design->setName(name);
        design->setDrawShadows(drawShadows);
        design->setShadowAngle(shadowAngle);
        design->setShadowOffset(shadowOffset);
        design->setExportExternalShadow(exportExternalShadow);
        for (const KTTemplate::LayerPtr &layer : layers)
            design->insertLayer(layer, design->layers().size());
        auto photo = std::make_shared<KTImageLayer>();
        photo->setCropBottom(cropBottom);
        photo->setCropLeft(cropLeft);
        photo->setCropRight(cropRight);
        photo->setCropTop(cropTop);
        photo->setHidden(photoHidden);
        design->insertLayer(photo, design->layers().size());
        return design;
    }
};

} // namespace

// Applying a design takes the place of the one the user made: Undo brings
// that back, Redo applies the design again.
class KTApplyDesignCommand : public QUndoCommand
{
public:
    KTApplyDesignCommand(XSDocument *document, KTHeldDesign before, KTHeldDesign after)
        : QUndoCommand(QObject::tr("Apply Design"))
        , m_document(document)
        , m_before(std::move(before))
        , m_after(std::move(after))
    {
    }
    void undo() override { restore(m_before); }
    void redo() override
    {
        if (m_first) { // the design has just been applied
            m_first = false;
            return;
        }
        restore(m_after);
    }

private:
    void restore(const KTHeldDesign &held)
    {
        if (m_document)
            m_document->takeDesignFrom(held.design());
    }

    QPointer<XSDocument> m_document;
    KTHeldDesign m_before;
    KTHeldDesign m_after;
    bool m_first = true;
};

void XSDocument::replaceTemplateWith(const std::shared_ptr<KTTemplate> &other)
{
    if (!other || m_docTemplate->isDrawing())
        return;
    std::optional<KTHeldDesign> before;
    if (hasUndoManager())
        before = KTHeldDesign::of(*m_docTemplate);
    takeDesignFrom(other);
    if (before)
        undoManager()->push(new KTApplyDesignCommand(this, std::move(*before), KTHeldDesign::of(*m_docTemplate)));
}

void XSDocument::takeDesignFrom(const std::shared_ptr<KTTemplate> &other)
{
    m_docTemplate->replaceDesignWith(other);
    KTLayersPaletteInterface *layers = palette();
    if (!layers)
        return;
    layers->buildEmptyPalette();
    m_docTemplate->doFromInnerLayer([layers](const std::shared_ptr<KTLayer> &layer) {
        const KTLayerKind *kind = KTLayerKinds::of(layer.get());
        if (!kind)
            return true;
        switch (kind->role) {
        case KTLayerKind::Role::Photo:
            layers->setImageLayer(layer);
            break;
        case KTLayerKind::Role::Frame:
            // Frame kinds whose icon depends on their settings refresh it first.
            if (layer->metaObject()->indexOfMethod("updateIcon()") >= 0)
                QMetaObject::invokeMethod(layer.get(), "updateIcon", Qt::DirectConnection);
            layers->addFrameLayer(layer);
            break;
        case KTLayerKind::Role::Overlay:
            layers->addOverlayLayer(layer);
            break;
        }
        return true;
    });
    layers->selectLayer(m_docTemplate->imageLayer().get());
}

QStringList XSDocument::writableTypes() const
{
    QStringList types;
    for (const ExportFormat &format : ExportFormat::all())
        types << format.type;
    return types;
}

QImage XSDocument::printImage() const
{
    const QSizeF size = m_docTemplate->sizeFromOriginalWithOuterShadow(true);
    if (!(size.width() >= 1 && size.height() >= 1))
        return QImage();
    return m_docTemplate->imageWithSize(size);
}

void XSDocument::printOnPrinter(QPrinter &printer) const
{
    const QImage image = printImage();
    if (image.isNull())
        return;
    // Fitted to the page both ways, keeping the picture's proportions.
    printer.setFullPage(true);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
    QPainter painter(&printer);
    if (!painter.isActive())
        return;
    const QRect page = painter.viewport();
    const QSize fitted = image.size().scaled(page.size(), Qt::KeepAspectRatio);
    const QRect target(page.x() + (page.width() - fitted.width()) / 2, page.y() + (page.height() - fitted.height()) / 2,
                       fitted.width(), fitted.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
}

void XSDocument::printDocument()
{
    VLWAnalytics::trackEventProperties(QStringLiteral("Usage"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Print")}});
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, windowForSheet());
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    if (dialog.exec() != QDialog::Accepted)
        return;
    printOnPrinter(printer);
}

// --- the design's own commands ---

void XSDocument::generateDesignReport()
{
    KTReportView::createDesignReport(m_docTemplate);
}

void XSDocument::saveTemplate()
{
    KTTemplateSaving::saveToDiskWithWindow(*m_docTemplate, windowForSheet(), {}, true);
}

namespace {
platform::OpenPanelRequest templatePanelRequest(QWidget *parent, bool several)
{
    platform::OpenPanelRequest request;
    // The dialog picks folders: the title says which.
    request.title = several ? QObject::tr("Choose Design Folders (.KTTemplate)")
                            : QObject::tr("Choose a Design Folder (.KTTemplate)");
    request.allowedTypes = {QString::fromLatin1(platform::TypeTable::kTemplate)};
    request.allowsMultipleSelection = several;
    request.choosesPackages = true;
    request.parent = parent;
    return request;
}
} // namespace

void XSDocument::replaceTemplateFromFile()
{
    const QList<QUrl> chosen = platform::runOpenPanel(templatePanelRequest(windowForSheet(), false));
    if (chosen.isEmpty())
        return;
    const std::optional<platform::FileWrapper> wrapper = KTTemplate::fileWrapperForURL(chosen.constFirst());
    if (!wrapper)
        return;
    if (std::shared_ptr<KTTemplate> design =
            KTTemplate::templateFromFileWrapper(*wrapper, LibraryStore::sharedContext()))
        replaceTemplateWith(design);
}

void XSDocument::importTemplate(platform::ManagedObjectContext *context)
{
    if (!context)
        return;
    const QList<QUrl> chosen = platform::runOpenPanel(templatePanelRequest(windowForSheet(), true));
    if (chosen.isEmpty())
        return;
    // Written at once: imported designs survive a crash before quitting.
    QStringList guids;
    if (KTTemplate::importTemplatesFromURLs(chosen, context, LibraryStore::sharedContext(), &guids) > 0
        && !context->save())
        platform::logLine(QStringLiteral("Warning: the imported templates could not be saved yet"));
    for (platform::WindowController *controller : windowControllers()) {
        auto *window = qobject_cast<XSDocumentWindowController *>(controller);
        if (window && window->mainLayoutViewController() && !guids.isEmpty())
            window->mainLayoutViewController()->showSavedDesigns(guids);
    }
}

// --- saving the framed image ---

namespace {
const char *const kSavingImageTitle = "Saving image";
const char *const kSavingProgressFormat = "Progress: %d%%";
} // namespace

bool XSDocument::renderAndWrite(const QUrl &url, const QString &uti, QSize size, double popUpDelay, Error *error)
{
    if (!url.isLocalFile()) {
        if (error)
            *error = Error{QString::fromLatin1(kKanteloErrorDomain), 1,
                           QStringLiteral("“%1” is not a file on this computer.").arg(url.toString()), {}, {}};
        return false;
    }
    if (size.width() < 1 || size.height() < 1) {
        if (error)
            *error = Error{QString::fromLatin1(kKanteloErrorDomain), 1,
                           QStringLiteral("The image “%1” couldn’t be saved because its size is empty.")
                               .arg(url.fileName()),
                           {}, {}};
        return false;
    }

    // The worker draws a copy that shares the decoded photo read-only; the
    // window keeps drawing the document's own design meanwhile.
    std::shared_ptr<KTTemplate> copy = m_docTemplate->copyForRendering();
    copy->setExportMode(true);
    // A save that showed no panel (a plain Save, the command line) chose no
    // quality: the user's preferred one, not the encoder's much lower default.
    if (!copy->exportQuality()) {
        copy->setExportQuality(KTExportQuality::fromDefaults(UserDefaults::standard()));
    }
    // Saved at its own size, a photo smaller than its frames' least widths
    // would come out as frames alone.
    if (size == copy->framedPixelSize()) {
        if (const std::optional<QSize> least = copy->leastPhotoSizeShown()) {
            const auto photo = copy->imageLayer();
            const QSizeF own = copy->sizeOfPreFramedImage();
            if (error)
                *error = Error{QString::fromLatin1(kKanteloErrorDomain),
                               1,
                               QString::fromUtf8(KTTemplate::kPhotoTooSmallFormat)
                                   .arg(QFileInfo(photo ? photo->imageFileName() : url.toLocalFile()).fileName())
                                   .arg(own.width())
                                   .arg(own.height())
                                   .arg(least->width())
                                   .arg(least->height()),
                               {},
                               {}};
            return false;
        }
    }

    struct Outcome {
        std::atomic<bool> done{false};
        bool written = false;
        Error error;
    };
    auto outcome = std::make_shared<Outcome>();

    VLLongProcess process;
    process.setTotalCount(100);
    process.setWindowTitle(QString::fromLatin1(kSavingImageTitle));
    process.setProgressStringFormat(QString::fromLatin1(kSavingProgressFormat));
    process.setWindowPopUpDelay(popUpDelay);
    process.setProgressRefreshDelay(0.1);
    process.setProcessFinishedBlock([outcome] { outcome->done = true; });

    const QSizeF pixels(size);
    VLLongProcess *processPtr = &process;
    process.runInBackground([outcome, copy, url, uti, pixels, processPtr] {
        processPtr->setProgressCount(0);
        Error failure;
        const KTTemplate::ProgressBlock progress = [processPtr](KTTemplate *, double percent) {
            // 100 would close the panel before the file is on disk.
            processPtr->setProgressCount(std::clamp<qint64>(qRound64(percent), 0, 99));
        };
        const KTTemplate::CancelBlock cancel = [](KTTemplate *) { return false; };
        bool written = false;
        if (platform::ImageEncoder::canWriteBands(uti)) {
            // Rendered a band at a time while earlier bands are encoded: the
            // whole picture is never held.
            written = copy->writeInBandsToURL(url, uti, pixels, progress, cancel, &failure);
        } else if (KTTemplate::DataProvidedImage image = copy->newDataProvidedCGImageOfSize(pixels, progress, cancel,
                                                                                           &failure)) {
            written = copy->writeToURL(url, uti, image, &failure);
        }
        outcome->written = written;
        if (!written)
            outcome->error = failure;
    });
    // What the user types or clicks meanwhile is not carried out afterwards:
    // a Quit typed during a long save would end the program by itself.
    waitForWork([outcome] { return outcome->done.load(); }, 100);
    process.setProcessFinishedBlock(nullptr);

    if (outcome->written)
        return true;
    if (error) {
        *error = outcome->error;
        if (error->isNull() || error->description.isEmpty())
            error->description = QStringLiteral("The image “%1” couldn’t be saved.").arg(url.fileName());
        if (error->domain.isEmpty())
            error->domain = QString::fromLatin1(kKanteloErrorDomain);
    }
    return false;
}


KTSavePanelAccessoryViewController *XSDocument::savePanelAccessoryViewController()
{
    if (!m_savePanelAccessoryViewController) {
        m_savePanelAccessoryViewController = new KTSavePanelAccessoryViewController(this);
        m_savePanelAccessoryViewController->setRepresentedObject(QVariant::fromValue(static_cast<QObject *>(this)));
    }
    return m_savePanelAccessoryViewController;
}

QString XSDocument::exportExtensionFromPreferences()
{
    const qint64 index =
        UserDefaults::standard().integerForKey(QString::fromLatin1(KTPreferenceKeys::kOutputImageFormatKey));
    return ExportFormat::isSavedIndex(index) ? ExportFormat::forSavedIndex(index).extensions.first() : QString();
}

QString XSDocument::createExportFileNameAndAddExtension(const QString &name, bool addExtension)
{
    const QString last = QFileInfo(name).fileName();
    const QString suffix = QFileInfo(last).suffix();
    QString stem = suffix.isEmpty() ? last : last.left(last.size() - suffix.size() - 1);
    UserDefaults &defaults = UserDefaults::standard();
    switch (defaults.integerForKey(QString::fromLatin1(KTPreferenceKeys::kExportFilenameModificationKey))) {
    case 2:
        stem += defaults.stringForKey(QString::fromLatin1(KTPreferenceKeys::kExportFilenameAppendTextKey));
        break;
    case 1:
        stem.prepend(defaults.stringForKey(QString::fromLatin1(KTPreferenceKeys::kExportFilenamePrependTextKey)));
        break;
    default:
        break;
    }
    if (addExtension) {
        const QString extension = exportExtensionFromPreferences();
        if (!extension.isEmpty())
            stem += QLatin1Char('.') + extension;
    }
    return stem;
}

bool XSDocument::prepareSavePanel(SavePanel *panel)
{
    if (!panel)
        return false;
    UserDefaults &defaults = UserDefaults::standard();
    m_savePanel = panel;
    panel->setAllowedFileTypes(ExportFormat::allExtensions());
    panel->setExtensionHidden(false);
    panel->setCanSelectHiddenExtension(false);

    KTSavePanelAccessoryViewController *accessory = savePanelAccessoryViewController();
    panel->setAccessoryView(accessory->view());
    accessory->setSavePanel(panel);
    // A name typed with another format's extension saves in that format.
    QPointer<KTSavePanelAccessoryViewController> chooser(accessory);
    panel->setUnacceptedExtensionHandler([chooser](const QString &extension) {
        if (const ExportFormat *format = ExportFormat::forExtension(extension); format && chooser)
            chooser->setFileFormatIndex(format->savedIndex);
    });
    accessory->setFileFormatIndex(int(defaults.integerForKey(QString::fromLatin1(KTPreferenceKeys::kOutputImageFormatKey))));
    accessory->setQuality(KTExportQuality::fromDefaults(defaults));
    panel->setAllowedFileTypes(accessory->formatExtensions());
    const double dpi = m_docTemplate->exportMetadataForKey(QString::fromLatin1(ImageProperty::kDPIWidth)).toDouble();
    accessory->setDpi(std::trunc(dpi)); // 0 (no resolution) becomes 72 there
    accessory->setTheTemplate(m_docTemplate);
    accessory->setPreFramedImageSize(m_docTemplate->sizeOfPreFramedImage());

    if (!fileURL().isEmpty()) {
        const QString name = fileURL().fileName();
        const QString extension = QFileInfo(name).suffix();
        // Case matters: IMG_1.JPG is offered as IMG_1.jpg.
        if (!extension.isEmpty() && accessory->formatExtensions().contains(extension))
            panel->setNameFieldStringValue(createExportFileNameAndAddExtension(name, false) + QLatin1Char('.') + extension);
        else
            panel->setNameFieldStringValue(createExportFileNameAndAddExtension(name, true));
    } else {
        panel->setNameFieldStringValue(createExportFileNameAndAddExtension(displayName(), true));
        const QUrl last = defaults.objectForKey(QString::fromLatin1(kLastSaveURLKey)).toUrl();
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        if (last.isLocalFile() && QFileInfo(last.toLocalFile()).isDir())
            panel->setDirectory(last.toLocalFile());
        else if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
            panel->setDirectory(desktop);
    }
    if (fileURL().isLocalFile())
        panel->setDirectory(QFileInfo(fileURL().toLocalFile()).absolutePath());
    return true;
}

bool XSDocument::saveToURL(const QUrl &url, const QString &type, SaveOperation operation, Error *error)
{
    UserDefaults::standard().setObject(QString::fromLatin1(kLastSaveURLKey), url.adjusted(QUrl::RemoveFilename));
    QString writeType = type;
    if (operation == SaveOperation::SaveAs)
        writeType = savePanelAccessoryViewController()->formatUTI();
    if (!writeToURL(url, writeType, error))
        return false;
    if (operation == SaveOperation::SaveAs) {
        setFileURL(url);
        setFileType(writeType);
    }
    if (url == fileURL())
        noteFileOnDisk();
    updateChangeCount(ChangeKind::Cleared);
    if (hasUndoManager())
        undoManager()->setClean();
    return true;
}

bool XSDocument::writeToURL(const QUrl &url, const QString &type, Error *error)
{
    m_savePanel.clear();
    KTSavePanelAccessoryViewController *accessory = savePanelAccessoryViewController();
    QSize size = accessory->exportImageSize();
    // No panel chose a size, or the rule is the original size: the framed
    // size of the photo as the design is now, not as it was at the last
    // panel (frames added since, or another photo imported).
    if (size.isEmpty() || accessory->imageSizePopUpIndex() == KTSavePanelAccessoryViewController::OriginalSize) {
        accessory->setTheTemplate(m_docTemplate);
        accessory->setPreFramedImageSize(m_docTemplate->sizeOfPreFramedImage());
        size = accessory->exportImageSize();
    }
    // The estimate would render the same design a second time meanwhile.
    accessory->cancelDataOperation();
    waitForWork([accessory] { return !accessory->isDataOperationInProgress(); }, 100);
    accessory->releaseDataOperation();

    const bool written = renderAndWrite(url, type, size, 0.5, error);

    QString sizeType;
    switch (accessory->imageSizePopUpIndex()) {
    case 0:
        sizeType = QStringLiteral("From original");
        break;
    case 1:
        sizeType = QStringLiteral("Custom proportional");
        break;
    case 2:
        sizeType = QStringLiteral("Custom");
        break;
    default:
        sizeType = QStringLiteral("BAD VALUE");
        break;
    }
    VLWAnalytics::trackEventProperties(QStringLiteral("Save"),
                                       QVariantMap{{QStringLiteral("Method"), QStringLiteral("Menu")},
                                                   {QStringLiteral("Format"),
                                                    ExportFormat::forSavedIndex(accessory->fileFormatIndex()).name},
                                                   {QStringLiteral("Size Type"), sizeType}});
    VLWAnalytics::trackEventProperties(QStringLiteral("Template"), m_docTemplate->dictionaryForAnalytics());
    return written;
}

bool XSDocument::writeFramedPicture(const QUrl &url, const QSizeF &lastDrawnSize, int formatIndex, Error *error)
{
    UserDefaults &defaults = UserDefaults::standard();
    m_docTemplate->setExportQuality(KTExportQuality::fromDefaults(defaults));
    const QSizeF size = m_docTemplate->exportSizeFromPreferencesWithLastDrawnSize(lastDrawnSize, KTExportSizeSettings::fromDefaults(defaults));
    if (formatIndex < 0)
        formatIndex = int(defaults.integerForKey(QString::fromLatin1(KTPreferenceKeys::kOutputImageFormatKey)));
    return saveToURL(url, size, formatIndex, error);
}

QUrl XSDocument::writeFramedPictureFile(const QSizeF &lastDrawnSize, int formatIndex, Error *error)
{
    const QString folder = TemporaryFolders::makeFolder(error);
    if (folder.isEmpty())
        return {};
    const QString base = fileURL().isValid() ? fileURL().fileName() : QStringLiteral("Untitled");
    QString name = createExportFileNameAndAddExtension(base, formatIndex < 0);
    if (formatIndex >= 0)
        name += QLatin1Char('.') + ExportFormat::forSavedIndex(formatIndex).extensions.first();
    const QUrl url = QUrl::fromLocalFile(QDir(folder).filePath(name));
    if (!writeFramedPicture(url, lastDrawnSize, formatIndex, error)) {
        QDir(folder).removeRecursively();
        return {};
    }
    return url;
}

bool XSDocument::saveToURL(const QUrl &url, const QSizeF &size, int formatIndex, Error *error)
{
    QSizeF pixels = size;
    if (!(pixels.width() > 0 && pixels.height() > 0))
        pixels = m_docTemplate->sizeOfPreFramedImage();
    const QSize whole(int(std::floor(std::min(pixels.width(), 2e9))), int(std::floor(std::min(pixels.height(), 2e9))));
    const bool written = renderAndWrite(url, ExportFormat::forSavedIndex(formatIndex).type, whole, 0.3, error);

    QString sizeType;
    switch (UserDefaults::standard().integerForKey(QString::fromLatin1(KTTemplate::kExportSizeModificationKey))) {
    case 0:
        sizeType = QStringLiteral("From original");
        break;
    case 1:
        sizeType = QStringLiteral("From viewed");
        break;
    case 2:
        sizeType = QStringLiteral("Fixed height");
        break;
    case 3:
        sizeType = QStringLiteral("Fixed width");
        break;
    default:
        sizeType = QStringLiteral("Fixed both");
        break;
    }
    VLWAnalytics::trackEventProperties(QStringLiteral("Save"),
                                       QVariantMap{{QStringLiteral("Method"), QStringLiteral("Drag-out")},
                                                   {QStringLiteral("Format"), ExportFormat::forSavedIndex(formatIndex).name},
                                                   {QStringLiteral("Size Type"), sizeType}});
    VLWAnalytics::trackEventProperties(QStringLiteral("Template"), m_docTemplate->dictionaryForAnalytics());
    return written;
}

bool XSDocument::saveDocument(Error *error)
{
    // Without a file, or with a photo type the encoders cannot write back,
    // the user chooses where and how to save.
    if (fileURL().isEmpty() || !writableTypes().contains(fileType()))
        return saveDocumentAs(error);
    const bool changed = fileChangedOnDisk();
    if (changed || (!m_originalPhotoURL.isEmpty() && m_originalPhotoURL == fileURL())) {
        AlertRequest request;
        request.messageText = changed ? QString::fromUtf8(kChangedOnDiskQuestion).arg(fileURL().fileName())
                                      : QString::fromUtf8(kReplaceOriginalQuestion);
        request.informativeText = changed ? QString::fromUtf8(kChangedOnDiskText)
                                          : QString::fromUtf8(kReplaceOriginalText).arg(fileURL().fileName());
        request.buttons = {QString::fromUtf8(kReplaceOriginalSaveAs), QString::fromUtf8(kReplaceOriginalReplace),
                           QString::fromUtf8(kReplaceOriginalCancel)};
        switch (runAlert(request)) {
        case 0:
            return saveDocumentAs(error);
        case 1:
            break;
        default:
            if (error)
                *error = Error{}; // cancelled: nothing to report
            return false;
        }
    }
    if (!saveToURL(fileURL(), fileType(), SaveOperation::Save, error))
        return false;
    m_originalPhotoURL.clear();
    return true;
}

void XSDocument::noteFileOnDisk()
{
    const QFileInfo file(fileURL().toLocalFile());
    m_fileOnDisk = file.exists() ? qMakePair(file.lastModified(), file.size()) : QPair<QDateTime, qint64>();
}

bool XSDocument::fileChangedOnDisk() const
{
    // A file gone since is only written anew: nothing of it is lost.
    const QFileInfo file(fileURL().toLocalFile());
    return fileURL().isLocalFile() && m_fileOnDisk.first.isValid() && file.exists()
           && qMakePair(file.lastModified(), file.size()) != m_fileOnDisk;
}

bool XSDocument::saveDocumentAs(Error *error)
{
    SavePanel panel;
    prepareSavePanel(&panel);
    const QUrl url = panel.runModal(windowForSheet());
    m_savePanel.clear();
    if (url.isEmpty()) {
        if (error)
            *error = Error{}; // cancelled: nothing to report
        return false;
    }
    return saveToURL(url, fileType(), SaveOperation::SaveAs, error);
}

void XSDocument::saveDocumentFromMenu()
{
    Error error;
    if (!saveDocument(&error) && !error.isNull())
        presentError(error);
}

void XSDocument::saveDocumentAsFromMenu()
{
    Error error;
    if (!saveDocumentAs(&error) && !error.isNull())
        presentError(error);
}

// --- end of saving the framed image ---

// --- command-line run ---

namespace {

platform::ManagedObjectContext *savedDesignsContext()
{
    if (KTStartupState *state = KTStartupState::current())
        return state->templatesManagedObjectContext();
    TemplatesStore *store = TemplatesStore::shared();
    return store ? store->templatesManagedObjectContext() : nullptr;
}

} // namespace

void XSDocument::applyDesignNamed(const QString &name)
{
    // On a later pass, as the window's own: a first-run import of the
    // built-in designs queued before it has begun by then, and is waited for.
    QPointer<XSDocument> self(this);
    runAfterDelay(0, [self, name] {
        if (!self)
            return;
        VLProcessArguments options(QStringList{});
        options.setArguments({{QString::fromLatin1(VLProcessArguments::kTemplateKey), name}});
        self->processArguments(options);
    }, this);
}

void XSDocument::processArguments(const VLProcessArguments &options)
{
    if (!options.contains(QString::fromLatin1(VLProcessArguments::kTemplateKey)))
        return;
    const QString name = options.value(QString::fromLatin1(VLProcessArguments::kTemplateKey));

    // At the first start the built-in designs arrive after the frame
    // library; the design is looked up once they are in.
    KTStartupState *state = KTStartupState::current();
    if (state && state->isImportingInitialFrames()) {
        QPointer<XSDocument> self(this);
        state->whenInitialFramesImportEnds(this, [self, options] {
            if (self)
                self->processArguments(options);
        });
        return;
    }

    Variation *variation = Variation::variationWithName(name, savedDesignsContext());
    if (!variation) {
        AlertRequest request;
        request.messageText = QString::fromLatin1(kTemplateNotFound);
        request.informativeText = QString::fromLatin1(kTemplateNamedNotFound).arg(name);
        request.buttons = {QStringLiteral("OK")};
        const AlertWindowScope over(windowForSheet()); // the photo it was named for
        runAlert(request);
        return;
    }
    const std::shared_ptr<KTTemplate> design =
        KTTemplate::templateFromVariation(variation, LibraryStore::sharedContext());
    if (!design) {
        logLine(QStringLiteral("ERROR: %1").arg(QString::fromLatin1(kTemplateNamedUnreadable).arg(name)));
        return;
    }
    replaceTemplateWith(design);
}

// --- end of command-line run ---
