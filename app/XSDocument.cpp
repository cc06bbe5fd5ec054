#include "app/XSDocument.h"

#include "app/AppDelegate.h"
#include "app/KTCommandLineRun.h"
#include "design/Variation.h"
#include "kit/VLProcessArguments.h"
#include "platform/Alert.h"
#include "platform/Log.h"
#include "platform/ui/Application.h"

#include "app/XSDocumentWindowController.h"
#include "app/KTLayersPaletteInterface.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "kit/VLLongProcess.h"
#include "kit/VLWAnalytics.h"
#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/TypeTable.h"
#include "platform/imaging/ImageDecoder.h"

#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPointer>
#include <QUndoStack>

#include <algorithm>
#include <atomic>
#include <cmath>

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

void XSDocument::windowControllerDidLoadNib(XSDocumentWindowController *controller)
{
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
    QPointer<XSDocument> self(this);
    runAfterDelay(0, [self] {
        if (self)
            self->processArguments();
    }, this);
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
    const ImageDecoder::Result decoded = ImageDecoder::decodeFile(url.toLocalFile());
    if (!decoded.image.isNull())
        return true;
    if (error)
        *error = Error{QString::fromLatin1(kKanteloErrorDomain), 1, QString::fromLatin1(kImageCouldNotBeOpened), {}, {}};
    return false;
}

bool XSDocument::importImage(const QUrl &url)
{
    const bool imported = m_docTemplate->importImage(url);
    if (imported) {
        if (url.fileName() != QLatin1String(kStartupImageFileName))
            VLWAnalytics::trackEventProperties(QStringLiteral("Usage"),
                                               QVariantMap{{QStringLiteral("Action"), QStringLiteral("Loaded image")}});
        if (KTLayersPaletteInterface *layers = palette())
            layers->setImageLayer(m_docTemplate->imageLayer());
        m_isDefaultImage = false;
        setFileURL(url);
        setFileType(TypeTable::typeForFile(url.toLocalFile()));
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

void XSDocument::replaceTemplateWith(const std::shared_ptr<KTTemplate> &other)
{
    if (!other)
        return;
    m_docTemplate->replaceDesignWith(other);
    KTLayersPaletteInterface *layers = palette();
    if (!layers)
        return;
    layers->buildEmptyPalette();
    m_docTemplate->doFromInnerLayer([layers](const std::shared_ptr<KTLayer> &layer) {
        const QString className = QString::fromLatin1(layer->metaObject()->className());
        if (qobject_cast<KTImageLayer *>(layer.get())) {
            layers->setImageLayer(layer);
        } else if (auto *frame = qobject_cast<KTFrameLayer *>(layer.get())) {
            // Frame kinds whose icon depends on their settings refresh it first.
            if (frame->metaObject()->indexOfMethod("updateIcon()") >= 0)
                QMetaObject::invokeMethod(frame, "updateIcon", Qt::DirectConnection);
            layers->addFrameLayer(layer);
        } else if (className == QLatin1String("KTTextOverlayLayer") || className == QLatin1String("KTImageOverlayLayer")) {
            layers->addOverlayLayer(layer);
        }
        return true;
    });
    layers->selectLayer(m_docTemplate->imageLayer().get());
}

QStringList XSDocument::writableTypes() const
{
    return {QString::fromLatin1(TypeTable::kJPEG), QString::fromLatin1(TypeTable::kPNG),
            QString::fromLatin1(TypeTable::kTIFF), QString::fromLatin1(TypeTable::kPSD)};
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
        KTTemplate::DataProvidedImage image = copy->newDataProvidedCGImageOfSize(
            pixels,
            [processPtr](KTTemplate *, double percent) {
                // 100 would close the panel before the file is on disk.
                processPtr->setProgressCount(std::clamp<qint64>(qRound64(percent), 0, 99));
            },
            [](KTTemplate *) { return false; }, &failure);
        bool written = false;
        if (image)
            written = copy->writeToURL(url, uti, image, &failure);
        outcome->written = written;
        if (!written)
            outcome->error = failure;
    });
    spinEventLoopUntil([outcome] { return outcome->done.load(); }, 100);
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

// --- end of saving the framed image ---

// --- command-line run ---

namespace {

platform::ManagedObjectContext *savedDesignsContext()
{
    if (AppDelegate *delegate = AppDelegate::shared())
        return delegate->templatesManagedObjectContext();
    TemplatesStore *store = TemplatesStore::shared();
    return store ? store->templatesManagedObjectContext() : nullptr;
}

} // namespace

void XSDocument::processArguments()
{
    processArguments(VLProcessArguments());
}

void XSDocument::processArguments(const VLProcessArguments &options)
{
    const bool process = options.contains(QString::fromLatin1(VLProcessArguments::kProcessKey));
    if (!options.contains(QString::fromLatin1(VLProcessArguments::kTemplateKey)))
        return;
    const QString name = options.value(QString::fromLatin1(VLProcessArguments::kTemplateKey));

    // At the first start the built-in designs arrive after the frame
    // library; the design is looked up once they are in.
    AppDelegate *delegate = AppDelegate::shared();
    if (delegate && delegate->isImportingInitialFrames()) {
        QPointer<XSDocument> self(this);
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(delegate, &AppDelegate::initialFramesImportEnded, this,
                              [self, connection, options](bool) {
                                  QObject::disconnect(*connection);
                                  if (self)
                                      self->processArguments(options);
                              });
        return;
    }

    Variation *variation = Variation::variationWithName(name, savedDesignsContext());
    if (!variation) {
        const QString text = QString::fromLatin1(kTemplateNamedNotFound).arg(name);
        // Nobody could answer an alert in a run that frames and quits.
        if (process) {
            KTCommandLineRun::fail(text);
            return;
        }
        AlertRequest request;
        request.messageText = QString::fromLatin1(kTemplateNotFound);
        request.informativeText = text;
        request.buttons = {QStringLiteral("OK")};
        runAlert(request);
        return;
    }
    const std::shared_ptr<KTTemplate> design = KTTemplate::templateFromVariation(variation);
    if (!design) {
        // A photo written out without its design would be reported as done.
        const QString text = QString::fromLatin1(kTemplateNamedUnreadable).arg(name);
        if (process)
            KTCommandLineRun::fail(text);
        else
            logLine(QStringLiteral("ERROR: %1").arg(text));
        return;
    }
    replaceTemplateWith(design);

    if (process) {
        VLWAnalytics::trackEventProperties(QStringLiteral("Extensions"),
                                           QVariantMap{{QStringLiteral("Type"), QStringLiteral("CLI")}});
        saveAndQuit();
    }
}

void XSDocument::saveAndQuit()
{
    if (KTCommandLineRun::hasFailed())
        return;
    const QSizeF framed = m_docTemplate->sizeFromOriginalWithOuterShadow(true);
    // Whole pixels, without losing one to rounding error.
    const QSize size(int(std::floor(framed.width() + 1e-6)), int(std::floor(framed.height() + 1e-6)));
    Error error;
    bool written = false;
    if (fileURL().isEmpty())
        error.description = QString::fromLatin1(kNoFileToProcess);
    else
        written = renderAndWrite(fileURL(), fileType(), size, kProcessPopUpDelay, &error);

    if (written)
        KTCommandLineRun::markWritten();
    else
        KTCommandLineRun::fail(error.description);

    updateChangeCount(ChangeKind::Cleared);
    close();
    if (Application *application = Application::shared())
        application->terminate();
}

// --- end of command-line run ---
