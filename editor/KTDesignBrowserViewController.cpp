#include "editor/KTDesignBrowserViewController.h"

#include "app/KTMainLayoutViewController.h"
#include "app/XSDocumentWindowController.h"
#include "design/Variation.h"
#include "kit/VLArrayListModel.h"
#include "kit/VLWAnalytics.h"
#include "platform/objectstore/ManagedObjectContext.h"

#include <QFontMetrics>
#include <QKeyEvent>

#include <algorithm>

using platform::ManagedObjectContext;

KTDesignBrowserViewController::KTDesignBrowserViewController(const QString &nibName,
                                                             platform::WindowController *windowController,
                                                             QObject *parent)
    : XSViewController(nibName, windowController, parent)
{
}

ManagedObjectContext *KTDesignBrowserViewController::browserContext() const
{
    return m_context ? m_context : sharedStoreContext();
}

void KTDesignBrowserViewController::followContext(ManagedObjectContext *context, const std::function<void()> &refresh)
{
    m_context = context;
    disconnect(m_contextConnection);
    // The store is shared by every window: designs that arrive from elsewhere
    // (the first-run import, another window) show up without waiting for the
    // panel to be opened again.
    if (ManagedObjectContext *store = browserContext())
        m_contextConnection = connect(store, &ManagedObjectContext::objectsDidChange, this, refresh);
    refresh();
}

VLCollectionView *KTDesignBrowserViewController::createCollectionView(QWidget *root, VLArrayListModel *model,
                                                                      bool withNames,
                                                                      QAbstractItemView::EditTriggers editTriggers)
{
    m_collectionView = new VLCollectionView(root);
    m_collectionView->setObjectName(QString::fromLatin1(kCellIdentifier));
    m_model = model;
    m_collectionView->setModel(m_model);
    m_collectionView->setIconSize(QSize(kIconSide, kIconSide));
    const int tileHeight =
        withNames ? kIconSide + 22 + 2 * QFontMetrics(m_collectionView->font()).lineSpacing() : kIconSide + 16;
    m_collectionView->setTileMetrics(kIconSide + 12, tileHeight);
    m_collectionView->setEditTriggers(editTriggers);
    m_collectionView->setFrameShape(QFrame::NoFrame);
    m_collectionView->setStyleSheet(
        QStringLiteral("QListView { background: rgb(58, 58, 60); color: rgb(220, 220, 220); }"));
    m_collectionView->setVlDelegate(this);
    m_collectionView->installEventFilter(this);
    return m_collectionView;
}

void KTDesignBrowserViewController::createPopupMenu(QWidget *root, const QString &title,
                                                    const std::function<void()> &action)
{
    m_popupMenu = new QMenu(root);
    m_popupMenu->setObjectName(QStringLiteral("popupmenu"));
    m_popupMenu->addAction(tr("Apply"), this, [this] { applyTemplate(); });
    m_popupMenu->addAction(title, this, action);
    m_popupMenu->addSeparator();
    m_popupMenu->addAction(tr("Remove"), this, [this] { removeSelectedVariations(); });
}

bool KTDesignBrowserViewController::handleForwardedKey(QKeyEvent *event)
{
    if (!VLCollectionView::isForwardedKey(event))
        return false;
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace)
        removeSelectedVariations();
    else
        applyTemplate();
    return true;
}

QList<int> KTDesignBrowserViewController::selectedIndexes() const
{
    QList<int> rows;
    if (!m_collectionView)
        return rows;
    for (const QModelIndex &index : m_collectionView->selectionModel()->selectedIndexes())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void KTDesignBrowserViewController::applySelection(const QString &analyticsCategory)
{
    const QList<Variation *> selected = selectedItems();
    if (selected.isEmpty())
        return;
    Variation *variation = selected.last();
    if (auto *window = qobject_cast<XSDocumentWindowController *>(windowController())) {
        if (KTMainLayoutViewController *layout = window->mainLayoutViewController())
            layout->replaceTemplateWithVariation(variation);
    }
    VLWAnalytics::trackEventProperties(analyticsCategory,
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Applied")}});
    emit templateApplied(variation->guid());
}

QPixmap KTDesignBrowserViewController::iconFor(const QString &guid) const
{
    const auto found = m_icons.constFind(guid);
    if (found != m_icons.constEnd())
        return *found;
    QPixmap icon;
    if (const Variation *v = Variation::variationWithGUID(guid, browserContext()))
        icon = QPixmap::fromImage(v->icon());
    if (!icon.isNull())
        m_icons.insert(guid, icon);
    return icon;
}

void KTDesignBrowserViewController::collectionViewDidDoubleClickOnItemAtIndexPath(VLCollectionView *,
                                                                                  const QModelIndex &)
{
    applyTemplate();
}

std::optional<QMenu *> KTDesignBrowserViewController::collectionViewMenuForSelectedItems(VLCollectionView *)
{
    return selectedIndexes().isEmpty() ? nullptr : m_popupMenu.data();
}
