#include "frameeditor/KTEAttributesController.h"

#include "design/KTFrameLayer.h"
#include "frameeditor/KTEAttributeDelegate.h"
#include "frameeditor/KTEAttributesTableModel.h"
#include "frameeditor/KTEDeleteKeyFilter.h"
#include "frameeditor/KTEImagesController.h"
#include "frameeditor/KTEImagesMimeData.h"
#include "frameeditor/KTEOutlineController.h"
#include "frameeditor/KTFEWindowInterface.h"
#include "kit/ui/VLColorWell.h"
#include "platform/Result.h"
#include "platform/archive/TypedStreamColor.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryDates.h"

#include <QColorDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <QWindow>

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

const QString kIconCacheKey = QStringLiteral("icon");

// An empty field clears the value (an invalid QVariant).
platform::Result<QVariant> wholeNumber(const QVariant &value)
{
    if (!value.isValid() || value.toString().trimmed().isEmpty())
        return QVariant();
    bool ok = false;
    const qint64 number = value.toString().trimmed().toLongLong(&ok);
    if (!ok)
        return platform::describedError(QStringLiteral("“%1” is not a whole number").arg(value.toString()));
    return QVariant(number);
}

platform::Result<QVariant> realNumber(const QVariant &value)
{
    if (!value.isValid() || value.toString().trimmed().isEmpty())
        return QVariant();
    const QString text = value.toString().trimmed();
    bool ok = false;
    double number = QLocale().toDouble(text, &ok);
    if (!ok)
        number = text.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return platform::describedError(QStringLiteral("“%1” is not a number").arg(value.toString()));
    return QVariant(number);
}

} // namespace

KTEAttributesController::KTEAttributesController(KTFEWindowInterface *window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    m_model = new KTEAttributesTableModel(this, this);
    // The wells stop taking the shared dialog's colour once another window
    // than the editor's (or the dialog itself) takes the focus.
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *focus) {
        if (!focus || !m_table)
            return;
        QWidget *editor = m_table->window();
        if (editor->windowHandle() == focus)
            return;
        if (VLColorWell::sharedColorDialog()->windowHandle() == focus)
            return;
        deactivateColorPanel();
    });
}

KTEAttributesController::~KTEAttributesController()
{
    if (m_table)
        m_table->setModel(nullptr);
    // The model reads this controller's rows: it goes first.
    delete m_model;
}

QTableView *KTEAttributesController::attributesTableView()
{
    if (m_table)
        return m_table;
    auto *table = new QTableView;
    table->setObjectName(QStringLiteral("attributesTableView"));
    table->setModel(m_model);
    table->setItemDelegate(new KTEAttributeDelegate(table));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                           | QAbstractItemView::SelectedClicked);
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->resizeSection(KTEAttributesTableModel::PropertyColumn, 140);
    table->setAcceptDrops(true);
    table->viewport()->setAcceptDrops(true);
    table->setDragDropMode(QAbstractItemView::DropOnly);
    table->setDragDropOverwriteMode(true);
    table->setDropIndicatorShown(true);
    table->setDefaultDropAction(Qt::CopyAction);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, &KTEAttributesController::showContextMenu);
    new KTEDeleteKeyFilter(
        [this, table] {
            if (table->currentIndex().isValid())
                removeImageAttribute(table->currentIndex().row());
        },
        table);
    // Colour rows show their well all the time, as a swatch to click.
    connect(m_model, &QAbstractItemModel::modelReset, table, [this, table] {
        for (int row = kFirstAttributeRow; row < m_model->rowCount(); ++row)
            if (attributeKindForRow(row) == FrameAttribute::KindColor)
                table->openPersistentEditor(m_model->index(row, KTEAttributesTableModel::ValueColumn));
    });
    m_table = table;
    m_model->reload();
    return table;
}

// ---- the shown item

