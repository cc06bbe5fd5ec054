#pragma once

#include "platform/Error.h"
#include "platform/archive/PlistUid.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace platform {

// Property lists (XML and binary) to and from QVariant:
//   dict <-> QVariantMap, array <-> QVariantList, string <-> QString,
//   integer <-> qint64, real <-> double, bool <-> bool,
//   date <-> QDateTime (UTC), data <-> QByteArray, UID <-> PlistUid.
// Reading accepts untrusted bytes through PlistReader (bounded depth and
// sizes, {"CF$UID": n} in XML read as a UID): damage gives an error, never a
// crash.
namespace PropertyList {

enum class Format { XML, Binary };

// The format of `data` by its header, none when it is neither.
std::optional<Format> detectFormat(const QByteArray &data);

// An invalid QVariant and `error` set when the data are not a property list.
QVariant read(const QByteArray &data, Error *error = nullptr, Format *format = nullptr);
QVariant readFile(const QString &path, Error *error = nullptr, Format *format = nullptr);

// Empty data and `error` set when `value` holds something a property list
// cannot (an invalid QVariant, a pointer, an unknown type).
QByteArray write(const QVariant &value, Format format, Error *error = nullptr);
// Writes atomically: the old file stays whole when anything fails.
bool writeFile(const QString &path, const QVariant &value, Format format, Error *error = nullptr);

} // namespace PropertyList
} // namespace platform
