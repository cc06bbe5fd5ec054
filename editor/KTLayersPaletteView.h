#pragma once

#include "editor/KTLayersPaletteItem.h"

#include <QHash>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include <memory>

class KTLayersPaletteDelegate;
class KTLayer;
class QMenu;

// The strip of layer icons along the bottom of the canvas: the outermost
// layer on the left, the photo on the right, separators between overlays,
// frames and photo. It knows nothing of designs: it shows generic items and
// tells its delegate about every selection, move and deletion.
//
// Each item has a drawn element of its own (icon or separator), kept in
// `layers` index for index with `items`, named uniquely and found by name.
// Geometry follows the widget's y-down space: a top bar 11 points high, then
// the scrolling row of icons below it.
class KTLayersPaletteView : public QWidget
{
    Q_OBJECT

public:
    static constexpr qsizetype kNotFound = -1;
    static constexpr double kTopBarHeight = 11;
    static constexpr int kPreferredHeight = 106;

    // A drawn element of the strip (an icon with its eye button, or a
    // separator), positioned by its centre in the scroll row's space.
    struct Layer {
        QString name;
        bool isSeparator = false;
        QPointF position;
        QSizeF bounds;
        double opacity = 1;
        bool hidden = false;
        double borderWidth = 1;
        QColor borderColor = Qt::black;
        QColor shadowColor = Qt::black;
        QPointF shadowOffset;
        double shadowOpacity = 0;
        double shadowRadius = 0;
        double zPosition = 0;
        QImage contents;
        bool hasEyeButton = true;
        bool eyeVisible = false;
        bool eyeClosed = false;

        QRectF frame() const;
        // The eye button, in the scroll row's space.
        QRectF eyeButtonFrame() const;
        QString eyeButtonName() const { return name + QStringLiteral("-hiddenButton"); }
    };
    using LayerPtr = std::shared_ptr<Layer>;

    explicit KTLayersPaletteView(QWidget *parent = nullptr);
    ~KTLayersPaletteView() override;

    // --- items ---
    QList<KTLayersPaletteItemPtr> items() const { return m_items; }
    void setItems(const QList<KTLayersPaletteItemPtr> &items);
    void insertItem(const KTLayersPaletteItemPtr &item, qsizetype index);
    void replaceItemAtIndex(qsizetype index, const KTLayersPaletteItemPtr &item);
    // Asks the delegate first; an index beyond the end is ignored.
    void removeItemAtIndex(qsizetype index);
    void forceRemoveItemAtIndex(qsizetype index);
    void updateIconForItem(const KTLayersPaletteItemPtr &item);

    // --- selection ---
    void setSelectedItemIndex(qsizetype index);
    qsizetype selectedItemIndex() const;
    std::shared_ptr<KTLayer> selectedRepresentedObject() const;
    void setSelectedRepresentedObject(const KTLayer *object);
    void selectIconLeftOf(qsizetype index);
    void selectIconRightOf(qsizetype index);

    // --- lookups ---
    std::shared_ptr<KTLayer> representedObjectAtIndex(qsizetype index) const;
    qsizetype indexOfRepresentedObject(const KTLayer *object) const;
    KTLayersPaletteItemPtr itemForRepresentedObject(const KTLayer *object) const;
    KTLayersPaletteItemPtr paletteItemForLayer(const LayerPtr &layer) const;
    LayerPtr layerForItem(const KTLayersPaletteItemPtr &item) const;
    quint32 typeOfItemAtIndex(qsizetype index) const;
    const QList<LayerPtr> &layers() const { return m_layers; }

    // The Delete action: refused with a beep during a sideways drag.
    void deleteSelected();

    // --- settings ---
    QSizeF iconSize() const { return m_iconSize; }
    void setIconSize(const QSizeF &size);
    double iconsDistance() const { return m_iconsDistance; }
    void setIconsDistance(double distance);
    double separatorDistance() const { return m_separatorDistance; }
    void setSeparatorDistance(double distance);
    KTLayersPaletteDelegate *delegate() const { return m_delegate; }
    void setDelegate(KTLayersPaletteDelegate *delegate) { m_delegate = delegate; }

    // --- state, for the canvas and for tests ---
    double maxX() const { return m_maxX; }
    double scrollPosition() const { return m_scrollX; }
    bool isDragging() const { return m_isDragging; }
    bool isDraggingOut() const { return m_isDraggingOut; }
    bool isFirstResponder() const { return m_isFirstResponder; }
    bool leftArrowVisible() const { return m_leftArrowVisible; }
    bool rightArrowVisible() const { return m_rightArrowVisible; }
    // The scroll row: below the top bar, the full width.
    QRectF scrollLayerFrame() const;

    void updateLayout();
    void scrollMiddleTo(double x);
    void scrollToShowSelectedLayer();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    enum class HitKind { None, Icon, Separator, EyeButton, LeftArrow, RightArrow };
    struct Hit {
        HitKind kind = HitKind::None;
        LayerPtr layer;
    };

    LayerPtr iconLayerWithName(const QString &name) const;
    LayerPtr separatorLayerWithName(const QString &name) const;
    Hit hitTest(const QPointF &viewPoint) const;
    QPointF rowPointFromViewPoint(const QPointF &viewPoint) const;
    double middleLineY() const;
    double minPositionForLayer(qsizetype index) const;
    double maxPositionForLayer(qsizetype index) const;
    void startDraggingLayer();
    void stopDragging();
    void startDraggingOut();
    void stopDraggingOut();
    void finishHorizontalDrag();
    void updateScrollButtons();
    void scrollBy(double dx);
    void keepDraggedLayerVisible();
    void toggleHiddenOfLayer(const LayerPtr &iconLayer);
    QRectF leftArrowFrame() const;
    QRectF rightArrowFrame() const;

    QList<KTLayersPaletteItemPtr> m_items;
    QList<LayerPtr> m_layers;
    QHash<QString, KTLayersPaletteItemPtr> m_layersToItems;
    LayerPtr m_selectedLayer;
    Hit m_hit;
    QPointF m_lastLeftClickPoint;
    QPointF m_mousePosition;
    bool m_isDragging = false;
    bool m_isDraggingOut = false;
    bool m_isFirstResponder = false;
    bool m_mouseInside = false;
    bool m_leftArrowVisible = false;
    bool m_rightArrowVisible = false;
    bool m_dragLifted = false;
    double m_maxX = 0;
    double m_scrollX = 0;
    QSizeF m_iconSize{76, 76};
    double m_iconsDistance = 12;
    double m_separatorDistance = 12;
    KTLayersPaletteDelegate *m_delegate = nullptr;
};
