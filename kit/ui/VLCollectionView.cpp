#include "kit/ui/VLCollectionView.h"

#include "kit/ui/VLCollectionViewDelegate.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

// Paints a tile: the icon as it is (a selection never tints it: the user
// judges colours by it), the name below in up to two lines, and for the
// selection a light outline and background around both.
class TileDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRect tile = option.rect.adjusted(2, 2, -2, -2);
        const bool selected = option.state & QStyle::State_Selected;
        if (selected) {
            QPainterPath outline;
            outline.addRoundedRect(QRectF(tile).adjusted(1.5, 1.5, -1.5, -1.5), 5, 5);
            painter->fillPath(outline, QColor(255, 255, 255, 30));
            painter->setPen(QPen(QColor(153, 153, 153), 3));
            painter->drawPath(outline);
        }
        const QVariant decoration = index.data(Qt::DecorationRole);
        QPixmap icon = decoration.value<QPixmap>();
        if (icon.isNull() && decoration.canConvert<QIcon>())
            icon = decoration.value<QIcon>().pixmap(option.decorationSize);
        if (icon.isNull() && decoration.canConvert<QImage>())
            icon = QPixmap::fromImage(decoration.value<QImage>());
        int textTop = tile.top() + VLCollectionView::kTilePadding;
        if (!icon.isNull()) {
            const QSize size = icon.deviceIndependentSize().toSize();
            const QRect where = VLCollectionView::iconRectInTile(tile, size);
            if (where.size() != size)
                painter->setRenderHint(QPainter::SmoothPixmapTransform);
            painter->drawPixmap(where, icon);
            textTop = where.bottom() + 1 + 4;
        }
        painter->setPen(selected ? QColor(255, 255, 255) : option.palette.color(QPalette::Text));
        painter->setFont(option.font);
        drawName(painter, index.data(Qt::DisplayRole).toString(),
                 QRect(tile.left() + 4, textTop, tile.width() - 8, tile.bottom() - textTop));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        const auto *view = qobject_cast<const QListView *>(option.widget);
        return view && view->gridSize().isValid() ? view->gridSize() : QSize(100, 130);
    }

private:
    // Centred lines broken at words; the last one that fits ends in an ellipsis.
    static void drawName(QPainter *painter, const QString &name, const QRect &box)
    {
        const QFontMetrics metrics(painter->font());
        const int lines = std::max(1, std::min(2, box.height() / std::max(1, metrics.lineSpacing())));
        QTextLayout layout(name, painter->font());
        QTextOption wrap(Qt::AlignHCenter);
        wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(wrap);
        layout.beginLayout();
        QStringList shown;
        for (int i = 0; i < lines; ++i) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(box.width());
            const QString text = name.mid(line.textStart(), line.textLength());
            shown << (i == lines - 1 ? metrics.elidedText(name.mid(line.textStart()).simplified(), Qt::ElideRight,
                                                          box.width())
                                     : text.trimmed());
        }
        layout.endLayout();
        int y = box.top();
        for (const QString &text : std::as_const(shown)) {
            painter->drawText(QRect(box.left(), y, box.width(), metrics.lineSpacing()), Qt::AlignHCenter | Qt::AlignTop,
                              text);
            y += metrics.lineSpacing();
        }
    }
};

} // namespace

VLCollectionView::VLCollectionView(QWidget *parent)
    : QListView(parent)
{
    setViewMode(QListView::IconMode);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    setSpacing(0);
    setItemDelegate(new TileDelegate(this));
    m_flow.sectionInsetLeft = 0;
    m_flow.minimumInteritemSpacing = 0;
}

void VLCollectionView::setTileMetrics(int minimumWidth, int height)
{
    m_minimumTileWidth = std::max(1, minimumWidth);
    m_tileHeight = std::max(1, height);
    layOutTiles();
}

QRect VLCollectionView::iconRectInTile(const QRect &tile, const QSize &iconSize)
{
    const int room = std::max(1, tile.width() - 2 * kTilePadding);
    QSize size = iconSize;
    if (size.width() > room)
        size = size.scaled(room, room, Qt::KeepAspectRatio);
    return QRect(tile.left() + (tile.width() - size.width()) / 2, tile.top() + kTilePadding, size.width(),
                 size.height());
}

void VLCollectionView::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    layOutTiles();
}

void VLCollectionView::layOutTiles()
{
    if (m_minimumTileWidth <= 0)
        return;
    // The room beside the scroll bar, whether or not it shows just now, so
    // that the columns do not change as it comes and goes.
    // A pixel short of the edge: the list wraps a row that reaches it.
    int width = viewport()->width() - 1;
    if (!verticalScrollBar()->isVisible())
        width -= style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    m_columns = m_flow.columnsFitting(width, m_minimumTileWidth);
    const int tileWidth = std::max(1, int(std::floor(m_flow.itemWidthSharing(width, m_columns))));
    const QSize grid(tileWidth, m_tileHeight);
    if (gridSize() != grid) {
        setGridSize(grid);
        doItemsLayout();
    }
}

VLCollectionViewDelegate *VLCollectionView::delegateInterface() const
{
    return dynamic_cast<VLCollectionViewDelegate *>(m_delegate.data());
}

bool VLCollectionView::isForwardedKey(const QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Backspace: // the Delete key of compact keyboards
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    default:
        return event->text() == QStringLiteral(" ");
    }
}

void VLCollectionView::keyPressEvent(QKeyEvent *event)
{
    if (isForwardedKey(event)) {
        event->ignore(); // travels on to the parent widget
        return;
    }
    QListView::keyPressEvent(event);
}

void VLCollectionView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QListView::mouseDoubleClickEvent(event);
    VLCollectionViewDelegate *delegate = delegateInterface();
    if (!delegate)
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid())
        delegate->collectionViewDidDoubleClickOnItemAtIndexPath(this, index);
}

void VLCollectionView::contextMenuEvent(QContextMenuEvent *event)
{
    if (VLCollectionViewDelegate *delegate = delegateInterface()) {
        if (const std::optional<QMenu *> menu = delegate->collectionViewMenuForSelectedItems(this)) {
            if (*menu)
                (*menu)->popup(event->globalPos());
            event->accept();
            return;
        }
    }
    QListView::contextMenuEvent(event);
}
