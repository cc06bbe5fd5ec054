#include "editor/KTTemplatesViewController.h"

#include "app/KTControllerRegistry.h"
#include "design/KTTemplate.h"
#include "design/KTTemplatePackage.h"
#include "design/Tag.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "design/ui/KTTemplateSaving.h"
#include "editor/KTVariationsViewController.h"
#include "kit/GRKArrayDiff.h"
#include "kit/VLArrayListModel.h"
#include "kit/VLBlocks.h"
#include "kit/VLWAnalytics.h"
#include "kit/ui/VLCollectionView.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/TextMatching.h"
#include "platform/objectstore/UndoManager.h"
#include "stores/LibraryStore.h"

#include <QAbstractItemView>
#include <QActionGroup>
#include <QCompleter>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <QStringListModel>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

using platform::ManagedObjectContext;
using platform::TextMatching::containsCD;

namespace {

constexpr int kMaximumRecentSearches = 10;

// The list's model: maps of "guid" and "name"; the name is edited in place.
class TemplatesListModel : public VLArrayListModel
{
public:
    using VLArrayListModel::VLArrayListModel;
    std::function<void(const QString &guid, const QString &name)> renamed;
    std::function<QPixmap(const QString &guid)> icon;

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        Qt::ItemFlags f = VLArrayListModel::flags(index);
        return index.isValid() ? f | Qt::ItemIsEditable : f;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::DecorationRole && icon && index.isValid())
            return icon(items().value(index.row()).toMap().value(QStringLiteral("guid")).toString());
        if (role == Qt::EditRole)
            return VLArrayListModel::data(index, Qt::DisplayRole);
        return VLArrayListModel::data(index, role);
    }
    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        if (role != Qt::EditRole || !index.isValid() || !renamed)
            return false;
        renamed(items().value(index.row()).toMap().value(QStringLiteral("guid")).toString(), value.toString());
        return true;
    }
};

// A magnifier with a small triangle: the search field's menu of categories.
QIcon searchMenuIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(200, 200, 200), 2.5));
    painter.drawEllipse(QRectF(4, 5, 13, 13));
    painter.drawLine(QPointF(15.5, 16.5), QPointF(21, 22));
    QPainterPath triangle;
    triangle.moveTo(22, 9);
    triangle.lineTo(30, 9);
    triangle.lineTo(26, 14);
    triangle.closeSubpath();
    painter.fillPath(triangle, QColor(200, 200, 200));
    return QIcon(pixmap);
}

QStringList tagNamesOf(const Variation *variation)
{
    QStringList names;
    for (const Tag *tag : variation->tags())
        names << tag->name();
    return names;
}

void deleteTagIfUnused(Tag *tag, ManagedObjectContext *context)
{
    if (tag && !tag->isDeleted() && tag->variations().isEmpty())
        context->deleteObject(tag);
}

} // namespace

KTTemplatesViewController::KTTemplatesViewController(const QString &nibName,
                                                     platform::WindowController *windowController, QObject *parent)
    : KTDesignBrowserViewController(nibName, windowController, parent)
{
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(0);
    connect(&m_refreshTimer, &QTimer::timeout, this, [this] {
        const QStringList selection = m_pendingSelection;
        m_pendingSelection.clear();
        refreshTemplatesSelecting(selection);
    });
    m_renameObserver = platform::NotificationCenter::defaultCenter().addObserver(
        QString::fromLatin1(Variation::kVariationNameChangedNotification), nullptr,
        [this](const platform::Notification &n) { templateNameChanged(n); }, this);
}

KTTemplatesViewController::~KTTemplatesViewController()
{
    platform::NotificationCenter::defaultCenter().removeObserver(m_renameObserver);
    // The view goes with the base class, after this part of the object: a
    // field losing the focus then must no longer reach it.
    QList<QObject *> fields = {m_searchField.data(), m_keywordsField.data(), m_completer};
    if (m_keywordsField)
        fields.append(m_keywordsField->editor());
    for (QObject *field : std::as_const(fields)) {
        if (field)
            field->disconnect(this);
    }
}

