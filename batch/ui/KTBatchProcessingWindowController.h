#pragma once

#include "batch/KTBatchProcessingCoordinator.h"

#include "batch/ui/KTBatchProcessingProgressController.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class KTBatchProcessingConfigurationController;
class KTBatchProcessingProgressController;
class QVBoxLayout;

// The batch window: the configuration page until a run starts, the progress
// page until the user leaves it. It owns the session's engine, reads the last
// used settings when it opens and writes them back after every change.
class KTBatchProcessingWindowController : public QWidget
{
    Q_OBJECT
public:
    static constexpr const char *kWindowTitle = "Batch Processing";
    static constexpr const char *kCloseRefusedMessage = "The photos are still being processed";
    static constexpr const char *kCloseRefusedText =
        "The window can be closed once every photo is done.";
    static constexpr const char *kStartFailedMessage = "The photos could not be processed";

    // An empty `presetPath` is the user's "LastUsedPreset.plist".
    explicit KTBatchProcessingWindowController(const QString &presetPath = QString(), QWidget *parent = nullptr);
    ~KTBatchProcessingWindowController() override;

    // One window at a time: raises the open one.
    static KTBatchProcessingWindowController *showShared();
    // The quit's view of the one window: whether it runs a batch, and
    // stopping that run after whole files (`stopped` follows, also when
    // nothing runs).
    static bool isSharedWindowProcessing();
    static void stopSharedRunAfterCurrentFiles(std::function<void()> stopped);

    KTBatchProcessingCoordinator &coordinator() { return m_coordinator; }
    KTBatchProcessingConfigurationController *configurationViewController() const { return m_configuration; }
    KTBatchProcessingProgressController *progressViewController() const { return m_progress; }

    // Starts the run the configuration describes; false (and an alert) when it can't.
    bool process();
    void startConfiguration();
    void startProgressWithNumberOfFiles(quint64 count);
    // Shows the page alone and gives the window its size (none: as it is).
    void replaceContentViewControllerWith(QWidget *page, const QSize &preferred);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QString m_presetPath;
    KTBatchProcessingCoordinator m_coordinator;
    KTBatchProcessingConfigurationController *m_configuration = nullptr;
    QPointer<KTBatchProcessingProgressController> m_progress;
    QVBoxLayout *m_pages = nullptr;
    QSize m_configurationSize;
};
