#include "FrameEditorTestSupport.h"

#include "frameeditor/KTEImagesMimeData.h"
#include "kit/ui/VLColorWell.h"
#include "platform/archive/TypedStreamColor.h"

#include <QColorDialog>
#include <QDropEvent>
#include <QListView>
#include <QMimeData>

using frameeditortest::Window;

namespace {

FrameAttribute *addAttribute(Frame *frame, const QString &name, int kind)
{
    auto *attribute = FrameAttribute::insertInManagedObjectContext(frame->managedObjectContext());
    attribute->setName(name);
    attribute->setKind(kind);
    frame->addAttributesObject(attribute);
    return attribute;
}

// Drags `data` over the row's value cell and drops it; answers whether the
// table took the drag while it moved.
bool dragAndDrop(QTableView *table, int row, QMimeData *data)
{
    const QPoint at = table->visualRect(table->model()->index(row, 1)).center();
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(table->viewport(), &enter);
    QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(table->viewport(), &move);
    const bool taken = move.isAccepted();
    QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(table->viewport(), &drop);
    return taken;
}

} // namespace

TEST(KTEAttributesController, EditsOfEveryKindLandInTheStoreAndUndoTogether)
{
    Window w;
    Frame *frame = w.frame(QStringLiteral("Oak"), QStringLiteral("Full frame"));
    addAttribute(frame, QStringLiteral("Note"), FrameAttribute::KindString);
    addAttribute(frame, QStringLiteral("count"), FrameAttribute::KindInteger);
    addAttribute(frame, QStringLiteral("Ratio"), FrameAttribute::KindFloat);
    addAttribute(frame, QStringLiteral("Tint"), FrameAttribute::KindColor);
    ASSERT_TRUE(w.moc()->save());
    w.endStep();
    w.attributes->showAttributesFor(frame);
    EXPECT_EQ(w.chosenType, frame->frametype());
    QStringList properties;
    for (int r = 0; r < w.attributes->numberOfRows(); ++r)
        properties << w.attributes->propertyForRow(r);
    EXPECT_EQ(properties, QStringList({"Name", "Description", "URL", "Icon", "Author", "Catalog Ref#", "Act as mask",
                                       "count", "Landscape Image", "Note", "Portrait Image", "Ratio", "Tint"}));

    QAbstractItemModel *model = w.table()->model();
    auto value = [&](const QString &property) { return model->index(w.row(property), 1); };
    EXPECT_TRUE(model->setData(value("Note"), QStringLiteral("grain"), Qt::EditRole));
    EXPECT_TRUE(model->setData(value("count"), QStringLiteral("12"), Qt::EditRole));
    EXPECT_FALSE(model->setData(value("count"), QStringLiteral("twelve"), Qt::EditRole));
    EXPECT_TRUE(model->setData(value("Ratio"), QStringLiteral("0.25"), Qt::EditRole));
    EXPECT_TRUE(model->setData(value("Act as mask"), Qt::Checked, Qt::CheckStateRole));
    // The colour row's well, picked through the shared colour dialog.
    auto *well = qobject_cast<VLColorWell *>(w.table()->indexWidget(value("Tint")));
    ASSERT_NE(well, nullptr);
    well->activate();
    VLColorWell::sharedColorDialog()->setCurrentColor(QColor(10, 200, 30));
    VLColorWell::sharedColorDialog()->hide();
    EXPECT_TRUE(model->setData(value("Author"), QStringLiteral("Ann"), Qt::EditRole));

    ASSERT_TRUE(w.moc()->save());
    w.reopen(); // read back from the file
    Frame *stored = w.moc()->fetchObjects<Frame>().constFirst();
    EXPECT_EQ(stored->valueForAttribute("Note").toString(), "grain");
    EXPECT_EQ(stored->valueForAttribute("count").toLongLong(), 12);
    EXPECT_DOUBLE_EQ(stored->valueForAttribute("Ratio").toDouble(), 0.25);
    EXPECT_TRUE(stored->valueForAttribute("Act as mask").toBool());
    EXPECT_EQ(platform::colorFromArchivedData(stored->valueForAttribute("Tint").toByteArray())->toQColor().rgb(),
              QColor(10, 200, 30).rgb());
    EXPECT_EQ(stored->author(), "Ann");
    EXPECT_FALSE(stored->iconImage().isNull()); // rebuilt after each edit
    EXPECT_FALSE(w.previews.isEmpty());

    // More edits, undone as one step.
    frame = stored;
    w.attributes->showAttributesFor(frame);
    w.endStep();
    EXPECT_TRUE(model->setData(value("Note"), QStringLiteral("knots"), Qt::EditRole));
    EXPECT_TRUE(model->setData(value("count"), QString(), Qt::EditRole)); // emptied: no number
    EXPECT_TRUE(model->setData(value("Act as mask"), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(frame->valueForAttribute("count").isValid());
    w.endStep();
    w.undo->undo();
    EXPECT_EQ(frame->valueForAttribute("Note").toString(), "grain");
    EXPECT_EQ(frame->valueForAttribute("count").toLongLong(), 12);
    EXPECT_TRUE(frame->valueForAttribute("Act as mask").toBool());
}

TEST(KTEAttributesController, AnEmptiedWebAddressStoresNothingAndOthersGetAScheme)
{
    Window w;
    auto *collection = FrameCollection::insertInManagedObjectContext(w.moc());
    w.attributes->showAttributesFor(collection);
    EXPECT_EQ(w.attributes->numberOfRows(), 4);
    QAbstractItemModel *model = w.table()->model();
    const QModelIndex url = model->index(KTEAttributesController::kURLRow, 1);
    model->setData(url, QStringLiteral("frames.example"), Qt::EditRole);
    EXPECT_EQ(collection->url(), "http://frames.example");
    model->setData(url, QStringLiteral("https://frames.example/a"), Qt::EditRole);
    EXPECT_EQ(collection->url(), "https://frames.example/a");
    model->setData(url, QStringLiteral("  "), Qt::EditRole);
    EXPECT_TRUE(collection->url().isNull());
}

TEST(KTEAttributesController, OnlyPicturesDraggedFromTheBrowserAreAssignedToPictureRows)
{
    Window w;
    Frame *frame = w.frame(QStringLiteral("Oak"), QStringLiteral("Full frame"));
    w.picture(QStringLiteral("first.png"));
    w.picture(QStringLiteral("second.png"));
    w.images->setSortByTimeAdded(false);
    w.images->reloadImages();
    w.attributes->showAttributesFor(frame);

    // The browser's own drag of both pictures: the last in browser order wins.
    auto *view = w.images->browserView()->findChild<QListView *>(QStringLiteral("imagesGroupView0"));
    ASSERT_NE(view, nullptr);
    const QModelIndexList both{view->model()->index(1, 0), view->model()->index(0, 0)};
    std::unique_ptr<QMimeData> dragged(view->model()->mimeData(both));
    const int landscape = w.row(QStringLiteral("Landscape Image"));
    EXPECT_FALSE(dragAndDrop(w.table(), KTEAttributesController::kAuthorRow, dragged.get()));
    EXPECT_TRUE(dragAndDrop(w.table(), landscape, dragged.get()));
    FrameImage *assigned = frame->frameAttributeWithName("Landscape Image")->imageVal();
    ASSERT_NE(assigned, nullptr);
    EXPECT_EQ(assigned->filename(), "second.png");
    EXPECT_EQ(w.attributes->valueForRow(landscape).value<QImage>().size(), QSize(40, 30));

    // A file from elsewhere and look-alike data are refused.
    const int portrait = w.row(QStringLiteral("Portrait Image"));
    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(assigned->imagePath())});
    EXPECT_FALSE(dragAndDrop(w.table(), portrait, &file));
    QMimeData lookAlike;
    lookAlike.setData(QStringLiteral("FrameImages"), dragged->data(QStringLiteral("FrameImages")));
    EXPECT_FALSE(dragAndDrop(w.table(), portrait, &lookAlike));
    EXPECT_EQ(frame->frameAttributeWithName("Portrait Image")->imageVal(), nullptr);

    // A collection's icon row takes the browser's pictures too.
    auto *collection = FrameCollection::insertInManagedObjectContext(w.moc());
    w.attributes->showAttributesFor(collection);
    EXPECT_TRUE(dragAndDrop(w.table(), KTEAttributesController::kIconRow, dragged.get()));
    EXPECT_EQ(collection->icon(), assigned);
    EXPECT_TRUE(w.attributes->removeImageAttribute(KTEAttributesController::kIconRow));
    EXPECT_EQ(collection->icon(), nullptr);
    w.attributes->showAttributesFor(frame);

    // Removing the picture of the row clears it; the icon of a frame stays.
    EXPECT_TRUE(w.attributes->removeImageAttribute(landscape));
    EXPECT_EQ(frame->frameAttributeWithName("Landscape Image")->imageVal(), nullptr);
    EXPECT_FALSE(w.attributes->removeImageAttribute(KTEAttributesController::kIconRow));
}

