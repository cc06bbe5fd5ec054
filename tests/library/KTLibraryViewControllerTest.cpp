#include "LibraryPanelTestSupport.h"

#include "design/KTColorMatLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTextOverlayLayer.h"
#include "design/TemplatesStore.h"
#include "platform/Bundle.h"
#include "stores/FrameImage.h"
#include "stores/KTFrameLibraryImporter.h"
#include "stores/LibraryStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QUndoStack>
#include <QUuid>

#include <gtest/gtest.h>

using namespace librarypanel;

namespace {

const QStringList kCollections{"Classic", "Modern", "More frames"};
const QStringList kClassicSets{"Gold leaf", "GÖLDEN age", "Walnut"};

} // namespace

TEST(LibraryPanelLevels, TheBarDrillsDownAndBack)
{
    LibraryFile lib;
    fillStandard(lib);
    Panel p(lib);
    EXPECT_EQ(p.names(), kCollections);
    EXPECT_EQ(p.selectedNames(), QStringList{"Classic"});

    p.clickBar(1);
    EXPECT_EQ(p.names(), kClassicSets);
    EXPECT_EQ(p.controller->navigationBarActiveComponent(), 1u);
    p.select(QStringLiteral("Gold leaf"));
    p.clickBar(2);
    EXPECT_EQ(p.names(), (QStringList{"Gold 1", "Gold 2", "Rosé gold"}));
    EXPECT_EQ(p.controller->currentSet(), lib.find<FrameSet>(QStringLiteral("Gold leaf")));
    EXPECT_EQ(p.bar()->activeComponent(), 2);

    // Back to the collections: the collection of the set is selected.
    p.clickBar(0);
    EXPECT_EQ(p.names(), kCollections);
    p.select(QStringLiteral("Modern"));
    p.clickBar(0); // the active one: nothing
    EXPECT_EQ(p.selectedNames(), QStringList{"Modern"});
    // Straight to the frames of the set last visited, skipping the sets.
    p.clickBar(2);
    EXPECT_EQ(p.names(), (QStringList{"Gold 1", "Gold 2", "Rosé gold"}));
    // Up to the sets: the set that was shown is selected.
    p.clickBar(1);
    EXPECT_EQ(p.names(), kClassicSets);
    EXPECT_EQ(p.selectedNames(), QStringList{"Gold leaf"});

    // Double clicks drill down one level.
    p.doubleClick(QStringLiteral("Walnut"));
    EXPECT_TRUE(p.names().isEmpty());
    EXPECT_EQ(p.bar()->activeComponent(), 2);
    // The keys move a level; past either end they only beep.
    p.controller->moveToEndOfLine();
    EXPECT_EQ(p.bar()->activeComponent(), 2);
    p.controller->moveToBeginningOfLine();
    EXPECT_EQ(p.names(), kClassicSets);
    p.controller->moveToBeginningOfLine();
    EXPECT_EQ(p.names(), kCollections);
    p.controller->moveToBeginningOfLine();
    EXPECT_EQ(p.controller->navigationBarActiveComponent(), 0u);
}

TEST(LibraryPanelLevels, WithoutASelectionOrOnTheTileTheBarStays)
{
    LibraryFile lib;
    fillStandard(lib);
    Panel p(lib);
    p.list()->selectionModel()->clearSelection();
    p.clickBar(1);
    EXPECT_EQ(p.bar()->activeComponent(), 0);
    EXPECT_EQ(p.names(), kCollections);
    p.clickBar(2); // no set visited yet either
    EXPECT_EQ(p.bar()->activeComponent(), 0);

    p.select(QStringLiteral("More frames"));
    p.clickBar(1);
    EXPECT_EQ(p.bar()->activeComponent(), 0);
    EXPECT_EQ(p.names(), kCollections);
    // Return on the tile opens the frame packs page.
    p.key(Qt::Key_Return);
    EXPECT_EQ(p.packs.opened, 1);
}

