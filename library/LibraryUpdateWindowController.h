#pragma once

#include "library/LibraryUpdateEngine.h"
#include "platform/ui/WindowController.h"

#include <QPointer>

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

class LibraryStore;

// The library update window: a status line, a progress text and bar, the
// cancel button and a log that the log button shows or hides. It starts and
// cancels the update engine and shows what the engine reports.
class LibraryUpdateWindowController : public platform::WindowController, public LibraryUpdateReporter
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "LibraryUpdateWindow";
    static constexpr int kWindowWidth = 480;
    static constexpr int kHeightWithoutLog = 146;
    static constexpr int kHeightWithLog = 396;
    static constexpr const char *kStartingLog = "Starting library update";
    static constexpr const char *kFinished = "Finished library update";
    static constexpr const char *kCancelled = "Cancelled library update";

    explicit LibraryUpdateWindowController(LibraryStore *library, QObject *parent = nullptr);
    ~LibraryUpdateWindowController() override;

    // The engine, made once on first need.
    LibraryUpdateEngine *setupUpdateEngine();
    // The pending counts (standard, pro) as a call to make off the main thread.
    std::function<std::optional<QStringList>()> checkUpdates();
    void startUpdating();
    bool isUpdating() const { return m_isUpdating; }

    // LibraryUpdateReporter (main thread).
    void setStatus(const QString &status) override;
    void setProgressIndicatorText(const QString &text) override;
    void addLineToLog(const QString &line) override;
    void setProgress(int maximum, int value) override;
    void updateEnded() override;
    void updateCancelled() override;
    void closeWindow() override;

    void showLogButtonPressed();
    void cancelButtonPressed();
    void resizeWindowBasedOnLogButton();

    QLabel *nowDoingLabel() const { return m_nowDoingLabel; }
    QLabel *progressIndicatorLabel() const { return m_progressIndicatorLabel; }
    QProgressBar *progressIndicator() const { return m_progressIndicator; }
    QPushButton *showLogButton() const { return m_showLogButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QPlainTextEdit *logTextView() const { return m_logTextView; }

signals:
    void updatingChanged(bool updating);

protected:
    QWidget *loadWindow() override;
    void windowDidLoad() override;

private:
    void ended(const char *text, bool finished);

    LibraryStore *m_library;
    LibraryUpdateEngine *m_updateEngine = nullptr;
    bool m_isUpdating = false;
    QPointer<QLabel> m_nowDoingLabel;
    QPointer<QLabel> m_progressIndicatorLabel;
    QPointer<QProgressBar> m_progressIndicator;
    QPointer<QPushButton> m_showLogButton;
    QPointer<QPushButton> m_cancelButton;
    QPointer<QPlainTextEdit> m_logTextView;
};