ManagedObjectContext *KTTemplatesViewController::sharedStoreContext() const
{
    return TemplatesStore::shared() ? TemplatesStore::shared()->templatesManagedObjectContext() : nullptr;
}

void KTTemplatesViewController::setTemplatesContext(ManagedObjectContext *context)
{
    followContext(context, [this] { needToRefreshTemplates(); });
}

platform::UndoManager *KTTemplatesViewController::undoManager()
{
    if (!m_templatesUndoManager)
        m_templatesUndoManager = new platform::UndoManager(this);
    return m_templatesUndoManager;
}

// --- view ---

QWidget *KTTemplatesViewController::loadView()
{
    auto *root = new QWidget;
    root->setObjectName(nibName());
    root->setFocusPolicy(Qt::StrongFocus);
    auto *column = new QVBoxLayout(root);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(6);

    m_searchField = new QLineEdit(root);
    m_searchField->setObjectName(QStringLiteral("searchField"));
    m_searchField->setPlaceholderText(tr("Search"));
    m_searchField->setClearButtonEnabled(true);
    m_searchMenu = new QMenu(m_searchField);
    m_searchMenu->setObjectName(QStringLiteral("searchMenu"));
    auto *categories = new QActionGroup(m_searchMenu);
    const std::pair<const char *, int> titles[] = {
        {"Name and tags", NameAndTags}, {"Name only", NameOnly}, {"Tags only", TagsOnly}};
    for (const auto &[title, tag] : titles) {
        QAction *action = m_searchMenu->addAction(tr(title));
        action->setCheckable(true);
        action->setChecked(tag == m_searchCategoryTag);
        action->setData(tag);
        categories->addAction(action);
        connect(action, &QAction::triggered, this, [this, tag = tag] { setSearchCategory(tag); });
    }
    QAction *menuAction = m_searchField->addAction(searchMenuIcon(), QLineEdit::LeadingPosition);
    menuAction->setToolTip(tr("Search in"));
    menuAction->setObjectName(QStringLiteral("searchCategoryAction"));
    connect(menuAction, &QAction::triggered, this, [this] {
        // The recent searches follow the categories, as the search menu lists them.
        const QList<QAction *> old = m_searchMenu->actions();
        for (QAction *a : old) {
            if (a->property("recent").toBool())
                delete a;
        }
        auto mark = [](QAction *a) { a->setProperty("recent", true); return a; };
        mark(m_searchMenu->addSeparator());
        mark(m_searchMenu->addAction(tr("Recent Searches")))->setEnabled(false);
        for (const QString &text : std::as_const(m_recentSearches))
            connect(mark(m_searchMenu->addAction(text)), &QAction::triggered, this, [this, text] {
                m_searchField->setText(text);
                searchTextChanged();
            });
        mark(m_searchMenu->addSeparator());
        QAction *clear = mark(m_searchMenu->addAction(tr("Clear recent searches")));
        clear->setEnabled(!m_recentSearches.isEmpty());
        connect(clear, &QAction::triggered, this, [this] { m_recentSearches.clear(); });
        m_searchMenu->popup(m_searchField->mapToGlobal(QPoint(0, m_searchField->height())));
    });
    connect(m_searchField, &QLineEdit::textChanged, this, [this] { searchTextChanged(); });
    connect(m_searchField, &QLineEdit::editingFinished, this, [this] { rememberSearch(m_searchField->text()); });
    column->addWidget(m_searchField);

    auto *model = new TemplatesListModel(this);
    model->renamed = [this](const QString &guid, const QString &name) { renameFromEditor(guid, name); };
    model->icon = [this](const QString &guid) { return iconFor(guid); };
    column->addWidget(createCollectionView(root, model, true,
                                           QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed),
                      1);

    auto *keywordsTitle = new QLabel(tr("Keywords"), root);
    column->addWidget(keywordsTitle);
    m_keywordsField = new KTKeywordsField(root);
    QLineEdit *typing = m_keywordsField->editor();
    typing->setPlaceholderText(tr("Add keywords"));
    m_completions = new QStringListModel(this);
    m_completer = new QCompleter(m_completions, this);
    m_completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    m_completer->setWidget(typing);
    connect(m_completer, qOverload<const QString &>(&QCompleter::activated), this, [this](const QString &name) {
        m_keywordsField->editor()->clear();
        m_keywordsField->commit(name);
    });
    connect(typing, &QLineEdit::textEdited, this, [this](const QString &text) { updateCompletions(text); });
    connect(m_keywordsField, &KTKeywordsField::editingFinished, this, [this] { tokenFieldFinishedEditing(); });
    // Each keyword's menu: off this design, or off every design.
    connect(m_keywordsField, &KTKeywordsField::chipMenuRequested, this, [this](const QString &name, const QPoint &at) {
        if (selectedItems().size() != 1 || m_keywordsField->isReadOnly())
            return;
        auto *menu = new QMenu(m_keywordsField);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        auto find = [this, name] { return Tag::tagWithName(name, templatesContext()); };
        menu->addAction(tr("Remove keyword %1").arg(name), this, [this, find] { removeKeywordFromTemplate(find()); });
        menu->addAction(tr("Remove keyword %1 from all templates").arg(name), this,
                        [this, find] { removeKeywordFromAllTemplates(find()); });
        menu->popup(at);
    });
    column->addWidget(m_keywordsField);

    createPopupMenu(root, tr("Export Template…"), [this] { saveSelectedTemplate(); });

    root->installEventFilter(this);
    return root;
}

