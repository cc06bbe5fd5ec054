#pragma once

#include "platform/objectstore/EntityDescription.h"
#include "platform/objectstore/ObjectID.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>
#include <vector>

namespace platform {

class ManagedObjectContext;

// Base of every entity class. Objects belong to their context until it is
// destroyed: deletion only marks them, so pointers held elsewhere never
// dangle, and undo can bring them back. Use an object only on the thread of
// its context.
class ManagedObject
{
public:
    ManagedObject();
    virtual ~ManagedObject();
    ManagedObject(const ManagedObject &) = delete;
    ManagedObject &operator=(const ManagedObject &) = delete;

    const EntityDescription &entity() const { return *m_entity; }
    ObjectID objectID() const { return m_id; }
    ManagedObjectContext *managedObjectContext() const { return m_context; }
    // A string that names the object across drag and drop; resolved by
    // ManagedObjectContext::objectWithURI.
    QString uriRepresentation() const;

    bool isInserted() const;  // new since the last save
    bool isDeleted() const { return m_deleted; }
    bool isUpdated() const;   // stored, and changed since the last save
    bool hasChanges() const;

    // Generic access by index (see the entity description) or by name.
    QVariant value(int attribute) const;
    void setValue(int attribute, const QVariant &value);
    QVariant valueForKey(const QString &key) const;
    // Entity classes route keys that have custom setters through them.
    virtual void setValueForKey(const QVariant &value, const QString &key);

    ManagedObject *toOne(int relationship) const;
    void setToOne(int relationship, ManagedObject *target);
    const QList<ManagedObject *> &toMany(int relationship) const;
    void addToMany(int relationship, ManagedObject *target);
    void removeFromMany(int relationship, ManagedObject *target);
    void setToMany(int relationship, const QList<ManagedObject *> &targets);
    // Relationships by name: to-one as a single-element list.
    QList<ManagedObject *> relatedObjectsForKey(const QString &key) const;

    // Lifecycle hooks.
    virtual void awakeFromInsert() {}
    virtual void awakeFromFetch() {}
    virtual void willSave() {}

protected:
    // Typed helpers for entity classes; nil reads as a null/empty value or
    // nullopt, and setting one stores nil.
    QString stringAt(int attribute) const { return value(attribute).toString(); }
    void setStringAt(int attribute, const QString &text) { setValue(attribute, text.isNull() ? QVariant() : QVariant(text)); }
    std::optional<qint64> int64At(int attribute) const;
    void setInt64At(int attribute, std::optional<qint64> number);
    std::optional<double> doubleAt(int attribute) const;
    void setDoubleAt(int attribute, std::optional<double> number);
    std::optional<bool> boolAt(int attribute) const;
    void setBoolAt(int attribute, std::optional<bool> flag);
    QDateTime dateAt(int attribute) const { return value(attribute).toDateTime(); }
    void setDateAt(int attribute, const QDateTime &date) { setValue(attribute, date.isValid() ? QVariant(date) : QVariant()); }
    QByteArray bytesAt(int attribute) const { return value(attribute).toByteArray(); }
    void setBytesAt(int attribute, const QByteArray &bytes) { setValue(attribute, bytes.isNull() ? QVariant() : QVariant(bytes)); }

    template <class T> T *toOneAs(int relationship) const { return static_cast<T *>(toOne(relationship)); }
    template <class T> QList<T *> toManyAs(int relationship) const
    {
        QList<T *> out;
        const QList<ManagedObject *> &items = toMany(relationship);
        out.reserve(items.size());
        for (ManagedObject *item : items)
            out.append(static_cast<T *>(item));
        return out;
    }

private:
    friend class ManagedObjectContext;
    struct Slot {
        ManagedObject *one = nullptr;
        QList<ManagedObject *> many;
    };

    const EntityDescription *m_entity = nullptr;
    ManagedObjectContext *m_context = nullptr;
    ObjectID m_id;
    mutable std::vector<QVariant> m_values;
    mutable quint64 m_unloaded = 0;      // lazy attributes still on disk
    std::vector<Slot> m_slots;
    quint64 m_changedAttributes = 0;
    quint64 m_changedRelationships = 0;
    bool m_persisted = false;            // has a row in the store (or an object in the parent)
    bool m_deleted = false;
    bool m_deleting = false;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::ManagedObject *)
