#include "editor/KTLayersPaletteView.h"

#include "design/KTLayer.h"
#include "editor/KTLayersPaletteDelegate.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// Names of icons made by insertItem are unique across all strips.
qint64 g_insertedIconCounter = 0;

const QColor kBackground(86, 86, 86);
const QColor kSeparatorColor(60, 60, 60);
const QColor kArrowBackground(66, 66, 66, 204);
constexpr double kArrowWidth = 12;
const QRectF kEyeButtonInIcon(52, 4, 20, 14); // upper right of a 76 x 76 icon

QCursor disappearingItemCursor()
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(250, 250, 250));
    p.setPen(QPen(QColor(40, 40, 40), 1.2));
    // A small cloud: the item goes up in smoke when released.
    QPainterPath cloud;
    cloud.addEllipse(QRectF(3, 9, 9, 9));
    cloud.addEllipse(QRectF(8, 5, 10, 10));
    cloud.addEllipse(QRectF(12, 10, 9, 9));
    cloud.addRect(QRectF(7, 13, 10, 6));
    p.drawPath(cloud.simplified());
    return QCursor(pixmap, 12, 12);
}

void paintEye(QPainter &p, const QRectF &r, bool closed)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0, 0, 0, 130));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(r, 4, 4);
    const QRectF e = r.adjusted(3, 3, -3, -3);
    p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    if (closed) {
        QPainterPath lid;
        lid.moveTo(e.left(), e.center().y() - 1);
        lid.quadTo(e.center().x(), e.bottom() + 2, e.right(), e.center().y() - 1);
        p.drawPath(lid);
        for (double t : {0.3, 0.5, 0.7}) {
            const double x = e.left() + e.width() * t;
            p.drawLine(QPointF(x, e.center().y() + 2.5), QPointF(x + (t - 0.5) * 4, e.bottom() + 1));
        }
    } else {
        QPainterPath eye;
        eye.moveTo(e.left(), e.center().y());
        eye.quadTo(e.center().x(), e.top() - 3, e.right(), e.center().y());
        eye.quadTo(e.center().x(), e.bottom() + 3, e.left(), e.center().y());
        p.drawPath(eye);
        p.setBrush(Qt::white);
        p.drawEllipse(e.center(), 2.2, 2.2);
    }
    p.restore();
}

// A soft halo around a rect: a cheap stand-in for a blurred layer shadow.
void paintHalo(QPainter &p, const QRectF &r, QColor color, double radius, double opacity)
{
    if (radius <= 0 || opacity <= 0)
        return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    const int steps = std::max(1, int(std::ceil(radius)));
    for (int i = steps; i >= 1; --i) {
        const double t = double(i) / steps;
        color.setAlphaF(std::clamp(opacity * (1 - t) * 0.55, 0.0, 1.0));
        p.setPen(QPen(color, radius / steps + 0.5));
        p.drawRoundedRect(r.adjusted(-radius * t, -radius * t, radius * t, radius * t), 2 + radius * t,
                          2 + radius * t);
    }
    p.restore();
}

} // namespace

QRectF KTLayersPaletteView::Layer::frame() const
{
    return QRectF(position.x() - bounds.width() / 2, position.y() - bounds.height() / 2, bounds.width(),
                  bounds.height());
}

QRectF KTLayersPaletteView::Layer::eyeButtonFrame() const
{
    return kEyeButtonInIcon.translated(frame().topLeft());
}

KTLayersPaletteView::KTLayersPaletteView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("layersPaletteView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
}

KTLayersPaletteView::~KTLayersPaletteView()
{
    if (m_isDraggingOut)
        QApplication::restoreOverrideCursor();
}

QSize KTLayersPaletteView::sizeHint() const
{
    return {600, kPreferredHeight};
}

QRectF KTLayersPaletteView::scrollLayerFrame() const
{
    return QRectF(0, kTopBarHeight, width(), std::max(0.0, height() - kTopBarHeight));
}

