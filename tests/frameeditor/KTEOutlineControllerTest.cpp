// The frame editor's outline on a real library store: every command is
// undone through the window's Edit menu, that is the frames context's undo
// manager.

#include "app/KTMainMenu.h"
#include "design/KTFrameLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTemplatePackage.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "frameeditor/KTEAttributesController.h"
#include "frameeditor/KTEImagesController.h"
#include "frameeditor/KTEOutlineController.h"
#include "frameeditor/KTEOutlineModel.h"
#include "frameeditor/KTFEWindowController.h"
#include "platform/Alert.h"
#include "platform/archive/PropertyList.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "scenes/SceneLibrary.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameCollection.h"
#include "stores/FrameImage.h"
#include "stores/FrameSet.h"
#include "stores/FrameType.h"
#include "stores/LibraryTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Editor {
    scenes::SceneLibrary lib;
    std::unique_ptr<KTFEWindowController> window;
    KTEOutlineController *outline = nullptr;
    QList<platform::AlertRequest> questions;
    QList<int> answers;

    Editor()
    {
        FrameCollection *classic = collection("Classic");
        set(collection("Modern"), "Plain")->addFramesObject(lib.colorMat(QStringLiteral("White mat"), Qt::white));
        FrameSet *gold = set(classic, "Gold");
        frame(gold, "Gold 1");
        frame(gold, "Gold 2");
        frame(set(classic, "Walnut"), "Walnut 1");
        frame(set(classic, "Ash"), "Ash 1");
        lib.moc()->undoManager()->removeAllActions();
        platform::setAlertPresenter([this](const platform::AlertRequest &request) {
            questions.append(request);
            return answers.isEmpty() ? 0 : answers.takeFirst();
        });
        window = std::make_unique<KTFEWindowController>(lib.moc());
        window->window()->resize(900, 600);
        window->window()->show();
        outline = window->outlineController();
    }
    ~Editor() { platform::setAlertPresenter({}); }
    FrameCollection *collection(const char *name) { return librarytest::newCollection(lib.moc(), QString::fromUtf8(name)); }
    FrameSet *set(FrameCollection *c, const char *name) { return librarytest::newSet(lib.moc(), c, QString::fromUtf8(name)); }
    Frame *frame(FrameSet *s, const char *name)
    {
        Frame *f = lib.frame(QString::fromLatin1(KTFrameLayer::kFullFrameTypeName), QString::fromUtf8(name));
        s->addFramesObject(f);
        return f;
    }
    template <class T> T *find(const QString &name) { return librarytest::findNamed<T>(lib.moc(), name); }
    QStringList names(LibraryItem *parent) const
    {
        QStringList out;
        for (LibraryItem *item : outline->model()->childrenOf(parent))
            out << item->name();
        return out;
    }
    // Lets the edit's undo group close, as the next event would.
    static void settle() { QApplication::processEvents(); }
    void undo()
    {
        settle();
        window->undoAction()->trigger();
        settle(); // the panes reload on the next pass
    }
};

TEST(FrameEditorOutline, AddsAndRenamesCollectionsSetsAndFramesEachUndone)
{
    Editor e;
    e.outline->addCollection();
    Editor::settle();
    auto *added = dynamic_cast<FrameCollection *>(e.outline->selectedItem());
    ASSERT_TRUE(added);
    EXPECT_EQ(added->name(), "New Collection");
    EXPECT_TRUE(e.outline->outlineView()->isEditing());

    EXPECT_FALSE(e.outline->renameItem(added, QStringLiteral(" \t ")));
    EXPECT_EQ(added->name(), "New Collection");
    EXPECT_TRUE(e.outline->renameItem(added, QStringLiteral(" Attic ")));
    Editor::settle();
    EXPECT_EQ(e.names(nullptr), QStringList({" Attic ", "Classic", "Modern"}));
    EXPECT_EQ(e.outline->selectedItem(), added);

    e.outline->addSet();
    Editor::settle();
    auto *set = dynamic_cast<FrameSet *>(e.outline->selectedItem());
    ASSERT_TRUE(set);
    EXPECT_EQ(set->framecollection(), added);
    EXPECT_TRUE(e.outline->isItemExpanded(added));

    e.window->setSelectedFrameType(FrameType::frameTypeWithName(QStringLiteral("Moulding"), e.lib.moc()));
    e.outline->addFrame();
    auto *frame = dynamic_cast<Frame *>(e.outline->selectedItem());
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->frameset(), set);
    EXPECT_EQ(frame->frametype()->name(), "Moulding");
    EXPECT_TRUE(frame->frameAttributeWithName(QStringLiteral("Top Image")));

    e.undo();
    EXPECT_TRUE(frame->isDeleted());
    EXPECT_TRUE(e.names(set).isEmpty());
    e.undo();
    EXPECT_TRUE(set->isDeleted());
    e.undo();
    EXPECT_EQ(added->name(), "New Collection");
    e.undo();
    EXPECT_EQ(e.names(nullptr), QStringList({"Classic", "Modern"}));
}

