#include "LibraryPanelTestSupport.h"

#include "app/KTBottomBarViewController.h"
#include "app/KTDocumentController.h"
#include "app/KTMainLayoutViewController.h"
#include "app/KTMainSplitViewController.h"
#include "app/XSDocument.h"
#include "app/XSDocumentWindowController.h"
#include "design/KTFrameLayer.h"
#include "editor/KTLayersPaletteController.h"
#include "programs/kantelo/WindowControllers.h"
#include "stores/LibraryStore.h"

#include <QFileInfo>
#include <QMenu>

namespace {

using namespace librarypanel;

// A real document window, its controllers registered as the program does,
// over a frame library that is the process's own.
TEST(LibraryShowFrame, TheLayersStripsCommandOpensThePanelOnTheFrameAndTheBottomBarFollows)
{
    LibraryFile lib;
    FrameSet *gold = lib.set(lib.collection(QStringLiteral("Classic")), QStringLiteral("Gold leaf"));
    lib.frame(gold, QStringLiteral("Gold 1"));
    lib.frame(gold, QStringLiteral("Gold 2"));
    lib.saveAndReopen();
    librarytest::ShellDouble shell;
    LibraryStore store(&shell, QFileInfo(lib.path).absolutePath());
    LibraryStore::setShared(&store);
    Frame *wanted = nullptr;
    for (Frame *frame : store.managedObjectContext()->fetchObjects<Frame>())
        wanted = frame->name() == "Gold 2" ? frame : wanted;
    ASSERT_TRUE(wanted);
    kantelo::registerWindowControllers();

    platform::Error error;
    auto *doc = qobject_cast<XSDocument *>(
        KTDocumentController::sharedDocumentController()->openUntitledDocumentAndDisplay(true, &error));
    ASSERT_TRUE(doc);
    auto *window = qobject_cast<XSDocumentWindowController *>(doc->windowControllers().first());
    auto *palette = qobject_cast<KTLayersPaletteController *>(window->layersPaletteController());
    ASSERT_TRUE(palette);
    auto layer = KTFrameLayer::frameLayerFromFrame(wanted);
    doc->docTemplate()->addTopmostFrameLayer(layer);
    palette->addFrameLayer(layer);

    std::unique_ptr<QMenu> menu(palette->menuForRepresentedObject(layer, 2));
    ASSERT_EQ(menu->actions().first()->text(), "Show frame in Library");
    menu->actions().first()->trigger();

    KTMainSplitViewController *split = window->mainLayoutViewController()->mainSplitViewController();
    EXPECT_EQ(split->libraryPanelManagerViewController()->currentOpenPanel(), split->libraryPanelViewController());
    auto *library = qobject_cast<KTLibraryViewController *>(split->libraryViewController());
    ASSERT_TRUE(library);
    ASSERT_EQ(library->selectedItems().size(), 1);
    EXPECT_EQ(library->selectedItems().first().frame(), wanted);

    // The bottom bar's + and − follow the open panel and the favourites state.
    KTBottomBarViewController *bar = window->mainLayoutViewController()->bottomBarViewController();
    EXPECT_FALSE(bar->plusButton()->isEnabled());
    EXPECT_FALSE(bar->minusButton()->isEnabled());

    // The action menu: item 0, then copies of the library's commands for the
    // selection, refilled on each opening and working on the library.
    QMenu *actionMenu = bar->actionMenu();
    auto openedTitles = [&] {
        actionMenu->popup(QPoint(0, 0));
        actionMenu->hide();
        QStringList titles;
        for (QAction *action : actionMenu->actions().mid(1))
            titles << (action->isVisible() ? action->text() : QStringLiteral("(%1)").arg(action->text()));
        return titles;
    };
    QAction *first = actionMenu->actions().first();
    EXPECT_EQ(openedTitles(), QStringList({"Add to Favorites", "(Remove from Favorites)", "(Show in Library)",
                                           "Replace Outermost Frame", "", "Show Details", "Show in Frame Editor"}));
    EXPECT_EQ(actionMenu->actions().first(), first);
    actionMenu->actions().at(1)->trigger();
    EXPECT_TRUE(wanted->isFavorite().value_or(false));
    EXPECT_EQ(openedTitles().first(), "(Add to Favorites)");

    library->setLibraryState(KTLibraryViewController::FavoritesState);
    EXPECT_TRUE(bar->minusButton()->isEnabled());
    split->openTemplatesPanel();
    EXPECT_TRUE(bar->plusButton()->isEnabled());
    EXPECT_TRUE(bar->minusButton()->isEnabled());
    EXPECT_TRUE(openedTitles().isEmpty());
    EXPECT_EQ(actionMenu->actions(), QList<QAction *>({first}));

    // A set (as the archive import window shows one) is shown itself, among
    // its collection's sets, and a collection among the collections.
    FrameSet *shownSet = wanted->frameset();
    window->showItemInLibrary(shownSet);
    EXPECT_EQ(library->libraryState(), int(KTLibraryViewController::LibraryState));
    ASSERT_EQ(library->selectedItems().size(), 1);
    EXPECT_EQ(library->selectedItems().first().libraryItem(), shownSet);
    window->showItemInLibrary(shownSet->framecollection());
    ASSERT_EQ(library->selectedItems().size(), 1);
    EXPECT_EQ(library->selectedItems().first().libraryItem(), shownSet->framecollection());

    KTDocumentController::sharedDocumentController()->closeAllDocuments();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace
