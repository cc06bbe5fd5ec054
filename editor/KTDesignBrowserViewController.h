#pragma once

#include "app/KTDesignBrowserInterface.h"
#include "kit/ui/VLCollectionView.h"
#include "kit/ui/VLCollectionViewDelegate.h"
#include "kit/ui/XSViewController.h"

#include <QAbstractItemView>
#include <QHash>
#include <QMenu>
#include <QPixmap>
#include <QPointer>

#include <functional>

class QKeyEvent;
class Variation;
class VLArrayListModel;

namespace platform {
class ManagedObjectContext;
}

// What the templates and variations browsers have in common: a list of
// design icons over a store context shared by every window, its popup menu,
// its keys, the selection and applying a design to the window's document.
class KTDesignBrowserViewController : public XSViewController,
                                      public KTDesignBrowserInterface,
                                      public VLCollectionViewDelegate
{
    Q_OBJECT
public:
    static constexpr const char *kCellIdentifier = "LibraryCellTemplate";

    KTDesignBrowserViewController(const QString &nibName, platform::WindowController *windowController,
                                  QObject *parent = nullptr);

    virtual void applyTemplate() = 0;
    virtual QList<Variation *> selectedItems() const = 0;
    QList<int> selectedIndexes() const;
    VLCollectionView *collectionView() const { return m_collectionView; }
    void emptyTemplates() override {}

    void collectionViewDidDoubleClickOnItemAtIndexPath(VLCollectionView *view, const QModelIndex &indexPath) override;
    std::optional<QMenu *> collectionViewMenuForSelectedItems(VLCollectionView *view) override;

signals:
    // A design went to the document (its GUID).
    void templateApplied(const QString &guid);

protected:
    static constexpr int kIconSide = 92;

    // The context set (tests), else the shared store's.
    platform::ManagedObjectContext *browserContext() const;
    virtual platform::ManagedObjectContext *sharedStoreContext() const = 0;
    // Uses `context` and calls `refresh` now and whenever its objects change.
    void followContext(platform::ManagedObjectContext *context, const std::function<void()> &refresh);

    // The list, added to `root`'s layout by the caller; with names, tiles
    // leave room for two lines of text under the icon.
    VLCollectionView *createCollectionView(QWidget *root, VLArrayListModel *model, bool withNames,
                                           QAbstractItemView::EditTriggers editTriggers);
    // "Apply", the browser's own action, "Remove".
    void createPopupMenu(QWidget *root, const QString &title, const std::function<void()> &action);
    // Return, Enter and Space apply the selection, Delete and Backspace remove it.
    bool handleForwardedKey(QKeyEvent *event);
    // Replaces the document's design with the last selected one and says so.
    void applySelection(const QString &analyticsCategory);
    QPixmap iconFor(const QString &guid) const;

    platform::ManagedObjectContext *m_context = nullptr;
    QPointer<VLCollectionView> m_collectionView;
    VLArrayListModel *m_model = nullptr;
    QPointer<QMenu> m_popupMenu;
    QMetaObject::Connection m_contextConnection;
    mutable QHash<QString, QPixmap> m_icons;
};