void KTTemplatesViewController::viewDidLoad()
{
    connect(m_collectionView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { updateTagsField(); });
    if (!m_contextConnection)
        setTemplatesContext(m_context);
    updateTagsField();
}

void KTTemplatesViewController::activateViewController()
{
    view();
    needToRefreshTemplates();
}

// --- refresh ---

void KTTemplatesViewController::needToRefreshTemplatesSelecting(const QStringList &guids)
{
    // A bare request (the store's own change notice) keeps a selection asked
    // for earlier in the same pass.
    if (!guids.isEmpty() || !m_refreshTimer.isActive())
        m_pendingSelection = guids;
    m_refreshTimer.start();
}

void KTTemplatesViewController::refreshTemplatesSelecting(const QStringList &guids)
{
    m_refreshTimer.stop();
    ++m_refreshCount;
    updateFilteredContentSelecting(guids);
}

void KTTemplatesViewController::updateFilteredContentSelecting(const QStringList &guids)
{
    view();
    QStringList toSelect = guids;
    if (toSelect.isEmpty()) {
        for (const Variation *v : selectedItems())
            toSelect << v->guid();
    }

    QVariantList items;
    if (ManagedObjectContext *moc = templatesContext()) {
        const QString text = m_searchText;
        const int category = m_searchCategoryTag;
        platform::Predicate predicate;
        if (!text.isEmpty()) {
            predicate = [text, category](const platform::ManagedObject &object) {
                const auto &v = static_cast<const Variation &>(object);
                const bool byName = category != TagsOnly && containsCD(v.name(), text);
                if (byName || category == NameOnly)
                    return byName;
                const QStringList tags = tagNamesOf(&v);
                return std::any_of(tags.begin(), tags.end(), [&](const QString &t) { return containsCD(t, text); });
            };
        }
        const QList<Variation *> found = moc->fetchObjects<Variation>(
            predicate, {platform::SortDescriptor(QStringLiteral("name"), true, true)});
        for (const Variation *v : found)
            items << QVariantMap{{QStringLiteral("guid"), v->guid()}, {QStringLiteral("name"), v->name()}};
    }

    const GRKArrayDiff diff(
        m_model->items(), items, [](const QVariant &item) { return item.toMap().value(QStringLiteral("guid")).toString(); },
        [](const QVariant &previous, const QVariant &current) {
            return previous.toMap().value(QStringLiteral("name")) != current.toMap().value(QStringLiteral("name"));
        });
    diff.updateCollectionView(*m_model, 0);
    selectItems(toSelect);
}