TEST(LibraryPanelLevels, AnEmptyLibraryShowsOnlyTheTileSelected)
{
    LibraryFile lib;
    Panel p(lib);
    EXPECT_EQ(p.names(), QStringList{"More frames"});
    EXPECT_EQ(p.selectedNames(), QStringList{"More frames"});
    p.doubleClick(QStringLiteral("More frames"));
    p.key(Qt::Key_Space, QStringLiteral(" "));
    EXPECT_EQ(p.packs.opened, 2);
}

TEST(LibraryPanelSearch, MatchesIgnoreCaseAndAccentsAtEveryLevel)
{
    LibraryFile lib;
    fillStandard(lib);
    Panel p(lib);
    p.controller->setSearchText(QStringLiteral("FRAMES"));
    EXPECT_EQ(p.names(), QStringList{"More frames"});
    p.controller->setSearchText(QString());
    p.select(QStringLiteral("Classic"));
    p.clickBar(1);
    EXPECT_EQ(p.controller->searchText(), QString()); // a level change clears it
    p.controller->setSearchText(QStringLiteral("gold"));
    EXPECT_EQ(p.names(), (QStringList{"Gold leaf", "GÖLDEN age"}));
    p.controller->setSearchText(QStringLiteral("göl"));
    EXPECT_EQ(p.names(), (QStringList{"Gold leaf", "GÖLDEN age"}));

    p.select(QStringLiteral("Gold leaf"));
    p.clickBar(2);
    p.controller->setSearchText(QStringLiteral("rose"));
    EXPECT_EQ(p.names(), QStringList{"Rosé gold"});
    // No hits: an empty list on which Return, Enter and Space do nothing.
    p.controller->setSearchText(QStringLiteral("zinc"));
    EXPECT_TRUE(p.names().isEmpty());
    const auto before = p.canvas.design->layers().size();
    p.key(Qt::Key_Return);
    p.key(Qt::Key_Enter);
    p.key(Qt::Key_Space, QStringLiteral(" "));
    EXPECT_EQ(p.canvas.design->layers().size(), before);
    EXPECT_EQ(p.bar()->activeComponent(), 2);
}

TEST(LibraryPanelStates, FavouritesCanBeMarkedListedAndUnmarkedTogether)
{
    LibraryFile lib;
    fillStandard(lib);
    Panel p(lib);
    p.controller->showAndSelectItem(lib.find<Frame>(QStringLiteral("Gold 2")));
    p.controller->addToFavorites();
    p.controller->showAndSelectItem(lib.find<Frame>(QStringLiteral("White mat")));
    EXPECT_EQ(p.bar()->activeComponent(), 2);
    QMenu *menu = p.controller->libraryPopUpMenu();
    ASSERT_TRUE(menu->actions().first()->isVisible()); // "add" for a frame that is no favourite
    menu->actions().first()->trigger();
    EXPECT_TRUE(lib.find<Frame>(QStringLiteral("White mat"))->isFavorite().value_or(false));
    EXPECT_FALSE(p.controller->validateDelete());

    p.controller->toggleView();
    EXPECT_EQ(p.controller->libraryState(), 1);
    EXPECT_EQ(p.names(), (QStringList{"Gold 2", "White mat"}));
    EXPECT_TRUE(p.selectedNames().isEmpty());
    EXPECT_FALSE(p.controller->validateDelete());
    menu = p.controller->libraryPopUpMenu();
    EXPECT_FALSE(menu->actions().at(0)->isVisible());

    // Both selected, Delete: neither is a favourite any more.
    p.list()->selectAll();
    EXPECT_TRUE(p.controller->validateDelete());
    EXPECT_TRUE(p.controller->libraryPopUpMenu()->actions().at(1)->isVisible());
    p.key(Qt::Key_Delete);
    EXPECT_TRUE(p.names().isEmpty());
    EXPECT_FALSE(lib.find<Frame>(QStringLiteral("Gold 2"))->isFavorite().value_or(false));

    lib.find<Frame>(QStringLiteral("Black mat"))->setIsFavorite(true);
    p.controller->refreshLibraryViewKeepingSelection(true);
    EXPECT_EQ(p.names(), QStringList{"Black mat"});

    // Showing a favourite in the library goes to its set's frames.
    p.select(QStringLiteral("Black mat"));
    p.controller->showSelectedFrameInLibrary();
    EXPECT_EQ(p.controller->libraryState(), 0);
    EXPECT_EQ(p.names(), (QStringList{"Black mat", "White mat"}));
    EXPECT_EQ(p.selectedNames(), QStringList{"Black mat"});
    EXPECT_EQ(p.bar()->activeComponent(), 2);
}

