#pragma once

#include <QSizeF>

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
    // The size the framed design was last drawn at on screen.
    virtual QSizeF lastDrawnSize() const { return {}; }
    // The busy cover over the canvas while other work makes its picture.
    virtual void showPause() {}
    virtual void hidePause() {}
};
