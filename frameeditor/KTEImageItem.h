#pragma once

#include <QString>

class FrameImage;

// One picture of the graphics browser: the record and what the browser
// shows of it. Made only from a record.
class KTEImageItem
{
public:
    explicit KTEImageItem(FrameImage *frameImage);

    // The record's GUID: names the item in drags and in the thumbnail cache.
    const QString &imageID() const { return m_imageID; }
    // The graphics file; empty when the GUID could name no file inside the
    // graphics folder.
    const QString &imagePath() const { return m_imagePath; }
    // The name the picture had when it was added: the item's title.
    const QString &imageName() const { return m_imageName; }
    FrameImage *frameImage() const { return m_frameImage; }

private:
    QString m_imageID;
    QString m_imagePath;
    QString m_imageName;
    FrameImage *m_frameImage;
};
