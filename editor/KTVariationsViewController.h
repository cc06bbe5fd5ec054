#pragma once

#include "app/KTDesignBrowserInterface.h"
#include "kit/ui/VLCollectionView.h"
#include "kit/ui/VLCollectionViewDelegate.h"
#include "kit/ui/VLForwardingView.h"
#include "kit/ui/VLForwardingViewProtocol.h"
#include "kit/ui/XSViewController.h"

#include <QHash>
#include <QMenu>
#include <QPixmap>
#include <QPointer>

#include <memory>

class KTTemplate;
class Variation;
class VLArrayListModel;

namespace platform {
class ManagedObjectContext;
}

// The "VARIATIONS" panel: snapshots of the current design kept for this run
// only, to compare, apply again and save as templates. While it is empty a
// hint points to the add button.
class KTVariationsViewController : public XSViewController,
                                   public KTDesignBrowserInterface,
                                   public VLCollectionViewDelegate,
                                   public VLForwardingViewProtocol
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "VariationsView";
    static constexpr const char *kHint = "Click the + button below to add current design as a variation";
    static constexpr const char *kNewVariationName = "New Variation";

    KTVariationsViewController(const QString &nibName, platform::WindowController *windowController,
                               QObject *parent = nullptr);

    // The variations context of the shared store unless one is set (tests).
    platform::ManagedObjectContext *moc() const;
    void setMoc(platform::ManagedObjectContext *context);

    void addVariation(const std::shared_ptr<KTTemplate> &design) override;
    void removeSelectedVariations() override;
    void emptyTemplates() override {}
    void activateViewController() override;
    void applyTemplate();
    void saveAsTemplate();

    // Where "Save as templates" sends the designs, when not the window's own browser (tests).
    void setTemplatesBrowser(QObject *browser) { m_templatesBrowser = browser; }

    void refreshContent();
    QList<Variation *> content() const;
    QList<Variation *> selectedItems() const;
    QList<int> selectedIndexes() const;
    VLCollectionView *collectionView() const { return m_collectionView; }
    // The hint while the list is empty, else null.
    VLForwardingView *instructionView() const { return m_instructionView; }

    void drawRectInView(QPainter &painter, const QRect &rect, VLForwardingView *view) override;
    void collectionViewDidDoubleClickOnItemAtIndexPath(VLCollectionView *view, const QModelIndex &indexPath) override;
    std::optional<QMenu *> collectionViewMenuForSelectedItems(VLCollectionView *view) override;

signals:
    void templateApplied(const QString &guid);

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createInstructionsView();
    QPixmap iconFor(const QString &guid) const;

    platform::ManagedObjectContext *m_context = nullptr;
    QPointer<VLCollectionView> m_collectionView;
    VLArrayListModel *m_model = nullptr;
    QPointer<VLForwardingView> m_instructionView;
    QPointer<QMenu> m_popupMenu;
    QPointer<QObject> m_templatesBrowser;
    QMetaObject::Connection m_contextConnection;
    mutable QHash<QString, QPixmap> m_icons;
};
