#include "library/KTLibraryViewController.h"

#include "app/KTLayerLimit.h"
#include "app/KTToolbarViewController.h"
#include "app/KTDesignDocumentInterface.h"
#include "app/XSDocumentWindowController.h"
#include "design/KTFrameLayer.h"
#include "design/KTTemplate.h"
#include "app/KTLayersPaletteInterface.h"
#include "kit/VLBlocksAdditions.h"
#include "kit/VLWAnalytics.h"
#include "kit/ui/VLCollectionView.h"
#include "library/KTButtonFrame.h"
#include "library/KTLibraryContentModel.h"
#include "library/KTNavigationBarView.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/objectstore/TextMatching.h"
#include "platform/ui/OpenWithDesktop.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"
#include "stores/KTFrameLibraryImporter.h"
#include "stores/LibraryStore.h"

#include <QApplication>
#include <QShortcut>
#include <QUndoStack>
#include <QDialog>
#include <QFontMetrics>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QUrl>

namespace {

const char *const kAllLabel = "All";
const char *const kFavoritesLabel = "Favorites";
const char *const kRecentLabel = "Recent";

// The panel's fixed bands: icons and levels above the list, search below.
constexpr int kTopBand = 101;
constexpr int kBottomBand = 35;

} // namespace

KTLibraryViewController::KTLibraryViewController(const QString &nibName,
                                                 platform::WindowController *windowController, QObject *parent)
    : XSViewController(nibName.isEmpty() ? QString::fromLatin1(kNibName) : nibName, windowController, parent)
{
    m_toolbarViewController = new KTToolbarViewController(QString::fromLatin1(KTToolbarViewController::kNibName),
                                                          windowController, this);
    addChildViewController(m_toolbarViewController);
    m_toolbarViewController->addIconWithNameAndIconText(QStringLiteral("Frame icon"), tr(kAllLabel));
    m_toolbarViewController->addIconWithNameAndIconText(QStringLiteral("Favorite icon"), tr(kFavoritesLabel));
    m_toolbarViewController->addIconWithNameAndIconText(QStringLiteral("Recent frames icon"), tr(kRecentLabel));
    m_sortByNameDescriptorsArray = {platform::SortDescriptor(QStringLiteral("name"), true)};
    m_sortByLastUsedDescriptorsArray = {platform::SortDescriptor(QStringLiteral("lastUsed"), false)};
}

KTLibraryViewController::~KTLibraryViewController()
{
    for (auto id : std::as_const(m_observers))
        platform::NotificationCenter::defaultCenter().removeObserver(id);
    delete m_detailsPanel.data();
    delete m_libraryPopUpMenu;
}

// --- collaborators ---

platform::ManagedObjectContext *KTLibraryViewController::managedObjectContext() const
{
    if (m_context)
        return m_context;
    LibraryStore *store = LibraryStore::shared();
    return store ? store->managedObjectContext() : nullptr;
}

std::shared_ptr<KTTemplate> KTLibraryViewController::docTemplate() const
{
    if (m_docTemplate)
        return m_docTemplate;
    KTDesignDocumentInterface *doc = KTDesignDocumentInterface::ofWindowController(windowController());
    return doc ? doc->docTemplate() : nullptr;
}

KTLayersPaletteInterface *KTLibraryViewController::layersPaletteController() const
{
    if (m_palette)
        return dynamic_cast<KTLayersPaletteInterface *>(m_palette.data());
    if (auto *window = qobject_cast<XSDocumentWindowController *>(windowController()))
        return dynamic_cast<KTLayersPaletteInterface *>(window->layersPaletteController());
    return nullptr;
}

// --- view ---