TEST(LibraryPanelStates, RecentHoldsThirtyByLastUseAndPickingMovesToTheTop)
{
    LibraryFile lib;
    FrameSet *set = lib.set(lib.collection(QStringLiteral("C")), QStringLiteral("S"));
    const QDateTime base = QDateTime::currentDateTimeUtc().addDays(-1);
    for (int i = 0; i < 35; ++i)
        lib.frame(set, QStringLiteral("F%1").arg(i, 2, 10, QLatin1Char('0')))->setLastUsed(base.addSecs(i));
    lib.saveAndReopen();
    Panel p(lib);
    p.controller->toggleView();
    p.controller->toggleView();
    ASSERT_EQ(p.controller->libraryState(), 2);
    const QStringList recent = p.names();
    ASSERT_EQ(recent.size(), 30);
    EXPECT_EQ(recent.first(), "F34");
    EXPECT_EQ(recent.last(), "F05");

    p.select(QStringLiteral("F20"));
    p.key(Qt::Key_Return);
    EXPECT_EQ(p.names().first(), "F20");
    EXPECT_EQ(p.selectedNames(), QStringList{"F20"});
    EXPECT_EQ(p.names().size(), 30);
    // The design stamped the frame's use.
    EXPECT_GT(lib.find<Frame>(QStringLiteral("F20"))->lastUsed(), base.addSecs(100));
    p.controller->refreshLibraryViewKeepingSelection(true);
    EXPECT_EQ(p.names().first(), "F20");

    p.controller->toggleView();
    EXPECT_EQ(p.controller->libraryState(), 0);
}

TEST(LibraryPanelPicking, AFrameBecomesTheTopmostFrameLayerAndIsSelected)
{
    LibraryFile lib;
    fillStandard(lib);
    FrameSet *plain = lib.find<FrameSet>(QStringLiteral("Plain"));
    lib.frame(plain, QStringLiteral("Slim moulding"), QString::fromLatin1(KTFrameLayer::kMouldingTypeName));
    lib.saveAndReopen();
    Panel p(lib);
    auto text = std::make_shared<KTTextOverlayLayer>();
    auto existing = std::make_shared<KTColorMatLayer>();
    p.canvas.design->addTopmostLayer(existing);
    p.canvas.design->addTopmostLayer(text);
    p.canvas.palette->showDesign(*p.canvas.design);

    p.controller->showAndSelectItem(lib.find<Frame>(QStringLiteral("Slim moulding")));
    p.key(Qt::Key_Return);
    const auto layers = p.canvas.design->layers();
    ASSERT_EQ(layers.size(), 4);
    EXPECT_EQ(layers.at(0), text); // overlays stay outside
    auto *moulding = qobject_cast<KTMoldingFrameLayer *>(layers.at(1).get());
    ASSERT_NE(moulding, nullptr);
    EXPECT_EQ(moulding->theFrame(), lib.find<Frame>(QStringLiteral("Slim moulding")));
    EXPECT_EQ(layers.at(2), existing);
    EXPECT_EQ(p.canvas.palette->selectedRepresentedObject(), layers.at(1));
    EXPECT_EQ(p.canvas.palette->countOfFrames(), 2);
    EXPECT_EQ(p.canvas.strip->indexOfRepresentedObject(moulding), 2); // right of the first separator

    // A double click on a mat adds a mat above it.
    p.controller->showAndSelectItem(lib.find<Frame>(QStringLiteral("Black mat")));
    p.doubleClick(QStringLiteral("Black mat"));
    ASSERT_EQ(p.canvas.design->layers().size(), 5);
    EXPECT_NE(qobject_cast<KTColorMatLayer *>(p.canvas.design->layers().at(1).get()), nullptr);
    EXPECT_EQ(p.canvas.design->layers().at(2).get(), moulding);
}