void KTEAttributesController::showAttributesFor(LibraryItem *item)
{
    deactivateColorPanel();
    clearCache();
    m_representedObject = item;
    if (dynamic_cast<FrameCollection *>(item)) {
        m_objectType = kCollectionObject;
    } else if (dynamic_cast<FrameSet *>(item)) {
        m_objectType = kSetObject;
    } else if (auto *frame = dynamic_cast<Frame *>(item)) {
        frame->addMissingAttributes();
        m_objectType = kFrameObject;
        if (frame->frametype() && m_window)
            m_window->setSelectedFrameType(frame->frametype());
    }
    m_model->reload();
}

void KTEAttributesController::refresh()
{
    LibraryItem *item = m_representedObject;
    // An item deleted meanwhile (or by an undo) is shown no more.
    if (item && item->isDeleted())
        item = nullptr;
    showAttributesFor(item);
}

void KTEAttributesController::clearCache()
{
    m_sortedAttributes.clear();
    m_attributesSorted = false;
    m_cachedImages.clear();
}

QList<FrameAttribute *> KTEAttributesController::cachedAttributesArray()
{
    if (!m_attributesSorted) {
        m_attributesSorted = true;
        m_sortedAttributes.clear();
        if (auto *frame = dynamic_cast<Frame *>(m_representedObject)) {
            m_sortedAttributes = frame->attributes();
            std::stable_sort(m_sortedAttributes.begin(), m_sortedAttributes.end(),
                             [](FrameAttribute *a, FrameAttribute *b) {
                                 return QString::compare(a->name(), b->name(), Qt::CaseInsensitive) < 0;
                             });
        }
    }
    return m_sortedAttributes;
}

int KTEAttributesController::numberOfRows() const
{
    if (!m_representedObject)
        return 0;
    if (m_objectType != kFrameObject)
        return kAuthorRow;
    return kFirstAttributeRow + int(const_cast<KTEAttributesController *>(this)->cachedAttributesArray().size());
}

QString KTEAttributesController::propertyForRow(int row) const
{
    switch (row) {
    case kNameRow: return tr("Name");
    case kDescriptionRow: return tr("Description");
    case kURLRow: return tr("URL");
    case kIconRow: return tr("Icon");
    case kAuthorRow: return tr("Author");
    case kCatalogRefRow: return tr("Catalog Ref#");
    default: {
        FrameAttribute *attribute = const_cast<KTEAttributesController *>(this)->attributeForRow(row);
        return attribute ? attribute->name() : QString();
    }
    }
}

FrameAttribute *KTEAttributesController::attributeForRow(int row)
{
    if (m_objectType != kFrameObject || row < kFirstAttributeRow)
        return nullptr;
    const QList<FrameAttribute *> attributes = cachedAttributesArray();
    const int i = row - kFirstAttributeRow;
    return i < attributes.size() ? attributes.at(i) : nullptr;
}

int KTEAttributesController::attributeKindForRow(int row)
{
    FrameAttribute *attribute = attributeForRow(row);
    return attribute ? int(attribute->kindValue()) : -1;
}

int KTEAttributesController::valueKindForRow(int row)
{
    return row == kIconRow ? int(FrameAttribute::KindImage) : attributeKindForRow(row);
}

QVariant KTEAttributesController::attributeValueForRow(int row)
{
    FrameAttribute *attribute = attributeForRow(row);
    return attribute ? attribute->attributeValue() : QVariant();
}

