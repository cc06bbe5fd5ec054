#include "stores/Frame.h"

#include "kit/VLBlocks.h"
#include "kit/VLBlocksAdditions.h"
#include "platform/TypeTable.h"
#include "platform/imaging/ImageDecoder.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryDates.h"
#include "stores/LibraryModel.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <QSet>

using namespace platform;

namespace {

QMutex &builderLock()
{
    static QMutex lock;
    return lock;
}

Frame::IconBuilder &iconBuilder()
{
    static Frame::IconBuilder builder;
    return builder;
}

} // namespace

EntityDescription Frame::entityDescription()
{
    EntityDescription e;
    e.name = entityName();
    e.attributes = LibraryModel::commonItemAttributes();
    e.attributes += {
        {QStringLiteral("author"), AttributeType::String},
        {QStringLiteral("catalogRef"), AttributeType::String},
        {QStringLiteral("isFavorite"), AttributeType::Boolean},
        {QStringLiteral("iconImage"), AttributeType::Bytes, {}, false, true},
        {QStringLiteral("lastUsed"), AttributeType::Date},
        {QStringLiteral("hasGraphics"), AttributeType::Boolean, true, true},
    };
    e.relationships = {
        {QStringLiteral("attributes"), FrameAttribute::entityName(), QStringLiteral("frame"), true, DeleteRule::Cascade},
        {QStringLiteral("frameset"), FrameSet::entityName(), QStringLiteral("frames"), false},
        {QStringLiteral("frametype"), FrameType::entityName(), QStringLiteral("frames"), false},
    };
    e.factory = [] { return std::make_unique<Frame>(); };
    return e;
}

const QMap<QString, QMap<QString, int>> &Frame::frameTypeTable()
{
    using K = FrameAttribute;
    static const QMap<QString, QMap<QString, int>> table{
        {QStringLiteral("Color Mat"), {{QStringLiteral("Mat color"), K::KindColor}}},
        {QStringLiteral("Full frame"),
         {{QStringLiteral("Act as mask"), K::KindBoolean},
          {QStringLiteral("Landscape Image"), K::KindImage},
          {QStringLiteral("Portrait Image"), K::KindImage}}},
        {QStringLiteral("Moulding"),
         {{QStringLiteral("Act as mask"), K::KindBoolean},
          {QStringLiteral("Mirror images"), K::KindBoolean},
          {QStringLiteral("Bottom Image"), K::KindImage},
          {QStringLiteral("Left Image"), K::KindImage},
          {QStringLiteral("Right Image"), K::KindImage},
          {QStringLiteral("Top Image"), K::KindImage}}},
        {QStringLiteral("Moulding with corners"),
         {{QStringLiteral("Act as mask"), K::KindBoolean},
          {QStringLiteral("Bottom Image"), K::KindImage},
          {QStringLiteral("Left Image"), K::KindImage},
          {QStringLiteral("Right Image"), K::KindImage},
          {QStringLiteral("Top Image"), K::KindImage},
          {QStringLiteral("Bottom-Left corner"), K::KindImage},
          {QStringLiteral("Bottom-Right corner"), K::KindImage},
          {QStringLiteral("Top-Left corner"), K::KindImage},
          {QStringLiteral("Top-Right corner"), K::KindImage}}},
    };
    return table;
}

QImage Frame::iconImage() const
{
    const QByteArray data = iconImageData();
    return data.isEmpty() ? QImage() : platform::ImageDecoder::rasterFromData(data);
}

