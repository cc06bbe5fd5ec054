#pragma once

#include <QList>
#include <QMetaType>

namespace platform {

class ManagedObject;

// What changed in a context during one pass of the event loop.
struct ObjectChanges {
    QList<ManagedObject *> inserted;
    QList<ManagedObject *> updated;
    QList<ManagedObject *> deleted;

    bool isEmpty() const { return inserted.isEmpty() && updated.isEmpty() && deleted.isEmpty(); }
};

} // namespace platform

Q_DECLARE_METATYPE(platform::ObjectChanges)
