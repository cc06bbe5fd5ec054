#pragma once

#include <QByteArray>
#include <QVariant>

namespace platform {

// The old, non-keyed archiver for the few values stored that way: arrays of
// strings ("Keywords" of a template package) and colours ("Mat color" in
// library item dictionaries). Accepts QString, QStringList, QVariantList of
// those, and Color.
class Archiver
{
public:
    static QByteArray archivedDataWithRootObject(const QVariant &root);
};

} // namespace platform
