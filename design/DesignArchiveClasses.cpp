#include "design/DesignArchiveClasses.h"

#include "design/KTImageLayer.h"
#include "design/KTImageOverlayLayer.h"
#include "design/KTLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "design/VLImage.h"

void registerDesignArchiveClasses()
{
    KTTemplate::registerArchiveClass();
    KTLayer::registerArchiveClass();
    KTImageLayer::registerArchiveClass();
    VLImage::registerArchiveClass();
    // Layer classes of frames and overlays, one line each:
    KTImageOverlayLayer::registerArchiveClass();
    KTTextOverlayLayer::registerArchiveClass();
}
