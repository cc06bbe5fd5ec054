#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace platform {

// A posted notification. `userInfo` is optional on purpose: a notification
// without one and a notification with an empty map mean different things
// ("layerChanged" without user info counts an edit, with an empty map it only
// asks for a redraw).
struct Notification {
    QString name;
    const void *sender = nullptr;
    std::optional<QVariantMap> userInfo;
};

// Name/sender keyed observers, delivered synchronously on the posting thread.
class NotificationCenter
{
public:
    using ObserverId = quint64;
    using Handler = std::function<void(const Notification &)>;

    static NotificationCenter &defaultCenter();

    // A centre of its own (tests, isolated subsystems); most code uses the default one.
    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter &) = delete;
    NotificationCenter &operator=(const NotificationCenter &) = delete;

    // `name` empty observes every name; `sender` null observes every sender.
    // With a `context`, the observer goes away when the context is destroyed.
    ObserverId addObserver(const QString &name, const void *sender, Handler handler,
                           QObject *context = nullptr);
    void removeObserver(ObserverId id);
    void removeObservers(const QObject *context);

    void post(const QString &name, const void *sender = nullptr,
              std::optional<QVariantMap> userInfo = std::nullopt);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
