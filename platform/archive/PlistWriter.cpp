#include "platform/archive/PlistWriter.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

plist_t toNode(const PlistValue &v)
{
    switch (v.type()) {
    case PlistValue::Type::Null:
        // Property lists have no null; archives never ask for one.
        return plist_new_string("");
    case PlistValue::Type::Boolean:
        return plist_new_bool(v.toBool() ? 1 : 0);
    case PlistValue::Type::Integer:
        // Negative values become 8-byte two's complement, which readers take as signed.
        return plist_new_uint(quint64(v.toInteger()));
    case PlistValue::Type::Real:
        // libplist writes 4 bytes whenever the value fits a float exactly.
        return plist_new_real(v.isReal32() ? double(PlistValue::narrowToFloat(v.toReal())) : v.toReal());
    case PlistValue::Type::Date: {
        const double s = std::clamp(std::isfinite(v.dateValue()) ? v.dateValue() : 0.0, -2147483648.0, 2147483647.0);
        const double whole = std::floor(s);
        return plist_new_date(int32_t(whole), int32_t((s - whole) * 1e6));
    }
    case PlistValue::Type::String:
        return plist_new_string(v.stringValue().toUtf8().constData());
    case PlistValue::Type::Data:
        return plist_new_data(v.dataValue().constData(), quint64(v.dataValue().size()));
    case PlistValue::Type::Uid:
        return plist_new_uid(v.uidValue());
    case PlistValue::Type::Array: {
        plist_t a = plist_new_array();
        for (const PlistValue &item : v.items())
            plist_array_append_item(a, toNode(item));
        return a;
    }
    case PlistValue::Type::Dictionary: {
        plist_t d = plist_new_dict();
        for (const PlistValue::Entry &e : v.entries())
            plist_dict_set_item(d, e.first.toUtf8().constData(), toNode(e.second));
        return d;
    }
    }
    return plist_new_string("");
}

} // namespace

QByteArray PlistWriter::toBinary(const PlistValue &value)
{
    plist_t root = toNode(value);
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    QByteArray result(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    plist_free(root);
    return result;
}

} // namespace platform
