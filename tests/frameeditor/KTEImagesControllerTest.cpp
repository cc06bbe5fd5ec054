#include "FrameEditorTestSupport.h"

#include "platform/ui/FilePanels.h"

#include <QFile>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

using frameeditortest::Window;

namespace {

QStringList names(KTEImagesController &images)
{
    QStringList out;
    for (const KTEImageItem &item : images.imagesArray())
        out << item.imageName();
    return out;
}

} // namespace

TEST(KTEImagesController, GroupsUnusedPicturesBeforeUsedOnesAndSortsByNameOrDate)
{
    Window w;
    FrameImage *used = w.picture(QStringLiteral("b-used.png"));
    w.picture(QStringLiteral("c-spare.png"));
    w.picture(QStringLiteral("a-spare.png"));
    Frame *frame = w.frame(QStringLiteral("Oak"), QStringLiteral("Full frame"));
    frame->frameAttributeWithName("Portrait Image")->setImageVal(used);
    w.images->reloadImages();
    EXPECT_EQ(w.images->numberOfGroups(), 1);
    EXPECT_EQ(w.images->groupAtIndex(0).title, "All images");
    EXPECT_EQ(w.images->groupAtIndex(0).length, 3);

    w.images->setSortByTimeAdded(false);
    EXPECT_EQ(names(*w.images), QStringList({"a-spare.png", "b-used.png", "c-spare.png"}));
    w.images->setGroupByUsage(true);
    EXPECT_EQ(names(*w.images), QStringList({"a-spare.png", "c-spare.png", "b-used.png"}));
    const KTEImagesController::Group unused = w.images->groupAtIndex(0);
    const KTEImagesController::Group usedGroup = w.images->groupAtIndex(1);
    EXPECT_EQ(unused.title, "Unused");
    EXPECT_EQ(unused.length, 2);
    EXPECT_EQ(usedGroup.title, "Used");
    EXPECT_EQ(usedGroup.location, 2);
    EXPECT_EQ(usedGroup.length, 1);
    auto *usedView = w.images->browserView()->findChild<QListView *>(QStringLiteral("imagesGroupView1"));
    ASSERT_NE(usedView, nullptr);
    EXPECT_EQ(usedView->model()->rowCount(), 1);
    EXPECT_EQ(usedView->model()->index(0, 0).data().toString(), "b-used.png");
    // Its thumbnail comes from the background: the picture fitted into a square tile.
    EXPECT_TRUE(testsupport::waitUntil([&] {
        const QImage tile = usedView->model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(256).toImage();
        return tile.pixelColor(128, 128) == QColor(Qt::darkRed) && tile.pixelColor(128, 10).alpha() == 0;
    }));

    w.images->filterFrames(QStringLiteral("SPARE"));
    EXPECT_EQ(names(*w.images), QStringList({"a-spare.png", "c-spare.png"}));
    EXPECT_EQ(w.images->groupAtIndex(1).length, 0);
}

TEST(KTEImagesController, AddsOnlyPictureFilesAndUndoingTheAdditionLeavesTheCopiesToBeDeleted)
{
    Window w;
    const QString folder = librarytest::freshFolder();
    QImage(8, 8, QImage::Format_RGB32).save(folder + "/new.png");
    QFile text(folder + "/notes.txt");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a picture");
    text.close();
    QFile fake(folder + "/fake.jpg");
    ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
    fake.write("no jpeg either");
    fake.close();

    QMimeData onlyText;
    onlyText.setUrls({QUrl::fromLocalFile(folder + "/notes.txt")});
    EXPECT_FALSE(w.images->allowDrop(&onlyText));
    platform::setOpenPanelPresenter([&](const platform::OpenPanelRequest &request) {
        EXPECT_TRUE(request.allowsMultipleSelection);
        return QList<QUrl>{QUrl::fromLocalFile(folder + "/notes.txt"), QUrl::fromLocalFile(folder + "/new.png"),
                           QUrl::fromLocalFile(folder + "/fake.jpg")};
    });
    QSignalSpy added(w.images.get(), &KTEImagesController::imagesAdded);
    w.images->addFrames();
    platform::setOpenPanelPresenter(nullptr);
    ASSERT_TRUE(added.wait(testsupport::kHangGuardMs));
    EXPECT_EQ(added.first().first().toInt(), 1);
    ASSERT_EQ(names(*w.images), QStringList({"new.png"}));
    const QString copy = w.images->imagesArray().front().imagePath();
    EXPECT_TRUE(copy.startsWith(
        FrameImage::imagesFolder(w.images->imagesArray().front().frameImage()->managedObjectContext()) + '/'));
    EXPECT_TRUE(QFile::exists(copy));

    w.endStep();
    w.undo->undo();
    w.images->reloadImages();
    EXPECT_TRUE(w.images->imagesArray().empty());
    ASSERT_TRUE(w.moc()->save());
    w.images->deleteRemovedFrameImages();
    EXPECT_FALSE(QFile::exists(copy));
}

TEST(KTEImagesController, ARemovedPicturesFileGoesOnlyOnceItsRemovalIsSaved)
{
    Window w;
    FrameImage *kept = w.picture(QStringLiteral("kept.png"));
    FrameImage *gone = w.picture(QStringLiteral("gone.png"));
    FrameImage *unsaved = w.picture(QStringLiteral("unsaved.png"));
    const QString keptPath = kept->imagePath(), gonePath = gone->imagePath(), unsavedPath = unsaved->imagePath();
    ASSERT_TRUE(w.moc()->save());
    w.images->setSortByTimeAdded(false);
    w.endStep();

    w.images->removeImagesAtIndexes({0}); // gone.png
    w.endStep();
    w.images->removeImagesAtIndexes({0}); // kept.png
    w.endStep();
    w.undo->undo(); // kept.png is back
    w.images->reloadImages();
    EXPECT_EQ(names(*w.images), QStringList({"kept.png", "unsaved.png"}));
    ASSERT_TRUE(w.moc()->save());
    auto *remove = w.images->browserView()->findChild<QPushButton *>(QStringLiteral("removeImagesButton"));
    ASSERT_TRUE(remove);
    EXPECT_FALSE(remove->isEnabled()) << "Remove acts only on a selection";
    w.images->setSelectionIndexes({1});
    EXPECT_TRUE(remove->isEnabled());
    remove->click(); // unsaved.png: never saved
    w.images->deleteRemovedFrameImages();
    EXPECT_FALSE(QFile::exists(gonePath));
    EXPECT_TRUE(QFile::exists(keptPath));
    EXPECT_TRUE(QFile::exists(unsavedPath));
}