TEST(FrameEditorOutline, DuplicatesFramesAlsoAsMasksButNotAColourMat)
{
    Editor e;
    Frame *gold = e.find<Frame>(QStringLiteral("Gold 1"));
    e.window->displayObject(gold);
    e.outline->duplicateFrame();
    Editor::settle();
    auto *copy = dynamic_cast<Frame *>(e.outline->selectedItem());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->name(), "Gold 1 copy");
    EXPECT_EQ(copy->frameset(), gold->frameset());

    e.outline->selectItem(gold);
    e.outline->duplicateAsMask();
    auto *mask = dynamic_cast<Frame *>(e.outline->selectedItem());
    ASSERT_TRUE(mask);
    EXPECT_EQ(mask->name(), "Gold 1 Mask");
    EXPECT_EQ(mask->valueForAttribute(QStringLiteral("Act as mask")).toBool(), true);
    EXPECT_FALSE(gold->valueForAttribute(QStringLiteral("Act as mask")).toBool());
    EXPECT_EQ(e.names(gold->frameset()), QStringList({"Gold 1", "Gold 1 copy", "Gold 1 Mask", "Gold 2"}));

    Frame *mat = e.find<Frame>(QStringLiteral("White mat"));
    e.window->displayObject(mat);
    e.outline->duplicateAsMask();
    ASSERT_EQ(e.questions.size(), 1);
    EXPECT_EQ(e.questions.first().messageText, KTEOutlineController::kNoMaskMessage);
    EXPECT_EQ(e.names(mat->frameset()), QStringList({"White mat"}));

    e.undo();
    EXPECT_TRUE(mask->isDeleted());
    e.undo();
    EXPECT_TRUE(copy->isDeleted());
    EXPECT_EQ(e.names(gold->frameset()), QStringList({"Gold 1", "Gold 2"}));
}

TEST(FrameEditorOutline, DropsMoveFramesAndSetsToAnotherParentOnlyAndUndo)
{
    Editor e;
    Frame *gold = e.find<Frame>(QStringLiteral("Gold 1"));
    FrameSet *goldSet = gold->frameset();
    FrameSet *plain = e.find<FrameSet>(QStringLiteral("Plain"));
    KTEOutlineModel *model = e.outline->model();
    std::unique_ptr<QMimeData> drag(model->mimeData({model->indexOf(gold)}));
    ASSERT_TRUE(drag);
    EXPECT_FALSE(model->canDropMimeData(drag.get(), Qt::MoveAction, -1, 0, model->indexOf(goldSet)));
    EXPECT_FALSE(model->canDropMimeData(drag.get(), Qt::MoveAction, -1, 0, model->indexOf(plain->framecollection())));
    const QDateTime before = gold->lastModified();
    ASSERT_TRUE(model->dropMimeData(drag.get(), Qt::MoveAction, -1, 0, model->indexOf(plain)));
    EXPECT_EQ(gold->frameset(), plain);
    EXPECT_GE(gold->lastModified(), before);
    EXPECT_EQ(e.names(plain), QStringList({"Gold 1", "White mat"}));
    Editor::settle();

    // Collections stay where they are; a set goes to another collection.
    EXPECT_FALSE(model->mimeData({model->indexOf(plain), model->indexOf(plain->framecollection())}));
    FrameSet *walnut = e.find<FrameSet>(QStringLiteral("Walnut"));
    std::unique_ptr<QMimeData> setDrag(model->mimeData({model->indexOf(walnut)}));
    ASSERT_TRUE(model->dropMimeData(setDrag.get(), Qt::MoveAction, -1, 0, model->indexOf(plain->framecollection())));
    EXPECT_EQ(walnut->framecollection()->name(), "Modern");

    // A list from elsewhere names nothing of this library.
    QMimeData foreign;
    const QString elsewhere = gold->uriRepresentation().replace(QStringLiteral("//"), QStringLiteral("//other"));
    foreign.setData(QStringLiteral("outlineItems"),
                    platform::PropertyList::write(QVariantList{elsewhere}, platform::PropertyList::Format::Binary));
    EXPECT_FALSE(model->canDropMimeData(&foreign, Qt::MoveAction, -1, 0, model->indexOf(plain)));

    e.undo();
    EXPECT_EQ(walnut->framecollection()->name(), "Classic");
    e.undo();
    EXPECT_EQ(gold->frameset(), goldSet);
    EXPECT_EQ(e.names(plain), QStringList({"White mat"}));
}

