#pragma once

#include "platform/Error.h"

class VLHTTPPost;

// What a form poster tells about its request. Both calls are optional; the
// defaults do nothing.
class VLHTTPPostDelegate
{
public:
    virtual ~VLHTTPPostDelegate() = default;
    // An answer came back, whatever its HTTP status.
    virtual void HTTPPostDidFinishLoading(VLHTTPPost *post) { Q_UNUSED(post); }
    // The request failed on its way (no answer, connection closed, ...).
    virtual void HTTPPostDidFailWithError(VLHTTPPost *post, const platform::Error &error)
    {
        Q_UNUSED(post);
        Q_UNUSED(error);
    }
};
