#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

// The one place user-level events are reported to. It records nothing and
// sends nothing; callers report as if it did.
class VLWAnalytics
{
public:
    static VLWAnalytics &sharedAnalytics();
    // Callable from any thread.
    static void trackEventProperties(const QString &event, const std::optional<QVariantMap> &properties);

private:
    VLWAnalytics() = default;
};
