#include "platform/objectstore/ManagedObject.h"

#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/ThreadCheck.h"

namespace platform {

ManagedObject::ManagedObject() = default;
ManagedObject::~ManagedObject() = default;

QString ManagedObject::uriRepresentation() const
{
    return m_context ? m_context->uriForObjectID(m_id) : QString();
}

bool ManagedObject::isInserted() const
{
    return !m_persisted && !m_deleted;
}

bool ManagedObject::isUpdated() const
{
    return m_persisted && !m_deleted && (m_changedAttributes || m_changedRelationships);
}

bool ManagedObject::hasChanges() const
{
    return isInserted() || isUpdated() || (m_persisted && m_deleted);
}

QVariant ManagedObject::value(int attribute) const
{
    KT_CHECK_CONTEXT_THREAD(m_context);
    const quint64 bit = quint64(1) << attribute;
    if (m_unloaded & bit) {
        m_values[attribute] = m_context->loadLazyValue(this, attribute);
        m_unloaded &= ~bit;
    }
    return m_values[attribute];
}

void ManagedObject::setValue(int attribute, const QVariant &value)
{
    m_context->setAttribute(this, attribute, value);
}

QVariant ManagedObject::valueForKey(const QString &key) const
{
    const int attribute = m_entity->attributeIndex(key);
    if (attribute >= 0)
        return value(attribute);
    const int relationship = m_entity->relationshipIndex(key);
    if (relationship >= 0 && !m_entity->relationships.at(relationship).toMany)
        return QVariant::fromValue(toOne(relationship));
    return QVariant();
}

void ManagedObject::setValueForKey(const QVariant &value, const QString &key)
{
    const int attribute = m_entity->attributeIndex(key);
    if (attribute >= 0) {
        setValue(attribute, value);
        return;
    }
    const int relationship = m_entity->relationshipIndex(key);
    if (relationship >= 0 && !m_entity->relationships.at(relationship).toMany)
        setToOne(relationship, value.value<ManagedObject *>());
}

ManagedObject *ManagedObject::toOne(int relationship) const
{
    KT_CHECK_CONTEXT_THREAD(m_context);
    return m_slots[relationship].one;
}

void ManagedObject::setToOne(int relationship, ManagedObject *target)
{
    m_context->setToOne(this, relationship, target);
}

const QList<ManagedObject *> &ManagedObject::toMany(int relationship) const
{
    KT_CHECK_CONTEXT_THREAD(m_context);
    return m_slots[relationship].many;
}

void ManagedObject::addToMany(int relationship, ManagedObject *target)
{
    m_context->addToMany(this, relationship, target);
}

void ManagedObject::removeFromMany(int relationship, ManagedObject *target)
{
    m_context->removeFromMany(this, relationship, target);
}

void ManagedObject::setToMany(int relationship, const QList<ManagedObject *> &targets)
{
    const QList<ManagedObject *> current = m_slots[relationship].many;
    for (ManagedObject *old : current)
        if (!targets.contains(old))
            removeFromMany(relationship, old);
    for (ManagedObject *target : targets)
        addToMany(relationship, target);
}

QList<ManagedObject *> ManagedObject::relatedObjectsForKey(const QString &key) const
{
    const int relationship = m_entity->relationshipIndex(key);
    if (relationship < 0)
        return {};
    if (m_entity->relationships.at(relationship).toMany)
        return toMany(relationship);
    ManagedObject *one = toOne(relationship);
    return one ? QList<ManagedObject *>{one} : QList<ManagedObject *>{};
}

std::optional<qint64> ManagedObject::int64At(int attribute) const
{
    const QVariant v = value(attribute);
    return v.isValid() ? std::optional<qint64>(v.toLongLong()) : std::nullopt;
}

void ManagedObject::setInt64At(int attribute, std::optional<qint64> number)
{
    setValue(attribute, number ? QVariant(*number) : QVariant());
}

std::optional<double> ManagedObject::doubleAt(int attribute) const
{
    const QVariant v = value(attribute);
    return v.isValid() ? std::optional<double>(v.toDouble()) : std::nullopt;
}

void ManagedObject::setDoubleAt(int attribute, std::optional<double> number)
{
    setValue(attribute, number ? QVariant(*number) : QVariant());
}

std::optional<bool> ManagedObject::boolAt(int attribute) const
{
    const QVariant v = value(attribute);
    return v.isValid() ? std::optional<bool>(v.toBool()) : std::nullopt;
}

void ManagedObject::setBoolAt(int attribute, std::optional<bool> flag)
{
    setValue(attribute, flag ? QVariant(*flag) : QVariant());
}

} // namespace platform
