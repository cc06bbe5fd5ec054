#pragma once

#include <memory>

class KTTrackingAreaHost;
class KTViewState;

// What the shell asks of the design canvas controller ("KTDesignViewController"):
// it takes the window's view state, and its view takes the selected layer's
// tracking areas.
class KTDesignCanvasInterface
{
public:
    virtual ~KTDesignCanvasInterface() = default;
    virtual void setViewState(const std::shared_ptr<KTViewState> &viewState) = 0;
    // The canvas view as the layers see it; null before it is built.
    virtual KTTrackingAreaHost *trackingAreaHost() = 0;
    virtual void removeAllTrackingAreas() = 0;
};
