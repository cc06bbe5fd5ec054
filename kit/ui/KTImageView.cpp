#include "kit/ui/KTImageView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImageReader>
#include <QMimeData>
#include <QUrl>

KTImageView::KTImageView(QWidget *parent)
    : QLabel(parent)
{
    setAcceptDrops(true);
    setAlignment(Qt::AlignCenter);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setMinimumSize(32, 32);
}

QString KTImageView::imagePath() const
{
    QMutexLocker lock(&m_pathMutex);
    return m_imagePath;
}

void KTImageView::setImagePath(const QString &path)
{
    QMutexLocker lock(&m_pathMutex);
    m_imagePath = path;
}

void KTImageView::setImage(const QImage &image)
{
    m_image = image;
    refreshPixmap();
}

void KTImageView::refreshPixmap()
{
    if (m_image.isNull()) {
        setPixmap({});
        return;
    }
    const QSize room = contentsRect().size() - QSize(4, 4);
    QImage shown = m_image;
    if (room.isValid() && (shown.width() > room.width() || shown.height() > room.height()))
        shown = shown.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    setPixmap(QPixmap::fromImage(shown));
}

void KTImageView::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    refreshPixmap();
}

void KTImageView::dragEnterEvent(QDragEnterEvent *event)
{
    const QMimeData *mime = event->mimeData();
    if (mime && (mime->hasImage() || mime->hasUrls()))
        event->acceptProposedAction();
}

bool KTImageView::acceptDroppedImage(const QMimeData *mime)
{
    if (!mime)
        return false;
    if (mime->hasUrls()) {
        for (const QUrl &url : mime->urls()) {
            if (!url.isLocalFile())
                continue;
            QImageReader reader(url.toLocalFile());
            reader.setAutoTransform(true);
            const QImage image = reader.read();
            if (!image.isNull()) {
                setImage(image);
                return true;
            }
        }
    }
    if (mime->hasImage()) {
        const QImage image = qvariant_cast<QImage>(mime->imageData());
        if (!image.isNull()) {
            setImage(image);
            return true;
        }
    }
    return false;
}

void KTImageView::dropEvent(QDropEvent *event)
{
    const QMimeData *mime = event->mimeData();
    if (!acceptDroppedImage(mime)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // The path follows the drop's file list: its first file, or none when
    // the list is empty; a drop without a file list leaves it alone.
    if (mime->hasUrls()) {
        const QList<QUrl> urls = mime->urls();
        setImagePath(urls.isEmpty() ? QString() : urls.first().toLocalFile());
    }
    emit imageDropped();
}
