#include "kit/ui/VLLeftFlowLayout.h"

QList<VLLeftFlowLayout::LayoutAttributes>
VLLeftFlowLayout::layoutAttributesForElements(const QList<LayoutAttributes> &inherited) const
{
    if (inherited.isEmpty())
        return inherited;
    QList<LayoutAttributes> placed;
    placed.reserve(inherited.size());
    double left = sectionInsetLeft;
    double rowTop = inherited.first().frame.y();
    for (const LayoutAttributes &attributes : inherited) {
        LayoutAttributes copy = attributes;
        if (copy.frame.y() != rowTop) {
            left = sectionInsetLeft;
            rowTop = copy.frame.y();
        }
        copy.frame.moveLeft(left);
        left += copy.frame.width() + minimumInteritemSpacing;
        placed.append(copy);
    }
    return placed;
}
