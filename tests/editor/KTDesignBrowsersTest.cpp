#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTemplatePackage.h"
#include "design/Tag.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "editor/KTTemplatesViewController.h"
#include "editor/KTVariationsViewController.h"
#include "kit/VLArrayListModel.h"
#include "platform/objectstore/ManagedObjectContext.h"
#include "platform/objectstore/UndoManager.h"
#include "support/TestSupport.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<KTTemplate> designNamed(const QString &name)
{
    auto design = std::make_shared<KTTemplate>();
    design->insertLayer(std::make_shared<KTImageLayer>(), 0);
    design->setName(name);
    return design;
}

QStringList names(const QList<Variation *> &variations)
{
    QStringList out;
    for (const Variation *v : variations)
        out << v->name();
    return out;
}

QStringList tagNames(const Variation *v)
{
    QStringList out;
    for (const Tag *tag : v->tags())
        out << tag->name();
    out.sort();
    return out;
}

struct Browser : ::testing::Test {
    QString folder = testsupport::scratchDir() + QStringLiteral("/browsers-") + QUuid::createUuid().toString(QUuid::Id128);
    std::unique_ptr<TemplatesStore> store;
    platform::ManagedObjectContext *moc = nullptr;
    std::unique_ptr<KTTemplatesViewController> browser;

    void SetUp() override
    {
        QDir().mkpath(folder);
        store = std::make_unique<TemplatesStore>(folder);
        moc = store->templatesManagedObjectContext();
        for (const char *name : {"gilt", "Birch", "ash", "Cedar"})
            add(QString::fromLatin1(name), {});
        Tag *rustic = moc->insert<Tag>();
        rustic->setName(QStringLiteral("rustic"));
        Variation::variationWithName(QStringLiteral("Birch"), moc)->addTagsObject(rustic);
        Tag *warm = moc->insert<Tag>();
        warm->setName(QStringLiteral("warm"));
        Variation::variationWithName(QStringLiteral("Cedar"), moc)->addTagsObject(warm);
        Variation::variationWithName(QStringLiteral("Cedar"), moc)->addTagsObject(rustic);
        browser = std::make_unique<KTTemplatesViewController>(QStringLiteral("TemplatesView"), nullptr);
        browser->setTemplatesContext(moc);
        browser->view()->resize(300, 600);
        browser->view()->show();
        browser->refreshTemplatesSelecting({});
    }
    void TearDown() override
    {
        browser.reset();
        store.reset();
    }
    Variation *add(const QString &name, const QStringList &)
    {
        return KTTemplatePackage::variationFromTemplate(designNamed(name).get(), moc);
    }
    Variation *named(const QString &name) const { return Variation::variationWithName(name, moc); }
    QStringList shown() const { return names(browser->filteredContent()); }
    void settle()
    {
        const int before = browser->refreshCount();
        if (!browser->refreshPending())
            browser->needToRefreshTemplates();
        EXPECT_TRUE(QTest::qWaitFor([&] { return browser->refreshCount() > before; }, 5000));
    }
};

} // namespace

