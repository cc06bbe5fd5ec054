#include "LibraryPanelTestSupport.h"

#include "app/KTBottomBarViewController.h"
#include "app/KTDesignCanvasInterface.h"
#include "app/KTDocumentController.h"
#include "app/KTLayerLimit.h"
#include "app/KTPanelViewController.h"
#include "app/KTMainMenu.h"
#include "app/XSDocument.h"
#include "app/XSDocumentWindowController.h"
#include "design/KTColorMatLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTMoldingFrameLayer.h"
#include "design/KTTextOverlayLayer.h"
#include "design/VLImageMetadataManager.h"
#include "design/KTPreferenceKeys.h"
#include "app/KTMainLayoutViewController.h"
#include "app/KTMainSplitViewController.h"
#include "design/KTTemplatePackage.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "editor/KTLayersPaletteController.h"
#include "editor/KTOverlayControlsViewController.h"
#include "editor/KTTemplatesViewController.h"
#include "platform/Alert.h"
#include "platform/TemporaryFolders.h"
#include "platform/UserDefaults.h"
#include "programs/kantelo/WindowControllers.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QSlider>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTest>
#include <QUndoStack>
#include <QUuid>

namespace {

// The program's own document window, its canvas and strip real, on a photo.
struct DocumentWindow : ::testing::Test {
    XSDocument *doc = nullptr;
    XSDocumentWindowController *window = nullptr;

    void SetUp() override
    {
        kantelo::registerWindowControllers();
        KTMainMenu::installForDocumentWindows();
        const QString photo = testsupport::scratchDir() + QStringLiteral("/noisy.png");
        QImage picture(300, 200, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * y) % 256, (x * 7 + y * 53) % 256));
        ASSERT_TRUE(picture.save(photo));
        bool done = false;
        KTDocumentController::sharedDocumentController()->openDocumentWithContentsOfURL(
            QUrl::fromLocalFile(photo), true, [&](platform::Document *opened, bool, const platform::Error &) {
                doc = qobject_cast<XSDocument *>(opened);
                done = true;
            });
        ASSERT_TRUE(testsupport::waitUntil([&] { return done; }));
        ASSERT_TRUE(doc);
        window = qobject_cast<XSDocumentWindowController *>(doc->windowControllers().first());
    }
    void TearDown() override
    {
        platform::setAlertPresenter(nullptr);
        if (doc)
            doc->updateChangeCount(platform::Document::ChangeKind::Cleared);
        KTDocumentController::sharedDocumentController()->closeAllDocuments();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

} // namespace

TEST_F(DocumentWindow, EditDeleteRemovesTheSelectedLayerAsTheKeyDoesButNeverThePhoto)
{
    auto *palette = qobject_cast<KTLayersPaletteController *>(window->layersPaletteController());
    ASSERT_TRUE(palette);
    auto mat = std::make_shared<KTColorMatLayer>();
    doc->docTemplate()->addTopmostFrameLayer(mat);
    palette->addFrameLayer(mat);
    KTMainMenu *menu = KTMainMenu::install(window);
    QAction *remove = menu->action(QStringLiteral("deleteLayerAction"));
    ASSERT_TRUE(remove);
    EXPECT_EQ(remove->shortcut(), QKeySequence(QKeySequence::Delete));
    palette->selectLayer(doc->docTemplate()->imageLayer().get());
    menu->validateCommands();
    EXPECT_FALSE(remove->isEnabled()) << "the photo is selected";

    palette->selectLayer(mat.get());
    menu->validateCommands();
    ASSERT_TRUE(remove->isEnabled());
    remove->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(doc->docTemplate()->layers().size(), 1);
    doc->undoManager()->undo();
    EXPECT_EQ(doc->docTemplate()->layers().size(), 2) << "one Undo step, as with the key";
}

