#include "platform/archive/KeyedArchiver.h"

#include "platform/Assert.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/PlistWriter.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

namespace platform {

namespace {

QString pointString(const QPointF &p)
{
    return QStringLiteral("{%1, %2}")
        .arg(QString::number(p.x(), 'g', QLocale::FloatingPointShortest),
             QString::number(p.y(), 'g', QLocale::FloatingPointShortest));
}

} // namespace

KeyedArchiver::KeyedArchiver()
{
    m_objects.push_back(PlistValue::string(QStringLiteral("$null")));
    m_frames.push_back(PlistValue::dictionary());
}

void KeyedArchiver::set(const QString &key, const PlistValue &value)
{
    KT_ASSERT(!m_finished, QStringLiteral("encoding after finishEncoding"));
    m_frames.back().insert(key, value);
}

void KeyedArchiver::encodeBool(bool value, const QString &key) { set(key, PlistValue::boolean(value)); }
void KeyedArchiver::encodeInt(int value, const QString &key) { set(key, PlistValue::integer(value)); }
void KeyedArchiver::encodeInt32(qint32 value, const QString &key) { set(key, PlistValue::integer(value)); }
void KeyedArchiver::encodeInt64(qint64 value, const QString &key) { set(key, PlistValue::integer(value)); }
void KeyedArchiver::encodeInteger(qint64 value, const QString &key) { set(key, PlistValue::integer(value)); }
void KeyedArchiver::encodeFloat(float value, const QString &key) { set(key, PlistValue::real32(value)); }
void KeyedArchiver::encodeDouble(double value, const QString &key) { set(key, PlistValue::real(value)); }
void KeyedArchiver::encodePoint(const QPointF &value, const QString &key) { set(key, PlistValue::string(pointString(value))); }
void KeyedArchiver::encodeBytes(const QByteArray &value, const QString &key) { set(key, PlistValue::data(value)); }

void KeyedArchiver::encodeObject(const QVariant &value, const QString &key)
{
    const quint64 uid = uidForObject(value);
    set(key, PlistValue::uid(uid));
}

void KeyedArchiver::encodeObject(const std::shared_ptr<const Coding> &object, const QString &key)
{
    const quint64 uid = object ? uidForCoding(object) : 0;
    set(key, PlistValue::uid(uid));
}

void KeyedArchiver::encodeArray(const QVariantList &items, const QString &key, bool mutableArray)
{
    const quint64 uid = uidForObject(QVariant(items), mutableArray);
    set(key, PlistValue::uid(uid));
}

quint64 KeyedArchiver::append(const PlistValue &value)
{
    m_objects.push_back(value);
    return m_objects.size() - 1;
}

quint64 KeyedArchiver::classUid(const QStringList &chain)
{
    const QString key = chain.join(QLatin1Char('\n'));
    auto it = m_classUids.constFind(key);
    if (it != m_classUids.constEnd())
        return *it;
    QList<PlistValue> classes;
    for (const QString &name : chain)
        classes.append(PlistValue::string(name));
    const quint64 uid = append(PlistValue::dictionary({
        {QStringLiteral("$classes"), PlistValue::array(classes)},
        {QStringLiteral("$classname"), PlistValue::string(chain.value(0))},
    }));
    m_classUids.insert(key, uid);
    return uid;
}

quint64 KeyedArchiver::beginObject(const QStringList &chain)
{
    // The object's number comes before its contents, so references back to
    // an object still being written resolve to it.
    const quint64 uid = append(PlistValue());
    const quint64 cls = classUid(chain);
    m_frames.push_back(PlistValue::dictionary({{QStringLiteral("$class"), PlistValue::uid(cls)}}));
    return uid;
}

void KeyedArchiver::endObject(quint64 uid)
{
    m_objects[uid] = m_frames.back();
    m_frames.pop_back();
}

quint64 KeyedArchiver::uidForCoding(const std::shared_ptr<const Coding> &object)
{
    auto it = m_codingUids.constFind(object.get());
    if (it != m_codingUids.constEnd())
        return *it;
    const QStringList chain = object->archiveClassNames();
    KT_ASSERT(!chain.isEmpty(), QStringLiteral("archived object without a class name"));
    m_keepAlive.push_back(object);
    const quint64 uid = beginObject(chain);
    m_codingUids.insert(object.get(), uid);
    object->encode(*this);
    endObject(uid);
    return uid;
}

quint64 KeyedArchiver::uidForObject(const QVariant &value, bool mutableArray)
{
    // A null string or data stands for nil, as an unset NSString would.
    if (!value.isValid())
        return 0;
    const int type = value.typeId();
    switch (type) {
    case QMetaType::QString: {
        const QString s = value.toString();
        if (s.isNull())
            return 0;
        auto it = m_stringUids.constFind(s);
        if (it != m_stringUids.constEnd())
            return *it;
        const quint64 uid = append(PlistValue::string(s));
        m_stringUids.insert(s, uid);
        return uid;
    }
    case QMetaType::QByteArray:
        if (value.toByteArray().isNull())
            return 0;
        return append(PlistValue::data(value.toByteArray()));
    case QMetaType::Bool:
        return append(PlistValue::boolean(value.toBool()));
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return append(PlistValue::integer(value.toLongLong()));
    case QMetaType::Float:
        return append(PlistValue::real32(value.toFloat()));
    case QMetaType::Double:
        return append(PlistValue::real(value.toDouble()));
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        const QVariantList items = value.toList();
        const quint64 uid = beginObject(mutableArray
                                            ? QStringList{QStringLiteral("NSMutableArray"), QStringLiteral("NSArray"), QStringLiteral("NSObject")}
                                            : QStringList{QStringLiteral("NSArray"), QStringLiteral("NSObject")});
        QList<PlistValue> refs;
        for (const QVariant &item : items)
            refs.append(PlistValue::uid(uidForObject(item)));
        m_frames.back().insert(QStringLiteral("NS.objects"), PlistValue::array(refs));
        endObject(uid);
        return uid;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        const quint64 uid = beginObject({QStringLiteral("NSDictionary"), QStringLiteral("NSObject")});
        QList<PlistValue> keys, objects;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            keys.append(PlistValue::uid(uidForObject(it.key())));
            objects.append(PlistValue::uid(uidForObject(it.value())));
        }
        m_frames.back().insert(QStringLiteral("NS.keys"), PlistValue::array(keys));
        m_frames.back().insert(QStringLiteral("NS.objects"), PlistValue::array(objects));
        endObject(uid);
        return uid;
    }
    case QMetaType::QDateTime: {
        const quint64 uid = beginObject({QStringLiteral("NSDate"), QStringLiteral("NSObject")});
        const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        m_frames.back().insert(QStringLiteral("NS.time"), PlistValue::real(double(reference.msecsTo(value.toDateTime())) / 1000.0));
        endObject(uid);
        return uid;
    }
    default:
        break;
    }
    if (type == qMetaTypeId<std::shared_ptr<Coding>>()) {
        const auto object = value.value<std::shared_ptr<Coding>>();
        return object ? uidForCoding(object) : 0;
    }
    const auto codec = KeyedClassRegistry::shared().codecForMetaType(type);
    KT_ASSERT(codec, QStringLiteral("no keyed archive form for values of type %1").arg(QString::fromLatin1(value.typeName())));
    const quint64 uid = beginObject(codec->classNames);
    codec->encode(value, *this);
    endObject(uid);
    return uid;
}

