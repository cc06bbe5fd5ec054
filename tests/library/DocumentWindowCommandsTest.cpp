#include "LibraryPanelTestSupport.h"

#include "app/KTBottomBarViewController.h"
#include "app/KTDesignCanvasInterface.h"
#include "app/KTDocumentController.h"
#include "app/KTMainMenu.h"
#include "app/XSDocument.h"
#include "app/XSDocumentWindowController.h"
#include "design/KTColorMatLayer.h"
#include "design/KTPreferenceKeys.h"
#include "app/KTMainLayoutViewController.h"
#include "app/KTMainSplitViewController.h"
#include "design/KTTemplatePackage.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "editor/KTLayersPaletteController.h"
#include "editor/KTTemplatesViewController.h"
#include "platform/Alert.h"
#include "platform/TemporaryFolders.h"
#include "platform/UserDefaults.h"
#include "programs/kantelo/WindowControllers.h"

#include <QAction>
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