TEST_F(Browser, ListsByNameIgnoringCaseAndCoalescesRefreshes)
{
    EXPECT_EQ(shown(), (QStringList{"ash", "Birch", "Cedar", "gilt"}));
    const int before = browser->refreshCount();
    for (int i = 0; i < 20; ++i)
        browser->needToRefreshTemplates();
    EXPECT_TRUE(QTest::qWaitFor([&] { return browser->refreshCount() > before; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(browser->refreshCount(), before + 1);
}

TEST_F(Browser, AddUndoRedoWithoutNameEditingAndADuplicateGUIDKeptAsACopy)
{
    auto design = designNamed(QStringLiteral("Oak"));
    browser->addVariation(design);
    ASSERT_EQ(browser->selectedItems().size(), 1);
    EXPECT_EQ(browser->selectedItems().first()->name(), QStringLiteral("Oak"));
    platform::UndoManager *undo = browser->undoManager();
    EXPECT_EQ(undo->undoActionName(), QStringLiteral("Add Template"));
    // The user types the new name at once.
    QAbstractItemView *list = browser->collectionView();
    auto editing = [&] {
        auto *editor = list->viewport()->findChild<QLineEdit *>();
        return editor && editor->isVisible();
    };
    ASSERT_TRUE(QTest::qWaitFor(editing, testsupport::kHangGuardMs));
    QTest::keyClick(list->viewport()->findChild<QLineEdit *>(), Qt::Key_Escape);
    ASSERT_FALSE(editing());
    // Several "Oak" may exist: the new one is found by its GUID.
    const QString guid = browser->selectedItems().first()->guid();
    undo->undo();
    settle();
    EXPECT_FALSE(shown().contains("Oak"));
    undo->redo();
    settle();
    ASSERT_TRUE(Variation::variationWithGUID(guid, moc));
    EXPECT_FALSE(QTest::qWaitFor(editing, 600));

    // The same design saved again (it carries a stored GUID) becomes a copy.
    auto again = KTTemplate::templateFromVariation(Variation::variationWithGUID(guid, moc), nullptr);
    browser->addTemplates({again, again});
    EXPECT_EQ(undo->undoActionName(), QStringLiteral("Add Templates"));
    EXPECT_EQ(shown().count("Oak"), 3);
    EXPECT_EQ(again->variationGUID(), guid);
}

TEST_F(Browser, RemovingThreeAndUndoBringsThemBackWithTheirKeywords)
{
    browser->selectItems({named("ash")->guid(), named("Birch")->guid(), named("Cedar")->guid()});
    browser->removeSelectedVariations();
    EXPECT_EQ(browser->undoManager()->undoActionName(), QStringLiteral("Remove Templates"));
    settle();
    EXPECT_EQ(shown(), QStringList{"gilt"});
    EXPECT_EQ(Tag::tagWithName(QStringLiteral("warm"), moc), nullptr); // no orphan keyword
    browser->undoManager()->undo();
    settle();
    EXPECT_EQ(shown(), (QStringList{"ash", "Birch", "Cedar", "gilt"}));
    EXPECT_EQ(named("Cedar")->tags().size(), 2);
}

TEST_F(Browser, RenameUndoAndACaseOnlyRenameIsAModification)
{
    auto *model = browser->collectionView()->model();
    QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    const QModelIndex gilt = model->index(3, 0);
    ASSERT_TRUE(model->setData(gilt, QStringLiteral("Gilt"), Qt::EditRole));
    settle();
    EXPECT_EQ(shown(), (QStringList{"ash", "Birch", "Cedar", "Gilt"}));
    EXPECT_EQ(removed.count(), 0);
    EXPECT_GE(changed.count(), 1);
    ASSERT_EQ(browser->selectedItems().size(), 1);
    EXPECT_EQ(browser->selectedItems().first()->name(), QStringLiteral("Gilt"));

    platform::UndoManager *undo = browser->undoManager();
    EXPECT_EQ(undo->undoActionName(), QStringLiteral("Rename Template"));
    undo->undo();
    EXPECT_EQ(named("gilt") != nullptr, true);
    EXPECT_FALSE(undo->canUndo()); // the undo's rename went to the redo stack only
    undo->redo();
    EXPECT_TRUE(named("Gilt"));
    EXPECT_FALSE(undo->canRedo());
    EXPECT_TRUE(undo->canUndo());

    // A rename made elsewhere (another window) is shown, not put on this stack.
    undo->removeAllActions();
    named("Birch")->setName(QStringLiteral("Beech"));
    settle();
    EXPECT_TRUE(shown().contains("Beech"));
    EXPECT_FALSE(undo->canUndo());
}

TEST_F(Browser, EachSearchCategory)
{
    browser->searchField()->setText(QStringLiteral("RUST"));
    settle();
    EXPECT_EQ(shown(), (QStringList{"Birch", "Cedar"})); // name and tags
    browser->setSearchCategory(KTTemplatesViewController::NameOnly);
    settle();
    EXPECT_TRUE(shown().isEmpty());
    browser->searchField()->setText(QStringLiteral("c"));
    settle();
    EXPECT_EQ(shown(), (QStringList{"Birch", "Cedar"}));
    browser->setSearchCategory(KTTemplatesViewController::TagsOnly);
    browser->searchField()->setText(QStringLiteral("wárm")); // diacritics ignored
    settle();
    EXPECT_EQ(shown(), QStringList{"Cedar"});
    browser->searchField()->clear();
    settle();
    EXPECT_EQ(shown().size(), 4);
}

TEST_F(Browser, ImportedDesignsAreShownSelectedEvenPastASearch)
{
    browser->searchField()->setText(QStringLiteral("gilt"));
    settle();
    Variation *imported = add(QStringLiteral("Oak 2"), {});
    browser->showDesigns({imported->guid()});
    EXPECT_TRUE(browser->searchField()->text().isEmpty());
    EXPECT_EQ(browser->selectedItems(), QList<Variation *>{imported});
    settle();
    EXPECT_EQ(browser->selectedItems(), QList<Variation *>{imported}) << "kept through the next refresh";
}

TEST_F(Browser, KeywordsUnionReadOnlyCompletionAndOrphansDeleted)
{
    browser->selectItems({named("Birch")->guid(), named("Cedar")->guid()});
    EXPECT_TRUE(browser->keywordsTokenField()->isReadOnly());
    EXPECT_EQ(browser->keywordsTokenField()->keywords(), (QStringList{"rustic", "warm"}));

    browser->selectItems({named("Cedar")->guid()});
    EXPECT_FALSE(browser->keywordsTokenField()->isReadOnly());
    EXPECT_EQ(browser->completionsForSubstring(QStringLiteral("WA")), QStringList{"warm"});
    // Typed as the user would: a comma makes a chip, which goes to the design at once.
    KTKeywordsField *field = browser->keywordsTokenField();
    const QList<QToolButton *> chips = field->chips();
    const auto warm = std::find_if(chips.begin(), chips.end(), [](QToolButton *c) { return c->text().startsWith("warm"); });
    ASSERT_NE(warm, chips.end());
    QTest::keyClick(*warm, Qt::Key_Space); // its cross
    EXPECT_TRUE(QTest::qWaitFor([&] { return named("Cedar")->tags().size() == 1; }, 5000));
    QTest::keyClicks(field->editor(), QStringLiteral("oak,"));
    field->commit(QStringLiteral("Ébène"));
    EXPECT_EQ(tagNames(named("Cedar")), (QStringList{"oak", "rustic", "Ébène"}));
    EXPECT_EQ(Tag::tagWithName(QStringLiteral("warm"), moc), nullptr);
    EXPECT_EQ(browser->completionsForSubstring(QStringLiteral("eb")), QStringList{"Ébène"});
    EXPECT_EQ(named("Birch")->tags().size(), 1); // the other design keeps its keyword

    browser->removeKeywordFromAllTemplates(Tag::tagWithName(QStringLiteral("rustic"), moc));
    EXPECT_TRUE(named("Birch")->tags().isEmpty());
    EXPECT_EQ(field->keywords(), (QStringList{"oak", "Ébène"}));
}

TEST_F(Browser, ReturnAppliesTheSelectedDesignAndDeleteRemovesIt)
{
    // The window's Undo, as the document window's Edit menu has it.
    QAction documentUndo(QStringLiteral("Undo Apply Design"));
    documentUndo.setShortcut(QKeySequence::Undo);
    browser->view()->addAction(&documentUndo);
    QSignalSpy documentUndone(&documentUndo, &QAction::triggered);
    browser->view()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(browser->view(), testsupport::kHangGuardMs));
    QSignalSpy applied(browser.get(), &KTTemplatesViewController::templateApplied);
    QTest::keyClick(browser->collectionView(), Qt::Key_Return);
    EXPECT_EQ(applied.count(), 0); // nothing selected
    browser->selectItems({named("Cedar")->guid()});
    QTest::keyClick(browser->collectionView(), Qt::Key_Return);
    ASSERT_EQ(applied.count(), 1);
    // With nothing of the browser's to undo, Ctrl+Z on the list undoes the applied design.
    ASSERT_FALSE(browser->undoManager()->canUndo());
    QTest::keyClick(browser->collectionView(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(documentUndone.count(), 1);
    EXPECT_EQ(applied.first().first().toString(), named("Cedar")->guid());
    QTest::keyClick(browser->collectionView(), Qt::Key_Delete);
    settle();
    EXPECT_FALSE(shown().contains("Cedar"));
    // Ctrl+Z on the list undoes on the browser's own stack.
    QTest::keyClick(browser->collectionView(), Qt::Key_Z, Qt::ControlModifier);
    settle();
    EXPECT_TRUE(shown().contains("Cedar"));
    EXPECT_EQ(documentUndone.count(), 1);
}

TEST_F(Browser, VariationsHintAndTwoSavedAsTemplates)
{
    KTVariationsViewController variations(QStringLiteral("VariationsView"), nullptr);
    platform::ManagedObjectContext *scratch = store->variationsManagedObjectContext();
    variations.setMoc(scratch);
    variations.setTemplatesBrowser(browser.get());
    variations.view()->resize(300, 400);
    ASSERT_TRUE(variations.instructionView());

    variations.addVariation(designNamed(QStringLiteral("One")));
    variations.addVariation(designNamed(QStringLiteral("Two")));
    EXPECT_EQ(variations.instructionView(), nullptr);
    EXPECT_EQ(variations.content().size(), 2);
    EXPECT_EQ(variations.content().first()->name(), QStringLiteral("New Variation"));

    variations.collectionView()->selectAll();
    variations.saveAsTemplate();
    EXPECT_EQ(browser->undoManager()->undoActionName(), QStringLiteral("Add Template"));
    EXPECT_EQ(shown().count("New Variation"), 2);
    // Saved a second time: stored again under fresh GUIDs instead of ending the program.
    variations.saveAsTemplate();
    EXPECT_EQ(shown().count("New Variation"), 4);

    variations.removeSelectedVariations();
    EXPECT_TRUE(variations.content().isEmpty());
    EXPECT_TRUE(variations.instructionView());
}