TEST(LibraryPanelPicking, WithAltTheOutermostFrameIsReplacedAndItsSettingsKept)
{
    LibraryFile lib;
    fillStandard(lib);
    Panel p(lib);
    auto old = KTFrameLayer::frameLayerFromFrame(lib.find<Frame>(QStringLiteral("White mat")));
    auto *oldMat = qobject_cast<KTColorMatLayer *>(old.get());
    ASSERT_NE(oldMat, nullptr);
    oldMat->setLeftWidth(0.12);
    oldMat->setTopWidth(0.2);
    oldMat->setBevelWidth(0.05);
    oldMat->setDropShadow(false);
    oldMat->setShadowLength(0.4);
    oldMat->setShadowOffsetScaleFactor(0.07);
    auto inner = std::make_shared<KTColorMatLayer>();
    p.canvas.design->addTopmostFrameLayer(inner);
    p.canvas.design->addTopmostFrameLayer(old);
    p.canvas.palette->showDesign(*p.canvas.design);
    QUndoStack stack;
    p.canvas.palette->setUndoStack(&stack);

    p.controller->showAndSelectItem(lib.find<Frame>(QStringLiteral("Black mat")));
    p.holdAlt(true);
    p.key(Qt::Key_Return);
    p.holdAlt(false);
    EXPECT_FALSE(p.controller->altKeyIsPressed());

    const auto layers = p.canvas.design->layers();
    ASSERT_EQ(layers.size(), 3);
    EXPECT_FALSE(layers.contains(old));
    auto *fresh = qobject_cast<KTColorMatLayer *>(layers.at(0).get());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->theFrame(), lib.find<Frame>(QStringLiteral("Black mat")));
    EXPECT_DOUBLE_EQ(fresh->leftWidth(), 0.12);
    EXPECT_DOUBLE_EQ(fresh->topWidth(), 0.2);
    EXPECT_DOUBLE_EQ(fresh->bevelWidth(), 0.05);
    EXPECT_FALSE(fresh->dropShadow());
    EXPECT_DOUBLE_EQ(fresh->shadowLength(), 0.4);
    EXPECT_DOUBLE_EQ(fresh->shadowOffsetScaleFactor(), 0.07);
    EXPECT_EQ(layers.at(1), inner);
    EXPECT_EQ(p.canvas.palette->countOfFrames(), 2);
    EXPECT_EQ(p.canvas.strip->indexOfRepresentedObject(old.get()), -1);
    EXPECT_EQ(p.canvas.palette->selectedRepresentedObject(), layers.at(0));

    // The replacement is one step: one Undo brings the old frame back, one Redo the new one.
    ASSERT_EQ(stack.count(), 1);
    stack.undo();
    EXPECT_EQ(p.canvas.design->layers(), (KTTemplate::LayerList{old, inner, layers.at(2)}));
    EXPECT_NE(p.canvas.strip->indexOfRepresentedObject(old.get()), -1);
    stack.redo();
    EXPECT_EQ(p.canvas.design->layers(), layers);
    EXPECT_EQ(p.canvas.strip->indexOfRepresentedObject(old.get()), -1);
}