TEST(FrameEditorOutline, DeleteAsksNoYesYesToAllAndUndoBringsAllBack)
{
    Editor e;
    auto *classic = e.find<FrameCollection>(QStringLiteral("Classic"));
    e.outline->expandItem(classic);
    QList<LibraryItem *> sets;
    for (const char *name : {"Ash", "Gold", "Walnut"})
        sets << e.find<FrameSet>(QString::fromLatin1(name));
    e.outline->selectItems(sets);
    ASSERT_EQ(e.outline->selectedItems(), sets);

    e.answers = {KTEOutlineController::AnswerNo, KTEOutlineController::AnswerYesToAll};
    e.outline->deleteFromOutlineView();
    ASSERT_EQ(e.questions.size(), 2); // Walnut goes without asking
    EXPECT_EQ(e.questions.first().messageText, KTEOutlineController::kWholeSetMessage);
    EXPECT_EQ(e.questions.first().informativeText,
              "Set \"Ash\" contains 1 frame.\nAre you sure you want to delete it?");
    EXPECT_EQ(e.questions.first().buttons, QStringList({"No", "Yes", "Yes to All"}));
    EXPECT_EQ(e.names(classic), QStringList({"Ash"}));
    EXPECT_TRUE(e.find<Frame>(QStringLiteral("Gold 2")) == nullptr);

    e.undo();
    EXPECT_EQ(e.names(classic), QStringList({"Ash", "Gold", "Walnut"}));
    EXPECT_EQ(e.names(sets.at(1)), QStringList({"Gold 1", "Gold 2"}));
}

TEST(FrameEditorOutline, DeletingAFrameASavedDesignUsesAsksFirst)
{
    Editor e;
    QTemporaryDir folder;
    TemplatesStore designs(folder.path());
    Frame *used = e.find<Frame>(QStringLiteral("Gold 2"));
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(std::make_shared<KTImageLayer>(), 0);
    design->addTopmostFrameLayer(KTFrameLayer::frameLayerFromFrame(used));
    design->setName(QStringLiteral("Gilded"));
    ASSERT_TRUE(KTTemplatePackage::variationFromTemplate(design.get(), designs.templatesManagedObjectContext()));
    e.window->setTemplatesContext(designs.templatesManagedObjectContext());

    e.window->displayObject(e.find<Frame>(QStringLiteral("Gold 1")));
    e.outline->deleteFromOutlineView(); // not in a design: no question
    EXPECT_TRUE(e.questions.isEmpty());
    e.window->displayObject(used);
    e.outline->deleteFromOutlineView();
    ASSERT_EQ(e.questions.size(), 1);
    EXPECT_EQ(e.questions.first().informativeText,
              "Frame \"Gold 2\" is being used in a template.\nAre you sure you want to delete it?");
    EXPECT_FALSE(used->isDeleted());
}

TEST(FrameEditorOutline, SelectionKeepsSiblingsAndShowingAFrameOpensOnlyItsParents)
{
    Editor e;
    for (LibraryItem *c : e.outline->model()->childrenOf(nullptr))
        e.outline->expandItem(c, true);
    Frame *gold = e.find<Frame>(QStringLiteral("Gold 2"));
    e.outline->selectItems({gold->frameset(), e.find<Frame>(QStringLiteral("White mat"))});
    EXPECT_EQ(e.outline->selectedItems(), QList<LibraryItem *>({gold->frameset()}));

    e.window->displayObject(gold);
    EXPECT_EQ(e.outline->selectedItems(), QList<LibraryItem *>({gold}));
    int open = 0;
    for (LibraryItem *c : e.outline->model()->childrenOf(nullptr))
        for (LibraryItem *s : QList<LibraryItem *>{c} + e.outline->model()->childrenOf(c))
            open += e.outline->isItemExpanded(s) ? 1 : 0;
    EXPECT_EQ(open, 2);
    EXPECT_TRUE(e.outline->isItemExpanded(gold->frameset()));
    EXPECT_TRUE(e.outline->isItemExpanded(gold->frameset()->framecollection()));
    EXPECT_FALSE(e.window->frameTypePopUpButton()->isHidden());

    // Closing the collection hands the hidden frame's selection to it.
    e.outline->outlineView()->collapse(e.outline->model()->indexOf(gold->frameset()->framecollection()));
    EXPECT_EQ(e.outline->selectedItems(), QList<LibraryItem *>({gold->frameset()->framecollection()}));
    EXPECT_FALSE(e.window->frameTypePopUpButton()->isVisibleTo(e.window->window()));
}

