#include "frameeditor/KTEOutlineController.h"

#include "design/KTFrameLayer.h"
#include "design/KTTemplate.h"
#include "design/Variation.h"
#include "frameeditor/KTEDeleteKeyFilter.h"
#include "frameeditor/KTEOutlineModel.h"
#include "frameeditor/KTFEWindowInterface.h"
#include "frameeditor/KTFrameExporterWindowController.h"
#include "kit/VLWAnalytics.h"
#include "platform/Alert.h"
#include "platform/Assert.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryStore.h"

#include <QAbstractItemView>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace {

void track(const QString &action)
{
    VLWAnalytics::trackEventProperties(QString::fromLatin1(KTEOutlineController::kAnalyticsEvent),
                                       QVariantMap{{QStringLiteral("Action"), action}});
}

} // namespace

KTEOutlineController::KTEOutlineController(KTFEWindowInterface *window, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_model(new KTEOutlineModel(window ? window->framesContext() : nullptr, this))
{
    m_model->setRenameHandler([this](LibraryItem *item, const QString &name) { return renameItem(item, name); });
    m_model->setDropHandler([this] { reloadFromDB(); });
}

KTEOutlineController::~KTEOutlineController()
{
    delete m_view.data();
}

platform::ManagedObjectContext *KTEOutlineController::managedObjectContext() const
{
    return m_model->context();
}

QWidget *KTEOutlineController::view()
{
    if (!m_view)
        buildView();
    return m_view;
}

KTEOutlineView *KTEOutlineController::outlineView()
{
    view();
    return m_outlineView;
}

QLineEdit *KTEOutlineController::framesSearchField()
{
    view();
    return m_searchField;
}

QMenu *KTEOutlineController::addMenu()
{
    view();
    return m_addMenu;
}

QPushButton *KTEOutlineController::exportButton()
{
    view();
    return m_exportButton;
}

void KTEOutlineController::buildView()
{
    m_view = new QWidget;
    m_view->setObjectName(QStringLiteral("outlinePane"));
    auto *layout = new QVBoxLayout(m_view);
    layout->setContentsMargins(0, 0, 0, 0);

    m_searchField = new QLineEdit;
    m_searchField->setObjectName(QStringLiteral("framesSearchField"));
    m_searchField->setPlaceholderText(tr("Search frames"));
    m_searchField->setClearButtonEnabled(true);
    connect(m_searchField, &QLineEdit::textChanged, this, [this] { frameSearchFieldChanged(); });
    layout->addWidget(m_searchField);

    m_outlineView = new KTEOutlineView;
    m_outlineView->setObjectName(QStringLiteral("outlineView"));
    m_outlineView->setHeaderHidden(true);
    m_outlineView->setModel(m_model);
    m_outlineView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_outlineView->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_outlineView->setTextElideMode(Qt::ElideMiddle);
    m_outlineView->setDragEnabled(true);
    m_outlineView->setAcceptDrops(true);
    m_outlineView->setDropIndicatorShown(true);
    m_outlineView->setDragDropMode(QAbstractItemView::DragDrop);
    m_outlineView->setDefaultDropAction(Qt::MoveAction);
    new KTEDeleteKeyFilter([this] { deleteFromOutlineView(); }, m_outlineView);
    connect(m_outlineView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { handleOutlineViewSelectionChange(); });
    // Rows a closing parent hides give their selection to it, so Delete and
    // the attribute table never act on something out of sight.
    connect(m_outlineView, &QTreeView::collapsed, this, [this](const QModelIndex &closed) {
        QItemSelectionModel *selection = m_outlineView->selectionModel();
        QItemSelection hidden;
        for (const QModelIndex &index : selection->selectedIndexes()) {
            for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) {
                if (parent == closed) {
                    hidden.select(index, index);
                    break;
                }
            }
        }
        if (hidden.isEmpty())
            return;
        selection->select(hidden, QItemSelectionModel::Deselect);
        selection->setCurrentIndex(closed, QItemSelectionModel::Select);
    });
    layout->addWidget(m_outlineView, 1);

    auto *buttons = new QHBoxLayout;
    m_addMenu = new QMenu(m_view);
    m_addMenu->setObjectName(QStringLiteral("addMenu"));
    auto add = [this](const QString &title, int tag, void (KTEOutlineController::*command)()) {
        QAction *action = m_addMenu->addAction(title);
        action->setData(tag);
        connect(action, &QAction::triggered, this, command);
    };
    add(tr("New Collection"), 0, &KTEOutlineController::addCollection);
    add(tr("New Set"), AddSetTag, &KTEOutlineController::addSet);
    add(tr("New Frame"), AddFrameTag, &KTEOutlineController::addFrame);
    m_addMenu->addSeparator();
    add(tr("Duplicate Frame"), DuplicateFrameTag, &KTEOutlineController::duplicateFrame);
    add(tr("Duplicate as Mask"), DuplicateAsMaskTag, &KTEOutlineController::duplicateAsMask);
    connect(m_addMenu, &QMenu::aboutToShow, this, [this] { menuNeedsUpdate(); });

    m_addButton = new QToolButton;
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_addButton->setText(tr("Add"));
    m_addButton->setToolTip(tr("Add a collection, set or frame, or duplicate the selected frame"));
    m_addButton->setMenu(m_addMenu);
    m_addButton->setPopupMode(QToolButton::InstantPopup);
    m_addButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    buttons->addWidget(m_addButton);

    m_deleteButton = new QPushButton(tr("Delete"));
    m_deleteButton->setObjectName(QStringLiteral("deleteButton"));
    m_deleteButton->setToolTip(tr("Delete the selected items (Delete key)"));
    connect(m_deleteButton, &QPushButton::clicked, this, [this] { deleteFromOutlineView(); });
    buttons->addWidget(m_deleteButton);
    buttons->addStretch(1);

    m_exportButton = new QPushButton(tr("Export…"));
    m_exportButton->setObjectName(QStringLiteral("exportButton"));
    m_exportButton->setToolTip(tr("Export the selected items as a frame archive"));
    connect(m_exportButton, &QPushButton::clicked, this, [this] { shareButtonPressedInFrameEditor(); });
    buttons->addWidget(m_exportButton);
    layout->addLayout(buttons);
}