QWidget *KTLibraryViewController::loadView()
{
    auto *root = new QWidget;
    m_root = root;
    root->setObjectName(nibName());
    root->setMinimumSize(200, 240);

    m_toolbarContainerView = new QWidget(root);
    m_toolbarContainerView->setObjectName(QStringLiteral("toolbarContainerView"));
    m_navigationBarView = new KTNavigationBarView(root);
    m_collectionView = new VLCollectionView(root);
    m_collectionView->setObjectName(QString::fromLatin1(kCellIdentifier));
    m_model = new KTLibraryContentModel(this);
    m_collectionView->setModel(m_model);
    m_collectionView->setIconSize(QSize(KTLibraryContentModel::kIconSide, KTLibraryContentModel::kIconSide));
    // Room for the icon and two lines of its name; as many columns as fit.
    m_collectionView->setTileMetrics(KTLibraryContentModel::kIconSide + 8,
                                     KTLibraryContentModel::kIconSide + 22
                                         + 2 * QFontMetrics(m_collectionView->font()).lineSpacing());
    m_collectionView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_collectionView->setFrameShape(QFrame::NoFrame);
    m_collectionView->setStyleSheet(QStringLiteral("QListView { background: rgb(58, 58, 60); color: rgb(220, 220, 220); }"));
    m_searchField = new QLineEdit(root);
    m_searchField->setObjectName(QStringLiteral("searchField"));
    m_searchField->setPlaceholderText(tr("Search"));
    m_searchField->setClearButtonEnabled(true);
    connect(m_searchField, &QLineEdit::textEdited, this, [this] { searchChanged(); });
    connect(m_collectionView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { showDetailsOfSelection(); });
    root->installEventFilter(this);
    // A level up or down the navigation bar, as in a file manager's history.
    auto *levelUp = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Left), root, [this] { moveToBeginningOfLine(); });
    levelUp->setContext(Qt::WidgetWithChildrenShortcut);
    levelUp->setObjectName(QStringLiteral("moveToBeginningOfLineShortcut"));
    auto *levelDown = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Right), root, [this] { moveToEndOfLine(); });
    levelDown->setContext(Qt::WidgetWithChildrenShortcut);
    levelDown->setObjectName(QStringLiteral("moveToEndOfLineShortcut"));
    return root;
}

void KTLibraryViewController::viewDidLoad()
{
    QWidget *root = view();
    // The icons of the three states.
    QWidget *toolbar = m_toolbarViewController->view();
    toolbar->setParent(m_toolbarContainerView);
    toolbar->show();
    m_toolbarViewController->setDelegate(this);
    m_toolbarViewController->displayToolbar();
    m_toolbarViewController->setSelectedIcon(0);

    for (const char *title : {"Collections", "Sets", "Frames"})
        m_navigationBarView->addComponent(tr(title));
    m_navigationBarActiveComponent = CollectionsLevel;
    m_navigationBarView->setActiveComponent(0);
    m_navigationBarView->setDelegate(this);

    viewFrameChanged();
    setLibraryState(LibraryState);
    displayCollections();

    auto &center = platform::NotificationCenter::defaultCenter();
    m_observers << center.addObserver(
        QString::fromLatin1(XSDocumentWindowController::kFlagsChangedNotification), nullptr,
        [this](const platform::Notification &n) { flagsChanged(n); }, this);
    m_observers << center.addObserver(
        QString::fromLatin1(KTFrameLibraryImporter::kFinishedImportingFramesNotification), nullptr,
        [this](const platform::Notification &) {
            if (m_model)
                m_model->clearIcons();
            refreshLibraryViewKeepingSelection(true);
        },
        this);
    m_collectionView->setVlDelegate(this);
    Q_UNUSED(root);
}

bool KTLibraryViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_root.data()) {
        switch (event->type()) {
        case QEvent::Resize:
            viewFrameChanged();
            break;
        case QEvent::WindowActivate:
            refreshLibraryViewKeepingSelection(true);
            break;
        case QEvent::KeyPress: {
            auto *key = static_cast<QKeyEvent *>(event);
            if (handleKey(key->key(), key->text()))
                return true;
            break;
        }
        default:
            break;
        }
    }
    return XSViewController::eventFilter(watched, event);
}

void KTLibraryViewController::viewFrameChanged()
{
    if (!m_root)
        return;
    const int w = m_root->width();
    const int h = m_root->height();
    m_toolbarContainerView->setGeometry(0, 0, w, 62);
    if (QWidget *toolbar = m_toolbarViewController->view())
        toolbar->setGeometry(m_toolbarContainerView->rect());
    m_navigationBarView->setGeometry(6, 70, std::max(0, w - 12), 22);
    m_collectionView->setGeometry(0, kTopBand, w, std::max(0, h - kTopBand - kBottomBand));
    m_searchField->setGeometry(8, h - kBottomBand + 5, std::max(0, w - 16), 24);
    m_collectionView->doItemsLayout();
}

