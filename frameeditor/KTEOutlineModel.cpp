#include "frameeditor/KTEOutlineModel.h"

#include "platform/Log.h"
#include "platform/archive/PropertyList.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/TextMatching.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/LibraryDates.h"

#include <QMimeData>

#include <typeinfo>

#include <algorithm>

namespace {

template <class T> QList<LibraryItem *> sortedByName(const QList<T *> &objects)
{
    QList<LibraryItem *> items;
    items.reserve(objects.size());
    for (T *object : objects) {
        if (object && !object->isDeleted())
            items.append(object);
    }
    std::stable_sort(items.begin(), items.end(), [](const LibraryItem *a, const LibraryItem *b) {
        return a->name().compare(b->name(), Qt::CaseInsensitive) < 0;
    });
    return items;
}

} // namespace

KTEOutlineModel::KTEOutlineModel(platform::ManagedObjectContext *context, QObject *parent)
    : QAbstractItemModel(parent)
    , m_context(context)
{
}

void KTEOutlineModel::setSearchText(const QString &text)
{
    m_searchText = text;
}

void KTEOutlineModel::clearSortedCache()
{
    m_sortedChildren.clear();
}

void KTEOutlineModel::reload()
{
    beginResetModel();
    clearSortedCache();
    endResetModel();
}

QList<LibraryItem *> KTEOutlineModel::childrenOf(LibraryItem *parent) const
{
    if (m_cacheText != m_searchText) {
        m_sortedChildren.clear();
        m_cacheText = m_searchText;
    }
    auto cached = m_sortedChildren.constFind(parent);
    if (cached != m_sortedChildren.constEnd())
        return cached.value();
    QList<LibraryItem *> children;
    if (!parent) {
        if (m_context)
            children = sortedByName(m_context->fetchObjects<FrameCollection>());
    } else if (auto *collection = dynamic_cast<FrameCollection *>(parent)) {
        children = sortedByName(collection->framesets());
    } else if (auto *set = dynamic_cast<FrameSet *>(parent)) {
        QList<Frame *> frames = set->frames();
        if (!m_searchText.isEmpty()) {
            const QString folded = platform::TextMatching::fold(m_searchText);
            frames.removeIf([&folded](const Frame *frame) {
                return !platform::TextMatching::fold(frame->name()).contains(folded);
            });
        }
        children = sortedByName(frames);
    }
    m_sortedChildren.insert(parent, children);
    return children;
}

LibraryItem *KTEOutlineModel::parentOf(const LibraryItem *item)
{
    if (auto *set = dynamic_cast<const FrameSet *>(item))
        return set->framecollection();
    if (auto *frame = dynamic_cast<const Frame *>(item))
        return frame->frameset();
    return nullptr;
}

LibraryItem *KTEOutlineModel::itemAt(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<LibraryItem *>(index.internalPointer()) : nullptr;
}

QModelIndex KTEOutlineModel::indexOf(LibraryItem *item) const
{
    if (!item || item->isDeleted())
        return {};
    LibraryItem *parent = parentOf(item);
    if (!parent && !dynamic_cast<FrameCollection *>(item))
        return {}; // a set or frame outside the tree
    if (parent && !indexOf(parent).isValid())
        return {};
    const qsizetype row = childrenOf(parent).indexOf(item);
    return row < 0 ? QModelIndex() : createIndex(int(row), 0, item);
}

QModelIndex KTEOutlineModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0 || (parent.isValid() && parent.column() != 0))
        return {};
    const QList<LibraryItem *> children = childrenOf(itemAt(parent));
    if (row >= children.size())
        return {};
    return createIndex(row, 0, children.at(row));
}

QModelIndex KTEOutlineModel::parent(const QModelIndex &child) const
{
    return indexOf(parentOf(itemAt(child)));
}

int KTEOutlineModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    LibraryItem *item = itemAt(parent);
    if (dynamic_cast<Frame *>(item))
        return 0;
    return int(childrenOf(item).size());
}

int KTEOutlineModel::columnCount(const QModelIndex &) const
{
    return 1;
}

bool KTEOutlineModel::hasChildren(const QModelIndex &parent) const
{
    // Collections and sets show a disclosure triangle even when empty.
    LibraryItem *item = itemAt(parent);
    return !item || !dynamic_cast<Frame *>(item);
}

QVariant KTEOutlineModel::data(const QModelIndex &index, int role) const
{
    LibraryItem *item = itemAt(index);
    if (!item || (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole))
        return {};
    return item->name();
}

bool KTEOutlineModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    LibraryItem *item = itemAt(index);
    if (!item || role != Qt::EditRole || value.typeId() != QMetaType::QString || !m_rename)
        return false;
    return m_rename(item, value.toString());
}

