#pragma once

#include "platform/Error.h"
#include "platform/archive/PlistValue.h"

#include <QByteArray>
#include <QString>

namespace platform {

// Reads binary ("bplist00") and XML property lists into PlistValue trees.
// Input is untrusted: offsets, references and lengths are bounds-checked,
// nesting is limited, reference cycles are refused, and every failure is a
// message, never a crash. A one-key dictionary {"CF$UID": n} in XML reads
// as a UID, as the keyed archives written in XML spell them.
class PlistReader
{
public:
    static constexpr int kMaxDepth = 64;
    static constexpr qint64 kMaxInputSize = qint64(512) * 1024 * 1024;

    // Answers false and sets `error` when the data are no property list.
    static bool read(const QByteArray &data, PlistValue *result, Error *error);
    static bool readBinary(const QByteArray &data, PlistValue *result, Error *error);
    static bool readXml(const QByteArray &data, PlistValue *result, Error *error);

    static bool isBinary(const QByteArray &data);
};

} // namespace platform
