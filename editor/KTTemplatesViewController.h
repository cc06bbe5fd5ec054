#pragma once

#include "editor/KTDesignBrowserViewController.h"
#include "editor/KTKeywordsField.h"
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

namespace platform {
class ManagedObjectContext;
class UndoManager;
} // namespace platform

// The "TEMPLATES" panel: the user's saved designs, sorted by name, to apply,
// add, rename, tag, search, export and remove, with an undo stack of its own.
// Items are identified by their GUID throughout (many share a name).
class KTTemplatesViewController : public KTDesignBrowserViewController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "TemplatesView";
    enum SearchCategory { NameAndTags = 1, NameOnly = 2, TagsOnly = 3 };

    KTTemplatesViewController(const QString &nibName, platform::WindowController *windowController,
                              QObject *parent = nullptr);
    ~KTTemplatesViewController() override;

    // The templates context of the shared store unless one is set (tests).
    platform::ManagedObjectContext *templatesContext() const { return browserContext(); }
    void setTemplatesContext(platform::ManagedObjectContext *context);

    // --- the shell's calls ---
    void addVariation(const std::shared_ptr<KTTemplate> &design) override;
    void removeSelectedVariations() override;
    void showDesigns(const QStringList &guids) override;
    void activateViewController() override;

    void addTemplates(const QList<std::shared_ptr<KTTemplate>> &templates);
    void addTemplatesEditName(const QList<std::shared_ptr<KTTemplate>> &templates, bool editName,
                              const QList<QStringList> &tagNames = {});
    void removeVariations(const QList<Variation *> &variations);
    void removeVariationsWithGUIDs(const QStringList &guids);
    void renameTemplateWithGUID(const QString &guid, const QString &name);
    void applyTemplate() override;
    void saveSelectedTemplate();

    // --- the list ---
    void needToRefreshTemplates() { needToRefreshTemplatesSelecting({}); }
    // Several requests in one pass of the event loop make one refresh.
    void needToRefreshTemplatesSelecting(const QStringList &guids);
    void refreshTemplatesSelecting(const QStringList &guids);
    // The shown designs, in order; resolved from the context on each call.
    QList<Variation *> filteredContent() const;
    QStringList filteredGUIDs() const;
    QList<Variation *> selectedItems() const override;
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
    platform::UndoManager *undoManagerForFocus(const QWidget *focus) override;
    QLineEdit *searchField() const { return m_searchField; }
    KTKeywordsField *keywordsTokenField() const { return m_keywordsField; }
    QMenu *searchMenu() const { return m_searchMenu; }

    static void registerControllers();

protected:
    platform::ManagedObjectContext *sharedStoreContext() const override;
    QWidget *loadView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void templateNameChanged(const platform::Notification &notification);
    void updateFilteredContentSelecting(const QStringList &guids);
    void renameFromEditor(const QString &guid, const QString &name);
    void updateCompletions(const QString &text);
    QHash<QString, Variation *> variationsByGUID() const;
    void rememberSearch(const QString &text);

    QPointer<QLineEdit> m_searchField;
    QPointer<KTKeywordsField> m_keywordsField;
    QPointer<QMenu> m_searchMenu;
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
    platform::NotificationCenter::ObserverId m_renameObserver = 0;
};
