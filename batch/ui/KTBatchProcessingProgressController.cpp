#include "batch/ui/KTBatchProcessingProgressController.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

KTBatchProcessingProgressController::KTBatchProcessingProgressController(quint64 total, QWidget *parent)
    : QWidget(parent), m_total(total)
{
    setObjectName(QStringLiteral("batchProgressPage"));
    auto *layout = new QVBoxLayout(this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, int(qMin<quint64>(total, INT_MAX)));
    m_error = new QLabel(this);
    m_error->setObjectName(QStringLiteral("errorLabel"));
    layout->addWidget(m_status);
    layout->addWidget(m_bar);
    layout->addWidget(m_error);
    m_failedList = new QTreeWidget(this);
    m_failedList->setObjectName(QStringLiteral("failedFilesList"));
    m_failedList->setHeaderLabels({tr("File"), tr("Reason")});
    m_failedList->setRootIsDecorated(false);
    m_failedList->header()->setStretchLastSection(true);
    m_failedList->setVisible(false);
    layout->addWidget(m_failedList, 1);
    // Keeps the counts at the top while the failed list is hidden.
    layout->addStretch(0);
    connect(m_failedList, &QTreeWidget::itemDoubleClicked, this, &KTBatchProcessingProgressController::revealSelectedFile);

    auto *buttons = new QHBoxLayout;
    m_showFailed = new QPushButton(tr("Show Failed Files"), this);
    m_showFailed->setObjectName(QStringLiteral("showFailedButton"));
    m_showFailed->setCheckable(true);
    m_reveal = new QPushButton(tr("Show in Folder"), this);
    m_reveal->setObjectName(QStringLiteral("revealButton"));
    m_complete = new QPushButton(tr("Back"), this);
    m_complete->setObjectName(QStringLiteral("completeButton"));
    buttons->addWidget(m_showFailed);
    buttons->addWidget(m_reveal);
    buttons->addStretch();
    buttons->addWidget(m_complete);
    layout->addLayout(buttons);
    connect(m_showFailed, &QPushButton::toggled, this, [this](bool shown) {
        m_failedList->setVisible(shown);
        refresh();
    });
    connect(m_reveal, &QPushButton::clicked, this, &KTBatchProcessingProgressController::revealSelectedFile);
    connect(m_complete, &QPushButton::clicked, this, &KTBatchProcessingProgressController::didComplete);
    refresh();
}

QString KTBatchProcessingProgressController::status() const
{
    return done() ? tr(kDone) : tr(kStatusFormat).arg(m_processed).arg(m_total);
}

QString KTBatchProcessingProgressController::error() const
{
    if (m_failed.isEmpty())
        return QString();
    return tr(m_failed.size() == 1 ? kOneFailedFormat : kFailedFormat).arg(m_failed.size());
}

void KTBatchProcessingProgressController::reportProcessedFiles(quint64 count)
{
    const bool wasDone = done();
    m_processed += count;
    refresh();
    if (done() != wasDone)
        emit doneChanged(done());
}

void KTBatchProcessingProgressController::reportFailureFor(const QUrl &file, const QString &reason)
{
    if (!m_failed.contains(file)) {
        m_failed << file;
        m_reasons << reason;
        auto *item = new QTreeWidgetItem(m_failedList, {QFileInfo(file.toLocalFile()).fileName(), reason});
        item->setToolTip(0, file.toLocalFile());
        item->setToolTip(1, reason);
        if (!m_failedList->currentItem())
            m_failedList->setCurrentItem(item);
    }
    reportProcessedFiles(1);
}

void KTBatchProcessingProgressController::revealSelectedFile()
{
    const int row = m_failedList->indexOfTopLevelItem(m_failedList->currentItem());
    if (row >= 0 && row < m_failed.size())
        revealFile(m_failed.at(row));
}

void KTBatchProcessingProgressController::revealFile(const QUrl &file)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{file.toString(QUrl::FullyEncoded)} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath()));
}

void KTBatchProcessingProgressController::refresh()
{
    m_status->setText(status());
    m_bar->setValue(int(qMin<quint64>(m_processed, INT_MAX)));
    m_error->setText(error());
    m_error->setVisible(!m_failed.isEmpty());
    m_showFailed->setVisible(!m_failed.isEmpty());
    m_reveal->setVisible(!m_failed.isEmpty() && m_failedList->isVisible());
    m_complete->setEnabled(done());
}
