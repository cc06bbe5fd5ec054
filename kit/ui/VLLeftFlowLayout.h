#pragma once

#include <QList>
#include <QRectF>

// Packs the rows of a flow layout to the left: each row starts at the left
// inset and its items follow one another at the inter-item spacing.
class VLLeftFlowLayout
{
public:
    struct LayoutAttributes {
        QRectF frame;
        int item = 0;
        bool supplementary = false;
        bool operator==(const LayoutAttributes &) const = default;
    };

    double sectionInsetLeft = 0;
    double minimumInteritemSpacing = 10;

    // Answers new attributes for those of the plain flow layout, which stay
    // unchanged. A row is the run of items with exactly the same top.
    QList<LayoutAttributes> layoutAttributesForElements(const QList<LayoutAttributes> &inherited) const;

    // How many items at least `itemWidth` wide a row `width` wide holds,
    // packed from the left inset at the inter-item spacing; at least one.
    int columnsFitting(double width, double itemWidth) const;
    // The width that `columns` items take when they share a row `width`
    // wide evenly (the inset and the spacing between them left over).
    double itemWidthSharing(double width, int columns) const;
};
