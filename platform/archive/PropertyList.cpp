#include "platform/archive/PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <QUrl>

#include "platform/archive/PlistReader.h"
#include "platform/archive/PlistValue.h"

#include <plist/plist.h>

#include <limits>
#include <memory>

namespace platform {
namespace PropertyList {

namespace {

// Seconds between the Unix epoch and the property-list epoch (2001-01-01 UTC).
constexpr qint64 kPlistEpochOffset = 978307200;
// One nesting limit for reading and writing, so whatever is written reads back.
constexpr int kMaxDepth = PlistReader::kMaxDepth;

struct PlistDeleter {
    void operator()(plist_t node) const
    {
        if (node)
            plist_free(node);
    }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

const int registeredUid = qRegisterMetaType<PlistUid>("platform::PlistUid");

// Reading goes through our own bounded reader for both formats: it stops at
// the depth limit before building anything deeper, where libplist builds the
// whole tree first and frees it recursively.
QVariant fromPlistValue(const PlistValue &node)
{
    switch (node.type()) {
    case PlistValue::Type::Null:
        return {};
    case PlistValue::Type::Boolean:
        return node.toBool();
    case PlistValue::Type::Integer:
        return node.toInteger();
    case PlistValue::Type::Real:
        return node.toReal();
    case PlistValue::Type::Date: {
        QDateTime when;
        if (!PlistValue::referenceSecondsToDateTime(node.dateValue(), &when))
            return {};
        return when;
    }
    case PlistValue::Type::String:
        return node.stringValue();
    case PlistValue::Type::Data:
        return node.dataValue();
    case PlistValue::Type::Uid:
        return QVariant::fromValue(PlistUid{node.uidValue()});
    case PlistValue::Type::Array: {
        QVariantList list;
        list.reserve(node.items().size());
        for (const PlistValue &item : node.items()) {
            QVariant value = fromPlistValue(item);
            if (!value.isValid())
                return {};
            list.append(std::move(value));
        }
        return list;
    }
    case PlistValue::Type::Dictionary: {
        QVariantMap map;
        for (const auto &entry : node.entries()) {
            QVariant value = fromPlistValue(entry.second);
            if (!value.isValid())
                return {};
            map.insert(entry.first, std::move(value));
        }
        return map;
    }
    }
    return {};
}

// libplist takes strings as C strings, and XML 1.0 has no way to write most
// control characters: such a text is refused rather than cut short or
// written where no reader can read it back.
bool canHold(const QString &text, Format format, Error *error)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        const bool bad = u == 0
                         || (format == Format::XML
                             && ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF));
        if (bad) {
            setError(error, QStringLiteral("A property list cannot hold the character U+%1 here")
                                .arg(u, 4, 16, QLatin1Char('0')).toUpper());
            return false;
        }
    }
    return true;
}

plist_t newString(const QString &text, Format format, Error *error)
{
    return canHold(text, format, error) ? plist_new_string(text.toUtf8().constData()) : nullptr;
}

plist_t fromVariant(const QVariant &value, Format format, int depth, Error *error)
{
    if (depth > kMaxDepth) {
        setError(error, QStringLiteral("Value nested too deeply for a property list"));
        return nullptr;
    }
    if (value.userType() == qMetaTypeId<PlistUid>())
        return plist_new_uid(value.value<PlistUid>().value);

    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        return plist_new_uint(uint64_t(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: {
        const quint64 unsignedValue = value.toULongLong();
        if (unsignedValue > quint64(std::numeric_limits<qint64>::max())) {
            setError(error, QStringLiteral("Integer too large for a property list"));
            return nullptr;
        }
        return plist_new_uint(unsignedValue);
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QString:
    case QMetaType::QChar:
        return newString(value.toString(), format, error);
    case QMetaType::QUrl:
        return newString(value.toUrl().toString(), format, error);
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), uint64_t(bytes.size()));
    }
    case QMetaType::QDate:
    case QMetaType::QDateTime: {
        const QDateTime when = value.typeId() == QMetaType::QDate ? value.toDate().startOfDay(Qt::UTC) : value.toDateTime();
        if (!when.isValid()) {
            setError(error, QStringLiteral("Invalid date in property list value"));
            return nullptr;
        }
        const qint64 ms = when.toMSecsSinceEpoch() - kPlistEpochOffset * 1000;
        const qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        // The library keeps dates in 32-bit seconds around 2001 (1933 to 2069).
        if (sec < std::numeric_limits<int32_t>::min() || sec > std::numeric_limits<int32_t>::max()) {
            setError(error, QStringLiteral("Date outside the range a property list can hold here"));
            return nullptr;
        }
        // XML carries whole seconds only; the library would round a fraction
        // before 2001 the wrong way, so it is dropped here.
        const int32_t usec = format == Format::XML ? 0 : int32_t((ms - sec * 1000) * 1000);
        return plist_new_date(int32_t(sec), usec);
    }
    case QMetaType::QStringList: {
        PlistPtr array(plist_new_array());
        for (const QString &item : value.toStringList()) {
            plist_t child = newString(item, format, error);
            if (!child)
                return nullptr;
            plist_array_append_item(array.get(), child);
        }
        return array.release();
    }
    case QMetaType::QVariantList: {
        PlistPtr array(plist_new_array());
        for (const QVariant &item : value.toList()) {
            plist_t child = fromVariant(item, format, depth + 1, error);
            if (!child)
                return nullptr;
            plist_array_append_item(array.get(), child);
        }
        return array.release();
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        PlistPtr dict(plist_new_dict());
        const QVariantMap map = value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
        auto add = [&](const QString &key, const QVariant &item) {
            if (!canHold(key, format, error))
                return false;
            plist_t child = fromVariant(item, format, depth + 1, error);
            if (!child)
                return false;
            plist_dict_set_item(dict.get(), key.toUtf8().constData(), child);
            return true;
        };
        if (value.typeId() == QMetaType::QVariantMap) {
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                if (!add(it.key(), it.value()))
                    return nullptr;
            }
        } else {
            const QVariantHash hash = value.toHash();
            for (auto it = hash.cbegin(); it != hash.cend(); ++it) {
                if (!add(it.key(), it.value()))
                    return nullptr;
            }
        }
        return dict.release();
    }
    default:
        break;
    }
    if (!value.isValid())
        setError(error, QStringLiteral("A property list cannot hold an empty value"));
    else
        setError(error, QStringLiteral("A property list cannot hold a value of type %1")
                            .arg(QString::fromLatin1(value.typeName())));
    return nullptr;
}

} // namespace

