#include "batch/ui/KTThumbnailsController.h"

#include "batch/KTBatchProcessingCoordinator.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QVBoxLayout>

KTThumbnailsController::KTThumbnailsController(KTBatchProcessingCoordinator *generator, QWidget *parent)
    : QListWidget(parent), m_generator(generator), m_cache(kCachedThumbnails)
{
    setObjectName(QStringLiteral("thumbnailsStrip"));
    m_pool.setMaxThreadCount(kConcurrentThumbnails);
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(false);
    setMovement(QListView::Static);
    setIconSize(QSize(kThumbnailSide, kThumbnailSide));
    setGridSize(QSize(kThumbnailSide + 16, kThumbnailSide + 28));
    setFixedHeight(kThumbnailSide + 52);
    setToolTip(tr("Double-click a thumbnail for a larger look"));
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) { showLargePreview(row(item)); });
}

KTThumbnailsController::~KTThumbnailsController()
{
    ++m_generation; // whatever still arrives is dropped
    m_pool.clear();
    waitForPending();
}

void KTThumbnailsController::waitForPending()
{
    while (!m_pool.waitForDone(20))
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

void KTThumbnailsController::setFiles(const QList<QUrl> &files)
{
    m_files = files;
    reload();
}

void KTThumbnailsController::setTemplateData(const QByteArray &data)
{
    if (data == m_templateData)
        return;
    m_templateData = data;
    m_cache.clear();
    reload();
}

void KTThumbnailsController::reload()
{
    ++m_generation;
    m_pool.clear();
    m_ready = 0;
    clear();
    const qreal scale = devicePixelRatioF();
    const QSize pixels(qRound(kThumbnailSide * scale), qRound(kThumbnailSide * scale));
    for (int i = 0; i < m_files.size(); ++i) {
        const QUrl file = m_files.at(i);
        auto *item = new QListWidgetItem(QFileInfo(file.toLocalFile()).fileName(), this);
        item->setToolTip(file.toLocalFile());
        if (m_templateData.isEmpty())
            continue;
        if (const QImage *cached = m_cache.object(file)) {
            item->setIcon(QPixmap::fromImage(*cached));
            ++m_ready;
            continue;
        }
        const quint64 generation = m_generation;
        const QByteArray data = m_templateData;
        QPointer<KTThumbnailsController> self(this);
        KTBatchProcessingCoordinator *generator = m_generator;
        m_pool.start([=] {
            QImage image = generator->thumbnailForImageAtURL(file, data, pixels);
            image.setDevicePixelRatio(scale);
            QMetaObject::invokeMethod(self.data(), [=] {
                // A later list or design owns the strip now.
                if (!self || generation != self->m_generation || image.isNull())
                    return;
                self->m_cache.insert(file, new QImage(image));
                if (QListWidgetItem *target = self->item(i)) {
                    target->setIcon(QPixmap::fromImage(image));
                    ++self->m_ready;
                    emit self->thumbnailReady(i);
                }
            }, Qt::QueuedConnection);
        });
    }
}

void KTThumbnailsController::showLargePreview(int row)
{
    if (row < 0 || row >= m_files.size() || m_templateData.isEmpty())
        return;
    const QUrl preview = m_generator->largePreviewFileURLForImageAtURL(m_files.at(row), m_templateData);
    if (preview.isEmpty())
        return;
    auto *dialog = new QDialog(window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QFileInfo(m_files.at(row).toLocalFile()).fileName());
    auto *label = new QLabel(dialog);
    label->setPixmap(QPixmap(preview.toLocalFile()));
    (new QVBoxLayout(dialog))->addWidget(label);
    connect(dialog, &QObject::destroyed, m_generator, [generator = m_generator, preview] {
        generator->purgeGeneratedPreview(preview);
    });
    dialog->show();
}
