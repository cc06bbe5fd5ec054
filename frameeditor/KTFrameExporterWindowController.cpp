#include "frameeditor/KTFrameExporterWindowController.h"

#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/TypeTable.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/SavePanel.h"
#include "stores/Frame.h"
#include "stores/FrameArchiveFolder.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The progress sheet: it ends when the export does, not by Escape or its
// close button, so the user's only way out is to wait.
class ExportSheet : public QDialog
{
public:
    using QDialog::QDialog;
    void reject() override {}

protected:
    void closeEvent(QCloseEvent *event) override { event->ignore(); }
};

// Runs the handler on a later pass of the event loop, not bound to the
// controller: the handler may well release it.
void callLater(const std::function<void(int)> &handler, int code)
{
    if (!handler)
        return;
    QTimer::singleShot(0, QCoreApplication::instance(), [handler, code] { handler(code); });
}

} // namespace

KTFrameExporterWindowController::KTFrameExporterWindowController(const QList<LibraryItem *> &items, QObject *parent)
    : WindowController(QString::fromLatin1(kNibName), parent)
    , m_items(items)
{
    m_missingParentObjects = missingParents();
}

KTFrameExporterWindowController::~KTFrameExporterWindowController()
{
    delete m_savePanelAccessoryView.data();
}

QList<LibraryItem *> KTFrameExporterWindowController::missingParents() const
{
    QList<LibraryItem *> parents;
    auto add = [&](LibraryItem *parent) {
        if (!parent || m_items.contains(parent) || parents.contains(parent))
            return false;
        parents.append(parent);
        return true;
    };
    for (LibraryItem *item : m_items) {
        if (auto *set = dynamic_cast<FrameSet *>(item)) {
            add(set->framecollection());
        } else if (auto *frame = dynamic_cast<Frame *>(item)) {
            FrameSet *set = frame->frameset();
            if (add(set))
                add(set->framecollection());
        }
    }
    return parents;
}

QString KTFrameExporterWindowController::suggestedName() const
{
    if (m_items.isEmpty())
        return {};
    LibraryItem *first = m_items.constFirst();
    if (m_items.size() == 1) {
        if (dynamic_cast<FrameCollection *>(first))
            return tr("%1 Frame Collection").arg(first->name());
        if (dynamic_cast<FrameSet *>(first))
            return tr("%1 Frame Set").arg(first->name());
        if (dynamic_cast<Frame *>(first))
            return tr("%1 Frame").arg(first->name());
        return {};
    }
    const qsizetype count = m_items.size();
    if (dynamic_cast<FrameCollection *>(first))
        return tr("%1 Frame Collections").arg(count);
    if (dynamic_cast<FrameSet *>(first))
        return tr("%1 Frame Sets").arg(count);
    if (dynamic_cast<Frame *>(first))
        return tr("%1 Frames").arg(count);
    return {};
}

QString KTFrameExporterWindowController::informationText() const
{
    return tr(kSummaryFormat)
        .arg(tr("%n collection(s)", nullptr, int(m_collections)), tr("%n set(s)", nullptr, int(m_sets)),
             tr("%n frame(s)", nullptr, int(m_frames)));
}

QWidget *KTFrameExporterWindowController::loadWindow()
{
    auto *sheet = new ExportSheet(nullptr, Qt::Sheet);
    sheet->setObjectName(QString::fromLatin1(kNibName));
    sheet->setWindowTitle(tr("Export Frames"));
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setMinimumWidth(380);
    auto *column = new QVBoxLayout(sheet);
    column->setContentsMargins(20, 18, 20, 18);

    m_informationLabel = new QLabel(sheet);
    m_informationLabel->setObjectName(QStringLiteral("informationLabel"));
    m_informationLabel->setWordWrap(true);
    column->addWidget(m_informationLabel);

    m_progressSection = new QWidget(sheet);
    m_progressSection->setObjectName(QStringLiteral("progressSection"));
    auto *progressColumn = new QVBoxLayout(m_progressSection);
    progressColumn->setContentsMargins(0, 8, 0, 0);
    m_progressLabel = new QLabel(tr(kProgressText), m_progressSection);
    m_progressLabel->setObjectName(QStringLiteral("progressLabel"));
    m_progressIndicator = new QProgressBar(m_progressSection);
    m_progressIndicator->setObjectName(QStringLiteral("progressIndicator"));
    m_progressIndicator->setRange(0, 1000);
    m_progressIndicator->setTextVisible(false);
    progressColumn->addWidget(m_progressLabel);
    progressColumn->addWidget(m_progressIndicator);
    column->addWidget(m_progressSection);

    m_savePanelAccessoryView = new QWidget;
    m_savePanelAccessoryView->setObjectName(QStringLiteral("savePanelAccessoryView"));
    auto *accessoryRow = new QVBoxLayout(m_savePanelAccessoryView);
    m_savePanelAccessoryViewTextField = new QLabel(m_savePanelAccessoryView);
    m_savePanelAccessoryViewTextField->setObjectName(QStringLiteral("savePanelAccessoryViewTextField"));
    m_savePanelAccessoryViewTextField->setAlignment(Qt::AlignCenter);
    accessoryRow->addWidget(m_savePanelAccessoryViewTextField);
    return sheet;
}

