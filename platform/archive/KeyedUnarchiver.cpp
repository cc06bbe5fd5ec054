#include "platform/archive/KeyedUnarchiver.h"

#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/PlistReader.h"

#include <QDateTime>
#include <QMutex>

#include <exception>
#include <limits>

namespace platform {

namespace {

QMutex &globalMapMutex()
{
    static QMutex mutex;
    return mutex;
}

QHash<QString, QString> &globalClassMap()
{
    static QHash<QString, QString> map;
    return map;
}

bool isOneOf(const QString &name, std::initializer_list<const char *> names)
{
    for (const char *n : names) {
        if (name == QLatin1String(n))
            return true;
    }
    return false;
}

} // namespace

KeyedUnarchiver::KeyedUnarchiver(const QByteArray &data)
{
    {
        QMutexLocker lock(&globalMapMutex());
        m_classMap = globalClassMap();
    }
    m_frames.push_back(Frame());
    PlistValue tree;
    Error error;
    if (!PlistReader::read(data, &tree, &error)) {
        failWithError(error.description);
        return;
    }
    if (tree.type() != PlistValue::Type::Dictionary) {
        failWithError(QStringLiteral("not a keyed archive"));
        return;
    }
    const PlistValue archiver = tree.value(QStringLiteral("$archiver"));
    const PlistValue objects = tree.value(QStringLiteral("$objects"));
    const PlistValue top = tree.value(QStringLiteral("$top"));
    if ((!archiver.isNull() && archiver.stringValue() != QLatin1String("NSKeyedArchiver"))
        || objects.type() != PlistValue::Type::Array || top.type() != PlistValue::Type::Dictionary
        || objects.items().isEmpty()) {
        failWithError(QStringLiteral("not a keyed archive"));
        return;
    }
    m_objects.assign(objects.items().cbegin(), objects.items().cend());
    m_decoded.assign(m_objects.size(), QVariant());
    m_state.assign(m_objects.size(), 0);
    m_frames.back().object = top;
}

void KeyedUnarchiver::failWithError(const QString &message)
{
    if (hasError())
        return;
    // A reader's own message may end its sentence already ("Start tag expected.").
    const QString reason = message.isEmpty() ? QStringLiteral("unknown failure") : message;
    m_error = describedError(QStringLiteral("The archive is damaged: %1%2")
                                 .arg(reason, reason.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".")));
}

void KeyedUnarchiver::refuseWithReason(const QString &message)
{
    if (hasError())
        return;
    QString sentence = message.isEmpty() ? QStringLiteral("The archive holds more than can be read") : message;
    sentence[0] = sentence[0].toUpper();
    if (!sentence.endsWith(QLatin1Char('.')))
        sentence += QLatin1Char('.');
    m_error = describedError(sentence);
}

void KeyedUnarchiver::setClass(const QString &className, const QString &archivedName)
{
    m_classMap.insert(archivedName, className);
}

void KeyedUnarchiver::setGlobalClass(const QString &className, const QString &archivedName)
{
    QMutexLocker lock(&globalMapMutex());
    globalClassMap().insert(archivedName, className);
}

QString KeyedUnarchiver::mappedClassName(const QString &archivedName) const
{
    return m_classMap.value(archivedName, archivedName);
}

const PlistValue *KeyedUnarchiver::valueForKey(const QString &key)
{
    if (hasError())
        return nullptr;
    return m_frames.back().object.find(key);
}

bool KeyedUnarchiver::containsValueForKey(const QString &key) const
{
    return !hasError() && m_frames.back().object.contains(key);
}

qsizetype KeyedUnarchiver::archivedCountForKey(const QString &key)
{
    const PlistValue *v = valueForKey(key);
    if (!v || v->type() != PlistValue::Type::Uid || v->uidValue() == 0 || v->uidValue() >= m_objects.size())
        return -1;
    const PlistValue *refs = m_objects[v->uidValue()].find(QStringLiteral("NS.objects"));
    return refs && refs->type() == PlistValue::Type::Array ? refs->items().size() : -1;
}