TEST_F(DocumentWindow, EditUndoUndoesInTheTemplatesListWhenItHasTheFocusAsItsKeyDoes)
{
    const QString folder = testsupport::scratchDir() + "/designs-" + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(folder);
    TemplatesStore store(folder);
    auto *browser = qobject_cast<KTTemplatesViewController *>(
        window->mainLayoutViewController()->mainSplitViewController()->templatesViewController());
    ASSERT_TRUE(browser);
    browser->setTemplatesContext(store.templatesManagedObjectContext());
    const QString guid =
        KTTemplatePackage::variationFromTemplate(doc->docTemplate().get(), store.templatesManagedObjectContext())
            ->guid();
    window->mainLayoutViewController()->openTemplatesPanel();
    browser->refreshTemplatesSelecting({guid});
    ASSERT_TRUE(testsupport::waitUntil([&] { return browser->filteredContent().size() == 1; }));
    browser->selectItems({guid});
    browser->removeSelectedVariations();
    ASSERT_TRUE(testsupport::waitUntil([&] { return browser->filteredContent().isEmpty(); }));

    window->window()->show();
    window->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window->window(), testsupport::kHangGuardMs));
    browser->collectionView()->setFocus();
    KTMainMenu *menu = KTMainMenu::install(window);
    QAction *undo = menu->action(QStringLiteral("undoAction"));
    menu->validateCommands();
    EXPECT_EQ(undo->text(), "&Undo Remove Template");
    EXPECT_TRUE(undo->isEnabled());
    const int documentSteps = doc->undoManager()->index();
    undo->trigger();
    ASSERT_TRUE(testsupport::waitUntil([&] { return browser->filteredContent().size() == 1; }));
    EXPECT_EQ(doc->undoManager()->index(), documentSteps);
    menu->validateCommands();
    EXPECT_EQ(menu->action(QStringLiteral("redoAction"))->text(), "&Redo Remove Template");

    // Elsewhere in the window the menu is the document's again.
    browser->searchField()->setFocus();
    menu->validateCommands();
    EXPECT_FALSE(undo->text().contains("Template"));
}

TEST_F(DocumentWindow, SharingMakesThePictureAsTheExportPreferencesSay)
{
    KTBottomBarViewController *bar = window->mainLayoutViewController()->bottomBarViewController();
    auto *canvas = dynamic_cast<KTDesignCanvasInterface *>(bar->designViewController());
    ASSERT_TRUE(canvas);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !canvas->lastDrawnSize().isEmpty(); }));
    const QSize shown(int(canvas->lastDrawnSize().width()), int(canvas->lastDrawnSize().height()));
    platform::UserDefaults &defaults = platform::UserDefaults::standard();
    defaults.setInteger(KTPreferenceKeys::kExportSizeModificationKey, 1); // the size shown on screen
    defaults.setInteger(KTPreferenceKeys::kOutputImageFormatKey, 0);

    QStringList ran;
    QList<qint64> bytes;
    KTBottomBarViewController::setDesktopRunner([&](const QString &program, const QStringList &arguments) {
        ran << program + ' ' + arguments.join(' ');
        const QString path = arguments.last();
        EXPECT_EQ(QImage(path).size(), shown);
        EXPECT_TRUE(path.startsWith(platform::TemporaryFolders::rootPath())) << "a private temporary folder";
        bytes << QFileInfo(path).size();
        return true;
    });
    defaults.setInteger(KTPreferenceKeys::kOutputImageQualityKey, 95);
    bar->openWithViewer();
    defaults.setInteger(KTPreferenceKeys::kOutputImageQualityKey, 5);
    bar->emailPicture();
    KTBottomBarViewController::setDesktopRunner(nullptr);
    ASSERT_EQ(ran.size(), 2);
    EXPECT_TRUE(ran.at(0).startsWith(" /")) << "opened with the desktop's handler";
    EXPECT_TRUE(ran.at(1).startsWith("xdg-email --subject Framed with Kantelo for Linux --attach /"));
    EXPECT_LT(bytes.at(1) * 4, bytes.at(0) * 3) << "the preferred quality";
    bar->copyToClipboard();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), shown);

    // Without xdg-email the user is told, as when no viewer opens the picture.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", testsupport::scratchDir().toLocal8Bit());
    QStringList told;
    platform::setAlertPresenter([&](const platform::AlertRequest &request) {
        told << request.messageText + '|' + request.informativeText;
        return 1;
    });
    bar->emailPicture();
    platform::setAlertPresenter(nullptr);
    qputenv("PATH", path);
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith("Couldn't start an e-mail with “noisy.")) << told[0].toStdString();
    EXPECT_TRUE(told[0].contains("folder:\n" + platform::TemporaryFolders::rootPath())) << told[0].toStdString();
    for (const char *key : {KTPreferenceKeys::kExportSizeModificationKey, KTPreferenceKeys::kOutputImageFormatKey,
                            KTPreferenceKeys::kOutputImageQualityKey})
        defaults.removeObject(key);
}

