#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include "frameeditor/KTEOutlineView.h"
#include "frameeditor/KTFrameExporterWindowController.h"

class Frame;
class FrameType;
class KTEOutlineModel;
class KTEOutlineView;
class KTFEWindowInterface;
class LibraryItem;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPushButton;
class QToolButton;
class QWidget;

namespace platform {
class ManagedObjectContext;
}

// The left pane of the frame editor: the library as an outline of
// collections, sets and frames. It adds, renames, duplicates, moves (by
// dragging) and deletes library items straight in the frames context, so
// every change is undone through that context's undo manager; it keeps the
// selection within one parent and tells the window which item to show.
class KTEOutlineController : public QObject
{
    Q_OBJECT
public:
    // The add menu's items, by what they need selected.
    enum AddMenuTag { AddFrameTag = 1, AddSetTag = 2, DuplicateFrameTag = 11, DuplicateAsMaskTag = 12 };

    static constexpr const char *kAnalyticsEvent = "Frame Editor";
    static constexpr const char *kMaskAttribute = "Act as mask";
    static constexpr const char *kNoMaskMessage = "This frame type cannot be used as a mask";
    static constexpr const char *kNoMaskText = "Only some kind of frame types can be used as a mask";
    static constexpr const char *kUsedFrameMessage = "You are deleting a used frame";
    static constexpr const char *kUsedFrameText = "Frame \"%1\" is being used in a template.\nAre you sure you want to delete it?";
    static constexpr const char *kWholeSetMessage = "You are deleting a whole frame set";
    static constexpr const char *kWholeSetText =
        "Set \"%1\" contains %n frame(s).\nAre you sure you want to delete it?";
    static constexpr const char *kWholeCollectionMessage = "You are deleting a whole frame collection";
    static constexpr const char *kWholeCollectionText =
        "Collection \"%1\" contains %n set(s).\nAre you sure you want to delete it?";
    // The delete question's answers, in button order.
    enum DeleteAnswer { AnswerNo = 0, AnswerYes = 1, AnswerYesToAll = 2 };

    explicit KTEOutlineController(KTFEWindowInterface *window, QObject *parent = nullptr);
    ~KTEOutlineController() override;

    platform::ManagedObjectContext *managedObjectContext() const;
    KTEOutlineModel *model() const { return m_model; }
    // The pane: search field, outline and the buttons below it.
    QWidget *view();
    KTEOutlineView *outlineView();
    QLineEdit *framesSearchField();
    QMenu *addMenu();
    QPushButton *exportButton();
    // The export sheet while it is open.
    KTFrameExporterWindowController *exporterWindowController() const { return m_exporterWindowController; }

    void clearSortedCache();
    void refreshOutlineView();
    void reloadFromDB();
    // Selects exactly the item's row; an item without a row leaves the
    // selection as it is.
    void selectItem(LibraryItem *item);
    void selectItems(const QList<LibraryItem *> &items);
    void editItem(LibraryItem *item);
    // In row order.
    QList<LibraryItem *> selectedItems() const;
    // The item of the selected row (the current one when several are).
    LibraryItem *selectedItem() const;
    void expandItem(LibraryItem *item, bool children = false);
    void collapseAll();
    bool isItemExpanded(LibraryItem *item) const;

    // A rename from the outline; spaces and tabs alone keep the old name.
    bool renameItem(LibraryItem *item, const QString &name);
    // After a rename anywhere: re-sorts the item among its siblings.
    void changedNameFor(LibraryItem *item);
    void handleOutlineViewSelectionChange();

    void addCollection();
    void addSet();
    void addFrame();
    void duplicateFrame();
    void duplicateAsMask();
    void deleteFromOutlineView();
    void frameSearchFieldChanged();
    void shareButtonPressedInFrameEditor();
    void menuNeedsUpdate();

    bool checkIfFrameIsUsedByTemplates(Frame *frame) const;

private:
    void buildView();
    void updateButtons();
    FrameType *typeForNewFrame() const;
    // Reloads and shows `item`'s parent expanded, with the item selected.
    void showInsertedItem(LibraryItem *item);
    QList<QModelIndex> visibleIndexes() const;
    QList<LibraryItem *> expandedItems() const;

    KTFEWindowInterface *m_window;
    KTEOutlineModel *m_model;
    QPointer<QWidget> m_view;
    QPointer<KTEOutlineView> m_outlineView;
    QPointer<QLineEdit> m_searchField;
    QPointer<QToolButton> m_addButton;
    QPointer<QMenu> m_addMenu;
    QPointer<QPushButton> m_deleteButton;
    QPointer<QPushButton> m_exportButton;
    QPointer<KTFrameExporterWindowController> m_exporterWindowController;
    bool m_handlingSelection = false;
};