void KTLibraryViewController::activateViewController()
{
    view();
    if (m_root && m_collectionView)
        QWidget::setTabOrder(m_searchField, m_collectionView);
    refreshLibraryViewKeepingSelection(true);
}

void KTLibraryViewController::flagsChanged(const platform::Notification &notification)
{
    const auto *event = static_cast<const QKeyEvent *>(notification.sender);
    if (!event)
        return;
    // The Alt key's own press and release say it best; other keys carry it
    // in their modifiers.
    if (event->key() == Qt::Key_Alt)
        m_altKeyIsPressed = event->type() == QEvent::KeyPress;
    else
        m_altKeyIsPressed = event->modifiers() & Qt::AltModifier;
}

// --- states ---

void KTLibraryViewController::setLibraryState(quint32 state)
{
    if (state > RecentState) {
        platform::logLine(QStringLiteral("Wrong New Library State: %1").arg(state));
        return;
    }
    view();
    m_libraryState = state;
    if (m_searchField)
        m_searchField->clear();
    if (m_toolbarViewController->selectedIcon() != state)
        m_toolbarViewController->setSelectedIcon(state);
    switch (state) {
    case LibraryState:
        m_navigationBarView->setEnabledForMouse(true);
        m_navigationBarView->setVisible(true);
        m_collectionView->setSelectionMode(QAbstractItemView::SingleSelection);
        refreshLibraryViewKeepingSelection(true);
        break;
    case FavoritesState:
        m_navigationBarView->setEnabledForMouse(false);
        m_navigationBarView->setVisible(false);
        m_collectionView->setSelectionMode(QAbstractItemView::ExtendedSelection);
        refreshFavorites();
        break;
    default:
        m_navigationBarView->setEnabledForMouse(false);
        m_navigationBarView->setVisible(false);
        m_collectionView->setSelectionMode(QAbstractItemView::SingleSelection);
        refreshRecentContentApplying(nullptr);
        break;
    }
    emit libraryStateChanged();
}

void KTLibraryViewController::toggleView()
{
    setLibraryState((m_libraryState + 1) % 3);
}

void KTLibraryViewController::toolbarIconClickedNamed(quint64 index, const QString &)
{
    const quint32 state = index == 1 ? FavoritesState : index == 2 ? RecentState : LibraryState;
    if (state != m_libraryState || !m_root)
        setLibraryState(state);
}

void KTLibraryViewController::refreshLibraryViewKeepingSelection(bool)
{
    if (m_libraryState == RecentState) {
        refreshRecentContentApplying(nullptr);
    } else if (m_libraryState == FavoritesState) {
        refreshFavorites();
    } else if (!m_lastDisplayedObject) {
        displayCollections();
    } else if (auto *set = dynamic_cast<FrameSet *>(m_lastDisplayedObject)) {
        displayFramesInSet(set);
    } else {
        displaySetsInCollection(m_lastDisplayedObject);
    }
}

// --- levels ---

void KTLibraryViewController::displayCollections()
{
    m_lastDisplayedObject = nullptr;
    QList<KTLibraryEntry> entries;
    if (platform::ManagedObjectContext *moc = managedObjectContext()) {
        for (FrameCollection *c : VLBlocksAdditions::fetchAll<FrameCollection>(*moc, {}, m_sortByNameDescriptorsArray))
            entries << KTLibraryEntry(c);
        QObject *target = m_moreFramesTarget ? m_moreFramesTarget.data() : QCoreApplication::instance();
        entries << KTLibraryEntry(std::make_shared<KTButtonFrame>(tr(kMoreFramesName), target,
                                                                  QByteArray(kMoreFramesAction),
                                                                  QString::fromLatin1(kMoreFramesIconName)));
    }
    setContent(entries);
    if (!m_filteredContent.isEmpty())
        selectItemAtIndex(0);
}