QHash<QString, Variation *> KTTemplatesViewController::variationsByGUID() const
{
    QHash<QString, Variation *> byGUID;
    if (ManagedObjectContext *moc = templatesContext()) {
        for (Variation *v : moc->fetchObjects<Variation>())
            byGUID.insert(v->guid(), v);
    }
    return byGUID;
}

QStringList KTTemplatesViewController::filteredGUIDs() const
{
    QStringList guids;
    if (m_model) {
        for (const QVariant &item : m_model->items())
            guids << item.toMap().value(QStringLiteral("guid")).toString();
    }
    return guids;
}

QList<Variation *> KTTemplatesViewController::filteredContent() const
{
    const QHash<QString, Variation *> byGUID = variationsByGUID();
    QList<Variation *> out;
    for (const QString &guid : filteredGUIDs()) {
        if (Variation *v = byGUID.value(guid))
            out << v;
    }
    return out;
}

QList<Variation *> KTTemplatesViewController::selectedItems() const
{
    const QHash<QString, Variation *> byGUID = variationsByGUID();
    const QStringList guids = filteredGUIDs();
    QList<Variation *> out;
    for (int row : selectedIndexes()) {
        if (Variation *v = byGUID.value(guids.value(row)))
            out << v;
    }
    return out;
}

void KTTemplatesViewController::selectItems(const QStringList &guids)
{
    if (!m_collectionView)
        return;
    const QStringList shown = filteredGUIDs();
    QItemSelection selection;
    QModelIndex last;
    for (const QString &guid : guids) {
        const int row = int(shown.indexOf(guid));
        if (row < 0)
            continue;
        last = m_model->index(row);
        selection.select(last, last);
    }
    m_collectionView->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (last.isValid()) {
        m_collectionView->selectionModel()->setCurrentIndex(last, QItemSelectionModel::NoUpdate);
        m_collectionView->scrollTo(last);
    }
}

// --- adding, removing, renaming ---

void KTTemplatesViewController::addVariation(const std::shared_ptr<KTTemplate> &design)
{
    if (!design)
        return;
    addTemplatesEditName({design}, true);
    VLWAnalytics::trackEventProperties(QStringLiteral("Templates"), QVariantMap{{QStringLiteral("Action"), QStringLiteral("Created")}});
}

void KTTemplatesViewController::addTemplates(const QList<std::shared_ptr<KTTemplate>> &templates)
{
    addTemplatesEditName(templates, false);
}

void KTTemplatesViewController::addTemplatesEditName(const QList<std::shared_ptr<KTTemplate>> &templates,
                                                     bool editName, const QList<QStringList> &tagNames)
{
    ManagedObjectContext *moc = templatesContext();
    if (!moc)
        return;
    QStringList guids;
    for (qsizetype i = 0; i < templates.size(); ++i) {
        KTTemplate *design = templates.at(i).get();
        if (!design)
            continue;
        // A design whose GUID is stored already (the same variation saved
        // twice, the document after applying a design) is kept as a copy.
        const QString carried = design->variationGUID();
        const bool taken = !carried.isEmpty() && Variation::variationWithGUID(carried, moc);
        if (taken)
            design->setVariationGUID(NSObjectVLGUID::getGUID());
        Variation *variation = KTTemplatePackage::variationFromTemplate(design, moc);
        if (taken)
            design->setVariationGUID(carried);
        for (const QString &name : tagNames.value(i)) {
            Tag *tag = Tag::tagWithName(name, moc);
            if (!tag) {
                tag = moc->insert<Tag>();
                tag->setName(name);
            }
            variation->addTagsObject(tag);
        }
        guids << variation->guid();
    }
    if (guids.isEmpty())
        return;
    moc->save(); // a failure leaves the designs in memory, saved on quit

    platform::UndoManager *undo = undoManager();
    QPointer<KTTemplatesViewController> self(this);
    undo->registerUndo([self, guids] {
        if (self)
            self->removeVariationsWithGUIDs(guids);
    });
    if (!undo->isUndoing() && !undo->isRedoing())
        undo->setActionName(guids.size() == 1 ? tr("Add Template") : tr("Add Templates"));

    if (m_searchField)
        m_searchField->clear();
    m_searchText.clear();
    refreshTemplatesSelecting(guids);

    if (editName && !undo->isUndoing() && !undo->isRedoing()) {
        QTimer::singleShot(300, this, [this] {
            if (m_searchField)
                m_searchField->clear();
            const QList<int> rows = selectedIndexes();
            if (!rows.isEmpty() && m_collectionView) {
                const QModelIndex index = m_model->index(rows.first());
                m_collectionView->setCurrentIndex(index);
                m_collectionView->edit(index);
            }
        });
    }
}