double KTLayersPaletteView::middleLineY() const
{
    // Midway down the row below the top bar.
    return kTopBarHeight + (height() - kTopBarHeight) * 0.5;
}

void KTLayersPaletteView::setIconSize(const QSizeF &size)
{
    m_iconSize = size;
    updateLayout();
}

void KTLayersPaletteView::setIconsDistance(double distance)
{
    m_iconsDistance = distance;
    updateLayout();
}

void KTLayersPaletteView::setSeparatorDistance(double distance)
{
    m_separatorDistance = distance;
    updateLayout();
}

// --- items ---

KTLayersPaletteView::LayerPtr KTLayersPaletteView::iconLayerWithName(const QString &name) const
{
    auto layer = std::make_shared<Layer>();
    layer->name = name;
    layer->bounds = m_iconSize;
    layer->borderWidth = 1;
    layer->borderColor = Qt::black;
    return layer;
}

KTLayersPaletteView::LayerPtr KTLayersPaletteView::separatorLayerWithName(const QString &name) const
{
    auto layer = std::make_shared<Layer>();
    layer->name = name;
    layer->isSeparator = true;
    layer->hasEyeButton = false;
    layer->borderWidth = 0;
    return layer;
}

void KTLayersPaletteView::setItems(const QList<KTLayersPaletteItemPtr> &items)
{
    m_items = items;
    m_layers.clear();
    m_layersToItems.clear();
    m_selectedLayer.reset();
    m_hit = {};
    int separators = 0;
    int icons = 0;
    for (const auto &item : std::as_const(m_items)) {
        LayerPtr layer;
        if (item->type() == KTLayersPaletteItem::Separator)
            layer = separatorLayerWithName(QStringLiteral("sep-%1").arg(++separators));
        else
            layer = iconLayerWithName(QStringLiteral("icon-%1").arg(++icons));
        m_layers.push_back(layer);
        m_layersToItems.insert(layer->name, item);
    }
    updateLayout();
}

void KTLayersPaletteView::insertItem(const KTLayersPaletteItemPtr &item, qsizetype index)
{
    if (!item)
        return;
    index = std::clamp<qsizetype>(index, 0, m_items.size());
    m_items.insert(index, item);
    LayerPtr layer;
    const QString name = QStringLiteral("i-icon-%1").arg(++g_insertedIconCounter);
    if (item->type() == KTLayersPaletteItem::Separator) {
        layer = separatorLayerWithName(name);
    } else {
        layer = iconLayerWithName(name);
        layer->contents = item->icon();
    }
    m_layers.insert(index, layer);
    m_layersToItems.insert(layer->name, item);
    updateLayout();
}

void KTLayersPaletteView::replaceItemAtIndex(qsizetype index, const KTLayersPaletteItemPtr &item)
{
    if (index >= 0 && index < m_items.size())
        forceRemoveItemAtIndex(index);
    insertItem(item, index);
}

void KTLayersPaletteView::removeItemAtIndex(qsizetype index)
{
    if (index < 0 || index >= m_items.size())
        return;
    const auto object = m_items.at(index)->representedObject();
    if (m_delegate && !m_delegate->willDeleteObject(object, index))
        return;
    forceRemoveItemAtIndex(index);
    // The removed item was the last of its group: its left neighbour instead.
    if (index >= m_items.size() || m_items.at(index)->type() != KTLayersPaletteItem::LayerItem)
        selectIconLeftOf(index);
    updateLayout();
    if (m_delegate)
        m_delegate->deletedObject(object, index);
}

void KTLayersPaletteView::forceRemoveItemAtIndex(qsizetype index)
{
    if (index < 0 || index >= m_items.size())
        return;
    const LayerPtr layer = m_layers.at(index);
    m_layersToItems.remove(layer->name);
    selectIconRightOf(index);
    // A selection that could not move on must not outlive its item.
    if (m_selectedLayer == layer)
        m_selectedLayer.reset();
    if (m_hit.layer == layer)
        m_hit = {};
    m_items.removeAt(index);
    m_layers.removeAt(index);
    updateLayout();
}

