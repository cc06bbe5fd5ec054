#pragma once

#include <QCache>
#include <QImage>
#include <QList>
#include <QListWidget>
#include <QThreadPool>
#include <QUrl>

class KTBatchProcessingCoordinator;

// The strip of the configuration page: each photo with the design applied,
// made eight at a time on a pool of its own and kept (the last hundred).
// A result for an earlier file list or design arrives late and is dropped.
class KTThumbnailsController : public QListWidget
{
    Q_OBJECT
public:
    static constexpr int kThumbnailSide = 120;
    static constexpr int kConcurrentThumbnails = 8;
    static constexpr int kCachedThumbnails = 100;

    KTThumbnailsController(KTBatchProcessingCoordinator *generator, QWidget *parent = nullptr);
    ~KTThumbnailsController() override;

    // Both redraw every thumbnail; empty design data draws none.
    void setFiles(const QList<QUrl> &files);
    void setTemplateData(const QByteArray &data);
    QList<QUrl> files() const { return m_files; }

    int readyCount() const { return m_ready; }
    quint64 generation() const { return m_generation; }
    // Waits for the thumbnails being made; their designs are decoded on this
    // thread, so it keeps answering meanwhile.
    void waitForPending();

signals:
    void thumbnailReady(int index);

private:
    void reload();
    void showLargePreview(int row);

    KTBatchProcessingCoordinator *m_generator;
    QList<QUrl> m_files;
    QByteArray m_templateData;
    QCache<QUrl, QImage> m_cache;
    QThreadPool m_pool;
    quint64 m_generation = 0;
    int m_ready = 0;
};