QVariant KTEAttributesController::valueForRow(int row)
{
    LibraryItem *item = m_representedObject;
    if (!item || row < 0 || row >= numberOfRows())
        return {};
    switch (row) {
    case kNameRow: return item->name();
    case kDescriptionRow: return item->adescription();
    case kURLRow: return item->url();
    case kIconRow: return iconImage();
    case kAuthorRow: return item->author();
    case kCatalogRefRow: return item->catalogRef();
    default: break;
    }
    FrameAttribute *attribute = attributeForRow(row);
    if (!attribute)
        return {};
    switch (attribute->kindValue()) {
    case FrameAttribute::KindString: return attribute->stringVal();
    case FrameAttribute::KindImage: return imageForAttribute(attribute);
    case FrameAttribute::KindInteger: {
        const auto number = attribute->intVal();
        return number ? QVariant(*number) : QVariant();
    }
    case FrameAttribute::KindFloat: {
        const auto number = attribute->floatVal();
        return number ? QVariant(*number) : QVariant();
    }
    case FrameAttribute::KindBoolean: return attribute->boolVal().value_or(false);
    case FrameAttribute::KindColor: {
        const auto color = platform::colorFromArchivedData(attribute->colorVal());
        return color ? QVariant(color->toQColor()) : QVariant();
    }
    default: return {};
    }
}

bool KTEAttributesController::setValueForRow(int row, const QVariant &value)
{
    LibraryItem *item = m_representedObject;
    if (!item || row < 0 || row >= numberOfRows())
        return false;
    switch (row) {
    case kNameRow:
        // The name is kept as typed, empty or not.
        item->setName(value.toString());
        touch();
        // The outline sorts the item anew, once this edit has ended.
        QMetaObject::invokeMethod(this, [this, item] {
            if (KTEOutlineController *outline = m_window ? m_window->outlineController() : nullptr)
                outline->changedNameFor(item);
        }, Qt::QueuedConnection);
        return true;
    case kDescriptionRow:
        item->setAdescription(value.toString());
        touch();
        return true;
    case kURLRow:
        item->setUrl(expandURLIfNeeded(value.toString()));
        touch();
        return true;
    case kIconRow:
        return false; // pictures come by drag and drop
    case kAuthorRow:
    case kCatalogRefRow: {
        auto *frame = dynamic_cast<Frame *>(item);
        if (!frame)
            return false;
        if (row == kAuthorRow)
            frame->setAuthor(value.toString());
        else
            frame->setCatalogRef(value.toString());
        m_model->valuesChanged();
        return true;
    }
    default: break;
    }
    switch (attributeKindForRow(row)) {
    case FrameAttribute::KindString: setAttributeValueForRow(row, value.toString()); return true;
    case FrameAttribute::KindInteger:
    case FrameAttribute::KindFloat: {
        const platform::Result<QVariant> number =
            attributeKindForRow(row) == FrameAttribute::KindInteger ? wholeNumber(value) : realNumber(value);
        if (number)
            setAttributeValueForRow(row, number.value());
        return number.ok();
    }
    case FrameAttribute::KindBoolean: setAttributeValueForRow(row, value.toBool()); return true;
    case FrameAttribute::KindColor:
        if (!value.canConvert<QColor>() || !value.value<QColor>().isValid())
            return false;
        setAttributeValueForRow(row, value.value<QColor>());
        return true;
    default: return false; // pictures come by drag and drop; unknown kinds hold nothing
    }
}

void KTEAttributesController::setAttributeValueForRow(int row, const QVariant &value)
{
    FrameAttribute *attribute = attributeForRow(row);
    auto *frame = dynamic_cast<Frame *>(m_representedObject);
    if (!attribute || !frame)
        return;
    switch (attribute->kindValue()) {
    case FrameAttribute::KindString: attribute->setStringVal(value.toString()); break;
    case FrameAttribute::KindImage: {
        FrameImage *image = value.value<FrameImage *>();
        attribute->setImageVal(image);
        const QImage picture = image ? image->image() : QImage();
        if (picture.isNull())
            m_cachedImages.remove(attribute->name());
        else
            m_cachedImages.insert(attribute->name(), picture);
        if (KTEImagesController *images = m_window ? m_window->imagesController() : nullptr)
            images->reloadImages();
        break;
    }
    case FrameAttribute::KindInteger:
        attribute->setIntVal(value.isValid() ? std::optional<qint64>(value.toLongLong()) : std::nullopt);
        break;
    case FrameAttribute::KindFloat:
        attribute->setFloatVal(value.isValid() ? std::optional<double>(value.toDouble()) : std::nullopt);
        break;
    case FrameAttribute::KindBoolean: attribute->setBoolVal(value.toBool()); break;
    case FrameAttribute::KindColor: {
        const QColor color = value.value<QColor>();
        attribute->setColorVal(color.isValid() ? platform::typedStreamDataForColor(platform::Color::fromQColor(color))
                                               : QByteArray());
        break;
    }
    default: return;
    }
    frame->setLastModified(LibraryDates::now());
    buildIconForFrame();
    m_model->valuesChanged();
    if (m_window)
        m_window->displayPreviewWithFrame(frame);
}