void KTLayersPaletteView::updateIconForItem(const KTLayersPaletteItemPtr &item)
{
    if (const LayerPtr layer = layerForItem(item)) {
        layer->contents = item->icon();
        update();
    }
}

// --- selection ---

void KTLayersPaletteView::setSelectedItemIndex(qsizetype index)
{
    if (index < 0 || index >= m_layers.size())
        return;
    m_selectedLayer = m_layers.at(index);
    updateLayout();
    scrollToShowSelectedLayer();
    if (m_delegate)
        m_delegate->selectedObject(m_items.at(index)->representedObject(), index);
}

qsizetype KTLayersPaletteView::selectedItemIndex() const
{
    if (!m_selectedLayer)
        return kNotFound;
    const qsizetype i = m_layers.indexOf(m_selectedLayer);
    return i < 0 ? kNotFound : i;
}

std::shared_ptr<KTLayer> KTLayersPaletteView::selectedRepresentedObject() const
{
    return representedObjectAtIndex(selectedItemIndex());
}

void KTLayersPaletteView::setSelectedRepresentedObject(const KTLayer *object)
{
    const qsizetype i = indexOfRepresentedObject(object);
    if (i != kNotFound)
        setSelectedItemIndex(i);
}

void KTLayersPaletteView::selectIconLeftOf(qsizetype index)
{
    if (index == kNotFound)
        return;
    for (qsizetype i = std::min(index, m_items.size()) - 1; i >= 0; --i) {
        if (m_items.at(i)->type() == KTLayersPaletteItem::LayerItem) {
            setSelectedItemIndex(i);
            return;
        }
    }
}

void KTLayersPaletteView::selectIconRightOf(qsizetype index)
{
    if (index == kNotFound)
        return;
    for (qsizetype i = index + 1; i < m_items.size(); ++i) {
        if (m_items.at(i)->type() == KTLayersPaletteItem::LayerItem) {
            setSelectedItemIndex(i);
            return;
        }
    }
}

// --- lookups ---

std::shared_ptr<KTLayer> KTLayersPaletteView::representedObjectAtIndex(qsizetype index) const
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    return m_items.at(index)->representedObject();
}

qsizetype KTLayersPaletteView::indexOfRepresentedObject(const KTLayer *object) const
{
    if (!object)
        return kNotFound;
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items.at(i)->representedObject().get() == object)
            return i;
    }
    return kNotFound;
}

KTLayersPaletteItemPtr KTLayersPaletteView::itemForRepresentedObject(const KTLayer *object) const
{
    const qsizetype i = indexOfRepresentedObject(object);
    return i == kNotFound ? nullptr : m_items.at(i);
}

KTLayersPaletteItemPtr KTLayersPaletteView::paletteItemForLayer(const LayerPtr &layer) const
{
    return layer ? m_layersToItems.value(layer->name) : nullptr;
}

KTLayersPaletteView::LayerPtr KTLayersPaletteView::layerForItem(const KTLayersPaletteItemPtr &item) const
{
    const qsizetype i = m_items.indexOf(item);
    return i < 0 ? nullptr : m_layers.at(i);
}

quint32 KTLayersPaletteView::typeOfItemAtIndex(qsizetype index) const
{
    if (index < 0 || index >= m_items.size())
        return KTLayersPaletteItem::Separator;
    return m_items.at(index)->type();
}

void KTLayersPaletteView::deleteSelected()
{
    if (m_isDragging) {
        QApplication::beep();
        return;
    }
    removeItemAtIndex(selectedItemIndex());
}

// --- layout ---

