#include "design/Variation.h"

#include "design/Tag.h"
#include "kit/VLBlocks.h"
#include "kit/VLBlocksAdditions.h"
#include "platform/Assert.h"
#include "platform/NotificationCenter.h"

#include <QBuffer>

using namespace platform;

namespace {

Predicate stringEquals(int attribute, const QString &value)
{
    return [attribute, value](const ManagedObject &o) {
        const QVariant v = o.value(attribute);
        return !value.isNull() && v.isValid() && v.toString() == value;
    };
}

} // namespace

EntityDescription Variation::entityDescription()
{
    EntityDescription e;
    e.name = entityName();
    e.attributes = {
        {QStringLiteral("name"), AttributeType::String, QString::fromLatin1(kModelDefaultName), false, false, true},
        {QStringLiteral("guid"), AttributeType::String, QString::fromLatin1(kPlaceholderGUID), false, false, true},
        {QStringLiteral("data"), AttributeType::Bytes, {}, false, true},
        {QStringLiteral("icon"), AttributeType::Bytes, {}, false, true},
    };
    e.relationships = {{QStringLiteral("tags"), Tag::entityName(), QStringLiteral("variations"), true}};
    e.factory = [] { return std::make_unique<Variation>(); };
    return e;
}

void Variation::setName(const QString &name)
{
    const QString old = this->name();
    if (!name.isNull() && name == old)
        return;
    setStringAt(Name, name);
    NotificationCenter::defaultCenter().post(QString::fromLatin1(kVariationNameChangedNotification), this,
                                             QVariantMap{{QString::fromLatin1(kOldNameKey), old}});
}

QImage Variation::icon() const
{
    const QByteArray bytes = bytesAt(Icon);
    QImage image;
    if (!bytes.isEmpty())
        image.loadFromData(bytes, "PNG");
    return image;
}

void Variation::setIcon(const QImage &icon)
{
    if (icon.isNull()) {
        setBytesAt(Icon, QByteArray());
        return;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    icon.save(&buffer, "PNG");
    setBytesAt(Icon, bytes);
}

QList<Tag *> Variation::tags() const
{
    return toManyAs<Tag>(Tags);
}

void Variation::addTagsObject(Tag *tag)
{
    if (tag && !toMany(Tags).contains(tag))
        addToMany(Tags, tag);
}

void Variation::removeTagsObject(Tag *tag)
{
    removeFromMany(Tags, tag);
}

QString Variation::defaultTemplateName()
{
    return QString::fromLatin1(kDefaultTemplateName);
}

bool Variation::validateValueForKey(QVariant &value, const QString &key) const
{
    if (key == QLatin1String("name")) {
        const bool isText = value.typeId() == QMetaType::QString;
        if (!isText || value.toString().isEmpty())
            value = defaultTemplateName();
    }
    return true;
}

void Variation::setValueForKey(const QVariant &value, const QString &key)
{
    if (key == QLatin1String("name")) {
        setName(value.isValid() ? value.toString() : QString());
        return;
    }
    ManagedObject::setValueForKey(value, key);
}

void Variation::awakeFromInsert()
{
    setName(defaultTemplateName());
    setGuid(NSObjectVLGUID::getGUID());
}

void Variation::awakeFromFetch()
{
    if (guid() == QLatin1String(kPlaceholderGUID))
        setGuid(NSObjectVLGUID::getGUID());
}

void Variation::willSave()
{
    QVariant value = valueForKey(QStringLiteral("name"));
    const QVariant before = value;
    validateValueForKey(value, QStringLiteral("name"));
    if (value != before)
        setStringAt(Name, value.toString());
}

Variation *Variation::variationWithGUID(const QString &guid, ManagedObjectContext *moc)
{
    if (!moc)
        return nullptr;
    const QList<Variation *> found = moc->fetchObjects<Variation>(stringEquals(Guid, guid), {}, 1);
    return found.isEmpty() ? nullptr : found.last();
}

Variation *Variation::variationWithName(const QString &name, ManagedObjectContext *moc)
{
    if (!moc)
        return nullptr;
    const QList<Variation *> found = moc->fetchObjects<Variation>(stringEquals(Name, name), {}, 1);
    return found.isEmpty() ? nullptr : found.last();
}

std::optional<QStringList> Variation::namesOfAllVariationsInMOC(ManagedObjectContext *moc)
{
    if (!moc)
        return std::nullopt;
    QStringList names;
    for (Variation *v : moc->fetchObjects<Variation>()) {
        const QString name = v->name();
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}
