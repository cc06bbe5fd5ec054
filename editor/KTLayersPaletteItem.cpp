#include "editor/KTLayersPaletteItem.h"

#include "design/KTLayer.h"

KTLayersPaletteItem::KTLayersPaletteItem(quint32 type, std::shared_ptr<KTLayer> object, QImage icon)
    : m_type(type)
    , m_icon(std::move(icon))
    , m_representedObject(std::move(object))
{
}

std::shared_ptr<KTLayersPaletteItem> KTLayersPaletteItem::separator()
{
    return std::make_shared<KTLayersPaletteItem>();
}
