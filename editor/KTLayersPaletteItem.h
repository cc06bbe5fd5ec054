#pragma once

#include <QImage>

#include <memory>

class KTLayer;

// One entry of the layers strip: a separator between groups, or a layer
// with its square icon.
class KTLayersPaletteItem
{
public:
    enum Type : quint32 { Separator = 0, LayerItem = 1 };

    KTLayersPaletteItem() = default;
    KTLayersPaletteItem(quint32 type, std::shared_ptr<KTLayer> object, QImage icon = {});

    static std::shared_ptr<KTLayersPaletteItem> separator();

    quint32 type() const { return m_type; }
    void setType(quint32 type) { m_type = type; }
    QImage icon() const { return m_icon; }
    void setIcon(const QImage &icon) { m_icon = icon; }
    std::shared_ptr<KTLayer> representedObject() const { return m_representedObject; }
    void setRepresentedObject(std::shared_ptr<KTLayer> object) { m_representedObject = std::move(object); }

private:
    quint32 m_type = Separator;
    QImage m_icon;
    std::shared_ptr<KTLayer> m_representedObject;
};

using KTLayersPaletteItemPtr = std::shared_ptr<KTLayersPaletteItem>;