std::optional<Format> detectFormat(const QByteArray &data)
{
    if (data.startsWith("bplist00"))
        return Format::Binary;
    // XML may start with a byte-order mark and white space.
    QByteArray head = data.left(512);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    head = head.trimmed();
    if (head.startsWith("<?xml") || head.startsWith("<plist") || head.startsWith("<!DOCTYPE plist"))
        return Format::XML;
    return std::nullopt;
}

QVariant read(const QByteArray &data, Error *error, Format *format)
{
    const std::optional<Format> kind = detectFormat(data);
    if (!kind) {
        setError(error, QStringLiteral("Not a property list"));
        return {};
    }
    PlistValue parsed;
    Error readError;
    const bool ok = *kind == Format::Binary ? PlistReader::readBinary(data, &parsed, &readError)
                                            : PlistReader::readXml(data, &parsed, &readError);
    if (!ok) {
        setError(error, readError.description.isEmpty() ? QStringLiteral("Damaged property list") : readError.description);
        return {};
    }
    QVariant value = fromPlistValue(parsed);
    if (!value.isValid()) {
        setError(error, QStringLiteral("Damaged property list"));
        return {};
    }
    if (format)
        *format = *kind;
    if (error)
        *error = Error{};
    return value;
}

QVariant readFile(const QString &path, Error *error, Format *format)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("Could not open %1: %2").arg(path, file.errorString()));
        return {};
    }
    return read(file.readAll(), error, format);
}

QByteArray write(const QVariant &value, Format format, Error *error)
{
    Error conversionError;
    PlistPtr root(fromVariant(value, format, 0, &conversionError));
    if (!root) {
        if (error)
            *error = conversionError;
        return {};
    }
    char *bytes = nullptr;
    uint32_t length = 0;
    QByteArray out;
    if (format == Format::Binary) {
        plist_to_bin(root.get(), &bytes, &length);
        if (bytes)
            out = QByteArray(bytes, qsizetype(length));
        plist_to_bin_free(bytes);
    } else {
        plist_to_xml(root.get(), &bytes, &length);
        if (bytes)
            out = QByteArray(bytes, qsizetype(length));
        plist_to_xml_free(bytes);
    }
    if (out.isEmpty()) {
        setError(error, QStringLiteral("Could not encode the property list"));
        return {};
    }
    if (error)
        *error = Error{};
    return out;
}

bool writeFile(const QString &path, const QVariant &value, Format format, Error *error)
{
    const QByteArray bytes = write(value, format, error);
    if (bytes.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        setError(error, QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

} // namespace PropertyList
} // namespace platform
