#pragma once

#include "platform/ThreadPools.h"

#include <QCache>
#include <QImage>
#include <QList>
#include <QListWidget>
#include <QPointer>
#include <QUrl>

class KTBatchProcessingCoordinator;
class QLabel;

// The strip of the configuration page: each photo with the design applied,
// made eight at a time on a pool of its own and kept (the last hundred).
// A result for an earlier file list or design arrives late and is dropped.
// Resting the pointer on a thumbnail darkens it and shows a button that opens
// a larger look in a window of its own.
class KTThumbnailsController : public QListWidget
{
    Q_OBJECT
public:
    static constexpr int kThumbnailSide = 120;
    static constexpr int kConcurrentThumbnails = 8;
    static constexpr int kCachedThumbnails = 100;
    static constexpr int kHoverButtonSide = 40;

    enum class State { NoDesign, Loading, Ready, Failed };

    KTThumbnailsController(KTBatchProcessingCoordinator *generator, QWidget *parent = nullptr);
    ~KTThumbnailsController() override;

    // Both redraw every thumbnail; empty design data draws none.
    void setFiles(const QList<QUrl> &files);
    void setTemplateData(const QByteArray &data);
    QList<QUrl> files() const { return m_files; }

    int readyCount() const { return m_ready; }
    State stateOf(int row) const { return m_states.value(row, State::NoDesign); }
    quint64 generation() const { return m_generation; }
    // Waits for the thumbnails being made; their designs are decoded on this
    // thread, so it keeps answering meanwhile.
    void waitForPending();

    // The row under the pointer (its thumbnail darkened, its button shown), or -1.
    int hoveredRow() const { return m_hoveredRow; }
    // Where the hover button of a row sits, in the viewport.
    QRect hoverButtonRect(int row) const;
    // Opens the larger look of a row; a second time for the same row closes it.
    void toggleLargePreview(int row);
    void hideLargePreview();
    // The larger look's window while it is open, and the row it shows.
    QWidget *largePreviewWindow() const;
    int largePreviewRow() const { return m_previewRow; }
    // The preview file shown now, deleted when the look closes or moves on.
    QUrl largePreviewFile() const { return m_previewFile; }

signals:
    void thumbnailReady(int index);
    void largePreviewReady(int row);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void reload();
    void setHoveredRow(int row);
    void purgePreviewFile();

    KTBatchProcessingCoordinator *m_generator;
    QList<QUrl> m_files;
    QList<State> m_states;
    QByteArray m_templateData;
    QCache<QUrl, QImage> m_cache;
    platform::WorkQueue m_pool{platform::Pool::Previews, kConcurrentThumbnails};
    platform::WorkQueue m_previewPool{platform::Pool::Previews, 1};
    quint64 m_generation = 0;
    int m_ready = 0;
    int m_hoveredRow = -1;
    QPointer<QWidget> m_previewWindow;
    QLabel *m_previewImage = nullptr;
    int m_previewRow = -1;
    quint64 m_previewRequest = 0;
    QUrl m_previewFile;
};
