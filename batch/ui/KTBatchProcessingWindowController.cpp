#include "batch/ui/KTBatchProcessingWindowController.h"

#include "batch/ui/KTBatchProcessingConfigurationController.h"
#include "batch/ui/KTBatchProcessingProgressController.h"
#include "design/TemplatesStore.h"
#include "platform/Alert.h"
#include "platform/Log.h"
#include "platform/ui/WindowPlacement.h"
#include "stores/LibraryStore.h"

#include <QApplication>
#include <QCloseEvent>
#include <QVBoxLayout>
#include <QTimer>

namespace {
QPointer<KTBatchProcessingWindowController> g_shared;
}

KTBatchProcessingWindowController::KTBatchProcessingWindowController(const QString &presetPath, QWidget *parent)
    : QWidget(parent, Qt::Window),
      m_presetPath(presetPath.isEmpty() ? KTBatchProcessingOptions::defaultBatchConfigurationPresetPath() : presetPath)
{
    setObjectName(QStringLiteral("batchProcessingWindow"));
    // The window is where the batch meets the program's stores.
    TemplatesStore *designs = TemplatesStore::shared();
    m_coordinator.setStores(
        {LibraryStore::sharedContext(), designs ? designs->templatesManagedObjectContext() : nullptr});
    setWindowTitle(tr(kWindowTitle));
    // One page shows at a time; a hidden page takes no room, so the window
    // can take the size of the page it shows.
    m_pages = new QVBoxLayout(this);
    m_pages->setContentsMargins(0, 0, 0, 0);
    m_configuration = new KTBatchProcessingConfigurationController(&m_coordinator, this);
    m_pages->addWidget(m_configuration);
    // The last used settings, read once per window.
    if (const auto preset = KTBatchProcessingOptions::readPreset(m_presetPath, m_coordinator.stores()))
        m_configuration->loadPreset(*preset);
    else
        m_configuration->loadDefaultExportParameters();
    connect(m_configuration, &KTBatchProcessingConfigurationController::didUpdateOptions, this, [this] {
        if (!m_presetPath.isEmpty())
            m_configuration->currentOptions()->writePreset(m_presetPath);
    });
    connect(m_configuration, &KTBatchProcessingConfigurationController::didFinish, this,
            &KTBatchProcessingWindowController::process);
    connect(&m_coordinator, &KTBatchProcessingCoordinator::processingStarted, this,
            [this](int count) { startProgressWithNumberOfFiles(quint64(qMax(count, 0))); });
    connect(&m_coordinator, &KTBatchProcessingCoordinator::fileSucceeded, this, [this] {
        if (m_progress)
            m_progress->reportProcessedFiles(1);
    });
    connect(&m_coordinator, &KTBatchProcessingCoordinator::fileFailed, this,
            [this](const QUrl &file, const QString &reason) {
                if (m_progress)
                    m_progress->reportFailureFor(file, reason);
            });
    resize(m_configuration->sizeHint().expandedTo(QSize(600, 720)));
}

KTBatchProcessingWindowController::~KTBatchProcessingWindowController()
{
    // The pages' thumbnails use the engine: they go first.
    delete m_configuration;
    delete m_progress;
}

KTBatchProcessingWindowController *KTBatchProcessingWindowController::showShared()
{
    if (!g_shared) {
        g_shared = new KTBatchProcessingWindowController;
        g_shared->setAttribute(Qt::WA_DeleteOnClose);
        platform::placeWindowOnScreen(g_shared);
    }
    g_shared->show();
    g_shared->raise();
    g_shared->activateWindow();
    // The window that asked may close after this and hand the focus on; come up again.
    QTimer::singleShot(0, g_shared.data(), [] {
        g_shared->raise();
        g_shared->activateWindow();
    });
    return g_shared;
}

bool KTBatchProcessingWindowController::isSharedWindowProcessing()
{
    return g_shared && g_shared->m_coordinator.isProcessing();
}

void KTBatchProcessingWindowController::stopSharedRunAfterCurrentFiles(std::function<void()> stopped)
{
    if (!isSharedWindowProcessing()) {
        QMetaObject::invokeMethod(qApp, std::move(stopped), Qt::QueuedConnection);
        return;
    }
    connect(&g_shared->m_coordinator, &KTBatchProcessingCoordinator::processingFinished, qApp,
            [stopped = std::move(stopped)] { stopped(); }, Qt::SingleShotConnection);
    g_shared->m_coordinator.stopAfterCurrentFiles();
}

bool KTBatchProcessingWindowController::process()
{
    platform::Error error;
    if (m_coordinator.startBatchProcessingWithOptions(m_configuration->currentOptions(),
                                                      m_configuration->destinationDirectory(), &error)) {
        m_configuration->rememberDestination();
        return true;
    }
    QString details = error.description;
    const QStringList problems = error.userInfo.value(QStringLiteral("problems")).toStringList();
    if (!problems.isEmpty())
        details += QStringLiteral("\n\n") + problems.mid(0, 10).join(QLatin1Char('\n'));
    platform::runAlert({tr(kStartFailedMessage), details, {}, platform::AlertRequest::Style::Warning});
    return false;
}

void KTBatchProcessingWindowController::startConfiguration()
{
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
    replaceContentViewControllerWith(m_configuration, m_configurationSize);
}

void KTBatchProcessingWindowController::startProgressWithNumberOfFiles(quint64 count)
{
    if (m_progress) {
        platform::logLine(QStringLiteral("ERROR: A progress view controller should not exist at this point"));
        m_progress->deleteLater();
    }
    m_progress = new KTBatchProcessingProgressController(count, this);
    connect(m_progress, &KTBatchProcessingProgressController::didComplete, this,
            &KTBatchProcessingWindowController::startConfiguration);
    m_pages->addWidget(m_progress);
    // The settings page comes back at the size the user left it.
    m_configurationSize = size();
    replaceContentViewControllerWith(m_progress, m_progress->sizeHint().expandedTo(QSize(width(), 0)));
}

void KTBatchProcessingWindowController::replaceContentViewControllerWith(QWidget *page, const QSize &preferred)
{
    for (QWidget *other : {static_cast<QWidget *>(m_configuration), static_cast<QWidget *>(m_progress.data())}) {
        if (other && other != page)
            other->hide();
    }
    page->show();
    // The window's top edge stays; its bottom follows the page.
    if (preferred.isValid()) {
        layout()->activate();
        resize(preferred.expandedTo(minimumSizeHint()));
    }
}

void KTBatchProcessingWindowController::closeEvent(QCloseEvent *event)
{
    // The window manager's close button stays; a close during a run is refused.
    if (m_coordinator.isProcessing()) {
        event->ignore();
        platform::runAlert({tr(kCloseRefusedMessage), tr(kCloseRefusedText), {}, platform::AlertRequest::Style::Informational});
        return;
    }
    event->accept();
}
