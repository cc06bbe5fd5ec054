#pragma once

#include "platform/Error.h"
#include "platform/Result.h"
#include "platform/archive/Coding.h"
#include "platform/archive/PlistValue.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QVariant>

#include <memory>
#include <vector>

namespace platform {

// Reads keyed archives (binary or XML property lists) in the standard keyed
// archive form, ours or another writer's. Values are read by key from the object being decoded; at the top
// level from "$top". Each archived object is decoded once, so objects
// referenced twice come back as one.
//
// The input is untrusted: every UID is bounds-checked, an object that
// contains itself and nesting deeper than kMaxDepth are refused, and the
// first problem becomes error(); from then on every decode answers its
// empty value. Nothing throws to the caller.
class KeyedUnarchiver
{
public:
    static constexpr int kMaxDepth = 64;

    explicit KeyedUnarchiver(const QByteArray &data);

    bool hasError() const { return !m_error.isNull(); }
    // The first failure, domain "Kantelo Domain", code 1.
    Error error() const { return m_error; }
    // Records a failure (for decode() implementations that find bad values).
    void failWithError(const QString &message);
    // Records a refusal of an archive that is sound but holds more than its
    // reader allows: the message, a sentence of its own, says so, and not
    // that the archive is damaged.
    void refuseWithReason(const QString &message);

    // Reads objects archived under `archivedName` as `className`, for
    // this unarchiver only (the legacy names of renamed classes).
    void setClass(const QString &className, const QString &archivedName);
    // The same for every unarchiver made from now on.
    static void setGlobalClass(const QString &className, const QString &archivedName);

    // An object the caller lends the decode() implementations while this
    // unarchiver lives (a design's frame layers find their frames in it).
    void setDecodingContext(QObject *context) { m_decodingContext = context; }
    QObject *decodingContext() const { return m_decodingContext; }

    // Whether decode() implementations may read files the archive names by
    // path. Only archives this program wrote for the user allow it: an
    // archive from elsewhere is read from what it carries, never from the
    // user's other files.
    void setReadsNamedFiles(bool reads) { m_readsNamedFiles = reads; }
    bool readsNamedFiles() const { return m_readsNamedFiles; }

    // Whether decode() implementations refuse an archive that holds more
    // than their counts allow (list and text lengths). An archive this
    // program wrote for the user holds only what the user made there, so it
    // reads back whatever its size.
    void setAppliesCountLimits(bool applies) { m_appliesCountLimits = applies; }
    bool appliesCountLimits() const { return m_appliesCountLimits; }

    bool containsValueForKey(const QString &key) const;
    // How many elements the array object under `key` holds, before any of
    // them is decoded (to refuse an oversized one cheaply); -1 when the value
    // is absent or no readable array.
    qsizetype archivedCountForKey(const QString &key);
    bool decodeBoolForKey(const QString &key);
    int decodeIntForKey(const QString &key);
    qint32 decodeInt32ForKey(const QString &key);
    qint64 decodeInt64ForKey(const QString &key);
    qint64 decodeIntegerForKey(const QString &key);
    float decodeFloatForKey(const QString &key);
    double decodeDoubleForKey(const QString &key);
    QPointF decodePointForKey(const QString &key);
    QByteArray decodeBytesForKey(const QString &key);

    QVariant decodeObjectForKey(const QString &key);
    // A string object; none (null QString) when absent or nil.
    QString decodeStringForKey(const QString &key);
    // A data object (or inline data); null when absent or nil.
    QByteArray decodeDataForKey(const QString &key);
    // An object of a registered class; none when absent or nil, an error
    // when it is of another class.
    template<class T>
    std::shared_ptr<T> decodeObjectOfClassForKey(const QString &key)
    {
        const QVariant v = decodeObjectForKey(key);
        if (!v.isValid())
            return nullptr;
        auto object = std::dynamic_pointer_cast<T>(v.value<std::shared_ptr<Coding>>());
        if (!object)
            failWithError(QStringLiteral("value for key \"%1\" is of an unexpected class").arg(key));
        return object;
    }
    // An array whose every element is of class T; an error otherwise.
    template<class T>
    QList<std::shared_ptr<T>> decodeArrayOfObjectsOfClassForKey(const QString &key)
    {
        QList<std::shared_ptr<T>> result;
        const QVariant v = decodeObjectForKey(key);
        if (!v.isValid())
            return result;
        if (v.typeId() != QMetaType::QVariantList) {
            failWithError(QStringLiteral("value for key \"%1\" is not an array").arg(key));
            return result;
        }
        for (const QVariant &item : v.toList()) {
            auto object = std::dynamic_pointer_cast<T>(item.value<std::shared_ptr<Coding>>());
            if (!object) {
                failWithError(QStringLiteral("array under key \"%1\" holds an object of an unexpected class").arg(key));
                return {};
            }
            result.append(object);
        }
        return result;
    }

    // The class name of the object being decoded (empty at the top level).
    QString currentClassName() const;
    // Whether the archived object being decoded is mutable (its class chain
    // begins with NSMutableArray, NSMutableString...).
    bool currentObjectIsMutable() const;

    void finishDecoding() {}

    // Decodes the object under `key` of `data` (the archiver's default root key
    // unless given), with the extra class-name mapping given.
    static Result<QVariant> unarchiveTopLevelObjectWithData(const QByteArray &data, const QString &key = QStringLiteral("root"),
                                                  const QHash<QString, QString> &classForArchivedName = {});

private:
    struct Frame {
        PlistValue object;
        QString className;
        QStringList classes;
    };

    const PlistValue *valueForKey(const QString &key);
    bool numberForKey(const QString &key, PlistValue *out);
    QVariant decodeUid(quint64 uid);
    QVariant decodeArchivedObject(quint64 uid, const PlistValue &object);
    QString mappedClassName(const QString &archivedName) const;

    std::vector<PlistValue> m_objects;
    std::vector<Frame> m_frames;
    std::vector<QVariant> m_decoded;
    std::vector<uchar> m_state; // 0 not yet, 1 being decoded, 2 done
    QHash<QString, QString> m_classMap;
    Error m_error;
    QObject *m_decodingContext = nullptr;
    bool m_readsNamedFiles = false;
    bool m_appliesCountLimits = true;
};

} // namespace platform