// --- the tree and its selection ---

void KTEOutlineController::clearSortedCache()
{
    m_model->clearSortedCache();
}

void KTEOutlineController::refreshOutlineView()
{
    // A reset forgets which rows were open; they are opened again.
    const QList<LibraryItem *> expanded = expandedItems();
    m_model->reload();
    if (!m_outlineView)
        return;
    for (LibraryItem *item : expanded) {
        const QModelIndex index = m_model->indexOf(item);
        if (index.isValid())
            m_outlineView->expand(index);
    }
}

void KTEOutlineController::reloadFromDB()
{
    view();
    const QList<QModelIndex> before = visibleIndexes();
    LibraryItem *selected = selectedItem();
    qsizetype selectedRow = -1; // by position: a deleted item has no index any more
    for (qsizetype row = 0; selected && row < before.size() && selectedRow < 0; ++row) {
        if (m_model->itemAt(before.at(row)) == selected)
            selectedRow = row;
    }
    m_model->clearSortedCache();
    refreshOutlineView();
    const QList<QModelIndex> after = visibleIndexes();
    if (selectedRow >= 0 && selectedRow < after.size())
        selectItem(m_model->itemAt(after.at(selectedRow)));
    else if (!after.isEmpty() && selectedRow >= after.size())
        selectItem(m_model->itemAt(after.last())); // the last rows went away
    updateButtons();
}

void KTEOutlineController::updateButtons()
{
    // Delete and Export work on the selection: without one they are off.
    const bool any = m_outlineView && m_outlineView->selectionModel()->hasSelection();
    if (m_deleteButton)
        m_deleteButton->setEnabled(any);
    if (m_exportButton)
        m_exportButton->setEnabled(any);
}

