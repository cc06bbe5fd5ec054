#include "frameeditor/KTEImageItem.h"

#include "stores/FrameImage.h"

KTEImageItem::KTEImageItem(FrameImage *frameImage)
    : m_imageID(frameImage->guid())
    , m_imagePath(frameImage->imagePath())
    , m_imageName(frameImage->filename())
    , m_frameImage(frameImage)
{
}
