#pragma once

#include "platform/Error.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QList>
#include <QPointer>

#include <functional>

class LibraryItem;

namespace platform {
class ManagedObjectContext;
}

// The frame library as a three-level tree: collections, their sets, their
// frames, each level sorted by name. A set lists only the frames whose names
// contain the search text. Children lists are cached per parent and dropped
// when the cache is cleared or the search text changes, so a list built for
// an older text is never served.
class KTEOutlineModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    static constexpr const char *kOutlineItemsType = "outlineItems";

    explicit KTEOutlineModel(platform::ManagedObjectContext *context, QObject *parent = nullptr);

    platform::ManagedObjectContext *context() const { return m_context; }

    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    // Forgets every cached child list; the next question rebuilds them.
    void clearSortedCache();
    // Tells the views to ask everything again.
    void reload();

    // The sorted children of an item; null asks for the collections.
    QList<LibraryItem *> childrenOf(LibraryItem *parent) const;
    static LibraryItem *parentOf(const LibraryItem *item);
    LibraryItem *itemAt(const QModelIndex &index) const;
    // Invalid when the item is not in the tree (deleted, filtered out).
    QModelIndex indexOf(LibraryItem *item) const;

    // Asked to rename an item; answers whether the name was taken.
    void setRenameHandler(std::function<bool(LibraryItem *, const QString &)> handler) { m_rename = std::move(handler); }
    // Told after a drop moved items, to reload and select.
    void setDropHandler(std::function<void()> handler) { m_dropped = std::move(handler); }

    // The drag's contents: the URI of each item, as a property list.
    static QByteArray outlineItemsData(const QList<LibraryItem *> &items);
    // The URIs the data holds; empty when they are no list of strings.
    static QStringList outlineItemsURIs(const QByteArray &data);
    LibraryItem *existingObjectWithObjectIDURI(const QString &uri, platform::Error *error) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

private:
    platform::ManagedObjectContext *m_context;
    QString m_searchText;
    mutable QString m_cacheText; // the text the cached lists were built for
    mutable QHash<LibraryItem *, QList<LibraryItem *>> m_sortedChildren;
    std::function<bool(LibraryItem *, const QString &)> m_rename;
    std::function<void()> m_dropped;
};