QList<QModelIndex> KTEOutlineController::visibleIndexes() const
{
    QList<QModelIndex> rows;
    std::function<void(const QModelIndex &)> walk = [&](const QModelIndex &parent) {
        const int count = m_model->rowCount(parent);
        for (int row = 0; row < count; ++row) {
            const QModelIndex index = m_model->index(row, 0, parent);
            rows.append(index);
            if (m_outlineView && m_outlineView->isExpanded(index))
                walk(index);
        }
    };
    walk(QModelIndex());
    return rows;
}

QList<LibraryItem *> KTEOutlineController::expandedItems() const
{
    QList<LibraryItem *> items;
    if (!m_outlineView)
        return items;
    std::function<void(const QModelIndex &)> walk = [&](const QModelIndex &parent) {
        const int count = m_model->rowCount(parent);
        for (int row = 0; row < count; ++row) {
            const QModelIndex index = m_model->index(row, 0, parent);
            if (m_outlineView->isExpanded(index)) {
                items.append(m_model->itemAt(index));
                walk(index);
            }
        }
    };
    walk(QModelIndex());
    return items;
}

bool KTEOutlineController::isItemExpanded(LibraryItem *item) const
{
    const QModelIndex index = m_model->indexOf(item);
    return m_outlineView && index.isValid() && m_outlineView->isExpanded(index);
}

void KTEOutlineController::expandItem(LibraryItem *item, bool children)
{
    view();
    const QModelIndex index = m_model->indexOf(item);
    if (!index.isValid())
        return;
    if (children)
        m_outlineView->expandRecursively(index);
    else
        m_outlineView->expand(index);
}

void KTEOutlineController::collapseAll()
{
    view();
    m_outlineView->collapseAll();
}

void KTEOutlineController::selectItem(LibraryItem *item)
{
    view();
    const QModelIndex index = m_model->indexOf(item);
    if (!index.isValid())
        return;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) {
        if (!m_outlineView->isExpanded(parent))
            return; // no row of its own while its parent is closed
    }
    m_outlineView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_outlineView->scrollTo(index);
}

void KTEOutlineController::selectItems(const QList<LibraryItem *> &items)
{
    view();
    QItemSelection selection;
    QModelIndex current;
    for (LibraryItem *item : items) {
        const QModelIndex index = m_model->indexOf(item);
        if (index.isValid()) {
            selection.select(index, index);
            current = index;
        }
    }
    QItemSelectionModel *model = m_outlineView->selectionModel();
    model->select(selection, QItemSelectionModel::ClearAndSelect);
    if (current.isValid())
        model->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    handleOutlineViewSelectionChange();
}

void KTEOutlineController::editItem(LibraryItem *item)
{
    selectItem(item);
    const QModelIndex index = m_model->indexOf(item);
    if (index.isValid() && m_outlineView->selectionModel()->isSelected(index))
        m_outlineView->edit(index); // the editor comes up with its text selected
}

QList<LibraryItem *> KTEOutlineController::selectedItems() const
{
    QList<LibraryItem *> items;
    if (!m_outlineView)
        return items;
    const QItemSelectionModel *selection = m_outlineView->selectionModel();
    for (const QModelIndex &index : visibleIndexes()) {
        if (selection->isSelected(index))
            items.append(m_model->itemAt(index));
    }
    return items;
}

LibraryItem *KTEOutlineController::selectedItem() const
{
    if (!m_outlineView)
        return nullptr;
    const QModelIndex current = m_outlineView->selectionModel()->currentIndex();
    const QList<LibraryItem *> items = selectedItems();
    if (current.isValid() && items.contains(m_model->itemAt(current)))
        return m_model->itemAt(current);
    return items.isEmpty() ? nullptr : items.last();
}