namespace {

template <typename Layer> std::shared_ptr<Layer> layerOf(const XSDocument *doc)
{
    for (const auto &layer : doc->docTemplate()->layers())
        if (auto found = std::dynamic_pointer_cast<Layer>(layer))
            return found;
    return nullptr;
}

} // namespace

TEST_F(DocumentWindow, UndoAndRedoOfApplyDesignKeepEveryEditMadeAroundIt)
{
    // The user's design holds more placeholders than a design from outside may.
    const QString date = QStringLiteral("{{EXIF long date}}"), many = date.repeated(101);
    auto design = std::make_shared<KTTemplate>();
    for (const QString &words : {many, date}) {
        auto text = std::make_shared<KTTextOverlayLayer>();
        text->setOverlayText(platform::StyledText(words));
        (words == many ? doc->docTemplate() : design)->addTopmostLayer(text);
    }
    design->addTopmostLayer(std::make_shared<KTColorMatLayer>());
    doc->replaceTemplateWith(design);

    KTMainLayoutViewController *layout = window->mainLayoutViewController();
    layout->selectLayer(layerOf<KTTextOverlayLayer>(doc));
    QTextEdit *field =
        qobject_cast<KTOverlayControlsViewController *>(layout->overlayControlsViewController())->textView();
    field->selectAll();
    field->textCursor().insertText(QStringLiteral("ABC"));

    QUndoStack *undo = doc->undoManager();
    const int steps = undo->index();
    undo->setIndex(steps - 2);
    EXPECT_EQ(layerOf<KTTextOverlayLayer>(doc)->overlayText().string(), many);
    EXPECT_FALSE(layerOf<KTColorMatLayer>(doc));
    undo->setIndex(steps);
    EXPECT_EQ(layerOf<KTTextOverlayLayer>(doc)->overlayText().string(), QStringLiteral("ABC"));
    EXPECT_TRUE(layerOf<KTColorMatLayer>(doc));
}

TEST_F(DocumentWindow, TheTextAndLayerLimitsAreHeldWhereTheyAreMadeAndSaid)
{
    QStringList told;
    platform::setAlertPresenter([&](const platform::AlertRequest &r) { return int((told << r.messageText).size()); });
    auto *panel = qobject_cast<KTOverlayControlsViewController *>(
        window->mainLayoutViewController()->overlayControlsViewController());
    panel->setCurrentOverlayType(1);
    panel->addTextOverlay();
    const auto text = layerOf<KTTextOverlayLayer>(doc);
    QTextEdit *field = panel->textView(); // a paste past the length: refused, said, the field as the layer
    field->selectAll();
    field->textCursor().insertText(QString(10001, QLatin1Char('x')));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(text->overlayText().string() + field->toPlainText(), QStringLiteral("OverlayOverlay"));
    EXPECT_TRUE(panel->limitNote()->isVisibleTo(field->parentWidget()) && panel->limitNote()->text().contains("10"));
    // A hundred placeholders are taken; the menu's next one is not.
    field->selectAll();
    field->textCursor().insertText(QStringLiteral("{{File name}}").repeated(100));
    panel->insertTemplateText(panel->metadataPopUpButton()->itemData(1).toLongLong());
    EXPECT_EQ(VLImageMetadataManager::countOfPlaceholders(text->overlayText().string()), 100);
    EXPECT_TRUE(panel->limitNote()->text().contains("placeholders"));
    // No layer past the most a design may hold.
    while (doc->docTemplate()->layers().size() < KTTemplate::kMaxLayers)
        doc->docTemplate()->addTopmostFrameLayer(std::make_shared<KTColorMatLayer>());
    panel->addTextOverlay();
    EXPECT_EQ(doc->docTemplate()->layers().size(), KTTemplate::kMaxLayers);
    EXPECT_EQ(told, QStringList{KTLayerLimit::kFullMessage});
}

