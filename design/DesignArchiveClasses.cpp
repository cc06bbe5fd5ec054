#include "design/DesignArchiveClasses.h"

#include "design/KTColorMatLayer.h"
#include "design/KTCornerFrameLayer.h"
#include "design/KTFullFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTImageOverlayLayer.h"
#include "design/KTLayer.h"
#include "design/KTMoldingFrameLayer.h"
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
    KTFullFrameLayer::registerArchiveClass();
    KTColorMatLayer::registerArchiveClass();
    KTMoldingFrameLayer::registerArchiveClass();
    KTCornerFrameLayer::registerArchiveClass();
    KTImageOverlayLayer::registerArchiveClass();
    KTTextOverlayLayer::registerArchiveClass();
    KTFrameLayer::installLibraryIconBuilder();
}