void KTTemplatesViewController::showDesigns(const QStringList &guids)
{
    // A search could hide them.
    if (m_searchField)
        m_searchField->clear();
    m_searchText.clear();
    refreshTemplatesSelecting(guids);
}

void KTTemplatesViewController::removeSelectedVariations()
{
    const QList<Variation *> selected = selectedItems();
    if (!selected.isEmpty())
        removeVariations(selected);
}

void KTTemplatesViewController::removeVariations(const QList<Variation *> &variations)
{
    ManagedObjectContext *moc = templatesContext();
    if (!moc || variations.isEmpty())
        return;
    QList<std::shared_ptr<KTTemplate>> templates;
    QList<QStringList> tags;
    for (const Variation *v : variations) {
        if (auto design = KTTemplate::templateFromVariation(v, LibraryStore::sharedContext())) {
            templates << design;
            tags << tagNamesOf(v);
        }
    }
    platform::UndoManager *undo = undoManager();
    QPointer<KTTemplatesViewController> self(this);
    undo->registerUndo([self, templates, tags] {
        if (self)
            self->addTemplatesEditName(templates, false, tags);
    });
    if (!undo->isUndoing() && !undo->isRedoing())
        undo->setActionName(variations.size() == 1 ? tr("Remove Template") : tr("Remove Templates"));
    for (Variation *v : variations) {
        const QList<Tag *> oldTags = v->tags();
        m_icons.remove(v->guid());
        moc->deleteObject(v);
        for (Tag *tag : oldTags)
            deleteTagIfUnused(tag, moc);
    }
    needToRefreshTemplates();
}

void KTTemplatesViewController::removeVariationsWithGUIDs(const QStringList &guids)
{
    QList<Variation *> found;
    for (const QString &guid : guids) {
        if (Variation *v = Variation::variationWithGUID(guid, templatesContext()))
            found << v;
    }
    removeVariations(found);
}

void KTTemplatesViewController::renameFromEditor(const QString &guid, const QString &name)
{
    Variation *v = Variation::variationWithGUID(guid, templatesContext());
    if (!v || name.isEmpty() || name == v->name())
        return;
    m_ownRename = true;
    v->setName(name);
    m_ownRename = false;
}

void KTTemplatesViewController::renameTemplateWithGUID(const QString &guid, const QString &name)
{
    Variation *v = Variation::variationWithGUID(guid, templatesContext());
    if (!v)
        return;
    m_ownRename = true;
    v->setName(name);
    m_ownRename = false;
}