Qt::ItemFlags KTEOutlineModel::flags(const QModelIndex &index) const
{
    LibraryItem *item = itemAt(index);
    if (!item)
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
    if (!dynamic_cast<Frame *>(item))
        flags |= Qt::ItemIsDropEnabled;
    return flags;
}

QByteArray KTEOutlineModel::outlineItemsData(const QList<LibraryItem *> &items)
{
    QVariantList uris;
    for (LibraryItem *item : items)
        uris.append(item->uriRepresentation());
    return platform::PropertyList::write(uris, platform::PropertyList::Format::XML);
}

QStringList KTEOutlineModel::outlineItemsURIs(const QByteArray &data)
{
    const QVariant list = platform::PropertyList::read(data);
    if (list.typeId() != QMetaType::QVariantList)
        return {};
    QStringList uris;
    for (const QVariant &uri : list.toList()) {
        if (uri.typeId() != QMetaType::QString)
            return {};
        uris.append(uri.toString());
    }
    return uris;
}

LibraryItem *KTEOutlineModel::existingObjectWithObjectIDURI(const QString &uri, platform::Error *error) const
{
    auto *item = m_context ? dynamic_cast<LibraryItem *>(m_context->objectWithURI(uri)) : nullptr;
    if (!item)
        platform::setError(error, QStringLiteral("No library item of this library has the identifier %1").arg(uri));
    return item;
}

QStringList KTEOutlineModel::mimeTypes() const
{
    return {QString::fromLatin1(kOutlineItemsType)};
}

QMimeData *KTEOutlineModel::mimeData(const QModelIndexList &indexes) const
{
    QModelIndexList ordered = indexes;
    std::sort(ordered.begin(), ordered.end());
    QList<LibraryItem *> items;
    for (const QModelIndex &index : ordered) {
        if (LibraryItem *item = itemAt(index); item && !items.contains(item))
            items.append(item);
    }
    // Collections are not moved.
    if (items.isEmpty() || dynamic_cast<FrameCollection *>(items.last()))
        return nullptr;
    auto *data = new QMimeData;
    data->setData(QString::fromLatin1(kOutlineItemsType), outlineItemsData(items));
    return data;
}

Qt::DropActions KTEOutlineModel::supportedDropActions() const
{
    return Qt::MoveAction;
}

Qt::DropActions KTEOutlineModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

bool KTEOutlineModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int, int,
                                      const QModelIndex &parent) const
{
    if (!data || !data->hasFormat(QString::fromLatin1(kOutlineItemsType)))
        return false;
    const QStringList uris = outlineItemsURIs(data->data(QString::fromLatin1(kOutlineItemsType)));
    if (uris.isEmpty())
        return false;
    platform::Error error;
    LibraryItem *dragged = existingObjectWithObjectIDURI(uris.last(), &error);
    if (!dragged) {
        platform::logLine(QStringLiteral("Failed to fetch an existing object with a given object ID (%1): %2")
                              .arg(uris.last(), error.description));
        return false;
    }
    // Where the drop lands among the children plays no part: the item goes
    // into its new parent's name order.
    LibraryItem *target = itemAt(parent);
    LibraryItem *oldParent = parentOf(dragged);
    if (!target || !oldParent || target == oldParent)
        return false;
    return typeid(*target) == typeid(*oldParent);
}

bool KTEOutlineModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                                   const QModelIndex &parent)
{
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    LibraryItem *target = itemAt(parent);
    bool accepted = true;
    for (const QString &uri : outlineItemsURIs(data->data(QString::fromLatin1(kOutlineItemsType)))) {
        platform::Error error;
        LibraryItem *item = existingObjectWithObjectIDURI(uri, &error);
        if (!item) {
            platform::logLine(QStringLiteral("Failed to fetch an existing object with a given object ID (%1): %2")
                                  .arg(uri, error.description));
            accepted = false;
            break;
        }
        if (auto *frame = dynamic_cast<Frame *>(item)) {
            auto *set = dynamic_cast<FrameSet *>(target);
            if (!set) {
                accepted = false;
                break;
            }
            frame->setFrameset(set);
        } else if (auto *frameSet = dynamic_cast<FrameSet *>(item)) {
            auto *collection = dynamic_cast<FrameCollection *>(target);
            if (!collection) {
                accepted = false;
                break;
            }
            frameSet->setFramecollection(collection);
        } else {
            continue;
        }
        item->setLastModified(LibraryDates::now());
    }
    // Items moved before a refusal stay moved; show them where they are.
    if (m_dropped)
        m_dropped();
    else
        reload();
    return accepted;
}
