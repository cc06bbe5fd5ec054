#include "kit/ui/VLLeftFlowLayout.h"

#include <algorithm>
#include <cmath>

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

int VLLeftFlowLayout::columnsFitting(double width, double itemWidth) const
{
    if (!(itemWidth > 0))
        return 1;
    const double room = width - sectionInsetLeft + minimumInteritemSpacing;
    const double fit = std::floor(room / (itemWidth + minimumInteritemSpacing));
    return std::max(1, fit > 1e6 ? 1000000 : int(fit));
}

double VLLeftFlowLayout::itemWidthSharing(double width, int columns) const
{
    const int n = std::max(1, columns);
    return std::max(0.0, (width - sectionInsetLeft - (n - 1) * minimumInteritemSpacing) / n);
}
