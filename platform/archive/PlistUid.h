#pragma once

#include <QMetaType>
#include <QtGlobal>

namespace platform {

// A keyed-archive object reference (a property-list UID), kept apart from
// integers so that archives read and write it as what it is.
struct PlistUid {
    quint64 value = 0;

    friend bool operator==(const PlistUid &a, const PlistUid &b) { return a.value == b.value; }
    friend bool operator!=(const PlistUid &a, const PlistUid &b) { return a.value != b.value; }
};

} // namespace platform

Q_DECLARE_METATYPE(platform::PlistUid)