TEST(LibraryPanelPicking, TheMenuReplacesTheOutermostFrameWhereAltClicksDoNotArrive)
{
    LibraryFile lib;
    fillStandard(lib);
    Panel p(lib);
    auto replaceEntry = [&] {
        for (QAction *action : p.controller->libraryPopUpMenu()->actions())
            if (action->text() == QLatin1String(KTLibraryViewController::kReplaceOutermostFrameTitle))
                return action;
        return static_cast<QAction *>(nullptr);
    };
    p.controller->showAndSelectItem(lib.find<Frame>(QStringLiteral("Black mat")));
    ASSERT_TRUE(replaceEntry());
    EXPECT_TRUE(replaceEntry()->isVisible());
    EXPECT_FALSE(replaceEntry()->isEnabled()) << "no frame to replace yet";

    auto old = KTFrameLayer::frameLayerFromFrame(lib.find<Frame>(QStringLiteral("White mat")));
    qobject_cast<KTColorMatLayer *>(old.get())->setLeftWidth(0.12);
    p.canvas.design->addTopmostFrameLayer(old);
    p.canvas.palette->showDesign(*p.canvas.design);
    QUndoStack stack;
    p.canvas.palette->setUndoStack(&stack);
    ASSERT_TRUE(replaceEntry()->isEnabled());
    replaceEntry()->trigger();
    const auto layers = p.canvas.design->layers();
    ASSERT_EQ(layers.size(), 2);
    auto *fresh = qobject_cast<KTColorMatLayer *>(layers.at(0).get());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->theFrame(), lib.find<Frame>(QStringLiteral("Black mat")));
    EXPECT_DOUBLE_EQ(fresh->leftWidth(), 0.12);
    EXPECT_EQ(stack.count(), 1);

    p.controller->showAndSelectItem(lib.find<FrameSet>(QStringLiteral("Walnut")));
    EXPECT_FALSE(replaceEntry()->isVisible()) << "a set is no frame";
}

TEST(LibraryPanelIcons, IconsArriveWithoutBlockingAndUnreadableOnesKeepThePlaceholder)
{
    LibraryFile lib;
    FrameSet *set = lib.set(lib.collection(QStringLiteral("C")), QStringLiteral("S"));
    for (int i = 0; i < 12; ++i)
        lib.frame(set, QStringLiteral("F%1").arg(i));
    lib.find<Frame>(QStringLiteral("F3"))->setIconImageData(QByteArray("not a picture"));
    lib.saveAndReopen();
    Panel p(lib);
    p.controller->showAndSelectItem(lib.find<FrameSet>(QStringLiteral("S")));
    p.doubleClick(QStringLiteral("S"));
    ASSERT_EQ(p.names().size(), 12);
    KTLibraryContentModel *model = p.controller->contentModel();
    // Asking for the pictures answers at once; they come in afterwards.
    for (int row = 0; row < 12; ++row)
        EXPECT_FALSE(model->data(model->index(row), Qt::DecorationRole).value<QPixmap>().isNull());
    ASSERT_TRUE(testsupport::waitUntil([&] { return model->pendingIconCount() == 0; }));
    for (int row = 0; row < 12; ++row)
        EXPECT_TRUE(model->isIconLoaded(row)) << row;
    const QPixmap icon = model->data(model->index(0), Qt::DecorationRole).value<QPixmap>();
    EXPECT_EQ(icon.size(), QSize(64, 64));
}

namespace {
struct ImportEnded : KTFrameLibraryImporterDelegate {
    bool finished = false, failed = false;
    void importerDidFinish(KTFrameLibraryImporter *) override { finished = true; }
    void importerFailedWithError(KTFrameLibraryImporter *, const platform::Error &) override { failed = true; }
    void importerProgress(KTFrameLibraryImporter *, double) override {}
};
} // namespace

