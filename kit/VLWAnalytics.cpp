#include "kit/VLWAnalytics.h"

VLWAnalytics &VLWAnalytics::sharedAnalytics()
{
    // A function-local static is made once even when first calls race.
    static VLWAnalytics shared;
    return shared;
}

void VLWAnalytics::trackEventProperties(const QString &event, const std::optional<QVariantMap> &properties)
{
    Q_UNUSED(event);
    Q_UNUSED(properties);
}