void KTEOutlineController::handleOutlineViewSelectionChange()
{
    if (m_handlingSelection || !m_outlineView)
        return;
    m_handlingSelection = true;
    const QList<LibraryItem *> items = selectedItems();
    if (!items.isEmpty()) {
        // Only the first selected item's siblings stay selected.
        LibraryItem *parent = KTEOutlineModel::parentOf(items.first());
        QList<LibraryItem *> siblings;
        for (LibraryItem *item : items) {
            if (KTEOutlineModel::parentOf(item) == parent)
                siblings.append(item);
        }
        if (siblings.size() != m_outlineView->selectionModel()->selectedIndexes().size()) {
            LibraryItem *current = selectedItem();
            QItemSelection selection;
            for (LibraryItem *item : siblings) {
                const QModelIndex index = m_model->indexOf(item);
                selection.select(index, index);
            }
            m_outlineView->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
            const QModelIndex currentIndex = m_model->indexOf(siblings.contains(current) ? current : siblings.last());
            m_outlineView->selectionModel()->setCurrentIndex(currentIndex, QItemSelectionModel::NoUpdate);
        }
    }
    m_handlingSelection = false;
    updateButtons();

    LibraryItem *item = selectedItem();
    if (!m_window)
        return;
    if (!item)
        m_window->displayNothing();
    else if (auto *collection = dynamic_cast<FrameCollection *>(item))
        m_window->displayCollection(collection);
    else if (auto *set = dynamic_cast<FrameSet *>(item))
        m_window->displaySet(set);
    else if (auto *frame = dynamic_cast<Frame *>(item))
        m_window->displayFrame(frame);
}

// --- rename ---

bool KTEOutlineController::renameItem(LibraryItem *item, const QString &name)
{
    const bool blank = std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c == u' ' || c == u'\t'; });
    if (!item || blank)
        return false;
    if (item->name() != name)
        item->setName(name);
    // The rename finishes after the editor has let go of the row.
    QMetaObject::invokeMethod(this, [this, item] {
        changedNameFor(item);
        handleOutlineViewSelectionChange();
    }, Qt::QueuedConnection);
    return true;
}

void KTEOutlineController::changedNameFor(LibraryItem *item)
{
    clearSortedCache();
    refreshOutlineView();
    selectItem(item);
}

// --- commands ---

void KTEOutlineController::addCollection()
{
    platform::ManagedObjectContext *context = managedObjectContext();
    if (!context)
        return;
    auto *collection = FrameCollection::insertInManagedObjectContext(context);
    track(QStringLiteral("Added collection"));
    clearSortedCache();
    refreshOutlineView();
    editItem(collection);
}

void KTEOutlineController::showInsertedItem(LibraryItem *item)
{
    clearSortedCache();
    refreshOutlineView();
    // A new frame the search text hides would be made out of sight.
    if (!m_model->indexOf(item).isValid() && !m_model->searchText().isEmpty())
        framesSearchField()->clear();
    QList<LibraryItem *> parents; // from the top down: a row opens only once its parent is open
    for (LibraryItem *parent = KTEOutlineModel::parentOf(item); parent; parent = KTEOutlineModel::parentOf(parent))
        parents.prepend(parent);
    for (LibraryItem *parent : parents)
        expandItem(parent);
    selectItem(item);
}

void KTEOutlineController::addSet()
{
    LibraryItem *selected = selectedItem();
    if (!selected || !managedObjectContext())
        return;
    FrameCollection *collection = dynamic_cast<FrameCollection *>(selected);
    if (auto *set = dynamic_cast<FrameSet *>(selected))
        collection = set->framecollection();
    else if (auto *frame = dynamic_cast<Frame *>(selected))
        collection = frame->frameset() ? frame->frameset()->framecollection() : nullptr;
    if (!collection)
        return;
    auto *set = FrameSet::insertInManagedObjectContext(managedObjectContext());
    collection->addFramesetsObject(set);
    track(QStringLiteral("Added set"));
    showInsertedItem(set);
    editItem(set);
}

