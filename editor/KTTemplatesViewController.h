#pragma once

#include "app/KTDesignBrowserInterface.h"
#include "editor/KTKeywordsField.h"
#include "kit/ui/VLCollectionView.h"
#include "kit/ui/VLCollectionViewDelegate.h"
#include "kit/ui/XSViewController.h"
#include "platform/NotificationCenter.h"

#include <QHash>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <memory>

class KTTemplate;
class QCompleter;
class QStringListModel;
class Tag;
class Variation;
class VLArrayListModel;

namespace platform {
class ManagedObjectContext;
class UndoManager;
} // namespace platform

// The "TEMPLATES" panel: the user's saved designs, sorted by name, to apply,
// add, rename, tag, search, export and remove, with an undo stack of its own.
// Items are identified by their GUID throughout (many share a name).
class KTTemplatesViewController : public XSViewController,
                                  public KTDesignBrowserInterface,
                                  public VLCollectionViewDelegate
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "TemplatesView";
    static constexpr const char *kCellIdentifier = "LibraryCellTemplate";
    enum SearchCategory { NameAndTags = 1, NameOnly = 2, TagsOnly = 3 };

    KTTemplatesViewController(const QString &nibName, platform::WindowController *windowController,
                              QObject *parent = nullptr);
    ~KTTemplatesViewController() override;

    // The templates context of the shared store unless one is set (tests).
    platform::ManagedObjectContext *templatesContext() const;
    void setTemplatesContext(platform::ManagedObjectContext *context);

    // --- the shell's calls ---
    void addVariation(const std::shared_ptr<KTTemplate> &design) override;
    void removeSelectedVariations() override;
    void emptyTemplates() override {}
    void activateViewController() override;

    void addTemplates(const QList<std::shared_ptr<KTTemplate>> &templates);
    void addTemplatesEditName(const QList<std::shared_ptr<KTTemplate>> &templates, bool editName,
                              const QList<QStringList> &tagNames = {});
    void removeVariations(const QList<Variation *> &variations);
    void removeVariationsWithGUIDs(const QStringList &guids);
    void renameTemplateWithGUID(const QString &guid, const QString &name);
    void applyTemplate();
    void saveSelectedTemplate();

    // --- the list ---
    void needToRefreshTemplates() { needToRefreshTemplatesSelecting({}); }
    // Several requests in one pass of the event loop make one refresh.
    void needToRefreshTemplatesSelecting(const QStringList &guids);
    void refreshTemplatesSelecting(const QStringList &guids);
    // The shown designs, in order; resolved from the context on each call.
    QList<Variation *> filteredContent() const;
    QStringList filteredGUIDs() const;
    QList<Variation *> selectedItems() const;
    QList<int> selectedIndexes() const;
    void selectItems(const QStringList &guids);
    int refreshCount() const { return m_refreshCount; }
    bool refreshPending() const { return m_refreshTimer.isActive(); }

    // --- search ---
    int searchCategoryTag() const { return m_searchCategoryTag; }
    void setSearchCategory(int tag);
    void searchTextChanged();
    QStringList recentSearches() const { return m_recentSearches; }

    // --- keywords ---
    void updateTagsField();
    void tokenFieldFinishedEditing();
    QStringList completionsForSubstring(const QString &substring) const;
    void removeKeywordFromTemplate(Tag *tag);
    void removeKeywordFromAllTemplates(Tag *tag);

    platform::UndoManager *undoManager();
    VLCollectionView *collectionView() const { return m_collectionView; }
    QLineEdit *searchField() const { return m_searchField; }
    KTKeywordsField *keywordsTokenField() const { return m_keywordsField; }
    QMenu *searchMenu() const { return m_searchMenu; }

    void collectionViewDidDoubleClickOnItemAtIndexPath(VLCollectionView *view, const QModelIndex &indexPath) override;
    std::optional<QMenu *> collectionViewMenuForSelectedItems(VLCollectionView *view) override;

    static void registerControllers();

signals:
    // A design went to the document (its GUID).
    void templateApplied(const QString &guid);

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void templateNameChanged(const platform::Notification &notification);
    void updateFilteredContentSelecting(const QStringList &guids);
    bool handleKey(QKeyEvent *event);
    void renameFromEditor(const QString &guid, const QString &name);
    void updateCompletions(const QString &text);
    QHash<QString, Variation *> variationsByGUID() const;
    QPixmap iconFor(const QString &guid) const;
    void rememberSearch(const QString &text);

    platform::ManagedObjectContext *m_context = nullptr;
    QPointer<VLCollectionView> m_collectionView;
    VLArrayListModel *m_model = nullptr;
    QPointer<QLineEdit> m_searchField;
    QPointer<KTKeywordsField> m_keywordsField;
    QPointer<QMenu> m_searchMenu;
    QPointer<QMenu> m_popupMenu;
    QCompleter *m_completer = nullptr;
    QStringListModel *m_completions = nullptr;
    platform::UndoManager *m_templatesUndoManager = nullptr;
    int m_searchCategoryTag = NameAndTags;
    QString m_searchText;
    QStringList m_recentSearches;
    QTimer m_refreshTimer;
    QStringList m_pendingSelection;
    int m_refreshCount = 0;
    bool m_ownRename = false;
    mutable QHash<QString, QPixmap> m_icons;
    platform::NotificationCenter::ObserverId m_renameObserver = 0;
    QMetaObject::Connection m_contextConnection;
};