void KeyedArchiver::finishEncoding()
{
    if (m_finished)
        return;
    KT_ASSERT(m_frames.size() == 1, QStringLiteral("finishEncoding inside an object"));
    m_finished = true;
    QList<PlistValue> objects;
    objects.reserve(qsizetype(m_objects.size()));
    for (const PlistValue &o : m_objects)
        objects.append(o);
    m_tree = PlistValue::dictionary({
        {QStringLiteral("$version"), PlistValue::integer(100000)},
        {QStringLiteral("$archiver"), PlistValue::string(QStringLiteral("NSKeyedArchiver"))},
        {QStringLiteral("$top"), m_frames.front()},
        {QStringLiteral("$objects"), PlistValue::array(objects)},
    });
    m_result = PlistWriter::toBinary(m_tree);
}

QByteArray KeyedArchiver::archivedDataWithRootObject(const QVariant &root, const QString &key)
{
    KeyedArchiver archiver;
    archiver.encodeObject(root, key);
    archiver.finishEncoding();
    return archiver.encodedData();
}

QByteArray KeyedArchiver::archivedDataWithRootObject(const std::shared_ptr<const Coding> &root, const QString &key)
{
    KeyedArchiver archiver;
    archiver.encodeObject(root, key);
    archiver.finishEncoding();
    return archiver.encodedData();
}

} // namespace platform
