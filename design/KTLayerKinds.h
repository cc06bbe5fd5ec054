#pragma once

#include <QString>

#include <memory>
#include <vector>

class KTLayer;

// Every kind of layer a design holds, in one list: the photo, the frames and
// the overlays. The shell, the canvas, the archive, the library and the
// analytics ask it rather than compare class names, so a new layer kind is
// one class and one entry here.
struct KTLayerKind {
    enum class Role { Photo, Frame, Overlay };

    QString className; // the archived and the Qt class name
    Role role;
    std::shared_ptr<KTLayer> (*make)();
    void (*registerArchiveClass)();
    QString archivedAlias;   // an older name archives may use; empty when none
    QString countedLabel;    // what the design's summary counts it as; empty when not counted
    QString frameTypeName;   // the library frame type made into this kind; empty when none
    QString panelController; // the settings panel's controller; empty for overlays
    int overlayType = -1;    // the overlay panel's page (0 picture, 1 text); -1 for the rest
};

namespace KTLayerKinds {

const std::vector<KTLayerKind> &all();
// The kind of exactly this layer's class; null for a class not listed.
const KTLayerKind *of(const KTLayer *layer);
const KTLayerKind *named(const QString &className);
const KTLayerKind *forFrameType(const QString &frameTypeName);
bool isOverlay(const KTLayer *layer);

} // namespace KTLayerKinds