void KTTemplatesViewController::templateNameChanged(const platform::Notification &notification)
{
    const auto *v = static_cast<const Variation *>(notification.sender);
    if (!v || v->managedObjectContext() != templatesContext())
        return;
    // Only this browser's own renames (the name field, its undo and redo)
    // go on its undo stack; other windows' browsers just show the new name.
    if (m_ownRename) {
        const QString guid = v->guid();
        const QString oldName = notification.userInfo.value_or(QVariantMap())
                                    .value(QString::fromLatin1(Variation::kOldNameKey))
                                    .toString();
        platform::UndoManager *undo = undoManager();
        QPointer<KTTemplatesViewController> self(this);
        undo->registerUndo([self, guid, oldName] {
            if (self)
                self->renameTemplateWithGUID(guid, oldName);
        });
        if (!undo->isUndoing() && !undo->isRedoing())
            undo->setActionName(tr("Rename Template"));
    }
    needToRefreshTemplatesSelecting({v->guid()});
}

// --- applying and exporting ---

void KTTemplatesViewController::applyTemplate()
{
    applySelection(QStringLiteral("Templates"));
}

void KTTemplatesViewController::saveSelectedTemplate()
{
    const QList<Variation *> selected = selectedItems();
    if (selected.isEmpty())
        return;
    const std::shared_ptr<KTTemplate> design =
        KTTemplate::templateFromVariation(selected.first(), LibraryStore::sharedContext());
    if (!design)
        return;
    QStringList names = tagNamesOf(selected.first());
    names.removeDuplicates();
    KTTemplateSaving::saveToDiskWithWindow(*design, view() ? view()->window() : nullptr, names, false);
}

// --- search ---

void KTTemplatesViewController::setSearchCategory(int tag)
{
    m_searchCategoryTag = tag;
    if (m_searchMenu) {
        for (QAction *a : m_searchMenu->actions()) {
            if (a->isCheckable())
                a->setChecked(a->data().toInt() == tag);
        }
    }
    searchTextChanged();
}

void KTTemplatesViewController::searchTextChanged()
{
    m_searchText = m_searchField ? m_searchField->text() : QString();
    if (!m_searchText.isEmpty())
        VLWAnalytics::trackEventProperties(QStringLiteral("Templates"),
                                           QVariantMap{{QStringLiteral("Action"), QStringLiteral("Search")},
                                                       {QStringLiteral("Search Category"), QString::number(m_searchCategoryTag)}});
    needToRefreshTemplates();
}

void KTTemplatesViewController::rememberSearch(const QString &text)
{
    if (text.isEmpty())
        return;
    m_recentSearches.removeAll(text);
    m_recentSearches.prepend(text);
    while (m_recentSearches.size() > kMaximumRecentSearches)
        m_recentSearches.removeLast();
}

// --- keywords ---

void KTTemplatesViewController::updateTagsField()
{
    if (!m_keywordsField)
        return;
    const QList<Variation *> selected = selectedItems();
    QStringList names;
    if (selected.size() < 2) {
        if (!selected.isEmpty())
            names = tagNamesOf(selected.last());
    } else {
        for (const Variation *v : selected) {
            for (const QString &name : tagNamesOf(v)) {
                if (!names.contains(name))
                    names << name;
            }
        }
    }
    m_keywordsField->setReadOnly(selected.size() >= 2 || selected.isEmpty());
    m_keywordsField->setKeywords(names);
}

void KTTemplatesViewController::tokenFieldFinishedEditing()
{
    ManagedObjectContext *moc = templatesContext();
    if (!moc || !m_keywordsField || m_keywordsField->isReadOnly())
        return;
    const QList<Variation *> selected = selectedItems();
    if (selected.isEmpty())
        return;
    const QStringList names = m_keywordsField->keywords();
    // Tags are made only now, so a keyword typed and removed again before
    // the edit ends leaves nothing behind.
    QList<Tag *> tokens;
    for (const QString &name : names) {
        Tag *tag = Tag::tagWithName(name, moc);
        if (!tag) {
            tag = moc->insert<Tag>();
            tag->setName(name);
        }
        tokens << tag;
    }
    QSet<Tag *> oldTags;
    for (Variation *v : selected) {
        for (Tag *tag : v->tags()) {
            oldTags.insert(tag);
            if (!tokens.contains(tag))
                v->removeTagsObject(tag);
        }
        for (Tag *tag : std::as_const(tokens))
            v->addTagsObject(tag);
    }
    for (Tag *tag : std::as_const(oldTags))
        deleteTagIfUnused(tag, moc);
    moc->processPendingChanges();
}