void KTLayersPaletteView::updateLayout()
{
    const double y = middleLineY();
    double x = 16;
    const qsizetype d = m_isDragging && m_hit.layer ? m_layers.indexOf(m_hit.layer) : -1;
    const double slot = m_iconSize.width() + m_iconsDistance;
    for (qsizetype index = 0; index < m_layers.size(); ++index) {
        Layer &layer = *m_layers.at(index);
        if (layer.isSeparator) {
            layer.bounds = QSizeF(6, 0.8 * m_iconSize.height());
            x += m_separatorDistance + 3;
            layer.position = QPointF(x, y);
            x += 3;
            continue;
        }
        const bool isHit = m_hit.layer && m_hit.layer.get() == &layer;
        layer.hidden = m_isDraggingOut && isHit;
        layer.bounds = m_iconSize;
        x += m_iconSize.width() / 2 + m_iconsDistance;

        double opacity = 1;
        if (m_selectedLayer.get() == &layer) {
            layer.shadowColor = Qt::white;
            layer.shadowOffset = QPointF(0, 0);
            layer.shadowOpacity = 1;
            layer.shadowRadius = m_isFirstResponder ? 5 : 0;
            layer.borderColor = Qt::white;
            layer.borderWidth = 3;
        } else {
            layer.borderColor = Qt::black;
            layer.borderWidth = 1;
            layer.shadowOpacity = 0;
            layer.shadowRadius = 0;
        }
        layer.zPosition = 0;

        if (m_isDragging && index == d) {
            layer.shadowColor = Qt::black;
            layer.shadowOffset = QPointF(3, 3);
            layer.shadowOpacity = 0.8;
            layer.shadowRadius = 3;
            layer.zPosition = 10;
            opacity = 0.7;
            m_dragLifted = true;
            const double dx = m_mousePosition.x() - m_lastLeftClickPoint.x();
            const double px = std::min(std::max(x + dx, minPositionForLayer(index)), maxPositionForLayer(index));
            layer.position = QPointF(px, y - 10);
        } else if (!m_isDraggingOut) {
            double offset = 0;
            if (d >= 0) {
                const double draggedX = m_layers.at(d)->position.x();
                if (index < d && layer.position.x() > draggedX)
                    offset = slot;
                else if (index > d && layer.position.x() < draggedX)
                    offset = -slot;
            }
            layer.position = QPointF(x + offset, y);
        }
        x += m_iconSize.width() / 2;

        const auto item = m_layersToItems.value(layer.name);
        const auto object = item ? item->representedObject() : nullptr;
        if (layer.hasEyeButton && object && !object->supportsHiding())
            layer.hasEyeButton = false;
        if (layer.hasEyeButton && object) {
            if (object->hidden()) {
                opacity *= 0.666;
                layer.eyeClosed = true;
                layer.eyeVisible = true;
            } else {
                layer.eyeClosed = false;
                layer.eyeVisible = m_mouseInside;
            }
        }
        layer.opacity = opacity;
    }
    m_maxX = x;
    updateScrollButtons();
    update();
}

double KTLayersPaletteView::minPositionForLayer(qsizetype index) const
{
    for (qsizetype i = index - 1; i >= 0; --i) {
        if (m_layers.at(i)->isSeparator)
            return m_layers.at(i)->position.x() + 3 + m_iconSize.width() / 2;
    }
    return m_iconSize.width() / 2;
}

double KTLayersPaletteView::maxPositionForLayer(qsizetype index) const
{
    for (qsizetype i = index + 1; i < m_layers.size(); ++i) {
        if (m_layers.at(i)->isSeparator)
            return m_layers.at(i)->position.x() - 3 - m_iconSize.width() / 2;
    }
    return m_maxX;
}

// --- scrolling ---

void KTLayersPaletteView::updateScrollButtons()
{
    m_leftArrowVisible = m_scrollX > 0;
    const double w = scrollLayerFrame().width();
    m_rightArrowVisible = w > 0 && m_maxX > m_scrollX + w;
}

void KTLayersPaletteView::scrollBy(double dx)
{
    m_scrollX += dx;
    updateScrollButtons();
    update();
}

void KTLayersPaletteView::scrollMiddleTo(double x)
{
    const double w = scrollLayerFrame().width();
    x = std::max(w / 2, std::min(x, m_maxX - w / 2 + 16));
    m_scrollX = x - w / 2;
    updateScrollButtons();
    update();
}

