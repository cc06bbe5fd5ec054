#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QVariant>

// A first-in, first-out queue of values that any number of threads may use
// at once. Every access is serialised by one lock taken in call order, so a
// thread that adds and then dequeues sees its own addition.
class VLQueue
{
public:
    static constexpr const char *kLabel = "com.velmoorsoft.vlkit.vlqueue";

    explicit VLQueue(qsizetype capacity = 0);
    VLQueue(const VLQueue &) = delete;
    VLQueue &operator=(const VLQueue &) = delete;

    void addObject(const QVariant &object); // an invalid value is refused
    void addObjectsFromArray(const QVariantList &objects);
    // The head, or an invalid QVariant when empty.
    QVariant dequeue();
    QVariantList dequeueAll();
    QVariantList dequeueCount(qsizetype count);
    qsizetype count() const;
    bool isEmpty() const;
    void clear();
    // "VLQueue with N objects\n" then "i: value\n" per object, oldest first.
    QString description() const;

private:
    mutable QMutex m_mutex;
    QVariantList m_items;
};
