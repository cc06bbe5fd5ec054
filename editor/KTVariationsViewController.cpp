#include "editor/KTVariationsViewController.h"

#include "app/KTMainLayoutViewController.h"
#include "app/KTMainSplitViewController.h"
#include "app/XSDocumentWindowController.h"
#include "design/KTTemplate.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "kit/VLArrayListModel.h"
#include "kit/VLWAnalytics.h"
#include "kit/ui/VLCollectionView.h"
#include "kit/ui/VLForwardingView.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/render/DrawingContext.h"
#include "stores/LibraryStore.h"

#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QTextDocument>
#include <QVBoxLayout>

using platform::ManagedObjectContext;

namespace {

constexpr int kHintWidth = 200;

// The list shows icons only: variations carry no names worth reading.
class VariationsListModel : public VLArrayListModel
{
public:
    using VLArrayListModel::VLArrayListModel;
    std::function<QPixmap(const QString &guid)> icon;

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid())
            return {};
        if (role == Qt::DecorationRole && icon)
            return icon(items().value(index.row()).toString());
        if (role == Qt::DisplayRole)
            return QString();
        return VLArrayListModel::data(index, role);
    }
};

} // namespace

KTVariationsViewController::KTVariationsViewController(const QString &nibName,
                                                       platform::WindowController *windowController, QObject *parent)
    : KTDesignBrowserViewController(nibName, windowController, parent)
{
}

ManagedObjectContext *KTVariationsViewController::sharedStoreContext() const
{
    return TemplatesStore::shared() ? TemplatesStore::shared()->variationsManagedObjectContext() : nullptr;
}

void KTVariationsViewController::setMoc(ManagedObjectContext *context)
{
    followContext(context, [this] { refreshContent(); });
}

QWidget *KTVariationsViewController::loadView()
{
    auto *root = new QWidget;
    root->setObjectName(nibName());
    root->setFocusPolicy(Qt::StrongFocus);
    auto *column = new QVBoxLayout(root);
    column->setContentsMargins(0, 0, 0, 0);
    auto *model = new VariationsListModel(this);
    model->icon = [this](const QString &guid) { return iconFor(guid); };
    column->addWidget(createCollectionView(root, model, false, QAbstractItemView::NoEditTriggers));

    createPopupMenu(root, tr("Save as templates"), [this] { saveAsTemplate(); });
    root->installEventFilter(this);
    return root;
}

void KTVariationsViewController::viewDidLoad()
{
    if (!m_contextConnection)
        setMoc(m_context);
    else
        refreshContent();
}

void KTVariationsViewController::activateViewController()
{
    view();
    refreshContent();
}

QList<Variation *> KTVariationsViewController::content() const
{
    ManagedObjectContext *store = moc();
    return store ? store->fetchObjects<Variation>() : QList<Variation *>();
}

void KTVariationsViewController::refreshContent()
{
    if (!m_model)
        return;
    QVariantList items;
    for (const Variation *v : content())
        items << v->guid();
    if (items != m_model->items())
        m_model->setItems(items);
    if (items.isEmpty()) {
        createInstructionsView();
    } else if (m_instructionView) {
        delete m_instructionView;
        m_instructionView = nullptr;
    }
}

QList<Variation *> KTVariationsViewController::selectedItems() const
{
    QList<Variation *> out;
    ManagedObjectContext *store = moc();
    if (!store)
        return out;
    for (int row : selectedIndexes()) {
        if (Variation *v = Variation::variationWithGUID(m_model->items().value(row).toString(), store))
            out << v;
    }
    return out;
}

