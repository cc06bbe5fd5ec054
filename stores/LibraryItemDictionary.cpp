#include "stores/LibraryItemDictionary.h"

#include "platform/Log.h"
#include "platform/VariantKinds.h"
#include "platform/archive/Color.h"
#include "platform/archive/Unarchiver.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"

#include <QByteArray>
#include <QDateTime>

#include <cmath>
#include <limits>

namespace LibraryItemDictionary {

namespace {

QString typeName(const QVariant &value)
{
    return QString::fromLatin1(value.metaType().name() ? value.metaType().name() : "invalid");
}

bool isInteger(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

void dropped(const QString &what, const QVariant &value)
{
    platform::logLine(QString("Warning: ignoring %1 of unexpected type %2 in a library item")
                          .arg(what, typeName(value)));
}

std::optional<qint64> integerFrom(const QVariant &v)
{
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    if (v.metaType().id() == QMetaType::ULongLong) {
        const qulonglong u = v.toULongLong();
        if (u > qulonglong(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(u);
    }
    if (isInteger(v))
        return v.toLongLong();
    if (platform::isNumericVariant(v)) {
        const double d = v.toDouble();
        if (!std::isfinite(d) || d < -9.2e18 || d > 9.2e18)
            return std::nullopt;
        return qint64(std::llround(d));
    }
    if (v.metaType().id() == QMetaType::QString) {
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        if (ok)
            return n;
        const double d = v.toString().trimmed().toDouble(&ok);
        if (ok && std::isfinite(d) && d > -9.2e18 && d < 9.2e18)
            return qint64(std::llround(d));
    }
    return std::nullopt;
}

std::optional<double> realFrom(const QVariant &v)
{
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool() ? 1.0 : 0.0;
    double d = 0;
    if (platform::isNumericVariant(v)) {
        d = v.toDouble();
    } else if (v.metaType().id() == QMetaType::QString) {
        bool ok = false;
        d = v.toString().trimmed().toDouble(&ok);
        if (!ok)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(d))
        return std::nullopt;
    return d;
}

std::optional<bool> boolFrom(const QVariant &v)
{
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool();
    if (platform::isNumericVariant(v)) {
        const double d = v.toDouble();
        if (std::isnan(d))
            return std::nullopt;
        return d != 0;
    }
    if (v.metaType().id() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        if (s == "yes" || s == "true" || s == "y" || s == "t")
            return true;
        if (s == "no" || s == "false" || s == "n" || s == "f")
            return false;
        bool ok = false;
        const qint64 n = s.toLongLong(&ok);
        if (ok)
            return n != 0;
    }
    return std::nullopt;
}

std::optional<QString> textFrom(const QVariant &v)
{
    if (v.metaType().id() == QMetaType::QString)
        return v.toString();
    if (v.metaType().id() == QMetaType::Bool)
        return v.toBool() ? QString("YES") : QString("NO");
    if (isInteger(v))
        return v.toString();
    if (platform::isNumericVariant(v)) {
        const double d = v.toDouble();
        if (!std::isfinite(d))
            return std::nullopt;
        return QString::number(d, 'g', 17);
    }
    return std::nullopt;
}

} // namespace

bool isUsableGUID(const QString &guid)
{
    return !guid.isEmpty() && guid.size() <= 255 && !guid.contains('/') && !guid.contains('\\')
           && !guid.contains(QChar(0)) && guid != "." && guid != "..";
}

std::optional<QString> stringForKey(const QVariantMap &dictionary, const char *key)
{
    const auto it = dictionary.constFind(QString::fromLatin1(key));
    if (it == dictionary.constEnd() || !it->isValid() || it->isNull())
        return std::nullopt;
    if (auto text = textFrom(*it))
        return text;
    dropped(QString("\"%1\"").arg(key), *it);
    return std::nullopt;
}

std::optional<QString> guidForKey(const QVariantMap &dictionary, const char *key)
{
    const auto it = dictionary.constFind(QString::fromLatin1(key));
    if (it == dictionary.constEnd() || !it->isValid() || it->isNull())
        return std::nullopt;
    if (it->metaType().id() == QMetaType::QString && isUsableGUID(it->toString()))
        return it->toString();
    if (it->metaType().id() == QMetaType::QString)
        platform::logLine(QString("Warning: ignoring unusable \"%1\" \"%2\" in a library item")
                              .arg(key, it->toString().left(80)));
    else
        dropped(QString("\"%1\"").arg(key), *it);
    return std::nullopt;
}

QVariantMap dictionaryForKey(const QVariantMap &dictionary, const char *key)
{
    const auto it = dictionary.constFind(QString::fromLatin1(key));
    if (it == dictionary.constEnd() || !it->isValid() || it->isNull())
        return {};
    if (it->metaType().id() == QMetaType::QVariantMap)
        return it->toMap();
    dropped(QString("\"%1\"").arg(key), *it);
    return {};
}

QVariant attributeValueForKind(const QString &name, const QVariant &value, int kind)
{
    if (!value.isValid() || value.isNull())
        return {};
    const QString what = QString("value of attribute \"%1\"").arg(name);
    switch (kind) {
    case KindString:
        if (auto t = textFrom(value))
            return *t;
        break;
    case KindImage:
        if (value.metaType().id() == QMetaType::QString && isUsableGUID(value.toString()))
            return value.toString();
        break;
    case KindInteger:
        if (auto n = integerFrom(value))
            return QVariant::fromValue<qint64>(*n);
        break;
    case KindFloat:
        if (auto d = realFrom(value))
            return *d;
        break;
    case KindBoolean:
        if (auto b = boolFrom(value))
            return *b;
        break;
    case KindColor:
        // Only data that really reads back as a colour is kept.
        if (value.metaType().id() == QMetaType::QByteArray && !value.toByteArray().isEmpty()) {
            const auto result = platform::Unarchiver::unarchiveObjectWithData(value.toByteArray());
            if (result.ok() && result.object.metaType() == QMetaType::fromType<platform::Color>())
                return value.toByteArray();
        }
        break;
    default:
        platform::logLine(QString("Warning: ignoring attribute \"%1\" of unknown kind %2").arg(name).arg(kind));
        return {};
    }
    dropped(what, value);
    return {};
}

QString describe(const QVariantMap &dictionary)
{
    QStringList parts;
    for (auto it = dictionary.constBegin(); it != dictionary.constEnd(); ++it) {
        const QVariant &v = it.value();
        QString text;
        if (auto t = textFrom(v))
            text = t->left(80);
        else if (v.metaType().id() == QMetaType::QVariantMap)
            text = QString("{%1 keys}").arg(v.toMap().size());
        else
            text = QString("<%1>").arg(typeName(v));
        parts << QString("%1 = %2").arg(it.key().left(40), text);
    }
    return "{" + parts.join("; ") + "}";
}

// --- The dictionary form of library objects --------------------------------

namespace {

void putText(QVariantMap &d, const char *key, const QString &value)
{
    if (!value.isNull())
        d.insert(QString::fromLatin1(key), value);
}

void putCommon(QVariantMap &d, const LibraryItem &item)
{
    putText(d, kName, item.name());
    putText(d, kGUID, item.guid());
    putText(d, kDescription, item.adescription());
    putText(d, kURL, item.url());
    if (FrameImage *icon = item.icon())
        putText(d, kIconGUID, icon->guid());
}

// A missing or unusable value sets the property to nil.
void applyCommon(LibraryItem *item, const QVariantMap &d, const QString &guid,
                 platform::ManagedObjectContext *moc)
{
    item->setName(stringForKey(d, kName).value_or(QString()));
    item->setGuid(guid);
    item->setAdescription(stringForKey(d, kDescription).value_or(QString()));
    item->setUrl(stringForKey(d, kURL).value_or(QString()));
    if (d.contains(QString::fromLatin1(kIconGUID))) {
        const std::optional<QString> iconGUID = guidForKey(d, kIconGUID);
        FrameImage *icon = iconGUID ? FrameImage::frameImageWithGUID(*iconGUID, moc) : nullptr;
        if (auto *collection = dynamic_cast<FrameCollection *>(item))
            collection->setIcon(icon);
        else if (auto *set = dynamic_cast<FrameSet *>(item))
            set->setIcon(icon);
    }
}

void reject(const QString &message)
{
    platform::logLine(message);
}

} // namespace

QVariantMap asDictionary(const FrameCollection &collection)
{
    QVariantMap d;
    putCommon(d, collection);
    return d;
}

QVariantMap asDictionary(const FrameSet &set)
{
    QVariantMap d;
    putCommon(d, set);
    if (FrameCollection *collection = set.framecollection())
        putText(d, kFrameCollectionGUID, collection->guid());
    return d;
}

QVariantMap asDictionary(const Frame &frame)
{
    QVariantMap d;
    putText(d, kName, frame.name());
    putText(d, kGUID, frame.guid());
    putText(d, kDescription, frame.adescription());
    putText(d, kURL, frame.url());
    putText(d, kAuthor, frame.author());
    putText(d, kCatalogRef, frame.catalogRef());

    QVariantMap attributes;
    QVariantMap kinds;
    for (FrameAttribute *attribute : frame.attributes()) {
        const qint64 kind = attribute->kindValue();
        QVariant value;
        switch (kind) {
        case KindString:
            if (!attribute->stringVal().isNull())
                value = attribute->stringVal();
            break;
        case KindImage:
            if (FrameImage *image = attribute->imageVal(); image && !image->guid().isNull())
                value = image->guid();
            break;
        case KindInteger:
            if (auto n = attribute->intVal())
                value = QVariant::fromValue<qint64>(*n);
            break;
        case KindFloat:
            if (auto f = attribute->floatVal())
                value = *f;
            break;
        case KindBoolean:
            if (auto b = attribute->boolVal())
                value = *b;
            break;
        case KindColor:
            if (!attribute->colorVal().isNull())
                value = attribute->colorVal();
            break;
        default:
            break;
        }
        if (!value.isValid() || attribute->name().isNull())
            continue;
        attributes.insert(attribute->name(), value);
        kinds.insert(attribute->name(), QVariant::fromValue<qint64>(kind));
    }
    d.insert(QString::fromLatin1(kAttributes), attributes);
    d.insert(QString::fromLatin1(kAttributeKinds), kinds);

    if (FrameSet *set = frame.frameset())
        putText(d, kFramesetGUID, set->guid());
    if (FrameType *type = frame.frametype())
        putText(d, kFrametype, type->name());
    return d;
}

QVariantMap asDictionary(const FrameImage &image)
{
    QVariantMap d;
    putText(d, kFilename, image.filename());
    return d;
}

FrameCollection *collectionFromDictionary(const QVariantMap &dictionary, platform::ManagedObjectContext *moc)
{
    const std::optional<QString> guid = guidForKey(dictionary, kGUID);
    if (!guid)
        return nullptr;
    FrameCollection *collection = FrameCollection::frameCollectionWithGUID(*guid, moc);
    if (!collection)
        collection = FrameCollection::insertInManagedObjectContext(moc);
    if (!collection)
        return nullptr;
    applyCommon(collection, dictionary, *guid, moc);
    return collection;
}

FrameSet *setFromDictionary(const QVariantMap &dictionary, platform::ManagedObjectContext *moc)
{
    const std::optional<QString> guid = guidForKey(dictionary, kGUID);
    if (!guid) {
        reject(QString("ERROR: Set doesn't have a GUID in dictionary %1").arg(describe(dictionary)));
        return nullptr;
    }
    const std::optional<QString> collectionGUID = guidForKey(dictionary, kFrameCollectionGUID);
    if (!collectionGUID) {
        reject(QString("ERROR: set %1 doesn't have a frameCollectionGUID").arg(*guid));
        return nullptr;
    }
    FrameCollection *collection = FrameCollection::frameCollectionWithGUID(*collectionGUID, moc);
    if (!collection) {
        reject(QString("Couldn't find frame collection with GUID %1").arg(*collectionGUID));
        return nullptr;
    }
    FrameSet *set = FrameSet::frameSetWithGUID(*guid, moc);
    if (!set)
        set = FrameSet::insertInManagedObjectContext(moc);
    if (!set) {
        reject("Couldn't insert a new set into the database");
        return nullptr;
    }
    applyCommon(set, dictionary, *guid, moc);
    set->setFramecollection(collection);
    return set;
}

Frame *frameFromDictionary(const QVariantMap &dictionary, platform::ManagedObjectContext *moc)
{
    const std::optional<QString> guid = guidForKey(dictionary, kGUID);
    if (!guid) {
        reject(QString("ERROR: Frame doesn't have a GUID in dictionary %1").arg(describe(dictionary)));
        return nullptr;
    }
    const std::optional<QString> setGUID = guidForKey(dictionary, kFramesetGUID);
    if (!setGUID) {
        reject(QString("ERROR: Frame %1 doesn't have a framesetGUID").arg(*guid));
        return nullptr;
    }
    FrameSet *set = FrameSet::frameSetWithGUID(*setGUID, moc);
    if (!set) {
        reject(QString("Couldn't find frame set with GUID %1").arg(*setGUID));
        return nullptr;
    }
    const std::optional<QString> typeName = stringForKey(dictionary, kFrametype);
    if (!typeName) {
        reject(QString("No frame type information for frame %1").arg(*guid));
        return nullptr;
    }
    FrameType *type = FrameType::frameTypeWithName(*typeName, moc);
    if (!type) {
        reject(QString("No frame type found with name %1").arg(*typeName));
        return nullptr;
    }
    Frame *frame = Frame::frameWithGUID(*guid, moc);
    if (!frame)
        frame = Frame::insertInManagedObjectContext(moc);
    if (!frame) {
        reject("Couldn't insert a new frame into the database");
        return nullptr;
    }

    frame->setName(stringForKey(dictionary, kName).value_or(QString()));
    frame->setGuid(*guid);
    frame->setAdescription(stringForKey(dictionary, kDescription).value_or(QString()));
    frame->setUrl(stringForKey(dictionary, kURL).value_or(QString()));
    frame->setAuthor(stringForKey(dictionary, kAuthor).value_or(QString()));
    frame->setCatalogRef(stringForKey(dictionary, kCatalogRef).value_or(QString()));

    // The kinds come from the type table, not from "attributeKinds".
    frame->setFrametype(type);
    const QVariantMap values = dictionaryForKey(dictionary, kAttributes);
    for (FrameAttribute *attribute : frame->attributes()) {
        const auto it = values.constFind(attribute->name());
        if (it == values.constEnd())
            continue;
        const qint64 kind = attribute->kindValue();
        const QVariant value = attributeValueForKind(attribute->name(), *it, int(kind));
        if (!value.isValid())
            continue;
        switch (kind) {
        case KindString: attribute->setStringVal(value.toString()); break;
        case KindImage: attribute->setImageVal(FrameImage::frameImageWithGUID(value.toString(), moc)); break;
        case KindInteger: attribute->setIntVal(value.toLongLong()); break;
        case KindFloat: attribute->setFloatVal(value.toDouble()); break;
        case KindBoolean: attribute->setBoolVal(value.toBool()); break;
        case KindColor: attribute->setColorVal(value.toByteArray()); break;
        default: break;
        }
    }
    frame->setFrameset(set);
    frame->buildIcon();
    return frame;
}

FrameImage *frameImageFromDictionary(const QString &guid, const QVariantMap &dictionary,
                                     platform::ManagedObjectContext *moc)
{
    if (!isUsableGUID(guid))
        return nullptr;
    const QString filename = stringForKey(dictionary, kFilename).value_or(QString());
    if (FrameImage *image = FrameImage::frameImageWithGUID(guid, moc)) {
        image->setFilename(filename);
        return image;
    }
    return FrameImage::insertFrameImageWithGUIDAndDisplayName(guid, filename, moc);
}

} // namespace LibraryItemDictionary
