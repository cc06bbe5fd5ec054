#pragma once

#include "kit/ui/VLLeftFlowLayout.h"

#include <QListView>
#include <QPointer>

class VLCollectionViewDelegate;

// A collection view (a list in icon mode) that hands double clicks and the
// context menu to its delegate, and leaves the keys that act on the
// selection (Delete, Forward Delete, Return, Enter, Space) to its parent.
// Its tiles (icon above, name below) fill rows from the left in as many
// columns as its width holds; the selected tile is outlined, its icon drawn
// as it is.
class VLCollectionView : public QListView
{
    Q_OBJECT
public:
    explicit VLCollectionView(QWidget *parent = nullptr);

    // Held weakly; the object must implement VLCollectionViewDelegate.
    QObject *vlDelegate() const { return m_delegate.data(); }
    void setVlDelegate(QObject *delegate) { m_delegate = delegate; }

    // Whether a key goes to the next responder instead of the view.
    static bool isForwardedKey(const QKeyEvent *event);

    // Tiles at least `minimumWidth` wide and `height` high; the columns
    // share the width that is left evenly.
    void setTileMetrics(int minimumWidth, int height);
    const VLLeftFlowLayout &flowLayout() const { return m_flow; }
    int columnCount() const { return m_columns; }
    // Where a tile draws an icon of `iconSize`: centred at the top, shrunk to fit.
    static QRect iconRectInTile(const QRect &tile, const QSize &iconSize);
    static constexpr int kTilePadding = 6;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    VLCollectionViewDelegate *delegateInterface() const;

    void layOutTiles();

    QPointer<QObject> m_delegate;
    VLLeftFlowLayout m_flow;
    int m_minimumTileWidth = 0;
    int m_tileHeight = 0;
    int m_columns = 1;
};
