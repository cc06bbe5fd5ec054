#pragma once

#include <memory>

class KTLayer;
class KTTemplate;

// What the shell asks of the overlay controls ("KTOverlayControlsViewController").
class KTOverlayControlsInterface
{
public:
    virtual ~KTOverlayControlsInterface() = default;
    // 0 picture overlay, 1 text overlay.
    virtual void setCurrentOverlayType(int type) = 0;
    virtual void setImageOverlayLayer(const std::shared_ptr<KTLayer> &layer) = 0;
    virtual void setTextOverlayLayer(const std::shared_ptr<KTLayer> &layer) = 0;
    // Switches between the picture and the text view.
    virtual void toggleView() = 0;
    virtual void setDocTemplate(const std::shared_ptr<KTTemplate> &design) = 0;
};
