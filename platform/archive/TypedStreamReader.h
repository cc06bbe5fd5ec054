#pragma once

#include "platform/Error.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

namespace platform {

// Reads the typedstream form, the older non-keyed archive (little-endian,
// header 04 0B "streamtyped" 81 E8 03) into a generic tree: groups of typed
// values, objects with their class chain (names and versions) and contents.
// Shared strings and object references are resolved against their tables
// with bounds checks; nesting and the total work are limited, and damage
// is reported as a message.
class TypedStreamReader
{
public:
    static constexpr int kMaxDepth = 64;
    static constexpr qsizetype kMaxInputSize = 64 * 1024 * 1024;

    struct Value {
        enum class Kind { Nil, Integer, Real, Bytes, CString, Object, Class, Array, Struct, Ignored };
        Kind kind = Kind::Nil;
        qint64 integer = 0;
        double real = 0;
        QByteArray bytes;  // '+' strings, C strings, char arrays
        int index = -1;    // Object: into objects(); Class: into classes()
        QList<Value> elements; // Array, Struct
    };
    struct Group {
        QList<QByteArray> encodings; // one type encoding per value
        QList<Value> values;
    };
    struct Class {
        QByteArray name;
        qint64 version = 0;
        int superclass = -1; // into classes(), -1 for none
    };
    struct Object {
        int classIndex = -1;
        QList<Group> groups;
    };

    // Parses the whole stream; false with `error` set on damage.
    bool read(const QByteArray &data, Error *error);

    const QList<Group> &roots() const { return m_roots; }
    const std::vector<Object> &objects() const { return m_objects; }
    const std::vector<Class> &classes() const { return m_classes; }
    // The class and its base classes, the class first.
    QList<const Class *> classChain(int classIndex) const;

private:
    enum class Slot { Object, Class, CString };

    bool fail(const QString &message);
    bool byte(qint8 *out);
    bool rawBytes(qsizetype n, QByteArray *out);
    bool integerWithHead(qint8 head, qint64 *out);
    bool integer(qint64 *out);
    bool sharedString(QByteArray *out, bool *isNil, qint8 head);
    bool group(Group *out, qint8 head, int depth);
    bool value(const QByteArray &encoding, Value *out, int depth, qint8 head, bool haveHead);
    bool object(Value *out, int depth, qint8 head);
    bool classValue(int *classIndex, qint8 head);
    bool spend();

    const uchar *m_data = nullptr;
    qsizetype m_size = 0;
    qsizetype m_pos = 0;
    qint64 m_budget = 0;
    QString m_error;
    QList<QByteArray> m_strings;
    std::vector<std::pair<Slot, int>> m_table; // shared object table: kind and index
    std::vector<Object> m_objects;
    std::vector<Class> m_classes;
    QList<QByteArray> m_cstrings;
    QList<Group> m_roots;
};

} // namespace platform
