#pragma once

#include "platform/Error.h"

#include <optional>

class VLHTTPPost;
class VLNewsletter;

// What a newsletter sign-up tells its delegate. Both calls are optional.
class VLNewsletterDelegate
{
public:
    virtual ~VLNewsletterDelegate() = default;
    virtual void newsletterDidSubscribe(VLNewsletter *newsletter) { Q_UNUSED(newsletter); }
    // `post` is the request that was answered (null when none was sent);
    // `error` is set when no answer came or the input was refused.
    virtual void newsletterFailedSubscribe(VLNewsletter *newsletter, VLHTTPPost *post,
                                           const std::optional<platform::Error> &error)
    {
        Q_UNUSED(newsletter);
        Q_UNUSED(post);
        Q_UNUSED(error);
    }
};
