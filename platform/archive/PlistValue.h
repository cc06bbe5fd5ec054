#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <utility>

namespace platform {

// One node of a property list as archives need it: dictionaries keep their
// order, reals remember whether they were written with 32 bits, and UIDs are
// a kind of their own. Copies are cheap (the containers are shared).
class PlistValue
{
public:
    enum class Type { Null, Boolean, Integer, Real, Date, String, Data, Array, Dictionary, Uid };
    using Entry = std::pair<QString, PlistValue>;

    PlistValue() = default;
    static PlistValue boolean(bool value);
    static PlistValue integer(qint64 value);
    static PlistValue real(double value);
    static PlistValue real32(float value);
    // Seconds since 1 January 2001 UTC, as property lists count them.
    static PlistValue date(double secondsSinceReference);
    static PlistValue string(const QString &value);
    static PlistValue data(const QByteArray &value);
    static PlistValue array(const QList<PlistValue> &items = {});
    static PlistValue dictionary(const QList<Entry> &entries = {});
    static PlistValue uid(quint64 value);

    Type type() const { return m_type; }
    bool isNull() const { return m_type == Type::Null; }
    bool isNumber() const { return m_type == Type::Boolean || m_type == Type::Integer || m_type == Type::Real; }

    bool toBool() const;
    qint64 toInteger() const;
    double toReal() const;
    bool isReal32() const { return m_real32; }
    double dateValue() const { return m_real; }
    const QString &stringValue() const { return m_string; }
    const QByteArray &dataValue() const { return m_data; }
    quint64 uidValue() const { return m_uid; }

    const QList<PlistValue> &items() const { return m_items; }
    QList<PlistValue> &items() { return m_items; }
    const QList<Entry> &entries() const { return m_entries; }

    // Dictionary access; a missing key answers a null value.
    bool contains(const QString &key) const;
    PlistValue value(const QString &key) const;
    const PlistValue *find(const QString &key) const;
    void insert(const QString &key, const PlistValue &value); // replaces or appends
    void append(const PlistValue &item) { m_items.append(item); }

    // A double as a float without undefined behaviour: out-of-range values
    // become infinities, as the hardware would make them.
    static float narrowToFloat(double value);
    // Seconds since 2001 as a date; false for values no calendar holds.
    static bool referenceSecondsToDateTime(double seconds, QDateTime *out);

    bool operator==(const PlistValue &other) const;
    bool operator!=(const PlistValue &other) const { return !(*this == other); }

private:
    Type m_type = Type::Null;
    bool m_bool = false;
    bool m_real32 = false;
    qint64 m_int = 0;
    double m_real = 0;
    quint64 m_uid = 0;
    QString m_string;
    QByteArray m_data;
    QList<PlistValue> m_items;
    QList<Entry> m_entries;
};

} // namespace platform