void KTLayersPaletteView::scrollToShowSelectedLayer()
{
    if (!m_selectedLayer)
        return;
    const QRectF f = m_selectedLayer->frame();
    const double w = scrollLayerFrame().width();
    if (f.right() > m_scrollX + w || f.left() < m_scrollX)
        scrollMiddleTo(f.center().x());
}

void KTLayersPaletteView::keepDraggedLayerVisible()
{
    if (!m_hit.layer)
        return;
    const QRectF f = m_hit.layer->frame();
    const double w = scrollLayerFrame().width();
    const double half = m_iconSize.width() / 2;
    if (f.left() >= m_scrollX + half && f.right() <= m_scrollX + w - half)
        return;
    if (f.left() < m_scrollX)
        m_scrollX = std::max(0.0, f.left());
    else if (f.right() > m_scrollX + w)
        m_scrollX = f.right() - w;
    updateScrollButtons();
}

QRectF KTLayersPaletteView::leftArrowFrame() const
{
    const QRectF s = scrollLayerFrame();
    return QRectF(s.left(), s.top() + 1, kArrowWidth, std::max(0.0, s.height() - 2));
}

QRectF KTLayersPaletteView::rightArrowFrame() const
{
    const QRectF s = scrollLayerFrame();
    return QRectF(s.right() - kArrowWidth, s.top() + 1, kArrowWidth, std::max(0.0, s.height() - 2));
}

// --- mouse ---

QPointF KTLayersPaletteView::rowPointFromViewPoint(const QPointF &viewPoint) const
{
    return viewPoint + QPointF(m_scrollX, 0);
}

KTLayersPaletteView::Hit KTLayersPaletteView::hitTest(const QPointF &viewPoint) const
{
    if (m_rightArrowVisible && rightArrowFrame().contains(viewPoint))
        return {HitKind::RightArrow, nullptr};
    if (m_leftArrowVisible && leftArrowFrame().contains(viewPoint))
        return {HitKind::LeftArrow, nullptr};
    if (!scrollLayerFrame().contains(viewPoint))
        return {};
    const QPointF p = rowPointFromViewPoint(viewPoint);
    // The topmost element first: the lifted icon lies over the others.
    QList<LayerPtr> ordered = m_layers;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const LayerPtr &a, const LayerPtr &b) { return a->zPosition > b->zPosition; });
    for (const LayerPtr &layer : std::as_const(ordered)) {
        if (layer->hidden || !layer->frame().contains(p))
            continue;
        if (layer->isSeparator)
            return {HitKind::Separator, layer};
        if (layer->hasEyeButton && layer->eyeButtonFrame().contains(p))
            return {HitKind::EyeButton, layer};
        return {HitKind::Icon, layer};
    }
    return {};
}

void KTLayersPaletteView::toggleHiddenOfLayer(const LayerPtr &iconLayer)
{
    const auto item = paletteItemForLayer(iconLayer);
    if (const auto object = item ? item->representedObject() : nullptr)
        object->setHidden(!object->hidden());
    updateLayout();
}

void KTLayersPaletteView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_lastLeftClickPoint = event->position();
    m_mousePosition = event->position();
    m_hit = hitTest(event->position());
    m_dragLifted = false;
    switch (m_hit.kind) {
    case HitKind::EyeButton:
        toggleHiddenOfLayer(m_hit.layer);
        m_hit = {};
        break;
    case HitKind::RightArrow: {
        const double w = scrollLayerFrame().width();
        const double target = std::min(m_scrollX + 0.8 * w, m_maxX + 16 - w);
        m_scrollX = std::max(m_scrollX, target);
        updateScrollButtons();
        update();
        break;
    }
    case HitKind::LeftArrow:
        m_scrollX = std::max(0.0, m_scrollX - 0.8 * scrollLayerFrame().width());
        updateScrollButtons();
        update();
        break;
    case HitKind::Icon: {
        const auto item = paletteItemForLayer(m_hit.layer);
        if (item && item->type() == KTLayersPaletteItem::LayerItem)
            setSelectedItemIndex(m_layers.indexOf(m_hit.layer));
        break;
    }
    default:
        break;
    }
    event->accept();
}

