#pragma once

#include <QStyledItemDelegate>

// Edits the attribute table's values by kind: a line for texts, whole and
// real numbers; the program's colour well for colours; pictures are shown
// tall; check boxes and pictures need no editor.
class KTEAttributeDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    static constexpr int kPictureRowHeight = 64;

    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