FrameType *KTEOutlineController::typeForNewFrame() const
{
    if (FrameType *type = m_window ? m_window->selectedFrameType() : nullptr)
        return type;
    const QList<FrameType *> types = managedObjectContext()->fetchObjects<FrameType>(
        {}, {platform::SortDescriptor(QStringLiteral("name"), true, true)});
    return types.isEmpty() ? nullptr : types.last();
}

void KTEOutlineController::addFrame()
{
    LibraryItem *selected = selectedItem();
    if (!selected || dynamic_cast<FrameCollection *>(selected) || !managedObjectContext())
        return;
    FrameSet *set = dynamic_cast<FrameSet *>(selected);
    if (auto *frame = dynamic_cast<Frame *>(selected))
        set = frame->frameset();
    KT_ASSERT(set, QStringLiteral("parent shouldn't be nil here"));
    if (!set)
        return;
    auto *frame = Frame::insertInManagedObjectContext(managedObjectContext());
    if (FrameType *type = typeForNewFrame())
        frame->setFrametype(type);
    set->addFramesObject(frame);
    track(QStringLiteral("Added frame"));
    showInsertedItem(frame);
    editItem(frame);
}

void KTEOutlineController::duplicateFrame()
{
    auto *frame = dynamic_cast<Frame *>(selectedItem());
    if (!frame || !frame->frameset())
        return;
    FrameSet *set = frame->frameset();
    Frame *copy = frame->duplicate();
    set->addFramesObject(copy);
    track(QStringLiteral("Duplicated frame"));
    showInsertedItem(copy);
    editItem(copy);
}

void KTEOutlineController::duplicateAsMask()
{
    Frame *lastCopy = nullptr;
    for (LibraryItem *item : selectedItems()) {
        auto *frame = dynamic_cast<Frame *>(item);
        if (!frame)
            return;
        if (!frame->frameAttributeWithName(QString::fromLatin1(kMaskAttribute))) {
            platform::AlertRequest request;
            request.messageText = QString::fromLatin1(kNoMaskMessage);
            request.informativeText = QString::fromLatin1(kNoMaskText);
            request.style = platform::AlertRequest::Style::Informational;
            platform::runAlert(request);
            return;
        }
        if (!frame->frameset())
            continue;
        Frame *copy = frame->duplicate();
        if (FrameAttribute *mask = copy->frameAttributeWithName(QString::fromLatin1(kMaskAttribute)))
            mask->setBoolVal(true);
        copy->setName(frame->name() + QLatin1Char(' ') + tr("Mask"));
        frame->frameset()->addFramesObject(copy);
            lastCopy = copy;
    }
    if (!lastCopy)
        return;
    showInsertedItem(lastCopy);
    track(QStringLiteral("Duplicated as Mask"));
}

bool KTEOutlineController::checkIfFrameIsUsedByTemplates(Frame *frame) const
{
    platform::ManagedObjectContext *templates = m_window ? m_window->templatesContext() : nullptr;
    if (!templates || !frame)
        return false;
    const QString guid = frame->guid();
    for (Variation *variation : templates->fetchObjects<Variation>()) {
        const std::shared_ptr<KTTemplate> design =
            KTTemplate::templateFromVariation(variation, LibraryStore::sharedContext());
        if (!design)
            continue;
        for (const auto &layer : design->layers()) {
            auto frameLayer = std::dynamic_pointer_cast<KTFrameLayer>(layer);
            if (frameLayer && (frameLayer->theFrame() == frame || (!guid.isEmpty() && frameLayer->frameGUID() == guid)))
                return true;
        }
    }
    return false;
}