void KTLibraryViewController::displaySetsInCollection(LibraryItem *collection)
{
    m_lastDisplayedObject = collection;
    QList<KTLibraryEntry> entries;
    platform::ManagedObjectContext *moc = managedObjectContext();
    if (moc && collection) {
        const auto sets = VLBlocksAdditions::fetchAll<FrameSet>(
            *moc,
            [collection] {
                return [collection](const platform::ManagedObject &o) {
                    return static_cast<const FrameSet &>(o).framecollection() == collection;
                };
            },
            m_sortByNameDescriptorsArray);
        for (FrameSet *set : sets)
            entries << KTLibraryEntry(set);
    }
    setContent(entries);
    if (!m_filteredContent.isEmpty())
        selectItemAtIndex(0);
}

void KTLibraryViewController::displayFramesInSet(FrameSet *set)
{
    m_lastDisplayedObject = set;
    QList<KTLibraryEntry> entries;
    platform::ManagedObjectContext *moc = managedObjectContext();
    if (moc && set) {
        const auto frames = VLBlocksAdditions::fetchAll<Frame>(
            *moc,
            [set] {
                return [set](const platform::ManagedObject &o) { return static_cast<const Frame &>(o).frameset() == set; };
            },
            m_sortByNameDescriptorsArray);
        for (Frame *frame : frames)
            entries << KTLibraryEntry(frame);
    }
    setContent(entries);
    if (!m_filteredContent.isEmpty())
        selectItemAtIndex(0);
}

void KTLibraryViewController::displaySetsInCollectionIndex(qsizetype index)
{
    if (index < 0 || index >= m_filteredContent.size())
        return;
    if (LibraryItem *item = m_filteredContent.at(index).collection())
        displaySetsInCollection(item);
}

void KTLibraryViewController::refreshFavorites()
{
    QList<KTLibraryEntry> entries;
    if (platform::ManagedObjectContext *moc = managedObjectContext()) {
        const auto frames = VLBlocksAdditions::fetchAll<Frame>(
            *moc,
            [] {
                return [](const platform::ManagedObject &o) {
                    return static_cast<const Frame &>(o).isFavorite().value_or(false);
                };
            },
            m_sortByNameDescriptorsArray);
        for (Frame *frame : frames)
            entries << KTLibraryEntry(frame);
    }
    setContent(entries);
}

void KTLibraryViewController::refreshRecentContentApplying(Frame *frame)
{
    const qsizetype i = frame ? m_content.indexOf(KTLibraryEntry(frame)) : -1;
    if (i >= 0) {
        QList<KTLibraryEntry> reordered = m_content;
        reordered.move(i, 0);
        setContent(reordered);
        selectItemAtIndex(0);
        return;
    }
    QList<KTLibraryEntry> entries;
    if (platform::ManagedObjectContext *moc = managedObjectContext()) {
        // Only frames someone put into a design; a frame never used has no date.
        const auto used = [] {
            return [](const platform::ManagedObject &o) { return static_cast<const Frame &>(o).lastUsed().isValid(); };
        };
        for (Frame *f : VLBlocksAdditions::fetchAll<Frame>(*moc, used, m_sortByLastUsedDescriptorsArray, kRecentLimit))
            entries << KTLibraryEntry(f);
    }
    setContent(entries);
}

// --- content, selection, search ---

void KTLibraryViewController::setContent(const QList<KTLibraryEntry> &content)
{
    m_content = content;
    refilter();
}

QString KTLibraryViewController::searchText() const
{
    return m_searchField ? m_searchField->text() : QString();
}

void KTLibraryViewController::setSearchText(const QString &text)
{
    view();
    m_searchField->setText(text);
    searchChanged();
}

void KTLibraryViewController::searchChanged()
{
    refilter();
}

void KTLibraryViewController::clearSearch()
{
    if (m_searchField)
        m_searchField->clear();
}

void KTLibraryViewController::refilter()
{
    const QString text = searchText();
    if (text.isEmpty()) {
        m_filteredContent = m_content;
    } else {
        m_filteredContent.clear();
        for (const KTLibraryEntry &entry : std::as_const(m_content)) {
            if (platform::TextMatching::containsCD(entry.name(), text))
                m_filteredContent << entry;
        }
    }
    if (m_model)
        m_model->setEntries(m_filteredContent);
}

