#include "design/DesignArchiveClasses.h"

#include "design/KTFrameLayer.h"
#include "design/KTLayer.h"
#include "design/KTLayerKinds.h"
#include "design/KTTemplate.h"
#include "design/VLImage.h"

void registerDesignArchiveClasses()
{
    KTTemplate::registerArchiveClass();
    KTLayer::registerArchiveClass();
    VLImage::registerArchiveClass();
    for (const KTLayerKind &kind : KTLayerKinds::all())
        kind.registerArchiveClass();
    KTFrameLayer::installLibraryIconBuilder();
}
