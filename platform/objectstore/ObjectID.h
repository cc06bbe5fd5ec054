#pragma once

#include <QHash>
#include <QMetaType>

namespace platform {

// Permanent from insertion: an entity and a primary key handed out by the
// root store, so an ID made in a child context resolves in its parent.
struct ObjectID {
    int entity = -1;
    qint64 pk = 0;

    bool isNull() const { return entity < 0 || pk <= 0; }
    friend bool operator==(const ObjectID &a, const ObjectID &b) { return a.entity == b.entity && a.pk == b.pk; }
    friend bool operator!=(const ObjectID &a, const ObjectID &b) { return !(a == b); }
};

inline size_t qHash(const ObjectID &id, size_t seed = 0)
{
    return ::qHash(id.pk, seed) ^ (size_t(id.entity) * 0x9E3779B97F4A7C15ull);
}

} // namespace platform

Q_DECLARE_METATYPE(platform::ObjectID)
