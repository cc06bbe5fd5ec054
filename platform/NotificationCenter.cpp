#include "platform/NotificationCenter.h"

#include <QMutex>
#include <QMutexLocker>
#include <QPointer>

#include <atomic>
#include <memory>
#include <vector>

namespace platform {

namespace {

struct Observer {
    NotificationCenter::ObserverId id = 0;
    QString name;
    const void *sender = nullptr;
    NotificationCenter::Handler handler;
    const QObject *contextKey = nullptr;
    QPointer<QObject> context;
    QMetaObject::Connection destroyedConnection;
    // Cleared on removal so that a post already under way skips the observer.
    std::atomic<bool> alive{true};
};

} // namespace

struct NotificationCenter::Private {
    QMutex mutex;
    std::vector<std::shared_ptr<Observer>> observers;
    ObserverId nextId = 1;
};

NotificationCenter::NotificationCenter()
    : d(std::make_unique<Private>())
{
}

NotificationCenter::~NotificationCenter()
{
    for (const auto &observer : d->observers)
        QObject::disconnect(observer->destroyedConnection);
}

NotificationCenter &NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

NotificationCenter::ObserverId NotificationCenter::addObserver(const QString &name, const void *sender,
                                                               Handler handler, QObject *context)
{
    auto observer = std::make_shared<Observer>();
    observer->name = name;
    observer->sender = sender;
    observer->handler = std::move(handler);
    observer->contextKey = context;
    observer->context = context;
    {
        Private &s = *d;
        QMutexLocker lock(&s.mutex);
        observer->id = s.nextId++;
        s.observers.push_back(observer);
    }
    if (context) {
        observer->destroyedConnection = QObject::connect(
            context, &QObject::destroyed, context,
            [this, key = context] { removeObservers(key); }, Qt::DirectConnection);
    }
    return observer->id;
}

void NotificationCenter::removeObserver(ObserverId id)
{
    std::shared_ptr<Observer> removed;
    {
        Private &s = *d;
        QMutexLocker lock(&s.mutex);
        for (auto it = s.observers.begin(); it != s.observers.end(); ++it) {
            if ((*it)->id == id) {
                removed = *it;
                s.observers.erase(it);
                break;
            }
        }
    }
    if (removed) {
        removed->alive = false;
        QObject::disconnect(removed->destroyedConnection);
    }
}

void NotificationCenter::removeObservers(const QObject *context)
{
    if (!context)
        return;
    std::vector<std::shared_ptr<Observer>> removed;
    {
        Private &s = *d;
        QMutexLocker lock(&s.mutex);
        for (auto it = s.observers.begin(); it != s.observers.end();) {
            if ((*it)->contextKey == context) {
                removed.push_back(*it);
                it = s.observers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto &observer : removed) {
        observer->alive = false;
        QObject::disconnect(observer->destroyedConnection);
    }
}

void NotificationCenter::post(const QString &name, const void *sender, std::optional<QVariantMap> userInfo)
{
    std::vector<std::shared_ptr<Observer>> matching;
    {
        Private &s = *d;
        QMutexLocker lock(&s.mutex);
        for (const auto &observer : s.observers) {
            if (!observer->name.isEmpty() && observer->name != name)
                continue;
            if (observer->sender && observer->sender != sender)
                continue;
            matching.push_back(observer);
        }
    }
    const Notification notification{name, sender, std::move(userInfo)};
    // Handlers run without the lock: they may add or remove observers, or post.
    for (const auto &observer : matching) {
        if (!observer->alive)
            continue;
        if (observer->contextKey && !observer->context)
            continue;
        observer->handler(notification);
    }
}

} // namespace platform
