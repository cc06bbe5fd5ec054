#pragma once

class QObject;

// A controller of the window that works with the layers palette controller
// (the canvas, the overlay controls, a layer settings panel) and is handed
// it by the shell.
class KTLayersPaletteClient
{
public:
    virtual ~KTLayersPaletteClient() = default;
    virtual void useLayersPaletteController(QObject *controller) = 0;
};