void KTEOutlineController::deleteFromOutlineView()
{
    // The cached rows stay as they are until the reload below, so the outline
    // keeps drawing what it showed while the question is up.
    bool yesToAll = false;
    const QList<LibraryItem *> items = selectedItems();
    if (items.isEmpty())
        return;
    for (LibraryItem *item : items) {
        if (item->isDeleted() || !item->managedObjectContext())
            continue;
        if (!yesToAll) {
            platform::AlertRequest request;
            auto *frame = dynamic_cast<Frame *>(item);
            auto *set = dynamic_cast<FrameSet *>(item);
            auto *collection = dynamic_cast<FrameCollection *>(item);
            if (frame && checkIfFrameIsUsedByTemplates(frame)) {
                request.messageText = QString::fromLatin1(kUsedFrameMessage);
                request.informativeText = QString::fromLatin1(kUsedFrameText).arg(frame->name());
            } else if (set && !set->frames().isEmpty()) {
                request.messageText = QString::fromLatin1(kWholeSetMessage);
                request.informativeText = tr(kWholeSetText, nullptr, int(set->frames().size())).arg(set->name());
            } else if (collection && !collection->framesets().isEmpty()) {
                request.messageText = QString::fromLatin1(kWholeCollectionMessage);
                request.informativeText =
                    tr(kWholeCollectionText, nullptr, int(collection->framesets().size())).arg(collection->name());
            }
            if (!request.messageText.isEmpty()) {
                request.buttons = {tr("No"), tr("Yes"), tr("Yes to All")};
                const int answer = platform::runAlert(request);
                if (answer == AnswerYesToAll)
                    yesToAll = true;
                else if (answer != AnswerYes)
                    continue;
            }
        }
        item->managedObjectContext()->deleteObject(item);
    }
    reloadFromDB();
    handleOutlineViewSelectionChange();
}

void KTEOutlineController::frameSearchFieldChanged()
{
    view();
    const QString text = m_searchField->text();
    LibraryItem *selected = selectedItem();
    m_model->setSearchText(text);
    m_model->reload(); // the rows of every set depend on the text
    if (text.isEmpty()) {
        m_outlineView->collapseAll();
    } else {
        m_outlineView->expandAll();
        for (LibraryItem *collection : m_model->childrenOf(nullptr)) {
            bool hasFrame = false;
            for (LibraryItem *set : m_model->childrenOf(collection))
                hasFrame = hasFrame || !m_model->childrenOf(set).isEmpty();
            if (!hasFrame)
                m_outlineView->collapse(m_model->indexOf(collection));
        }
    }
    selectItem(selected);
    // The reload dropped the selection without a word: a row the search hid
    // stays unselected, so nothing out of sight is deleted, exported or edited.
    if (!m_outlineView->selectionModel()->hasSelection())
        handleOutlineViewSelectionChange();
}

void KTEOutlineController::shareButtonPressedInFrameEditor()
{
    track(QStringLiteral("Share Pressed"));
    const QList<LibraryItem *> items = selectedItems();
    if (items.isEmpty() || m_exporterWindowController)
        return; // nothing chosen, or an export already under way
    m_exporterWindowController = new KTFrameExporterWindowController(items, this);
    QPointer<KTFrameExporterWindowController> sheet = m_exporterWindowController;
    m_exporterWindowController->beginSheetModalForWindow(outlineView()->window(), [sheet](int returnCode) {
        VLWAnalytics::trackEventProperties(
            QString::fromLatin1(kAnalyticsEvent),
            QVariantMap{{QStringLiteral("Action"), QStringLiteral("Export")},
                        {QStringLiteral("Success"), returnCode == KTFrameExporterWindowController::kSucceeded ? 1 : 0}});
        if (sheet)
            sheet->deleteLater();
    });
}

void KTEOutlineController::menuNeedsUpdate()
{
    if (!m_addMenu)
        return;
    LibraryItem *item = selectedItem();
    const bool isFrame = dynamic_cast<Frame *>(item) != nullptr;
    for (QAction *action : m_addMenu->actions()) {
        switch (action->data().toInt()) {
        case AddFrameTag:
            action->setEnabled(isFrame || dynamic_cast<FrameSet *>(item));
            break;
        case AddSetTag:
            action->setEnabled(item != nullptr);
            break;
        case DuplicateFrameTag:
        case DuplicateAsMaskTag:
            action->setEnabled(isFrame);
            break;
        default:
            break;
        }
    }
}