TEST_F(DocumentWindow, ASavedDesignThatCantBeReadSaysSoAndTheShadowBoxCastsTheMouldingsShadow)
{
    QStringList told, why;
    platform::setAlertPresenter([&](const platform::AlertRequest &r) {
        why << r.informativeText;
        return int((told << r.messageText).size());
    });
    QTemporaryDir folder;
    TemplatesStore store(folder.path());
    Variation *broken = Variation::insertInManagedObjectContext(store.templatesManagedObjectContext());
    broken->setName(QStringLiteral("Broken"));
    broken->setData(QByteArrayLiteral("no design"));
    window->mainLayoutViewController()->replaceTemplateWithVariation(broken);
    EXPECT_EQ(told, QStringList{QString::fromUtf8("The saved design “Broken” could not be read")});
    // The reader's own sentence, ended once.
    EXPECT_TRUE(why.value(0).startsWith("The archive is damaged: ") && why.value(0).endsWith('.')
                && !why.value(0).contains(".."))
        << why.value(0).toStdString();

    auto moulding = std::make_shared<KTMoldingFrameLayer>();
    moulding->setDropShadow(false); // as Classic Walnut's is stored
    doc->docTemplate()->addTopmostFrameLayer(moulding);
    window->mainLayoutViewController()->selectLayer(moulding);
    QWidget *panel = window->mainLayoutViewController()->controlsPanelViewController()->customViewController()->view();
    auto *length = panel->findChild<QSlider *>(QStringLiteral("Shadow slider"));
    ASSERT_TRUE(panel->findChild<QCheckBox *>(QStringLiteral("Drop shadow box")));
    panel->findChild<QCheckBox *>(QStringLiteral("Drop shadow box"))->click();
    EXPECT_TRUE(moulding->dropShadow() && length->isEnabled());
    EXPECT_TRUE(platform::UserDefaults::standard().boolForKey(KTMoldingFrameLayer::kShadowEnabledDefault));
    doc->undoManager()->undo();
    EXPECT_FALSE(moulding->dropShadow());
    platform::UserDefaults::standard().removeObject(KTMoldingFrameLayer::kShadowEnabledDefault);
}

TEST_F(DocumentWindow, FileOpenChoosesADesignFolderAndAppliesItInsteadOfGoingIntoIt)
{
    const QTemporaryDir folder;
    auto design = std::make_shared<KTTemplate>();
    design->addTopmostLayer(std::make_shared<KTImageLayer>());
    design->addTopmostLayer(std::make_shared<KTColorMatLayer>());
    ASSERT_TRUE(design->saveToURL(QUrl::fromLocalFile(folder.path() + "/Matted.KTTemplate"), {}, QString(), false));
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        dialog->setDirectory(folder.path());
        auto *list = dialog->findChild<QAbstractItemView *>(QStringLiteral("treeView"));
        ASSERT_TRUE(testsupport::waitUntil([&] { return list->model()->rowCount(list->rootIndex()) > 0; }));
        const QPoint at = list->visualRect(list->model()->index(0, 0, list->rootIndex())).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        if (QApplication::activeModalWidget() == dialog)
            dialog->reject(); // went into the folder
    });
    KTDocumentController::sharedDocumentController()->openDocument();
    auto *applied = qobject_cast<XSDocument *>(KTDocumentController::sharedDocumentController()->documents().last());
    ASSERT_TRUE(layerOf<KTColorMatLayer>(applied));
    EXPECT_EQ(applied->undoManager()->undoText(), QStringLiteral("Apply Design"));
}