void KTEAttributesController::touch()
{
    if (m_representedObject)
        m_representedObject->setLastModified(LibraryDates::now());
    m_model->valuesChanged();
}

QString KTEAttributesController::expandURLIfNeeded(const QString &text)
{
    const QString address = text.trimmed();
    // An emptied field stores nothing, not a bare scheme.
    if (address.isEmpty())
        return QString();
    if (address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return address;
    return QStringLiteral("http://") + address;
}

// ---- pictures

QImage KTEAttributesController::iconImage()
{
    const auto found = m_cachedImages.constFind(kIconCacheKey);
    if (found != m_cachedImages.constEnd())
        return *found;
    QImage picture;
    if (auto *frame = dynamic_cast<Frame *>(m_representedObject)) {
        picture = frame->iconImage();
        if (picture.isNull()) {
            // Only looking at a frame makes no step of undo.
            platform::ManagedObjectContext *moc = frame->managedObjectContext();
            platform::UndoManager *undo = moc ? moc->undoManager() : nullptr;
            if (undo)
                undo->disableUndoRegistration();
            picture = buildIconForFrame();
            if (undo)
                undo->enableUndoRegistration();
            return picture;
        }
    } else if (m_representedObject) {
        FrameImage *icon = m_representedObject->icon();
        picture = icon ? icon->image() : QImage();
    }
    if (!picture.isNull())
        m_cachedImages.insert(kIconCacheKey, picture);
    return picture;
}

QImage KTEAttributesController::buildIconForFrame()
{
    auto *frame = dynamic_cast<Frame *>(m_representedObject);
    if (!frame)
        return QImage();
    QImage icon = KTFrameLayer::libraryIconForFrame(*frame, QSize(kIconSide, kIconSide));
    if (icon.isNull())
        icon = KTFrameLayer::noIconImage();
    frame->setIconImage(icon);
    m_cachedImages.insert(kIconCacheKey, icon);
    return icon;
}

QImage KTEAttributesController::imageForAttribute(FrameAttribute *attribute)
{
    const auto found = m_cachedImages.constFind(attribute->name());
    if (found != m_cachedImages.constEnd())
        return *found;
    FrameImage *image = attribute->imageVal();
    const QImage picture = image ? image->image() : QImage();
    if (!picture.isNull())
        m_cachedImages.insert(attribute->name(), picture);
    return picture;
}

void KTEAttributesController::setIconForRepresentedObject(FrameImage *image)
{
    LibraryItem *item = m_representedObject;
    if (m_objectType == kFrameObject || !item)
        return;
    if (auto *collection = dynamic_cast<FrameCollection *>(item))
        collection->setIcon(image);
    else if (auto *set = dynamic_cast<FrameSet *>(item))
        set->setIcon(image);
    const QImage picture = image ? image->image() : QImage();
    if (picture.isNull())
        m_cachedImages.remove(kIconCacheKey);
    else
        m_cachedImages.insert(kIconCacheKey, picture);
    if (KTEImagesController *images = m_window ? m_window->imagesController() : nullptr)
        images->reloadImages();
    touch();
}

bool KTEAttributesController::rowHoldsPicture(int row)
{
    if (row == kIconRow)
        return m_representedObject && m_objectType != kFrameObject;
    return row >= kFirstAttributeRow && m_objectType == kFrameObject
           && attributeKindForRow(row) == FrameAttribute::KindImage;
}

bool KTEAttributesController::removeImageAttribute(int row)
{
    if (!rowHoldsPicture(row))
        return false;
    if (row == kIconRow)
        setIconForRepresentedObject(nullptr);
    else
        setAttributeValueForRow(row, QVariant());
    m_model->valuesChanged();
    return true;
}

void KTEAttributesController::showImageInBrowser(int row)
{
    if (!rowHoldsPicture(row))
        return;
    FrameImage *image = nullptr;
    if (row == kIconRow)
        image = m_representedObject->icon();
    else if (FrameAttribute *attribute = attributeForRow(row))
        image = attribute->imageVal();
    KTEImagesController *images = m_window ? m_window->imagesController() : nullptr;
    if (image && images)
        images->selectFrameImage(image);
}

// ---- the frame type

void KTEAttributesController::changeFrameType()
{
    auto *frame = dynamic_cast<Frame *>(m_representedObject);
    if (m_objectType != kFrameObject || !frame || !m_window)
        return;
    FrameType *type = m_window->selectedFrameType();
    if (!type || type == frame->frametype())
        return;
    deactivateColorPanel();
    clearCache();
    frame->setFrametype(type);
    frame->setLastModified(LibraryDates::now());
    m_model->reload();
    if (KTEImagesController *images = m_window->imagesController())
        images->reloadImages();
    buildIconForFrame();
    m_window->displayPreviewWithFrame(frame);
}

// ---- drops

bool KTEAttributesController::allowDropOnRow(int row, const QMimeData *data)
{
    // Only the browser's own drags: a file from elsewhere is no library picture.
    if (!qobject_cast<const KTEImagesMimeData *>(data) || KTEImagesMimeData::frameImageGUIDs(data).isEmpty())
        return false;
    return rowHoldsPicture(row);
}

bool KTEAttributesController::acceptDrop(int row, const QMimeData *data)
{
    if (!allowDropOnRow(row, data))
        return false;
    platform::ManagedObjectContext *moc = m_window ? m_window->framesContext() : nullptr;
    // Of several pictures the one dragged last in browser order wins.
    FrameImage *image = moc ? FrameImage::frameImageWithGUID(KTEImagesMimeData::frameImageGUIDs(data).constLast(), moc)
                            : nullptr;
    if (!image)
        return false;
    if (row == kIconRow)
        setIconForRepresentedObject(image);
    else
        setAttributeValueForRow(row, QVariant::fromValue(image));
    m_model->valuesChanged();
    if (KTEImagesController *images = m_window->imagesController())
        images->reloadImages();
    return true;
}

// ---- colours, menus

void KTEAttributesController::deactivateColorPanel()
{
    VLColorWell *well = VLColorWell::activeWell();
    if (well && m_table && m_table->isAncestorOf(well))
        well->deactivate();
}

int KTEAttributesController::currentRow() const
{
    return m_table ? m_table->currentIndex().row() : -1;
}

void KTEAttributesController::showContextMenu(const QPoint &position)
{
    if (!m_table)
        return;
    const QModelIndex clicked = m_table->indexAt(position);
    const int row = clicked.isValid() ? clicked.row() : currentRow();
    QMenu menu(m_table);
    QAction *remove = menu.addAction(tr("Remove Picture"));
    QAction *show = menu.addAction(tr("Show in Browser"));
    const bool enabled = rowHoldsPicture(row);
    remove->setEnabled(enabled);
    show->setEnabled(enabled);
    QAction *chosen = menu.exec(m_table->viewport()->mapToGlobal(position));
    if (chosen == remove)
        removeImageAttribute(row);
    else if (chosen == show)
        showImageInBrowser(row);
}