TEST(LibraryPanelStates, RecentIsEmptyOnAFreshProfile)
{
    // A first start: the shipped library and designs imported into an empty
    // support folder. Nobody has used a frame yet.
    const QString archive = platform::Bundle::resourcePath() + QStringLiteral("/InitialFrames.ktframes");
    ASSERT_TRUE(QFileInfo::exists(archive)) << "the content generator runs with the build";
    const QString folder = testsupport::scratchDir() + QStringLiteral("/fresh-") + QUuid::createUuid().toString(QUuid::Id128);
    LibraryStore store(nullptr, folder);
    LibraryStore::setShared(&store);
    QDir().mkpath(store.framesGraphicsFolder());
    ImportEnded ended;
    auto importer = std::make_shared<KTFrameLibraryImporter>(
        QUrl::fromLocalFile(archive), QUrl::fromLocalFile(store.framesGraphicsFolder()), store.managedObjectContext());
    importer->setDelegate(&ended);
    importer->startImport();
    // Generous: instrumented builds run several such imports at once.
    ASSERT_TRUE(testsupport::waitUntil([&] { return ended.finished || ended.failed; }, 300000));
    ASSERT_TRUE(ended.finished);
    TemplatesStore templates(folder);
    EXPECT_GT(templates.importInitialTemplates(store.managedObjectContext()), 5);

    KTLibraryViewController panel(QString::fromLatin1(KTLibraryViewController::kNibName), nullptr);
    panel.setManagedObjectContext(store.managedObjectContext());
    panel.view()->resize(300, 600);
    panel.toggleView();
    panel.toggleView();
    ASSERT_EQ(panel.libraryState(), 2u);
    EXPECT_TRUE(panel.filteredContent().isEmpty()) << panel.filteredContent().size() << " frames listed";
    panel.toggleView();
    EXPECT_FALSE(panel.filteredContent().isEmpty()) << "the library itself is there";
    LibraryStore::setShared(nullptr);
}

TEST(LibraryPanelTiles, ColumnsFillTheWidthAndTheSelectionLeavesTheIconAsItIs)
{
    LibraryFile lib;
    FrameSet *set = lib.set(lib.collection(QStringLiteral("C")), QStringLiteral("S"));
    for (int i = 0; i < 9; ++i)
        lib.frame(set, QStringLiteral("Frame with a long name %1").arg(i));
    lib.saveAndReopen();
    Panel p(lib);
    p.controller->showAndSelectItem(lib.find<Frame>(QStringLiteral("Frame with a long name 0")));
    ASSERT_EQ(p.names().size(), 9);
    VLCollectionView *list = p.list();
    ASSERT_TRUE(testsupport::waitUntil([&] { return p.controller->contentModel()->pendingIconCount() == 0; }));

    // As many columns as the width holds, packed from the left.
    auto columns = [&] {
        QSet<int> xs;
        for (int i = 0; i < p.names().size(); ++i)
            xs.insert(list->visualRect(p.controller->contentModel()->index(i)).x());
        return xs.size();
    };
    EXPECT_GE(columns(), 2);
    EXPECT_EQ(list->visualRect(p.controller->contentModel()->index(0)).x(), 0);
    p.view->resize(600, 700);
    QApplication::processEvents();
    EXPECT_GE(columns(), 4);

    // The icon of the selected tile shows the frame's own colours.
    const QModelIndex first = p.controller->contentModel()->index(0);
    const QImage icon = lib.find<Frame>(p.names().at(0))->iconImage().convertToFormat(QImage::Format_RGB32);
    auto iconPixels = [&] {
        const QImage shot = list->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return shot.copy(VLCollectionView::iconRectInTile(list->visualRect(first).adjusted(2, 2, -2, -2), icon.size()));
    };
    p.controller->selectItemAtIndex(1);
    const QImage unselected = iconPixels();
    p.controller->selectItemAtIndex(0);
    ASSERT_EQ(p.selectedNames().size(), 1);
    const QImage selected = iconPixels();
    EXPECT_EQ(selected, unselected);
    EXPECT_EQ(selected.pixel(icon.width() / 2, icon.height() / 2), icon.pixel(icon.width() / 2, icon.height() / 2));
}
