#pragma once

#include <QAbstractListModel>
#include <QVariantList>

#include <functional>

// A list model over a snapshot of items: what a collection view shows. Array
// diffs are applied to it row by row so that a view animates the change
// instead of reloading everything.
class VLArrayListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    // The whole item is answered for this role.
    static constexpr int ItemRole = Qt::UserRole;

    explicit VLArrayListModel(QObject *parent = nullptr);

    const QVariantList &items() const { return m_items; }
    // Replaces everything: a full reload.
    void setItems(const QVariantList &items);

    // What the display role shows for an item; by default a map's "name" or
    // the item's own text.
    using DisplayFunction = std::function<QVariant(const QVariant &item, int role)>;
    void setDisplayFunction(DisplayFunction function);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Single-row changes with the matching model signals; false when a row
    // is out of range.
    bool removeItem(int row);
    bool insertItem(int row, const QVariant &item);
    bool moveItem(int from, int to);
    bool replaceItem(int row, const QVariant &item);

private:
    QVariantList m_items;
    DisplayFunction m_display;
};
