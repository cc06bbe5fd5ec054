#pragma once

#include <QLabel>
#include <QMutex>

class QMimeData;

// An image well: shows the picture dropped on it and remembers the path of
// the dropped file.
class KTImageView : public QLabel
{
    Q_OBJECT
public:
    explicit KTImageView(QWidget *parent = nullptr);

    QString imagePath() const;
    void setImagePath(const QString &path);

    QImage image() const { return m_image; }
    void setImage(const QImage &image);

signals:
    // The user dropped a picture on the well.
    void imageDropped();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // The well's own drop handling: takes the first picture the drop holds.
    bool acceptDroppedImage(const QMimeData *mime);
    void refreshPixmap();

    mutable QMutex m_pathMutex;
    QString m_imagePath;
    QImage m_image;
};