void KTFrameExporterWindowController::windowDidLoad()
{
    m_collections = m_sets = m_frames = 0;
    for (LibraryItem *item : std::as_const(m_items)) {
        if (auto *collection = dynamic_cast<FrameCollection *>(item)) {
            ++m_collections;
            const QList<FrameSet *> sets = collection->framesets();
            m_sets += quint64(sets.size());
            for (FrameSet *set : sets)
                m_frames += quint64(set->frames().size());
        } else if (auto *set = dynamic_cast<FrameSet *>(item)) {
            ++m_sets;
            m_frames += quint64(set->frames().size());
        } else if (dynamic_cast<Frame *>(item)) {
            ++m_frames;
        }
    }
    m_totalItems = m_collections + m_sets + m_frames;
    m_informationLabel->setText(informationText());
}

void KTFrameExporterWindowController::beginSheetModalForWindow(QWidget *parent,
                                                               std::function<void(int)> completionHandler)
{
    window();
    // Nothing chosen is nothing to export: as good as a cancelled panel.
    if (m_items.isEmpty() || m_exporter) {
        callLater(completionHandler, kCancelled);
        return;
    }
    m_savePanelAccessoryViewTextField->setText(informationText());

    platform::SavePanelRequest request;
    request.title = tr(kPrompt);
    request.prompt = tr(kPrompt);
    request.nameFieldValue = suggestedName();
    request.allowedTypes = {QString::fromLatin1(platform::TypeTable::kFrames)};
    request.typesName = tr("Frame archives");
    request.accessoryView = m_savePanelAccessoryView;
    request.parent = parent;
    const QUrl chosen = platform::runSavePanel(request);
    if (chosen.isEmpty() || !chosen.isLocalFile()) {
        callLater(completionHandler, kCancelled);
        return;
    }
    m_url = platform::SavePanel::withAcceptedExtension(chosen, {QString::fromLatin1(FrameArchiveFolder::kExtension)});
    m_completionHandler = std::move(completionHandler);

    QWidget *sheet = window();
    // A sheet of the parent's window, modal to it alone.
    sheet->setParent(parent ? parent->window() : nullptr, sheet->windowFlags());
    sheet->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    m_progressIndicator->setValue(0);
    sheet->show();
    startExport();
}

void KTFrameExporterWindowController::startExport()
{
    QList<platform::ManagedObject *> items(m_items.cbegin(), m_items.cend());
    QList<platform::ManagedObject *> parents(m_missingParentObjects.cbegin(), m_missingParentObjects.cend());
    m_exporter = std::make_shared<KTFrameLibraryExporter>(items, parents, m_url);
    m_exporter->setCountOfItems(m_totalItems);
    m_exporter->startExportWithDelegate(this);
}

void KTFrameExporterWindowController::progressUpdated(const KTFrameLibraryExportProgress &progress)
{
    if (m_progressIndicator)
        m_progressIndicator->setValue(int(std::clamp(progress.fractionCompleted(), 0.0, 1.0) * 1000));
}

void KTFrameExporterWindowController::exportFinished(bool succeeded)
{
    // The exporter may still be on its way out of the call: finish later.
    QTimer::singleShot(0, this, [this, succeeded] {
        const platform::Error error = m_exporter ? m_exporter->error() : platform::Error();
        m_exporter.reset();
        if (!succeeded) {
            platform::logLine(QString("Frame export to %1 failed: %2").arg(m_url.toLocalFile(), error.description));
            endSheet(kFailed);
            platform::presentError(error.isNull() ? platform::describedError(tr("The frames couldn't be exported."))
                                                  : error);
        } else {
            endSheet(kSucceeded);
        }
        callLater(std::exchange(m_completionHandler, nullptr), succeeded ? kSucceeded : kFailed);
    });
}

void KTFrameExporterWindowController::endSheet(int returnCode)
{
    if (auto *sheet = qobject_cast<QDialog *>(window()))
        sheet->done(returnCode == kSucceeded ? QDialog::Accepted : QDialog::Rejected);
}