void KTLayersPaletteView::startDraggingLayer()
{
    m_isDragging = true;
}

void KTLayersPaletteView::stopDragging()
{
    m_isDragging = false;
    m_hit = {};
}

void KTLayersPaletteView::startDraggingOut()
{
    m_isDraggingOut = true;
    QApplication::setOverrideCursor(disappearingItemCursor());
}

void KTLayersPaletteView::stopDraggingOut()
{
    if (!m_isDraggingOut)
        return;
    m_isDraggingOut = false;
    QApplication::restoreOverrideCursor();
}

void KTLayersPaletteView::mouseMoveEvent(QMouseEvent *event)
{
    const auto item = m_hit.kind == HitKind::Icon ? paletteItemForLayer(m_hit.layer) : nullptr;
    if (!item || item->type() != KTLayersPaletteItem::LayerItem)
        return;
    m_mousePosition = event->position();
    const double dx = m_mousePosition.x() - m_lastLeftClickPoint.x();
    // Measured upwards from the strip's bottom edge.
    const double yUp = height() - m_mousePosition.y();
    const double top = scrollLayerFrame().height() + 10;
    const bool inside = yUp >= -10 && yUp <= top;

    if (m_isDraggingOut) {
        if (inside) {
            stopDraggingOut();
            updateLayout();
        }
        return;
    }
    if (!inside) {
        const qsizetype selected = selectedItemIndex();
        if (selected != kNotFound && (!m_delegate || m_delegate->willDeleteObject(representedObjectAtIndex(selected), selected)))
            startDraggingOut();
        updateLayout();
        return;
    }
    if (std::abs(dx) > 10 && !m_isDragging)
        startDraggingLayer();
    if (m_isDragging) {
        keepDraggedLayerVisible();
        updateLayout();
    }
}

void KTLayersPaletteView::finishHorizontalDrag()
{
    const qsizetype f = m_layers.indexOf(m_hit.layer);
    if (f < 0)
        return;
    const double p = m_hit.layer->position.x();
    qsizetype t = m_layers.size() - 1;
    for (qsizetype i = 0; i < m_layers.size(); ++i) {
        if (m_layers.at(i) != m_hit.layer && m_layers.at(i)->position.x() > p) {
            t = f < i ? i - 1 : i;
            break;
        }
    }
    if (t == f)
        return;
    const auto object = representedObjectAtIndex(f);
    const auto toObject = representedObjectAtIndex(t);
    if (m_delegate && !m_delegate->willMoveObject(object, f))
        return;
    m_items.move(f, t);
    m_layers.move(f, t);
    if (m_delegate)
        m_delegate->moveItemFromIndex(f, t, object, toObject);
}

void KTLayersPaletteView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (m_isDraggingOut) {
        stopDraggingOut();
        const qsizetype selected = selectedItemIndex();
        stopDragging();
        removeItemAtIndex(selected);
        updateLayout();
    } else if (m_isDragging) {
        finishHorizontalDrag();
        stopDragging();
        updateLayout();
    }
}

void KTLayersPaletteView::contextMenuEvent(QContextMenuEvent *event)
{
    const Hit hit = hitTest(event->pos());
    if (hit.kind == HitKind::Icon || hit.kind == HitKind::EyeButton)
        setSelectedItemIndex(m_layers.indexOf(hit.layer));
    const qsizetype selected = selectedItemIndex();
    if (selected == kNotFound || !m_delegate)
        return;
    QMenu *menu = m_delegate->menuForRepresentedObject(representedObjectAtIndex(selected), selected);
    if (!menu)
        return;
    if (!menu->isEmpty())
        menu->exec(event->globalPos());
    delete menu;
}

