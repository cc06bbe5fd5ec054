#include "scenes/SceneLibrary.h"

#include "design/KTColorMatLayer.h"
#include "platform/archive/Color.h"
#include "platform/archive/TypedStreamColor.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameImage.h"
#include "stores/FrameType.h"
#include "stores/LibraryStore.h"

#include <QDir>

namespace scenes {

SceneLibrary::SceneLibrary(const QString &supportFolder)
    : m_store(std::make_unique<LibraryStore>(&m_shell, supportFolder.isEmpty() ? m_temporary.path() : supportFolder))
{
    LibraryStore::setShared(m_store.get());
    QDir().mkpath(m_store->framesGraphicsFolder());
}

SceneLibrary::~SceneLibrary()
{
    if (LibraryStore::shared() == m_store.get())
        LibraryStore::setShared(nullptr);
}

platform::ManagedObjectContext *SceneLibrary::moc() const
{
    return m_store->managedObjectContext();
}

Frame *SceneLibrary::frame(const QString &type, const QString &name, const QList<QPair<QString, QString>> &pictures)
{
    platform::ManagedObjectContext *context = moc();
    if (!context)
        return nullptr;
    FrameType *frameType = FrameType::frameTypeWithName(type, context);
    if (!frameType) {
        frameType = FrameType::insertInManagedObjectContext(context);
        frameType->setName(type);
    }
    Frame *frame = Frame::insertInManagedObjectContext(context);
    frame->setName(name);
    frame->setFrametype(frameType);
    for (const auto &[attribute, path] : pictures) {
        FrameImage *image = FrameImage::frameImageFromImageAtPath(path, context);
        if (FrameAttribute *a = frame->frameAttributeWithName(attribute); a && image)
            a->setImageVal(image);
    }
    return frame;
}

Frame *SceneLibrary::colorMat(const QString &name, const QColor &color)
{
    Frame *mat = frame(QString::fromLatin1(KTFrameLayer::kColorMatTypeName), name);
    if (!mat)
        return nullptr;
    if (FrameAttribute *a = mat->frameAttributeWithName(QString::fromLatin1(KTColorMatLayer::kMatColorAttribute)))
        a->setColorVal(platform::typedStreamDataForColor(platform::Color::fromQColor(color)));
    return mat;
}

} // namespace scenes