void Frame::setIconImage(const QImage &image)
{
    if (image.isNull()) {
        setIconImageData(QByteArray());
        return;
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    setIconImageData(data);
}

QList<FrameAttribute *> Frame::attributes() const
{
    return toManyAs<FrameAttribute>(Attributes);
}

void Frame::addAttributesObject(FrameAttribute *attribute)
{
    addToMany(Attributes, attribute);
}

void Frame::removeAttributesObject(FrameAttribute *attribute)
{
    removeFromMany(Attributes, attribute);
}

FrameSet *Frame::frameset() const
{
    return toOneAs<FrameSet>(Frameset);
}

void Frame::setFrameset(FrameSet *set)
{
    setToOne(Frameset, set);
}

FrameType *Frame::frametype() const
{
    return toOneAs<FrameType>(Frametype);
}

void Frame::setFrametype(FrameType *type)
{
    ManagedObjectContext *moc = managedObjectContext();
    const QList<FrameAttribute *> old = attributes();
    for (FrameAttribute *attribute : old)
        moc->deleteObject(attribute);
    if (!type) {
        setToOne(Frametype, nullptr);
        return;
    }
    const auto entry = frameTypeTable().constFind(type->name());
    if (entry == frameTypeTable().constEnd())
        return;
    for (auto it = entry->constBegin(); it != entry->constEnd(); ++it) {
        FrameAttribute *attribute = FrameAttribute::insertInManagedObjectContext(moc);
        attribute->setKind(it.value());
        attribute->setName(it.key());
        addAttributesObject(attribute);
    }
    setToOne(Frametype, type);
}

void Frame::setValueForKey(const QVariant &value, const QString &key)
{
    if (key == QLatin1String("frametype")) {
        setFrametype(static_cast<FrameType *>(value.value<ManagedObject *>()));
        return;
    }
    LibraryItem::setValueForKey(value, key);
}

void Frame::addMissingAttributes()
{
    FrameType *type = frametype();
    if (!type)
        return;
    const auto entry = frameTypeTable().constFind(type->name());
    if (entry == frameTypeTable().constEnd())
        return;
    QSet<QString> present;
    for (FrameAttribute *attribute : attributes())
        present.insert(attribute->name());
    for (auto it = entry->constBegin(); it != entry->constEnd(); ++it) {
        if (present.contains(it.key()))
            continue;
        FrameAttribute *attribute = FrameAttribute::insertInManagedObjectContext(managedObjectContext());
        attribute->setKind(it.value());
        attribute->setName(it.key());
        addAttributesObject(attribute);
    }
}

FrameAttribute *Frame::frameAttributeWithName(const QString &name) const
{
    KT_ASSERT(!name.isNull(), QStringLiteral("AttributeName can't be nil"));
    for (FrameAttribute *attribute : attributes())
        if (attribute->name() == name)
            return attribute;
    return nullptr;
}

QVariant Frame::valueForAttribute(const QString &name) const
{
    FrameAttribute *attribute = frameAttributeWithName(name);
    return attribute ? attribute->attributeValue() : QVariant();
}

Frame *Frame::duplicate()
{
    ManagedObjectContext *moc = managedObjectContext();
    Frame *copy = insertInManagedObjectContext(moc);
    copy->setAdescription(adescription());
    copy->setAuthor(author());
    copy->setCatalogRef(catalogRef());
    copy->setFrametype(frametype());
    copy->setName(name() + QCoreApplication::translate("Frame", " copy"));
    copy->setUrl(url());
    const QList<FrameAttribute *> made = copy->attributes();
    for (FrameAttribute *attribute : made)
        moc->deleteObject(attribute);
    for (FrameAttribute *attribute : attributes())
        copy->addAttributesObject(attribute->duplicate());
    return copy;
}

void Frame::setIconBuilder(IconBuilder builder)
{
    QMutexLocker locker(&builderLock());
    iconBuilder() = std::move(builder);
}

void Frame::buildIcon()
{
    IconBuilder builder;
    {
        QMutexLocker locker(&builderLock());
        builder = iconBuilder();
    }
    setIconImage(builder ? builder(*this, QSize(92, 92)) : QImage());
}

void Frame::verifyHasGraphics()
{
    for (FrameAttribute *attribute : attributes()) {
        if (attribute->kindValue() != FrameAttribute::KindImage)
            continue;
        FrameImage *image = attribute->imageVal();
        if (!image)
            continue;
        const QString path = image->imagePath();
        // A GUID that cannot name a file in the folder has no graphics either.
        if (path.isEmpty() || !QFileInfo::exists(path)) {
            setHasGraphics(false);
            return;
        }
    }
    setHasGraphics(true);
}

void Frame::awakeFromInsert()
{
    const QDateTime now = LibraryDates::now();
    setName(QStringLiteral("New Frame"));
    setIconImageData(QByteArray());
    setGuid(NSObjectVLGUID::getGUID());
    setAuthor(accountFullName());
    setLastUpdated(LibraryDates::distantPast());
    setLastModified(now);
    // Left unset: only putting the frame into a design counts as using it,
    // or every imported frame would head the recent list.
    setHasGraphics(true);
}

void Frame::awakeFromFetch()
{
    setHasGraphics(true);
}

Frame *Frame::frameWithGUID(const QString &guid, ManagedObjectContext *moc)
{
    if (!moc)
        return nullptr;
    return VLBlocksAdditions::fetchOne<Frame>(*moc, LibraryModel::guidEquals(guid));
}