// --- keyboard and focus ---

void KTLayersPaletteView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        selectIconLeftOf(selectedItemIndex());
        break;
    case Qt::Key_Right:
        selectIconRightOf(selectedItemIndex());
        break;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        deleteSelected();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void KTLayersPaletteView::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    m_isFirstResponder = true;
    if (selectedItemIndex() == kNotFound && !m_items.isEmpty())
        setSelectedItemIndex(m_items.size() - 1);
    else
        updateLayout();
}

void KTLayersPaletteView::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    m_isFirstResponder = false;
    updateLayout();
}

void KTLayersPaletteView::enterEvent(QEnterEvent *event)
{
    QWidget::enterEvent(event);
    m_mouseInside = true;
    updateLayout();
}

void KTLayersPaletteView::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    m_mouseInside = false;
    updateLayout();
}

void KTLayersPaletteView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateLayout();
    scrollToShowSelectedLayer();
    // A wider strip may leave empty room after the last icon: scroll back.
    const double w = scrollLayerFrame().width();
    const double excess = m_scrollX + w - (m_maxX + 16);
    if (m_scrollX > 0 && excess > 0)
        m_scrollX = std::max(0.0, m_scrollX - excess);
    updateScrollButtons();
}

// --- drawing ---

void KTLayersPaletteView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), kBackground);

    // The top bar: a lit edge over a darker band.
    QLinearGradient bar(0, 0, 0, kTopBarHeight);
    bar.setColorAt(0, QColor(120, 120, 122));
    bar.setColorAt(0.15, QColor(98, 98, 100));
    bar.setColorAt(1, QColor(70, 70, 72));
    p.fillRect(QRectF(0, 0, width(), kTopBarHeight), bar);
    p.fillRect(QRectF(0, kTopBarHeight - 1, width(), 1), QColor(40, 40, 40));

    const QRectF row = scrollLayerFrame();
    p.save();
    p.setClipRect(row);
    p.translate(-m_scrollX, 0);
    QList<LayerPtr> ordered = m_layers;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const LayerPtr &a, const LayerPtr &b) { return a->zPosition < b->zPosition; });
    for (const LayerPtr &layer : std::as_const(ordered)) {
        if (layer->hidden)
            continue;
        const QRectF f = layer->frame();
        if (layer->isSeparator) {
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(kSeparatorColor);
            p.drawRoundedRect(f, 3, 3);
            continue;
        }
        p.setOpacity(layer->opacity);
        paintHalo(p, f.translated(layer->shadowOffset), layer->shadowColor, layer->shadowRadius,
                  layer->shadowOpacity);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillRect(f, QColor(0, 0, 0, 128));
        if (!layer->contents.isNull()) {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(f, layer->contents);
        }
        // The border lies inside the icon's bounds.
        const double bw = layer->borderWidth;
        if (bw > 0) {
            p.setPen(QPen(layer->borderColor, bw, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
            p.setBrush(Qt::NoBrush);
            p.drawRect(f.adjusted(bw / 2, bw / 2, -bw / 2, -bw / 2));
        }
        if (layer->hasEyeButton && layer->eyeVisible)
            paintEye(p, layer->eyeButtonFrame(), layer->eyeClosed);
        p.setOpacity(1);
    }
    p.restore();

    for (const auto &[visible, frame, right] :
         {std::tuple{m_leftArrowVisible, leftArrowFrame(), false}, std::tuple{m_rightArrowVisible, rightArrowFrame(), true}}) {
        if (!visible)
            continue;
        p.fillRect(frame, kArrowBackground);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(230, 230, 230));
        const QPointF c = frame.center();
        QPolygonF arrow;
        if (right)
            arrow << c + QPointF(-3, -5) << c + QPointF(3, 0) << c + QPointF(-3, 5);
        else
            arrow << c + QPointF(3, -5) << c + QPointF(-3, 0) << c + QPointF(3, 5);
        p.drawPolygon(arrow);
    }
}
