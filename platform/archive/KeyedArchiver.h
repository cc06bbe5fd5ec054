#pragma once

#include "platform/archive/Coding.h"
#include "platform/archive/PlistValue.h"

#include <QByteArray>
#include <QHash>
#include <QPointF>
#include <QString>
#include <QVariant>

#include <memory>
#include <vector>

namespace platform {

inline constexpr const char *kKeyedArchiveRootKey = "root";

// Writes the standard keyed-archive property list ("$archiver"
// "NSKeyedArchiver", "$version" 100000, "$top", "$objects" beginning with
// "$null", UIDs, class records with their chain up to "NSObject") in binary
// form. Values are written under keys into the object being encoded; at the
// top level they go into "$top". An object encoded twice is written once
// and referenced twice.
//
// Objects (encodeObject) are QVariant values: none, QString, QByteArray,
// numbers and bools, QVariantList/QStringList (NSArray), QVariantMap
// (NSDictionary), QDateTime (NSDate), registered value types (Color,
// StyledText) and std::shared_ptr<Coding>.
class KeyedArchiver
{
public:
    KeyedArchiver();

    void encodeBool(bool value, const QString &key);
    void encodeInt(int value, const QString &key);
    void encodeInt32(qint32 value, const QString &key);
    void encodeInt64(qint64 value, const QString &key);
    void encodeInteger(qint64 value, const QString &key);
    void encodeFloat(float value, const QString &key); // a 4-byte real
    void encodeDouble(double value, const QString &key);
    void encodePoint(const QPointF &value, const QString &key); // the string "{x, y}"
    void encodeBytes(const QByteArray &value, const QString &key); // inline data

    void encodeObject(const QVariant &value, const QString &key);
    void encodeObject(const std::shared_ptr<const Coding> &object, const QString &key);
    void encodeString(const QString &value, const QString &key) { encodeObject(QVariant(value), key); }
    void encodeData(const QByteArray &value, const QString &key) { encodeObject(QVariant(value), key); }
    // NSArray, or NSMutableArray when `mutableArray` (so that it decodes as one).
    void encodeArray(const QVariantList &items, const QString &key, bool mutableArray = false);
    template<class T>
    void encodeObjects(const QList<std::shared_ptr<T>> &objects, const QString &key, bool mutableArray = false)
    {
        QVariantList items;
        for (const auto &o : objects)
            items.append(QVariant::fromValue(std::static_pointer_cast<Coding>(std::const_pointer_cast<std::remove_const_t<T>>(o))));
        encodeArray(items, key, mutableArray);
    }

    // Ends the archive; encodedData() is valid afterwards.
    void finishEncoding();
    QByteArray encodedData() const { return m_result; }
    // The archive as a property-list tree (after finishEncoding).
    PlistValue archiveTree() const { return m_tree; }

    static QByteArray archivedDataWithRootObject(const QVariant &root, const QString &key = QString::fromLatin1(kKeyedArchiveRootKey));
    static QByteArray archivedDataWithRootObject(const std::shared_ptr<const Coding> &root, const QString &key = QString::fromLatin1(kKeyedArchiveRootKey));

private:
    void set(const QString &key, const PlistValue &value);
    quint64 uidForObject(const QVariant &value, bool mutableArray = false);
    quint64 uidForCoding(const std::shared_ptr<const Coding> &object);
    quint64 classUid(const QStringList &chain);
    quint64 beginObject(const QStringList &chain);
    void endObject(quint64 uid);
    quint64 append(const PlistValue &value);

    std::vector<PlistValue> m_objects;
    std::vector<PlistValue> m_frames; // the dictionaries being filled; the first is $top
    QHash<const void *, quint64> m_codingUids;
    QHash<QString, quint64> m_stringUids;
    QHash<QString, quint64> m_classUids;
    std::vector<std::shared_ptr<const Coding>> m_keepAlive;
    bool m_finished = false;
    PlistValue m_tree;
    QByteArray m_result;
};

} // namespace platform