void KTVariationsViewController::addVariation(const std::shared_ptr<KTTemplate> &design)
{
    ManagedObjectContext *store = moc();
    if (!design || !store)
        return;
    QImage icon(kIconSide, kIconSide, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    {
        platform::DrawingContext ctx(icon);
        design->drawIconToRect(QRectF(0, 0, kIconSide, kIconSide));
    }
    auto *variation = store->insert<Variation>();
    variation->setIcon(icon);
    variation->setName(tr(kNewVariationName));
    variation->setData(design->dataForArchiving());
    refreshContent();
    VLWAnalytics::trackEventProperties(QStringLiteral("Variations"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Created")}});
}

void KTVariationsViewController::removeSelectedVariations()
{
    ManagedObjectContext *store = moc();
    if (!store)
        return;
    for (Variation *v : selectedItems()) {
        m_icons.remove(v->guid());
        store->deleteObject(v);
    }
    refreshContent();
}

void KTVariationsViewController::applyTemplate()
{
    applySelection(QStringLiteral("Variations"));
}

void KTVariationsViewController::saveAsTemplate()
{
    const QList<Variation *> selected = selectedItems();
    if (selected.isEmpty())
        return;
    QObject *browser = m_templatesBrowser.data();
    if (auto *window = qobject_cast<XSDocumentWindowController *>(windowController())) {
        if (KTMainLayoutViewController *layout = window->mainLayoutViewController()) {
            KTMainSplitViewController *split = layout->mainSplitViewController();
            split->openTemplatesPanel();
            if (!browser)
                browser = split->templatesViewController();
        }
    }
    auto *templates = dynamic_cast<KTDesignBrowserInterface *>(browser);
    if (!templates)
        return;
    for (const Variation *v : selected) {
        if (const std::shared_ptr<KTTemplate> design =
                KTTemplate::templateFromVariation(v, LibraryStore::sharedContext()))
            templates->addVariation(design);
    }
    VLWAnalytics::trackEventProperties(QStringLiteral("Variations"),
                                       QVariantMap{{QStringLiteral("Action"), QStringLiteral("Saved as Template")}});
}

void KTVariationsViewController::createInstructionsView()
{
    if (m_instructionView || !view())
        return;
    m_instructionView = new VLForwardingView(view());
    m_instructionView->setObjectName(QStringLiteral("instructionView"));
    m_instructionView->setTarget(this);
    m_instructionView->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_instructionView->setGeometry(view()->rect());
    m_instructionView->show();
    m_instructionView->raise();
}

void KTVariationsViewController::drawRectInView(QPainter &painter, const QRect &, VLForwardingView *hint)
{
    const QColor ink = QColor::fromRgbF(0.8f, 0.8f, 0.8f, 1.0f);
    QFont font = hint->font();
    font.setPointSizeF(13);
    font.setWeight(QFont::Normal);
    painter.setFont(font);
    painter.setPen(ink);
    const QString text = tr(kHint);
    const QRect measured = painter.fontMetrics().boundingRect(QRect(0, 0, kHintWidth, 10000), Qt::TextWordWrap, text);
    const int h = measured.height();
    // Over the arrow at the bottom left, which points down to the add button.
    const int bottom = hint->height();
    painter.drawText(QRect(8, bottom - (h + 48) - h, kHintWidth, h), Qt::TextWordWrap, text);

    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(0.8);
    QPainterPath arrow;
    const QPointF tip(30, bottom - 8);
    arrow.moveTo(tip);
    arrow.lineTo(tip + QPointF(-12, -14));
    arrow.lineTo(tip + QPointF(-4, -14));
    arrow.lineTo(tip + QPointF(-4, -36));
    arrow.lineTo(tip + QPointF(4, -36));
    arrow.lineTo(tip + QPointF(4, -14));
    arrow.lineTo(tip + QPointF(12, -14));
    arrow.closeSubpath();
    painter.fillPath(arrow, ink);
}

bool KTVariationsViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == view() && event->type() == QEvent::Resize && m_instructionView)
        m_instructionView->setGeometry(view()->rect());
    const bool fromList = watched == m_collectionView.data() || (watched == view() && view()->hasFocus());
    if (fromList && event->type() == QEvent::KeyPress && handleForwardedKey(static_cast<QKeyEvent *>(event)))
        return true;
    return KTDesignBrowserViewController::eventFilter(watched, event);
}