bool KeyedUnarchiver::numberForKey(const QString &key, PlistValue *out)
{
    const PlistValue *v = valueForKey(key);
    if (!v)
        return false;
    if (!v->isNumber()) {
        failWithError(QStringLiteral("value for key \"%1\" is not a number").arg(key));
        return false;
    }
    *out = *v;
    return true;
}

bool KeyedUnarchiver::decodeBoolForKey(const QString &key)
{
    PlistValue v;
    return numberForKey(key, &v) && v.toBool();
}

int KeyedUnarchiver::decodeIntForKey(const QString &key)
{
    return decodeInt32ForKey(key);
}

qint32 KeyedUnarchiver::decodeInt32ForKey(const QString &key)
{
    const qint64 n = decodeInt64ForKey(key);
    if (n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max()) {
        failWithError(QStringLiteral("value for key \"%1\" is out of range").arg(key));
        return 0;
    }
    return qint32(n);
}

qint64 KeyedUnarchiver::decodeInt64ForKey(const QString &key)
{
    PlistValue v;
    return numberForKey(key, &v) ? v.toInteger() : 0;
}

qint64 KeyedUnarchiver::decodeIntegerForKey(const QString &key)
{
    return decodeInt64ForKey(key);
}

float KeyedUnarchiver::decodeFloatForKey(const QString &key)
{
    PlistValue v;
    return numberForKey(key, &v) ? PlistValue::narrowToFloat(v.toReal()) : 0.0f;
}

double KeyedUnarchiver::decodeDoubleForKey(const QString &key)
{
    PlistValue v;
    return numberForKey(key, &v) ? v.toReal() : 0.0;
}

QPointF KeyedUnarchiver::decodePointForKey(const QString &key)
{
    const PlistValue *v = valueForKey(key);
    if (!v)
        return {};
    if (v->type() != PlistValue::Type::String) {
        failWithError(QStringLiteral("value for key \"%1\" is not a point").arg(key));
        return {};
    }
    // "{x, y}"; anything unreadable reads as the zero point.
    QString s = v->stringValue().trimmed();
    s.remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    const QStringList parts = s.split(QLatin1Char(','));
    if (parts.size() != 2)
        return {};
    bool okX = false, okY = false;
    const double x = parts[0].trimmed().toDouble(&okX);
    const double y = parts[1].trimmed().toDouble(&okY);
    if (!okX || !okY)
        return {};
    return {x, y};
}

QByteArray KeyedUnarchiver::decodeBytesForKey(const QString &key)
{
    return decodeDataForKey(key);
}

QVariant KeyedUnarchiver::decodeObjectForKey(const QString &key)
{
    const PlistValue *v = valueForKey(key);
    if (!v)
        return {};
    if (v->type() != PlistValue::Type::Uid) {
        failWithError(QStringLiteral("value for key \"%1\" is not an object reference").arg(key));
        return {};
    }
    return decodeUid(v->uidValue());
}

QString KeyedUnarchiver::decodeStringForKey(const QString &key)
{
    const QVariant v = decodeObjectForKey(key);
    if (!v.isValid())
        return {};
    if (v.typeId() != QMetaType::QString) {
        failWithError(QStringLiteral("value for key \"%1\" is not a string").arg(key));
        return {};
    }
    return v.toString();
}

QByteArray KeyedUnarchiver::decodeDataForKey(const QString &key)
{
    const PlistValue *inlineValue = valueForKey(key);
    if (inlineValue && inlineValue->type() == PlistValue::Type::Data)
        return inlineValue->dataValue();
    const QVariant v = decodeObjectForKey(key);
    if (!v.isValid())
        return {};
    if (v.typeId() != QMetaType::QByteArray) {
        failWithError(QStringLiteral("value for key \"%1\" is not data").arg(key));
        return {};
    }
    return v.toByteArray();
}

QString KeyedUnarchiver::currentClassName() const
{
    return m_frames.back().className;
}

bool KeyedUnarchiver::currentObjectIsMutable() const
{
    const Frame &f = m_frames.back();
    return !f.classes.isEmpty() && f.classes.first().startsWith(QLatin1String("NSMutable"));
}

