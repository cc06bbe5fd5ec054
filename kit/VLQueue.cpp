#include "kit/VLQueue.h"

#include <QDebug>
#include <QMutexLocker>

VLQueue::VLQueue(qsizetype capacity)
{
    if (capacity > 0)
        m_items.reserve(capacity);
}

void VLQueue::addObject(const QVariant &object)
{
    if (!object.isValid())
        return;
    QMutexLocker lock(&m_mutex);
    m_items.append(object);
}

void VLQueue::addObjectsFromArray(const QVariantList &objects)
{
    // `objects` is a value: later changes by the caller are not seen.
    QMutexLocker lock(&m_mutex);
    for (const QVariant &object : objects) {
        if (object.isValid())
            m_items.append(object);
    }
}

QVariant VLQueue::dequeue()
{
    QMutexLocker lock(&m_mutex);
    return m_items.isEmpty() ? QVariant() : m_items.takeFirst();
}

QVariantList VLQueue::dequeueAll()
{
    QMutexLocker lock(&m_mutex);
    return std::exchange(m_items, QVariantList());
}

QVariantList VLQueue::dequeueCount(qsizetype count)
{
    QMutexLocker lock(&m_mutex);
    const qsizetype taken = qBound<qsizetype>(0, count, m_items.size());
    QVariantList result = m_items.mid(0, taken);
    m_items.remove(0, taken);
    return result;
}

qsizetype VLQueue::count() const
{
    QMutexLocker lock(&m_mutex);
    return m_items.size();
}

bool VLQueue::isEmpty() const
{
    QMutexLocker lock(&m_mutex);
    return m_items.isEmpty();
}

void VLQueue::clear()
{
    QMutexLocker lock(&m_mutex);
    m_items.clear();
}

QString VLQueue::description() const
{
    QMutexLocker lock(&m_mutex);
    QString text = QStringLiteral("VLQueue with %1 objects\n").arg(m_items.size());
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        const QVariant &item = m_items.at(i);
        QString shown;
        if (item.canConvert<QString>() && item.typeId() != QMetaType::QVariantList
            && item.typeId() != QMetaType::QVariantMap) {
            shown = item.toString();
        } else {
            QDebug(&shown).noquote().nospace() << item;
        }
        text += QStringLiteral("%1: %2\n").arg(i).arg(shown);
    }
    return text;
}
