#include "design/KTLayerKinds.h"

#include "design/KTColorMatLayer.h"
#include "design/KTCornerFrameLayer.h"
#include "design/KTFrameLayer.h"
#include "design/KTFullFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTImageOverlayLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"

namespace {

template <class T>
std::shared_ptr<KTLayer> makeLayer()
{
    return std::make_shared<T>();
}

template <class T>
QString classNameOf()
{
    return QString::fromLatin1(T::staticMetaObject.className());
}

} // namespace

namespace KTLayerKinds {

const std::vector<KTLayerKind> &all()
{
    using Role = KTLayerKind::Role;
    static const std::vector<KTLayerKind> kinds = {
        {classNameOf<KTImageLayer>(), Role::Photo, &makeLayer<KTImageLayer>, &KTImageLayer::registerArchiveClass, {},
         {}, {}, QStringLiteral("KTImageLayerPanelController")},
        {classNameOf<KTFullFrameLayer>(), Role::Frame, &makeLayer<KTFullFrameLayer>,
         &KTFullFrameLayer::registerArchiveClass, {}, QStringLiteral("Full frames"),
         QString::fromLatin1(KTFrameLayer::kFullFrameTypeName), QStringLiteral("KTFullFrameLayerPanelController")},
        {classNameOf<KTMoldingFrameLayer>(), Role::Frame, &makeLayer<KTMoldingFrameLayer>,
         &KTMoldingFrameLayer::registerArchiveClass, {}, QStringLiteral("Molding frames"),
         QString::fromLatin1(KTFrameLayer::kMouldingTypeName), QStringLiteral("KTMoldingFrameLayerPanelController")},
        {classNameOf<KTCornerFrameLayer>(), Role::Frame, &makeLayer<KTCornerFrameLayer>,
         &KTCornerFrameLayer::registerArchiveClass, {}, QStringLiteral("Corner frames"),
         QString::fromLatin1(KTFrameLayer::kMouldingWithCornersTypeName),
         QStringLiteral("KTMoldingFrameLayerPanelController")},
        {classNameOf<KTColorMatLayer>(), Role::Frame, &makeLayer<KTColorMatLayer>,
         &KTColorMatLayer::registerArchiveClass, {}, QStringLiteral("Color mats"),
         QString::fromLatin1(KTFrameLayer::kColorMatTypeName), QStringLiteral("KTColorMatFrameLayerPanelController")},
        {classNameOf<KTTextOverlayLayer>(), Role::Overlay, &makeLayer<KTTextOverlayLayer>,
         &KTTextOverlayLayer::registerArchiveClass, QString::fromLatin1(KTTemplate::kTextWatermarkLayerClassName),
         QStringLiteral("Text Overlay"), {}, {}, 1},
        {classNameOf<KTImageOverlayLayer>(), Role::Overlay, &makeLayer<KTImageOverlayLayer>,
         &KTImageOverlayLayer::registerArchiveClass, QString::fromLatin1(KTTemplate::kImageWatermarkLayerClassName),
         QStringLiteral("Image Overlay"), {}, {}, 0},
    };
    return kinds;
}

const KTLayerKind *named(const QString &className)
{
    for (const KTLayerKind &kind : all()) {
        if (kind.className == className)
            return &kind;
    }
    return nullptr;
}

const KTLayerKind *of(const KTLayer *layer)
{
    return layer ? named(QString::fromLatin1(layer->metaObject()->className())) : nullptr;
}

const KTLayerKind *forFrameType(const QString &frameTypeName)
{
    if (frameTypeName.isEmpty())
        return nullptr;
    for (const KTLayerKind &kind : all()) {
        if (kind.frameTypeName == frameTypeName)
            return &kind;
    }
    return nullptr;
}

bool isOverlay(const KTLayer *layer)
{
    const KTLayerKind *kind = of(layer);
    return kind && kind->role == KTLayerKind::Role::Overlay;
}

} // namespace KTLayerKinds