QList<int> KTLibraryViewController::selectedIndexes() const
{
    QList<int> rows;
    if (!m_collectionView || !m_collectionView->selectionModel())
        return rows;
    for (const QModelIndex &index : m_collectionView->selectionModel()->selectedIndexes())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int KTLibraryViewController::selectedIndex() const
{
    const QList<int> rows = selectedIndexes();
    return rows.isEmpty() ? -1 : rows.first();
}

QList<KTLibraryEntry> KTLibraryViewController::selectedItems() const
{
    QList<KTLibraryEntry> items;
    for (int row : selectedIndexes()) {
        if (row < m_filteredContent.size())
            items << m_filteredContent.at(row);
    }
    return items;
}

KTLibraryEntry KTLibraryViewController::lastSelectedEntry() const
{
    const QList<KTLibraryEntry> items = selectedItems();
    return items.isEmpty() ? KTLibraryEntry() : items.last();
}

LibraryItem *KTLibraryViewController::lastSelectedItem() const
{
    return lastSelectedEntry().libraryItem();
}

qsizetype KTLibraryViewController::indexInFiltered(const LibraryItem *item) const
{
    for (qsizetype i = 0; i < m_filteredContent.size(); ++i) {
        if (item && m_filteredContent.at(i).libraryItem() == item)
            return i;
    }
    return -1;
}

void KTLibraryViewController::selectItemAtIndex(int index)
{
    if (!m_collectionView || index < 0 || index >= m_filteredContent.size())
        return;
    const QModelIndex modelIndex = m_model->index(index);
    m_collectionView->selectionModel()->clearSelection();
    m_collectionView->selectionModel()->select(modelIndex, QItemSelectionModel::Select);
    m_collectionView->selectionModel()->setCurrentIndex(modelIndex, QItemSelectionModel::NoUpdate);
    m_collectionView->scrollTo(modelIndex, QAbstractItemView::EnsureVisible);
    showDetailsOfSelection();
}

// --- navigation ---

void KTLibraryViewController::setBarComponent(quint64 component)
{
    if (m_navigationBarView)
        m_navigationBarView->setActiveComponent(qint64(component));
}

void KTLibraryViewController::selectedComponentInNavigationBarView(qint64 component, KTNavigationBarView *)
{
    if (m_libraryState != LibraryState)
        return;
    clearSearch();
    const quint64 a = m_navigationBarActiveComponent;
    const quint64 c = quint64(std::max<qint64>(component, 0));
    const QList<KTLibraryEntry> selected = selectedItems();
    if (c == CollectionsLevel) {
        displayCollections();
        if (m_currentSet) {
            const qsizetype i = indexInFiltered(m_currentSet->framecollection());
            if (i >= 0)
                selectItemAtIndex(int(i));
        }
    } else if (selected.isEmpty() && a < c) {
        setBarComponent(a);
    } else if (c == FramesLevel) {
        if (a == SetsLevel) {
            if (FrameSet *set = selected.isEmpty() ? nullptr : selected.first().frameSet()) {
                m_currentSet = set;
                displayFramesInSet(set);
            } else {
                setBarComponent(a);
            }
        } else if (a == CollectionsLevel) {
            if (m_currentSet)
                displayFramesInSet(m_currentSet);
            else
                setBarComponent(a);
        }
    } else { // sets
        if (a != CollectionsLevel) {
            if (m_currentSet)
                displaySetsInCollection(m_currentSet->framecollection());
        } else {
            const KTLibraryEntry first = selected.isEmpty() ? KTLibraryEntry() : selected.first();
            if (first.button() || !first.collection()) {
                setBarComponent(a);
                return;
            }
            displaySetsInCollection(first.collection());
        }
        if (m_currentSet) {
            const qsizetype i = indexInFiltered(m_currentSet);
            if (i >= 0)
                selectItemAtIndex(int(i));
        }
    }
    m_navigationBarActiveComponent = quint64(std::max<qint64>(m_navigationBarView ? m_navigationBarView->activeComponent() : 0, 0));
}

void KTLibraryViewController::moveToBeginningOfLine()
{
    if (m_libraryState != LibraryState)
        return;
    const quint64 a = m_navigationBarActiveComponent;
    const quint64 next = a == 0 ? 0 : a - 1;
    if (qint64(next) == m_navigationBarView->activeComponent()) {
        QApplication::beep();
        return;
    }
    setBarComponent(next);
    selectedComponentInNavigationBarView(qint64(next), m_navigationBarView);
}

void KTLibraryViewController::moveToEndOfLine()
{
    if (m_libraryState != LibraryState)
        return;
    const quint64 next = std::min<quint64>(m_navigationBarActiveComponent + 1, FramesLevel);
    if (qint64(next) == m_navigationBarView->activeComponent()) {
        QApplication::beep();
        return;
    }
    setBarComponent(next);
    selectedComponentInNavigationBarView(qint64(next), m_navigationBarView);
}

// --- double click, keys, picking ---

void KTLibraryViewController::collectionViewDidDoubleClickOnItemAtIndexPath(VLCollectionView *,
                                                                           const QModelIndex &indexPath)
{
    const int row = indexPath.row();
    if (row < 0 || row >= m_filteredContent.size())
        return;
    const KTLibraryEntry entry = m_filteredContent.at(row);
    if (KTButtonFrame *button = entry.button()) {
        button->sendAction();
        return;
    }
    if (m_libraryState == LibraryState && m_navigationBarActiveComponent != FramesLevel) {
        const quint64 next = m_navigationBarActiveComponent + 1;
        setBarComponent(next);
        selectedComponentInNavigationBarView(qint64(next), m_navigationBarView);
        return;
    }
    performItemSelection();
}

bool KTLibraryViewController::handleKey(int key, const QString &text)
{
    const bool activate = key == Qt::Key_Return || key == Qt::Key_Enter || text == QStringLiteral(" ");
    const bool remove = key == Qt::Key_Backspace || key == Qt::Key_Delete;
    if (activate) {
        const QList<int> rows = selectedIndexes();
        if (!rows.isEmpty() && m_collectionView)
            collectionViewDidDoubleClickOnItemAtIndexPath(m_collectionView, m_model->index(rows.first()));
        return true;
    }
    if (m_libraryState == FavoritesState) {
        if (remove)
            removeFromFavorites();
        return true; // every other key is dropped here
    }
    return false;
}

void KTLibraryViewController::performItemSelection()
{
    pickSelectedFrame(m_altKeyIsPressed);
}

void KTLibraryViewController::replaceOutermostFrame()
{
    pickSelectedFrame(true);
}

void KTLibraryViewController::pickSelectedFrame(bool replacingOutermost)
{
    Frame *frame = lastSelectedEntry().frame();
    const auto design = docTemplate();
    if (!frame || !design)
        return;
    if (!(replacingOutermost && design->topmostFrameLayer()) && !KTLayerLimit::roomForAnotherLayer(*design))
        return;
    const std::shared_ptr<KTFrameLayer> layer = KTFrameLayer::frameLayerFromFrame(
        frame, KTFrameLayer::NewLayerSettings::fromDefaults(platform::UserDefaults::standard()));
    if (!layer)
        return;

    QVariantMap properties;
    if (FrameSet *set = frame->frameset()) {
        if (FrameCollection *collection = set->framecollection(); collection && !collection->name().isNull())
            properties.insert(QStringLiteral("Collection"), collection->name());
        if (!set->name().isNull())
            properties.insert(QStringLiteral("Set"), set->name());
    }
    if (!frame->name().isNull())
        properties.insert(QStringLiteral("Frame"), frame->name());
    VLWAnalytics::trackEventProperties(QString::fromLatin1(kAddedLayerEvent), properties);

    KTLayersPaletteInterface *palette = layersPaletteController();
    // A frame replacing the outermost one is one step for Undo, not a removal
    // and an addition.
    QUndoStack *stack = nullptr;
    if (replacingOutermost) {
        const std::shared_ptr<KTFrameLayer> outermost = design->topmostFrameLayer();
        if (outermost) {
            layer->applySettingsFromLayer(*outermost);
            if (palette && palette->layersPaletteWidget()) {
                stack = palette->undoStack();
                if (stack)
                    stack->beginMacro(tr("Replace Layer"));
                palette->removeLayer(outermost.get());
            } else {
                design->removeLayer(outermost);
            }
        } else {
            // With no layer to take settings from, the shadow is off.
            layer->setDropShadow(false);
            layer->setShadowLength(0);
            layer->setShadowOffsetScaleFactor(0);
        }
    }
    design->addTopmostFrameLayer(layer);
    if (palette) {
        palette->addFrameLayer(layer);
        palette->selectLayer(layer.get());
        palette->layerWasAdded(layer);
    }
    if (stack)
        stack->endMacro();
    if (m_libraryState == RecentState)
        refreshRecentContentApplying(frame);
}

// --- favourites ---

void KTLibraryViewController::addToFavorites()
{
    if (Frame *frame = lastSelectedEntry().frame())
        frame->setIsFavorite(true);
}

void KTLibraryViewController::removeFromFavorites()
{
    for (const KTLibraryEntry &entry : selectedItems()) {
        Frame *frame = entry.frame();
        if (!frame)
            return;
        frame->setIsFavorite(false);
    }
    refreshFavorites();
}

void KTLibraryViewController::deleteSelection()
{
    if (m_libraryState == FavoritesState)
        removeFromFavorites();
}

bool KTLibraryViewController::validateDelete() const
{
    return m_libraryState == FavoritesState && !selectedIndexes().isEmpty();
}

// --- showing an item ---

void KTLibraryViewController::showAndSelectFrame(Frame *frame)
{
    showAndSelectItem(frame);
}

void KTLibraryViewController::showAndSelectItem(LibraryItem *item)
{
    view();
    if (m_libraryState != LibraryState)
        setLibraryState(LibraryState);
    quint64 level = CollectionsLevel;
    if (auto *frame = dynamic_cast<Frame *>(item)) {
        displayFramesInSet(frame->frameset());
        level = FramesLevel;
        m_currentSet = frame->frameset();
    } else if (auto *set = dynamic_cast<FrameSet *>(item)) {
        displaySetsInCollection(set->framecollection());
        level = SetsLevel;
        m_currentSet = set;
    } else {
        displayCollections();
        m_currentSet = nullptr;
    }
    m_navigationBarActiveComponent = level;
    const qsizetype i = indexInFiltered(item);
    if (i >= 0)
        selectItemAtIndex(int(i));
    setBarComponent(level);
}

void KTLibraryViewController::showSelectedFrameInLibrary()
{
    if (Frame *frame = lastSelectedEntry().frame())
        showAndSelectItem(frame);
}

void KTLibraryViewController::showInFrameEditor()
{
    LibraryItem *item = lastSelectedItem();
    QObject *app = m_moreFramesTarget ? m_moreFramesTarget.data() : QCoreApplication::instance();
    if (!item || !app || app->metaObject()->indexOfMethod("openFramesEditor()") < 0)
        return;
    QMetaObject::invokeMethod(app, "openFramesEditor");
    if (app->metaObject()->indexOfMethod("displayInFramesEditor(QString)") < 0)
        return;
    // On the next pass, once the editor's window is up; the item travels by
    // its URI, so one deleted meanwhile is simply not shown.
    QPointer<QObject> target(app);
    const QString uri = item->uriRepresentation();
    QMetaObject::invokeMethod(app, [target, uri] {
        if (target)
            QMetaObject::invokeMethod(target, "displayInFramesEditor", Q_ARG(QString, uri));
    }, Qt::QueuedConnection);
}

// --- context menu ---

QMenu *KTLibraryViewController::libraryPopUpMenu()
{
    delete m_libraryPopUpMenu;
    m_libraryPopUpMenu = new QMenu;
    auto add = [this](const QString &title, int tag, auto slot) {
        QAction *action = m_libraryPopUpMenu->addAction(title);
        action->setData(tag);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    QAction *addFavorite = add(tr("Add to Favorites"), AddToFavoritesTag, [this] { addToFavorites(); });
    QAction *removeFavorite = add(tr("Remove from Favorites"), RemoveFromFavoritesTag, [this] { removeFromFavorites(); });
    QAction *showInLibrary = add(tr("Show in Library"), OutsideLibraryTag, [this] { showSelectedFrameInLibrary(); });
    QAction *replace = add(tr(kReplaceOutermostFrameTitle), 0, [this] { replaceOutermostFrame(); });
    m_libraryPopUpMenu->addSeparator();
    add(tr("Show Details"), 0, [this] { showDetails(); });
    QAction *frameEditor = add(tr("Show in Frame Editor"), 0, [this] { showInFrameEditor(); });
    // Disabled until the application has a frame editor to show.
    QObject *app = m_moreFramesTarget ? m_moreFramesTarget.data() : QCoreApplication::instance();
    frameEditor->setEnabled(app && app->property("canOpenFramesEditor").toBool());

    addFavorite->setVisible(false);
    removeFavorite->setVisible(false);
    showInLibrary->setVisible(m_libraryState != LibraryState);
    Frame *picked = lastSelectedEntry().frame();
    replace->setVisible(picked);
    const auto design = docTemplate();
    replace->setEnabled(design && design->topmostFrameLayer());
    if (Frame *frame = picked) {
        if (m_libraryState == FavoritesState)
            removeFavorite->setVisible(true);
        else if (!frame->isFavorite().value_or(false))
            addFavorite->setVisible(true);
    }
    return m_libraryPopUpMenu;
}

std::optional<QMenu *> KTLibraryViewController::collectionViewMenuForSelectedItems(VLCollectionView *)
{
    return libraryPopUpMenu();
}

// --- details ---

void KTLibraryViewController::showDetails()
{
    if (!m_detailsPanel) {
        auto *panel = new QDialog(m_root, Qt::Tool);
        panel->setObjectName(QStringLiteral("detailsPanel"));
        panel->setWindowTitle(tr("Details"));
        auto *form = new QFormLayout(panel);
        m_detailsName = new QLabel(panel);
        m_detailsAuthor = new QLabel(panel);
        m_detailsURL = new QPushButton(panel);
        m_detailsURL->setFlat(true);
        connect(m_detailsURL, &QPushButton::clicked, this, [this] { detailsURLButtonClicked(); });
        m_detailsCatalogRef = new QLabel(panel);
        m_detailsDescription = new QLabel(panel);
        m_detailsDescription->setWordWrap(true);
        m_detailsLastModified = new QLabel(panel);
        form->addRow(tr("Name:"), m_detailsName);
        form->addRow(tr("Author:"), m_detailsAuthor);
        form->addRow(tr("Web:"), m_detailsURL);
        form->addRow(tr("Catalog:"), m_detailsCatalogRef);
        form->addRow(tr("Description:"), m_detailsDescription);
        form->addRow(tr("Modified:"), m_detailsLastModified);
        m_detailsPanel = panel;
    }
    m_detailsPanel->show();
    m_detailsPanel->raise();
    fillDetailsPanel();
}

void KTLibraryViewController::showDetailsOfSelection()
{
    if (m_detailsPanel && m_detailsPanel->isVisible())
        fillDetailsPanel();
}

void KTLibraryViewController::fillDetailsPanel()
{
    const QList<KTLibraryEntry> items = selectedItems();
    const KTLibraryEntry entry = items.isEmpty() ? KTLibraryEntry() : items.first();
    LibraryItem *item = entry.libraryItem();
    m_detailsName->setText(entry.name());
    m_detailsAuthor->setText(item ? item->author() : QString());
    m_detailsURL->setText(item ? item->url() : QString());
    m_detailsCatalogRef->setText(item ? item->catalogRef() : QString());
    m_detailsDescription->setText(item ? item->adescription() : QString());
    m_detailsLastModified->setText(item && item->lastModified().isValid()
                                       ? QLocale().toString(item->lastModified().toLocalTime(), QLocale::ShortFormat)
                                       : QString());
}

void KTLibraryViewController::detailsURLButtonClicked()
{
    LibraryItem *item = lastSelectedItem();
    const QString url = item ? item->url() : QString();
    if (!url.isEmpty())
        platform::openWithDesktop(QUrl(url));
}