TEST(FrameEditorOutline, SearchShowsMatchingFramesAndClosesCollectionsWithout)
{
    Editor e;
    auto *classic = e.find<FrameCollection>(QStringLiteral("Classic"));
    auto *modern = e.find<FrameCollection>(QStringLiteral("Modern"));
    FrameSet *gold = e.find<FrameSet>(QStringLiteral("Gold"));
    EXPECT_EQ(e.names(gold).size(), 2);
    e.outline->framesSearchField()->setText(QStringLiteral("GÖLD 2"));
    EXPECT_EQ(e.names(gold), QStringList({"Gold 2"}));
    EXPECT_TRUE(e.names(e.find<FrameSet>(QStringLiteral("Walnut"))).isEmpty());
    EXPECT_TRUE(e.outline->isItemExpanded(classic));
    EXPECT_FALSE(e.outline->isItemExpanded(modern));
    e.outline->framesSearchField()->clear();
    EXPECT_EQ(e.names(gold).size(), 2);
    EXPECT_FALSE(e.outline->isItemExpanded(classic));

    // A search that hides the selected frame leaves nothing to delete,
    // export or edit; one that keeps it keeps it selected.
    e.window->displayObject(e.find<Frame>(QStringLiteral("Gold 1")));
    e.outline->framesSearchField()->setText(QStringLiteral("gold"));
    EXPECT_EQ(e.outline->selectedItem(), e.find<Frame>(QStringLiteral("Gold 1")));
    auto *table = e.window->attributesController()->attributesTableView();
    EXPECT_GT(table->model()->rowCount(), 6);
    e.outline->framesSearchField()->setText(QStringLiteral("walnut"));
    EXPECT_TRUE(e.outline->selectedItems().isEmpty());
    EXPECT_FALSE(e.outline->exportButton()->isEnabled());
    EXPECT_FALSE(e.outline->view()->findChild<QPushButton *>(QStringLiteral("deleteButton"))->isEnabled());
    EXPECT_EQ(table->model()->rowCount(), 0);
    e.outline->framesSearchField()->clear();

    // A frame made while the text would hide it clears the search.
    e.outline->framesSearchField()->setText(QStringLiteral("walnut"));
    e.outline->selectItem(e.find<Frame>(QStringLiteral("Walnut 1")));
    e.outline->addFrame();
    EXPECT_TRUE(e.outline->framesSearchField()->text().isEmpty());
    ASSERT_TRUE(e.outline->selectedItem());
    EXPECT_EQ(e.outline->selectedItem()->name(), "New Frame");
}

TEST(FrameEditorOutline, AfterADeleteTheNextRowIsSelected)
{
    Editor e;
    EXPECT_FALSE(e.outline->exportButton()->isEnabled()); // nothing chosen yet
    e.window->displayObject(e.find<Frame>(QStringLiteral("Gold 1")));
    e.outline->deleteFromOutlineView();
    EXPECT_TRUE(e.outline->exportButton()->isEnabled());
    ASSERT_TRUE(e.outline->selectedItem());
    EXPECT_EQ(e.outline->selectedItem()->name(), "Gold 2");
}

TEST(FrameEditorOutline, APictureRemovedInTheBrowserLeavesTheAttributeTable)
{
    Editor e;
    QTemporaryDir folder;
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkRed);
    ASSERT_TRUE(picture.save(folder.filePath(QStringLiteral("icon.png"))));
    auto *classic = e.find<FrameCollection>(QStringLiteral("Classic"));
    classic->setIcon(FrameImage::frameImageFromImageAtPath(folder.filePath(QStringLiteral("icon.png")), e.lib.moc()));
    KTEAttributesController *table = e.window->attributesController();
    table->showAttributesFor(classic);
    EXPECT_EQ(table->valueForRow(KTEAttributesController::kIconRow).value<QImage>().size(), QSize(40, 30));

    KTEImagesController *images = e.window->imagesController();
    images->reloadImages();
    ASSERT_EQ(images->imagesArray().size(), 1u);
    images->removeImagesAtIndexes({0});
    EXPECT_TRUE(table->valueForRow(KTEAttributesController::kIconRow).value<QImage>().isNull());
}

TEST(FrameEditorOutline, TheWindowHasTheApplicationsMenusAndCtrlWClosesIt)
{
    Editor e;
    auto *main = qobject_cast<QMainWindow *>(e.window->window());
    ASSERT_TRUE(main);
    QMenuBar *bar = main->menuBar();
    QStringList titles;
    for (QAction *menu : bar->actions())
        titles << menu->text();
    EXPECT_EQ(titles, QStringList({"&File", "&Edit", "&Window", "&Help"}));
    auto *menu = main->findChild<KTMainMenu *>();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->action(QStringLiteral("quitAction"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    // The editor's own Undo is left to it.
    e.outline->addCollection();
    Editor::settle();
    menu->validateCommands();
    EXPECT_TRUE(e.window->undoAction()->isEnabled());

    QWidget *window = main;
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window, testsupport::kHangGuardMs));
    e.outline->outlineView()->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); // ends the new name
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([window] { return !window->isVisible(); }, 5000));
}

} // namespace
