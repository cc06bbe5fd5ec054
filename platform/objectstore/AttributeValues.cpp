#include "platform/objectstore/AttributeValues.h"

#include <QDateTime>

namespace platform {

QVariant canonical(AttributeType type, const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    switch (type) {
    case AttributeType::String: return value.toString();
    case AttributeType::Integer64: return QVariant(value.toLongLong());
    case AttributeType::Double: return QVariant(value.toDouble());
    case AttributeType::Boolean: return QVariant(value.toBool());
    case AttributeType::Date: {
        const QDateTime date = value.toDateTime();
        return date.isValid() ? QVariant(date) : QVariant();
    }
    case AttributeType::Bytes: return value.toByteArray();
    }
    return value;
}

int compareValues(AttributeType type, const QVariant &a, const QVariant &b, bool caseInsensitive)
{
    // Nil sorts first.
    if (!a.isValid() || !b.isValid())
        return int(a.isValid()) - int(b.isValid());
    switch (type) {
    case AttributeType::String:
        return a.toString().compare(b.toString(), caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive);
    case AttributeType::Integer64:
    case AttributeType::Boolean: {
        const qint64 x = a.toLongLong(), y = b.toLongLong();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case AttributeType::Double: {
        const double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case AttributeType::Date: {
        const qint64 x = a.toDateTime().toMSecsSinceEpoch(), y = b.toDateTime().toMSecsSinceEpoch();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case AttributeType::Bytes: return a.toByteArray().compare(b.toByteArray());
    }
    return 0;
}

} // namespace platform