TEST(KTEAttributesController, TheAuthorLeavesTheDateAloneAndAnotherTypeBringsFreshAttributes)
{
    Window w;
    Frame *frame = w.frame(QStringLiteral("Oak"), QStringLiteral("Full frame"));
    const QDateTime stamped = QDateTime::fromMSecsSinceEpoch(1000);
    frame->setLastModified(stamped);
    w.attributes->showAttributesFor(frame);
    QAbstractItemModel *model = w.table()->model();
    model->setData(model->index(KTEAttributesController::kAuthorRow, 1), QStringLiteral("Ann"), Qt::EditRole);
    model->setData(model->index(KTEAttributesController::kCatalogRefRow, 1), QStringLiteral("A-1"), Qt::EditRole);
    EXPECT_EQ(frame->lastModified(), stamped);
    model->setData(model->index(KTEAttributesController::kDescriptionRow, 1), QStringLiteral("oak"), Qt::EditRole);
    EXPECT_GT(frame->lastModified(), stamped);

    FrameAttribute *mask = frame->frameAttributeWithName("Act as mask");
    mask->setBoolVal(true);
    w.attributes->changeFrameType(); // the type it has: nothing changes
    EXPECT_EQ(frame->frameAttributeWithName("Act as mask"), mask);
    w.chosenType = w.type(QStringLiteral("Color Mat"));
    w.attributes->changeFrameType();
    EXPECT_EQ(frame->frametype(), w.chosenType);
    EXPECT_EQ(w.attributes->numberOfRows(), KTEAttributesController::kFirstAttributeRow + 1);
    EXPECT_EQ(w.attributes->propertyForRow(KTEAttributesController::kFirstAttributeRow), "Mat color");
    EXPECT_TRUE(mask->isDeleted());
}