QStringList KTTemplatesViewController::completionsForSubstring(const QString &substring) const
{
    QStringList names;
    if (ManagedObjectContext *moc = templatesContext()) {
        for (const Tag *tag : moc->fetchObjects<Tag>()) {
            if (platform::TextMatching::beginsWithCD(tag->name(), substring) && !names.contains(tag->name()))
                names << tag->name();
        }
    }
    return names;
}

void KTTemplatesViewController::updateCompletions(const QString &text)
{
    const QString typed = text.trimmed();
    if (typed.isEmpty()) {
        m_completer->popup()->hide();
        return;
    }
    QStringList names = completionsForSubstring(typed);
    const QStringList present = m_keywordsField->keywords();
    names.erase(std::remove_if(names.begin(), names.end(), [&](const QString &n) { return present.contains(n); }),
                names.end());
    m_completions->setStringList(names);
    if (names.isEmpty())
        m_completer->popup()->hide();
    else
        m_completer->complete();
}

void KTTemplatesViewController::removeKeywordFromTemplate(Tag *tag)
{
    ManagedObjectContext *moc = templatesContext();
    const QList<Variation *> selected = selectedItems();
    if (!moc || !tag || selected.isEmpty())
        return;
    selected.last()->removeTagsObject(tag);
    deleteTagIfUnused(tag, moc);
    moc->processPendingChanges();
    updateTagsField();
}

void KTTemplatesViewController::removeKeywordFromAllTemplates(Tag *tag)
{
    ManagedObjectContext *moc = templatesContext();
    if (!moc || !tag)
        return;
    moc->deleteObject(tag);
    moc->processPendingChanges();
    updateTagsField();
}

platform::UndoManager *KTTemplatesViewController::undoManagerForFocus(const QWidget *focus)
{
    return focus && (focus == m_collectionView.data() || focus == view()) ? undoManager() : nullptr;
}

// --- events ---

bool KTTemplatesViewController::eventFilter(QObject *watched, QEvent *event)
{
    const bool ours = watched == m_collectionView.data() || watched == view();
    if (ours && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        auto *key = static_cast<QKeyEvent *>(event);
        // The browser's own undo stack, ahead of the document's shortcut;
        // with nothing of its own to undo, the key undoes the document (a
        // design just applied from this list, as the Edit menu says).
        const bool isUndo = key->matches(QKeySequence::Undo) && undoManager()->canUndo();
        const bool isRedo = key->matches(QKeySequence::Redo) && undoManager()->canRedo();
        if (isUndo || isRedo) {
            event->accept();
            if (event->type() == QEvent::KeyPress) {
                if (isUndo)
                    undoManager()->undo();
                else
                    undoManager()->redo();
            }
            return true;
        }
        // Keys typed into the search or keyword field stay there.
        const bool fromList = watched == m_collectionView.data() || view()->hasFocus();
        if (event->type() == QEvent::KeyPress && fromList && handleForwardedKey(key))
            return true;
    }
    return KTDesignBrowserViewController::eventFilter(watched, event);
}

void KTTemplatesViewController::registerControllers()
{
    KTControllerRegistry::registerClass(
        QStringLiteral("KTTemplatesViewController"),
        [](const QString &nib, platform::WindowController *window, QObject *parent) -> XSViewController * {
            return new KTTemplatesViewController(nib, window, parent);
        });
    KTControllerRegistry::registerClass(
        QStringLiteral("KTVariationsViewController"),
        [](const QString &nib, platform::WindowController *window, QObject *parent) -> XSViewController * {
            return new KTVariationsViewController(nib, window, parent);
        });
}
