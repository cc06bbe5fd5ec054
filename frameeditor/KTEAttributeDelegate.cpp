#include "frameeditor/KTEAttributeDelegate.h"

#include "frameeditor/KTEAttributesTableModel.h"
#include "kit/ui/VLColorWell.h"
#include "stores/FrameAttribute.h"

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>

namespace {

int kindOf(const QModelIndex &index)
{
    if (index.column() != KTEAttributesTableModel::ValueColumn)
        return -1;
    return index.data(KTEAttributesTableModel::KindRole).toInt();
}

} // namespace

QWidget *KTEAttributeDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                            const QModelIndex &index) const
{
    switch (kindOf(index)) {
    case FrameAttribute::KindColor: {
        auto *well = new VLColorWell(parent);
        // Every colour the user picks is stored at once, as the dialog moves.
        connect(well, &VLColorWell::colorEdited, this, [this, well] {
            emit const_cast<KTEAttributeDelegate *>(this)->commitData(well);
        });
        return well;
    }
    case FrameAttribute::KindInteger: {
        auto *line = new QLineEdit(parent);
        line->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[-+]?[0-9]{0,18}")), line));
        return line;
    }
    case FrameAttribute::KindFloat: {
        auto *line = new QLineEdit(parent);
        line->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[-+]?[0-9]*([.,][0-9]*)?([eE][-+]?[0-9]{0,3})?")), line));
        return line;
    }
    default:
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
}

void KTEAttributeDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    if (auto *well = qobject_cast<VLColorWell *>(editor)) {
        const QColor color = index.data(Qt::EditRole).value<QColor>();
        well->setColor(color.isValid() ? color : QColor(Qt::white));
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void KTEAttributeDelegate::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const
{
    if (auto *well = qobject_cast<VLColorWell *>(editor)) {
        model->setData(index, well->color(), Qt::EditRole);
        return;
    }
    if (auto *line = qobject_cast<QLineEdit *>(editor)) {
        model->setData(index, line->text(), Qt::EditRole);
        return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}

QSize KTEAttributeDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QModelIndex value = index.siblingAtColumn(KTEAttributesTableModel::ValueColumn);
    if (value.data(KTEAttributesTableModel::KindRole).toInt() == FrameAttribute::KindImage)
        size.setHeight(kPictureRowHeight);
    else if (value.data(KTEAttributesTableModel::KindRole).toInt() == FrameAttribute::KindColor)
        size.setHeight(std::max(size.height(), 26));
    return size;
}

void KTEAttributeDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (kindOf(index) == FrameAttribute::KindBoolean) {
        QStyledItemDelegate::paint(painter, option, index);
        // The dark style's empty box hardly shows on the table: outline it.
        QStyleOptionViewItem box = option;
        initStyleOption(&box, index);
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        const QRect indicator = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &box, widget);
        QColor pen = option.palette.color(QPalette::Text);
        pen.setAlpha(110);
        painter->save();
        painter->setPen(pen);
        painter->drawRect(indicator.adjusted(0, 0, -1, -1));
        painter->restore();
        return;
    }
    if (kindOf(index) != FrameAttribute::KindImage) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The picture fills the row's height, keeping its proportions.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.icon = QIcon();
    background.features &= ~QStyleOptionViewItem::HasDecoration;
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);
    const QImage picture = index.data(Qt::DecorationRole).value<QImage>();
    if (picture.isNull())
        return;
    const QRect box = option.rect.adjusted(4, 2, -4, -2);
    QSize size = picture.size().scaled(box.size(), Qt::KeepAspectRatio);
    if (picture.width() <= box.width() && picture.height() <= box.height())
        size = picture.size();
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(QRect(box.topLeft() + QPoint(0, (box.height() - size.height()) / 2), size), picture);
    painter->restore();
}
