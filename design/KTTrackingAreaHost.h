#pragma once

#include <QRectF>
#include <QVariantMap>

class KTLayer;

// A view that shows a design and takes tracking areas from its layers (the
// corner handles of overlays). The design editor's canvas implements it, so
// the model links no widgets.
class KTTrackingAreaHost
{
public:
    virtual ~KTTrackingAreaHost() = default;
    // An area over `rect` (view coordinates) that reports entered/exited and
    // moved while the window is key, owned by `owner`, carrying `userInfo`.
    virtual void addTrackingArea(const QRectF &rect, KTLayer *owner, const QVariantMap &userInfo) = 0;
    // The value the "view" entry of a handle's user info holds.
    virtual QVariant trackingAreaViewValue() const = 0;
};
