#pragma once

#include "app/KTLibraryPanelInterface.h"
#include "kit/ui/VLCollectionView.h"
#include "library/KTNavigationBarView.h"
#include "app/KTToolbarViewControllerProtocol.h"
#include "kit/ui/VLCollectionViewDelegate.h"
#include "kit/ui/XSViewController.h"
#include "library/KTLibraryEntry.h"
#include "library/KTNavigationBarViewProtocol.h"
#include "platform/NotificationCenter.h"
#include "platform/objectstore/FetchRequest.h"

#include <QDialog>
#include <QItemSelection>
#include <QPointer>

#include <memory>

class Frame;
class FrameSet;
class KTLayersPaletteInterface;
class KTLibraryContentModel;
class KTNavigationBarView;
class KTTemplate;
class KTToolbarViewController;
class LibraryItem;
class QDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class VLCollectionView;

namespace platform {
class ManagedObjectContext;
}

// The library panel: browses the frame library from collections to sets to
// frames (with the navigation bar), the favourite frames and the recently
// used ones, searches the shown level by name, and puts a picked frame into
// the document's design as its topmost frame layer.
class KTLibraryViewController : public XSViewController,
                               public KTLibraryPanelInterface,
                               public KTNavigationBarViewProtocol,
                               public KTToolbarViewControllerProtocol,
                               public VLCollectionViewDelegate
{
    Q_OBJECT
    Q_PROPERTY(quint32 libraryState READ libraryStateValue WRITE setLibraryState NOTIFY libraryStateChanged)

public:
    static constexpr const char *kNibName = "LibraryView";
    static constexpr const char *kCellIdentifier = "LibraryCell";
    static constexpr const char *kMoreFramesName = "More frames";
    static constexpr const char *kMoreFramesAction = "openFramePacksPage";
    static constexpr const char *kMoreFramesIconName = "GetMoreFrames";
    static constexpr const char *kAddedLayerEvent = "Added Layer";
    static constexpr const char *kReplaceOutermostFrameTitle = "Replace Outermost Frame";
    static constexpr int kRecentLimit = 30;
    enum State : quint32 { LibraryState = 0, FavoritesState = 1, RecentState = 2 };
    enum Level : quint64 { CollectionsLevel = 0, SetsLevel = 1, FramesLevel = 2 };
    enum MenuTag { AddToFavoritesTag = 1, RemoveFromFavoritesTag = 2, OutsideLibraryTag = 5 };

    KTLibraryViewController(const QString &nibName, platform::WindowController *windowController,
                            QObject *parent = nullptr);
    ~KTLibraryViewController() override;

    // Where the library and the design come from; by default the shared
    // library's main context, the window's document and palette controller.
    platform::ManagedObjectContext *managedObjectContext() const;
    void setManagedObjectContext(platform::ManagedObjectContext *context) { m_context = context; }
    std::shared_ptr<KTTemplate> docTemplate() const;
    void setDocTemplate(const std::shared_ptr<KTTemplate> &design) { m_docTemplate = design; }
    KTLayersPaletteInterface *layersPaletteController() const;
    // A QObject that implements KTLayersPaletteInterface.
    void setLayersPaletteController(QObject *controller) { m_palette = controller; }
    // The object that opens the frame packs page ("More frames").
    void setMoreFramesTarget(QObject *target) { m_moreFramesTarget = target; }

    // --- states and levels ---
    int libraryState() const override { return int(m_libraryState); }
    quint32 libraryStateValue() const { return m_libraryState; }
    void setLibraryState(quint32 state);
    void toggleView() override;
    quint64 navigationBarActiveComponent() const { return m_navigationBarActiveComponent; }
    LibraryItem *lastDisplayedObject() const { return m_lastDisplayedObject; }
    FrameSet *currentSet() const { return m_currentSet; }
    bool altKeyIsPressed() const { return m_altKeyIsPressed; }
    void setAltKeyIsPressed(bool pressed) { m_altKeyIsPressed = pressed; }

    void refreshLibraryViewKeepingSelection(bool keep);
    void displayCollections();
    void displaySetsInCollection(LibraryItem *collection);
    void displayFramesInSet(FrameSet *set);
    void displaySetsInCollectionIndex(qsizetype index);
    void refreshFavorites();
    void refreshRecentContentApplying(Frame *frame);
    void moveToBeginningOfLine();
    void moveToEndOfLine();
    void activateViewController() override;

    // --- content ---
    const QList<KTLibraryEntry> &content() const { return m_content; }
    void setContent(const QList<KTLibraryEntry> &content);
    const QList<KTLibraryEntry> &filteredContent() const { return m_filteredContent; }
    QList<KTLibraryEntry> selectedItems() const;
    QList<int> selectedIndexes() const;
    int selectedIndex() const;
    void selectItemAtIndex(int index);
    void searchChanged();
    void clearSearch();
    QString searchText() const;
    void setSearchText(const QString &text);

    // --- actions ---
    void addToFavorites();
    void removeFromFavorites() override;
    void showAndSelectFrame(Frame *frame) override;
    void showAndSelectItem(LibraryItem *item) override;
    void showSelectedFrameInLibrary();
    void showInFrameEditor();
    void showDetails();
    void detailsURLButtonClicked();
    void deleteSelection();
    bool validateDelete() const;
    // Picks the last selected frame into the design; with Alt held in place
    // of the outermost frame.
    void performItemSelection();
    // The last selected frame in place of the design's outermost frame, with
    // its settings (what Alt with a pick does, for desktops that take Alt+click).
    void replaceOutermostFrame();
    // The context menu prepared for the last selected item; the panel owns it.
    QMenu *libraryPopUpMenu() override;
    // Return, Enter, Space, Delete; true when the key was taken.
    bool handleKey(int key, const QString &text);

    // Widgets, for the shell and for tests.
    KTNavigationBarView *navigationBarView() const { return m_navigationBarView; }
    VLCollectionView *collectionView() const { return m_collectionView; }
    KTLibraryContentModel *contentModel() const { return m_model; }
    KTToolbarViewController *toolbarViewController() const { return m_toolbarViewController; }
    QDialog *detailsPanel() const { return m_detailsPanel; }

    // Delegates.
    void selectedComponentInNavigationBarView(qint64 component, KTNavigationBarView *bar) override;
    void toolbarIconClickedNamed(quint64 index, const QString &name) override;
    void collectionViewDidDoubleClickOnItemAtIndexPath(VLCollectionView *view, const QModelIndex &indexPath) override;
    std::optional<QMenu *> collectionViewMenuForSelectedItems(VLCollectionView *view) override;

signals:
    void libraryStateChanged();

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void viewFrameChanged();
    void refilter();
    void showDetailsOfSelection();
    void fillDetailsPanel();
    void flagsChanged(const platform::Notification &notification);
    LibraryItem *lastSelectedItem() const;
    KTLibraryEntry lastSelectedEntry() const;
    qsizetype indexInFiltered(const LibraryItem *item) const;
    void setBarComponent(quint64 component);

    platform::ManagedObjectContext *m_context = nullptr;
    std::shared_ptr<KTTemplate> m_docTemplate;
    QPointer<QObject> m_palette;
    QPointer<QObject> m_moreFramesTarget;

    QPointer<QWidget> m_root;
    QPointer<QWidget> m_toolbarContainerView;
    QPointer<KTNavigationBarView> m_navigationBarView;
    QPointer<VLCollectionView> m_collectionView;
    QPointer<QLineEdit> m_searchField;
    QPointer<QDialog> m_detailsPanel;
    QPointer<QLabel> m_detailsName, m_detailsAuthor, m_detailsCatalogRef, m_detailsDescription, m_detailsLastModified;
    QPointer<QPushButton> m_detailsURL;
    QMenu *m_libraryPopUpMenu = nullptr;
    KTLibraryContentModel *m_model = nullptr;
    KTToolbarViewController *m_toolbarViewController = nullptr;

    quint32 m_libraryState = LibraryState;
    quint64 m_navigationBarActiveComponent = CollectionsLevel;
    FrameSet *m_currentSet = nullptr;
    LibraryItem *m_lastDisplayedObject = nullptr;
    bool m_altKeyIsPressed = false;
    void pickSelectedFrame(bool replacingOutermost);
    QList<platform::SortDescriptor> m_sortByNameDescriptorsArray;
    QList<platform::SortDescriptor> m_sortByLastUsedDescriptorsArray;
    QList<KTLibraryEntry> m_content;
    QList<KTLibraryEntry> m_filteredContent;
    QList<platform::NotificationCenter::ObserverId> m_observers;
};
