#include "batch/ui/KTBatchProcessingProgressController.h"

#include "platform/ui/RevealInFileManager.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

KTBatchProcessingProgressController::KTBatchProcessingProgressController(quint64 total, QWidget *parent)
    : QWidget(parent), m_total(total)
{
    setObjectName(QStringLiteral("batchProgressPage"));
    auto *layout = new QVBoxLayout(this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    QFont larger = m_status->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.2);
    m_status->setFont(larger);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, int(qMin<quint64>(total, INT_MAX)));
    m_error = new QLabel(this);
    m_error->setObjectName(QStringLiteral("errorLabel"));
    m_showFailed = new QPushButton(tr("Show Failed Files…"), this);
    m_showFailed->setObjectName(QStringLiteral("showFailedButton"));
    layout->addWidget(m_status);
    layout->addWidget(m_bar);
    auto *errors = new QHBoxLayout;
    errors->addWidget(m_error);
    errors->addWidget(m_showFailed);
    errors->addStretch();
    layout->addLayout(errors);
    layout->addStretch(1);

    // The failed files, in a small window that goes at the next click elsewhere.
    m_popup = new QWidget(this, Qt::Popup);
    m_popup->setObjectName(QStringLiteral("failedFilesPopup"));
    // A click on the button that opened it only closes it.
    m_popup->setAttribute(Qt::WA_NoMouseReplay);
    auto *popupLayout = new QVBoxLayout(m_popup);
    m_failedList = new QTreeWidget(m_popup);
    m_failedList->setObjectName(QStringLiteral("failedFilesList"));
    m_failedList->setHeaderLabels({tr("File"), tr("Reason"), QString()});
    m_failedList->setRootIsDecorated(false);
    m_failedList->setAlternatingRowColors(true);
    m_failedList->header()->setStretchLastSection(false);
    m_failedList->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    m_failedList->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_failedList->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    popupLayout->addWidget(m_failedList);
    // The whole reason of the chosen row: reasons are sentences, too long for a column.
    auto *details = new QLabel(m_popup);
    details->setObjectName(QStringLiteral("failureDetails"));
    details->setWordWrap(true);
    details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    popupLayout->addWidget(details);
    popupLayout->addWidget(new QLabel(tr("Double-click a file to show it in its folder."), m_popup));
    connect(m_failedList, &QTreeWidget::currentItemChanged, details, [this, details](QTreeWidgetItem *item) {
        const int row = m_failedList->indexOfTopLevelItem(item);
        details->setText(row < 0 ? QString()
                                 : QStringLiteral("%1: %2").arg(m_failedList->topLevelItem(row)->text(0), m_reasons.value(row)));
    });
    connect(m_failedList, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem *item) { revealFailedFile(m_failedList->indexOfTopLevelItem(item)); });

    auto *buttons = new QHBoxLayout;
    m_complete = new QPushButton(tr("Back to Settings"), this);
    m_complete->setObjectName(QStringLiteral("completeButton"));
    m_complete->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(m_complete);
    layout->addLayout(buttons);
    connect(m_showFailed, &QPushButton::clicked, this, &KTBatchProcessingProgressController::displayFailedFilesList);
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
    return tr(kFailedFormat, nullptr, int(m_failed.size()));
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
        auto *reveal = new QToolButton(m_failedList);
        reveal->setText(tr("Show in Folder"));
        reveal->setAutoRaise(true);
        m_failedList->setItemWidget(item, 2, reveal);
        connect(reveal, &QToolButton::clicked, this,
                [this, item] { revealFailedFile(m_failedList->indexOfTopLevelItem(item)); });
        if (!m_failedList->currentItem())
            m_failedList->setCurrentItem(item);
    }
    reportProcessedFiles(1);
}

void KTBatchProcessingProgressController::displayFailedFilesList()
{
    if (m_popup->isVisible()) {
        m_popup->hide();
        return;
    }
    const QRect screen = m_showFailed->screen() ? m_showFailed->screen()->availableGeometry() : QRect();
    const int wide = qMin(qMax(width(), 640), screen.isEmpty() ? 640 : screen.width());
    m_popup->resize(wide, m_popup->height());
    m_failedList->resizeColumnToContents(0);
    m_failedList->setColumnWidth(0, qMin(m_failedList->columnWidth(0) + 12, wide / 3));
    m_popup->layout()->activate();
    int rowsHeight = 0;
    for (int row = 0; row < qMin(m_failedList->topLevelItemCount(), 8); ++row)
        rowsHeight += m_failedList->sizeHintForRow(row);
    const QSize size(wide, qMax(rowsHeight, fontMetrics().height()) + m_failedList->header()->sizeHint().height()
                               + 4 * fontMetrics().height() + 52);
    m_popup->resize(size);
    // Above the button when there is room on its screen, else below it.
    const QPoint top = m_showFailed->mapToGlobal(QPoint(0, 0));
    QPoint at(top.x(), top.y() - size.height());
    if (!screen.isEmpty() && at.y() < screen.top())
        at.setY(top.y() + m_showFailed->height());
    if (!screen.isEmpty())
        at.setX(qBound(screen.left(), at.x(), qMax(screen.left(), screen.right() - size.width())));
    m_popup->move(at);
    m_popup->show();
}

QWidget *KTBatchProcessingProgressController::failedFilesPopup() const
{
    return m_popup->isVisible() ? m_popup : nullptr;
}

void KTBatchProcessingProgressController::revealFailedFile(int row)
{
    if (row >= 0 && row < m_failed.size())
        platform::revealInFileManager(m_failed.at(row));
}

void KTBatchProcessingProgressController::refresh()
{
    m_status->setText(status());
    m_bar->setValue(int(qMin<quint64>(m_processed, INT_MAX)));
    m_error->setText(error());
    m_error->setVisible(!m_failed.isEmpty());
    m_showFailed->setVisible(!m_failed.isEmpty());
    m_complete->setEnabled(done());
}
