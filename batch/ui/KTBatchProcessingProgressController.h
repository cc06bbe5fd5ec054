#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

// The batch window's second page: counts the run's files, names the failed
// ones with their reasons and shows them in the file manager.
class KTBatchProcessingProgressController : public QWidget
{
    Q_OBJECT
public:
    static constexpr const char *kStatusFormat = "Processing image %1 of %2";
    static constexpr const char *kDone = "Done!";
    static constexpr const char *kFailedFormat = "Failed to process %n image(s)";

    explicit KTBatchProcessingProgressController(quint64 total, QWidget *parent = nullptr);

    quint64 total() const { return m_total; }
    quint64 processed() const { return m_processed; }
    bool done() const { return m_processed >= m_total; }
    QString status() const;
    QString error() const;
    QList<QUrl> failedFiles() const { return m_failed; }
    QStringList failureReasons() const { return m_reasons; }

    void reportProcessedFiles(quint64 count);
    void reportFailureFor(const QUrl &file, const QString &reason);
    // Shows the failed files beside their button; a second time hides them.
    void displayFailedFilesList();
    // The small window of failed files while it shows, else null.
    QWidget *failedFilesPopup() const;
    // The failed file of a row in the file manager; a row out of range reveals nothing.
    void revealFailedFile(int row);

signals:
    void doneChanged(bool done);
    void didComplete();

private:
    void refresh();

    quint64 m_total = 0;
    quint64 m_processed = 0;
    QList<QUrl> m_failed;
    QStringList m_reasons;
    QLabel *m_status = nullptr;
    QProgressBar *m_bar = nullptr;
    QLabel *m_error = nullptr;
    QPushButton *m_showFailed = nullptr;
    QWidget *m_popup = nullptr;
    QTreeWidget *m_failedList = nullptr;
    QPushButton *m_complete = nullptr;
};