QVariant KeyedUnarchiver::decodeUid(quint64 uid)
{
    if (hasError())
        return {};
    if (uid >= m_objects.size()) {
        failWithError(QStringLiteral("object reference %1 out of range").arg(uid));
        return {};
    }
    if (uid == 0)
        return {};
    if (m_state[uid] == 2)
        return m_decoded[uid];
    if (m_state[uid] == 1) {
        failWithError(QStringLiteral("object %1 contains itself").arg(uid));
        return {};
    }
    if (m_frames.size() > size_t(kMaxDepth)) {
        failWithError(QStringLiteral("objects nested too deeply"));
        return {};
    }
    m_state[uid] = 1;
    const QVariant v = decodeArchivedObject(uid, m_objects[uid]);
    if (hasError())
        return {};
    m_decoded[uid] = v;
    m_state[uid] = 2;
    return v;
}

QVariant KeyedUnarchiver::decodeArchivedObject(quint64 uid, const PlistValue &object)
{
    Q_UNUSED(uid);
    switch (object.type()) {
    case PlistValue::Type::String: return object.stringValue();
    case PlistValue::Type::Data: return object.dataValue();
    case PlistValue::Type::Boolean: return object.toBool();
    case PlistValue::Type::Integer: return object.toInteger();
    case PlistValue::Type::Real:
        return object.isReal32() ? QVariant(PlistValue::narrowToFloat(object.toReal())) : QVariant(object.toReal());
    case PlistValue::Type::Date: {
        QDateTime when;
        if (!PlistValue::referenceSecondsToDateTime(object.dateValue(), &when)) {
            failWithError(QStringLiteral("date out of range"));
            return {};
        }
        return when;
    }
    case PlistValue::Type::Dictionary: break;
    default:
        failWithError(QStringLiteral("object %1 is of an unknown kind").arg(uid));
        return {};
    }

    const PlistValue *classRef = object.find(QStringLiteral("$class"));
    if (!classRef || classRef->type() != PlistValue::Type::Uid || classRef->uidValue() == 0
        || classRef->uidValue() >= m_objects.size()) {
        failWithError(QStringLiteral("object %1 has no valid class").arg(uid));
        return {};
    }
    const PlistValue &record = m_objects[classRef->uidValue()];
    const PlistValue *className = record.find(QStringLiteral("$classname"));
    if (record.type() != PlistValue::Type::Dictionary || !className || className->type() != PlistValue::Type::String) {
        failWithError(QStringLiteral("object %1 has a damaged class record").arg(uid));
        return {};
    }
    QStringList chain{className->stringValue()};
    const PlistValue classes = record.value(QStringLiteral("$classes"));
    for (const PlistValue &c : classes.items()) {
        if (c.type() == PlistValue::Type::String && !chain.contains(c.stringValue()))
            chain.append(c.stringValue());
    }

    Frame frame{object, QString(), chain};
    // The archived class first, then its base classes: the first one this
    // program knows decodes the object.
    for (const QString &archivedName : chain) {
        const QString name = mappedClassName(archivedName);
        frame.className = name;

        if (auto factory = KeyedClassRegistry::shared().factoryForClassName(name)) {
            std::shared_ptr<Coding> instance = factory();
            if (!instance) {
                failWithError(QStringLiteral("could not create an object of class %1").arg(name));
                return {};
            }
            m_frames.push_back(frame);
            try {
                instance->decode(*this);
            } catch (const std::exception &e) {
                failWithError(QStringLiteral("decoding %1 failed: %2").arg(name, QString::fromLocal8Bit(e.what())));
            } catch (...) {
                failWithError(QStringLiteral("decoding %1 failed").arg(name));
            }
            m_frames.pop_back();
            return hasError() ? QVariant() : QVariant::fromValue(instance);
        }

        if (isOneOf(name, {"NSString", "NSMutableString"})) {
            const PlistValue s = object.value(QStringLiteral("NS.string"));
            if (s.type() != PlistValue::Type::String) {
                failWithError(QStringLiteral("damaged string object %1").arg(uid));
                return {};
            }
            return s.stringValue();
        }
        if (isOneOf(name, {"NSData", "NSMutableData"})) {
            const PlistValue d = object.value(QStringLiteral("NS.data"));
            if (d.type() != PlistValue::Type::Data) {
                failWithError(QStringLiteral("damaged data object %1").arg(uid));
                return {};
            }
            return d.dataValue();
        }
        if (isOneOf(name, {"NSArray", "NSMutableArray", "NSSet", "NSMutableSet", "NSOrderedSet", "NSMutableOrderedSet"})) {
            const PlistValue refs = object.value(QStringLiteral("NS.objects"));
            if (refs.type() != PlistValue::Type::Array) {
                failWithError(QStringLiteral("damaged array object %1").arg(uid));
                return {};
            }
            QVariantList items;
            items.reserve(refs.items().size());
            m_frames.push_back(frame);
            for (const PlistValue &ref : refs.items()) {
                if (ref.type() != PlistValue::Type::Uid) {
                    failWithError(QStringLiteral("damaged array object %1").arg(uid));
                    break;
                }
                items.append(decodeUid(ref.uidValue()));
                if (hasError())
                    break;
            }
            m_frames.pop_back();
            return hasError() ? QVariant() : QVariant(items);
        }
        if (isOneOf(name, {"NSDictionary", "NSMutableDictionary"})) {
            const PlistValue keys = object.value(QStringLiteral("NS.keys"));
            const PlistValue values = object.value(QStringLiteral("NS.objects"));
            if (keys.type() != PlistValue::Type::Array || values.type() != PlistValue::Type::Array
                || keys.items().size() != values.items().size()) {
                failWithError(QStringLiteral("damaged dictionary object %1").arg(uid));
                return {};
            }
            QVariantMap map;
            m_frames.push_back(frame);
            for (qsizetype i = 0; i < keys.items().size() && !hasError(); ++i) {
                const PlistValue &k = keys.items()[i];
                const PlistValue &v = values.items()[i];
                if (k.type() != PlistValue::Type::Uid || v.type() != PlistValue::Type::Uid) {
                    failWithError(QStringLiteral("damaged dictionary object %1").arg(uid));
                    break;
                }
                const QVariant key = decodeUid(k.uidValue());
                if (hasError())
                    break;
                if (key.typeId() != QMetaType::QString) {
                    failWithError(QStringLiteral("dictionary %1 has a key that is not a string").arg(uid));
                    break;
                }
                const QVariant value = decodeUid(v.uidValue());
                map.insert(key.toString(), value);
            }
            m_frames.pop_back();
            return hasError() ? QVariant() : QVariant(map);
        }
        if (name == QLatin1String("NSDate")) {
            const PlistValue t = object.value(QStringLiteral("NS.time"));
            if (!t.isNumber()) {
                failWithError(QStringLiteral("damaged date object %1").arg(uid));
                return {};
            }
            QDateTime when;
            if (!PlistValue::referenceSecondsToDateTime(t.toReal(), &when)) {
                failWithError(QStringLiteral("date out of range"));
                return {};
            }
            return when;
        }
        if (name == QLatin1String("NSNull"))
            return {};
        if (auto codec = KeyedClassRegistry::shared().codecForClassName(name)) {
            m_frames.push_back(frame);
            QVariant v;
            try {
                v = codec->decode(*this);
            } catch (...) {
                failWithError(QStringLiteral("decoding %1 failed").arg(name));
            }
            m_frames.pop_back();
            return hasError() ? QVariant() : v;
        }
    }
    failWithError(QStringLiteral("cannot decode an object of class %1").arg(chain.first()));
    return {};
}

Result<QVariant> KeyedUnarchiver::unarchiveTopLevelObjectWithData(const QByteArray &data, const QString &key,
                                                                  const QHash<QString, QString> &classForArchivedName)
{
    KeyedUnarchiver unarchiver(data);
    for (auto it = classForArchivedName.constBegin(); it != classForArchivedName.constEnd(); ++it)
        unarchiver.setClass(it.value(), it.key());
    QVariant object = unarchiver.decodeObjectForKey(key);
    unarchiver.finishDecoding();
    if (unarchiver.hasError())
        return unarchiver.error();
    if (!unarchiver.containsValueForKey(key))
        return describedError(QStringLiteral("The archive holds no object under \"%1\".").arg(key));
    return object;
}

} // namespace platform
