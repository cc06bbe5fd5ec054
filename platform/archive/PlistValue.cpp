#include "platform/archive/PlistValue.h"

#include <cmath>
#include <limits>

namespace platform {

PlistValue PlistValue::boolean(bool value)
{
    PlistValue v;
    v.m_type = Type::Boolean;
    v.m_bool = value;
    return v;
}

PlistValue PlistValue::integer(qint64 value)
{
    PlistValue v;
    v.m_type = Type::Integer;
    v.m_int = value;
    return v;
}

PlistValue PlistValue::real(double value)
{
    PlistValue v;
    v.m_type = Type::Real;
    v.m_real = value;
    return v;
}

PlistValue PlistValue::real32(float value)
{
    PlistValue v = real(double(value));
    v.m_real32 = true;
    return v;
}

PlistValue PlistValue::date(double secondsSinceReference)
{
    PlistValue v;
    v.m_type = Type::Date;
    v.m_real = secondsSinceReference;
    return v;
}

PlistValue PlistValue::string(const QString &value)
{
    PlistValue v;
    v.m_type = Type::String;
    v.m_string = value;
    return v;
}

PlistValue PlistValue::data(const QByteArray &value)
{
    PlistValue v;
    v.m_type = Type::Data;
    v.m_data = value;
    return v;
}

PlistValue PlistValue::array(const QList<PlistValue> &items)
{
    PlistValue v;
    v.m_type = Type::Array;
    v.m_items = items;
    return v;
}

PlistValue PlistValue::dictionary(const QList<Entry> &entries)
{
    PlistValue v;
    v.m_type = Type::Dictionary;
    v.m_entries = entries;
    return v;
}

PlistValue PlistValue::uid(quint64 value)
{
    PlistValue v;
    v.m_type = Type::Uid;
    v.m_uid = value;
    return v;
}

bool PlistValue::toBool() const
{
    switch (m_type) {
    case Type::Boolean: return m_bool;
    case Type::Integer: return m_int != 0;
    case Type::Real: return m_real != 0;
    default: return false;
    }
}

qint64 PlistValue::toInteger() const
{
    switch (m_type) {
    case Type::Boolean: return m_bool ? 1 : 0;
    case Type::Integer: return m_int;
    case Type::Real:
        // Saturate instead of overflowing on damaged values.
        if (!(m_real == m_real))
            return 0;
        if (m_real >= 9.2e18)
            return std::numeric_limits<qint64>::max();
        if (m_real <= -9.2e18)
            return std::numeric_limits<qint64>::min();
        return qint64(m_real);
    default: return 0;
    }
}

double PlistValue::toReal() const
{
    switch (m_type) {
    case Type::Boolean: return m_bool ? 1 : 0;
    case Type::Integer: return double(m_int);
    case Type::Real: return m_real;
    default: return 0;
    }
}

const PlistValue *PlistValue::find(const QString &key) const
{
    for (const Entry &e : m_entries) {
        if (e.first == key)
            return &e.second;
    }
    return nullptr;
}

bool PlistValue::contains(const QString &key) const
{
    return find(key) != nullptr;
}

PlistValue PlistValue::value(const QString &key) const
{
    const PlistValue *v = find(key);
    return v ? *v : PlistValue();
}

void PlistValue::insert(const QString &key, const PlistValue &value)
{
    for (Entry &e : m_entries) {
        if (e.first == key) {
            e.second = value;
            return;
        }
    }
    m_entries.append({key, value});
}

float PlistValue::narrowToFloat(double value)
{
    if (std::isnan(value))
        return std::numeric_limits<float>::quiet_NaN();
    if (value > double(std::numeric_limits<float>::max()))
        return std::numeric_limits<float>::infinity();
    if (value < -double(std::numeric_limits<float>::max()))
        return -std::numeric_limits<float>::infinity();
    return float(value);
}

bool PlistValue::referenceSecondsToDateTime(double seconds, QDateTime *out)
{
    // About ±3000 years around 2001.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e11)
        return false;
    *out = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addMSecs(std::llround(seconds * 1000.0));
    return true;
}

bool PlistValue::operator==(const PlistValue &other) const
{
    if (m_type != other.m_type)
        return false;
    switch (m_type) {
    case Type::Null: return true;
    case Type::Boolean: return m_bool == other.m_bool;
    case Type::Integer: return m_int == other.m_int;
    case Type::Real:
    case Type::Date: return m_real == other.m_real;
    case Type::String: return m_string == other.m_string;
    case Type::Data: return m_data == other.m_data;
    case Type::Array: return m_items == other.m_items;
    case Type::Dictionary: return m_entries == other.m_entries;
    case Type::Uid: return m_uid == other.m_uid;
    }
    return false;
}

} // namespace platform
