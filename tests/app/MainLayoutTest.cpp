#include "AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/KTBottomBarViewController.h"
#include "app/KTControllerRegistry.h"
#include "app/KTDesignCanvasInterface.h"
#include "app/KTDocumentController.h"
#include "app/KTLayersPaletteInterface.h"
#include "app/KTMainLayoutViewController.h"
#include "app/KTMainSplitViewController.h"
#include "app/KTPanelManagerViewController.h"
#include "app/KTPanelViewController.h"
#include "app/KTPresentationSettings.h"
#include "app/KTToolbarViewController.h"
#include "app/KTToolbarViewControllerProtocol.h"
#include "app/KTViewState.h"
#include "app/XSDocument.h"
#include "app/XSDocumentWindowController.h"
#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "kit/ui/VLColorWell.h"
#include "platform/Assert.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/archive/Archiver.h"

#include <gtest/gtest.h>

#include <QColorDialog>
#include <QCoreApplication>
#include <QLabel>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>

using namespace platform;
using namespace apptest;

namespace {

// Counts "panelManagerPanelOpenedNotification" from one manager.
struct OpenedCounter {
    int count = 0;
    NotificationCenter::ObserverId id;
    explicit OpenedCounter(const void *manager)
    {
        id = NotificationCenter::defaultCenter().addObserver("panelManagerPanelOpenedNotification", manager,
                                                             [this](const Notification &) { ++count; });
    }
    ~OpenedCounter() { NotificationCenter::defaultCenter().removeObserver(id); }
};

struct PanelStack {
    KTPanelManagerViewController manager{"PanelManagerView", nullptr};
    QList<KTPanelViewController *> panels;
    explicit PanelStack(int count, QSize size = QSize(280, 500))
    {
        for (int i = 0; i < count; ++i) {
            auto *panel = new KTPanelViewController("PanelView", nullptr);
            panel->setPanelName(QString("P%1").arg(i));
            manager.addPanel(panel);
            panels << panel;
        }
        manager.view()->resize(size);
        manager.view()->show();
    }
    QList<QRect> frames() const
    {
        QList<QRect> out;
        for (KTPanelViewController *panel : panels)
            out << panel->view()->geometry();
        return out;
    }
};

} // namespace

TEST(KTPanelManagerLayout, OneOpenPanelTakesWhatTheTitleStripsLeave)
{
    PanelStack stack(3);
    OpenedCounter opened(&stack.manager);
    stack.manager.openPanelAndAnimate(stack.panels[1], false);
    EXPECT_EQ(stack.frames(), (QList<QRect>{{0, 0, 280, 38}, {0, 38, 280, 424}, {0, 462, 280, 38}}));
    EXPECT_EQ(opened.count, 1);
    EXPECT_TRUE(stack.panels[1]->isActive());
    EXPECT_FALSE(stack.panels[0]->isActive());
    EXPECT_EQ(stack.manager.currentOpenPanel(), stack.panels[1]);

    // A resize relays at once; the open panel takes the whole change.
    stack.manager.view()->resize(300, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(stack.frames(), (QList<QRect>{{0, 0, 300, 38}, {0, 38, 300, 624}, {0, 662, 300, 38}}));

    // The title of the open panel does nothing; another one moves the open state.
    stack.panels[1]->titleButton()->click();
    EXPECT_EQ(opened.count, 1);
    stack.panels[2]->titleButton()->click();
    EXPECT_EQ(opened.count, 2);
    EXPECT_TRUE(stack.panels[2]->isActive());
    EXPECT_FALSE(stack.panels[1]->isActive());
    ASSERT_TRUE(testsupport::waitUntil([&] { return stack.frames().last() == QRect(0, 76, 300, 624); }))
        << "the animated move ends where the layout says";
    EXPECT_EQ(stack.frames()[0], QRect(0, 0, 300, 38));
    EXPECT_EQ(stack.frames()[1], QRect(0, 38, 300, 38));

    // Tabbing into a closed panel opens it.
    QFocusEvent tabbedIn(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(stack.panels[0]->view(), &tabbedIn);
    EXPECT_EQ(stack.manager.currentOpenPanel(), stack.panels[0]);
    QFocusEvent activated(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(stack.panels[1]->view(), &activated);
    EXPECT_EQ(stack.manager.currentOpenPanel(), stack.panels[0]) << "a window becoming active opens nothing";
}

TEST(KTPanelManagerLayout, AWindowShorterThanTheStripsGivesNoNegativeHeight)
{
    PanelStack stack(3, QSize(280, 50));
    stack.manager.openPanelAndAnimate(stack.panels[0], false);
    for (const QRect &frame : stack.frames())
        EXPECT_GE(frame.height(), 0);
    EXPECT_EQ(stack.frames()[0].height(), 0);
    // Without an open panel every panel is a strip from the top.
    PanelStack closed(2);
    closed.manager.layoutViewAndAnimate(false);
    EXPECT_EQ(closed.frames(), (QList<QRect>{{0, 0, 280, 38}, {0, 38, 280, 38}}));
}

TEST(KTPanelManagerLayout, AClosedPanelShowsOnlyItsTitleWhateverItsContentNeeds)
{
    PanelStack stack(2, QSize(280, 500));
    // Content that asks for more height than a closed strip has.
    auto *tall = new XSViewController("Tall", nullptr);
    tall->view()->setMinimumHeight(300);
    stack.panels[1]->setCustomViewController(tall);
    stack.manager.openPanelAndAnimate(stack.panels[0], false);
    QCoreApplication::processEvents();
    KTPanelViewController *closed = stack.panels[1];
    ASSERT_EQ(closed->view()->geometry(), QRect(0, 462, 280, 38));
    EXPECT_EQ(closed->titleButton()->geometry(), QRect(0, 0, 280, 38)) << "the title keeps its strip";
    EXPECT_EQ(closed->contentViewHolder()->height(), 0) << "the content stays hidden below it";

    stack.manager.openPanelAndAnimate(closed, false);
    QCoreApplication::processEvents();
    EXPECT_EQ(closed->titleButton()->geometry(), QRect(0, 0, 280, 38));
    EXPECT_EQ(closed->contentViewHolder()->geometry(), QRect(0, 38, 280, 424));
}

TEST(KTPanelManagerLayout, ReplacedContentLeavesOneViewAndClearsTheOldObject)
{
    KTPanelViewController panel("PanelView", nullptr);
    panel.view();
    EXPECT_EQ(panel.titleButton()->text(), "Default Title");
    QPointer<XSViewController> first = new XSViewController("First", nullptr);
    first->setRepresentedObject(42);
    panel.setCustomViewController(first);
    auto *second = new XSViewController("Second", nullptr);
    panel.setCustomViewController(second);
    EXPECT_EQ(panel.customViewController(), second);
    EXPECT_EQ(panel.childViewControllers(), QList<platform::ViewController *>{second});
    QList<QWidget *> contents;
    for (QObject *child : panel.contentViewHolder()->children())
        if (child->isWidgetType())
            contents << static_cast<QWidget *>(child);
    EXPECT_EQ(contents, QList<QWidget *>{second->view()});
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->representedObject().isValid());
    panel.setCustomViewController(second);
    EXPECT_EQ(panel.customViewController(), second) << "setting the same content again keeps it";
    EXPECT_EQ(second->view()->parentWidget(), panel.contentViewHolder());
}

namespace {

struct ToolbarRecorder : KTToolbarViewControllerProtocol {
    QList<QPair<quint64, QString>> clicks;
    void toolbarIconClickedNamed(quint64 index, const QString &name) override { clicks.append({index, name}); }
};

struct Toolbar {
    KTToolbarViewController controller{"ToolbarView", nullptr};
    ToolbarRecorder recorder;
    explicit Toolbar(int icons)
    {
        const QStringList captions{"All", "Favorites", "Recent"};
        for (int i = 0; i < icons; ++i)
            controller.addIconWithNameAndIconText(captions[i] + " icon", captions[i]);
        controller.setDelegate(&recorder);
        controller.view()->resize(300, 60);
        controller.displayToolbar();
        controller.view()->show();
    }
    QPoint centre(quint64 k) const { return controller.iconRect(k).center().toPoint(); }
    QWidget *view() { return controller.view(); }
};

} // namespace

TEST(KTToolbarIcons, IconsAreCentredInStepsOfEighty)
{
    Toolbar three(3);
    for (quint64 k = 0; k < 3; ++k) {
        EXPECT_DOUBLE_EQ(three.controller.iconRect(k).center().x() - 150, -80.0 + 80.0 * double(k));
        EXPECT_DOUBLE_EQ(three.controller.iconRect(k).width(), 40);
        EXPECT_DOUBLE_EQ(three.controller.iconRect(k).center().y(), 30 - 6) << "raised 6 above the middle";
        EXPECT_NEAR(three.controller.captionRect(k).bottom(), 58, 0.01);
    }
    Toolbar two(2);
    EXPECT_DOUBLE_EQ(two.controller.iconRect(0).center().x(), 110);
    EXPECT_DOUBLE_EQ(two.controller.iconRect(1).center().x(), 190);
    EXPECT_EQ(two.controller.layerWithEvent(QPointF(150, 5)), KTToolbarViewController::kNone);
}

TEST(KTToolbarIcons, AClickSelectsOnlyWhereItWasPressedAndReleased)
{
    Toolbar bar(3);
    bar.controller.setSelectedIcon(0);
    ASSERT_EQ(bar.recorder.clicks.size(), 1) << "the owner's own choice is told too";
    bar.recorder.clicks.clear();

    // Press on icon 1, drag away, release elsewhere: nothing.
    QTest::mousePress(bar.view(), Qt::LeftButton, {}, bar.centre(1));
    EXPECT_TRUE(bar.controller.isPressed());
    EXPECT_DOUBLE_EQ(bar.controller.pressedPlateOpacity(), 0.4);
    QMouseEvent away(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(bar.view(), &away);
    EXPECT_FALSE(bar.controller.isPressed());
    QTest::mouseRelease(bar.view(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(bar.recorder.clicks.isEmpty());
    EXPECT_EQ(bar.controller.selectedIcon(), 0u);
    EXPECT_DOUBLE_EQ(bar.controller.pressedPlateOpacity(), 0.0);

    // Press, drag off and back on, release: selected.
    QTest::mousePress(bar.view(), Qt::LeftButton, {}, bar.centre(2));
    QCoreApplication::sendEvent(bar.view(), &away);
    QMouseEvent back(QEvent::MouseMove, bar.centre(2), bar.centre(2), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(bar.view(), &back);
    QTest::mouseRelease(bar.view(), Qt::LeftButton, {}, bar.centre(2));
    EXPECT_EQ(bar.controller.selectedIcon(), 2u);
    ASSERT_EQ(bar.recorder.clicks.size(), 1);
    EXPECT_EQ(bar.recorder.clicks[0], (QPair<quint64, QString>{2, "Recent"}));

    // A press on a caption counts; a press on the selected icon does nothing.
    const QPoint caption = bar.controller.captionRect(1).center().toPoint();
    QTest::mouseClick(bar.view(), Qt::LeftButton, {}, caption);
    EXPECT_EQ(bar.controller.selectedIcon(), 1u);
    QTest::mousePress(bar.view(), Qt::LeftButton, {}, bar.centre(1));
    EXPECT_FALSE(bar.controller.isPressed());
    QTest::mouseRelease(bar.view(), Qt::LeftButton, {}, bar.centre(1));
    EXPECT_EQ(bar.recorder.clicks.size(), 2);
}

TEST(KTViewStateZoom, ZoomIsClampedAndEveryChangeIsSignalled)
{
    KTViewState state;
    EXPECT_DOUBLE_EQ(state.zoom(), 0.9);
    QSignalSpy changed(&state, &KTViewState::viewStateChanged);
    const QList<QPair<double, double>> cases{{0.1, 0.3}, {1.5, 1.0}, {0.3, 0.3}, {1.0, 1.0}, {0.55, 0.55}};
    for (const auto &[given, kept] : cases) {
        state.setZoom(given);
        EXPECT_DOUBLE_EQ(state.zoom(), kept) << given;
    }
    state.setZoom(std::nan(""));
    EXPECT_DOUBLE_EQ(state.zoom(), 0.55);
    state.setBackgroundColor(Qt::red);
    EXPECT_EQ(changed.count(), 7) << "re-setting the same zoom still redraws";
}

namespace {

class PresentationFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        AppDelegate::initialize();
        KTPresentationSettings::reset();
        UserDefaults &d = UserDefaults::standard();
        for (const char *key : {"LeftBackgroundColor", "RightBackgroundColor", "BackgroundColorSliderPosition",
                                "DesignViewZoomLevel"})
            d.removeObject(key);
    }
    void TearDown() override { KTPresentationSettings::reset(); }
};

} // namespace

TEST_F(PresentationFixture, FirstUseStoresTheFactorySetAsTheUsersAndResetReturnsToIt)
{
    UserDefaults &d = UserDefaults::standard();
    EXPECT_FALSE(d.objectForKey("UserLeftBackgroundColor").isValid());
    const KTPresentationSettings previous = KTPresentationSettings::previousSettings();
    const KTPresentationSettings factory = KTPresentationSettings::defaultSettings();
    EXPECT_EQ(previous, factory);
    EXPECT_EQ(previous.hash(), factory.hash());
    ASSERT_TRUE(factory.leftColor().has_value());
    EXPECT_EQ(*factory.leftColor(), Color::white(0.0));
    EXPECT_EQ(*factory.rightColor(), Color::white(1.0));
    EXPECT_DOUBLE_EQ(factory.colorSliderPosition(), 214.0 / 255.0);
    EXPECT_DOUBLE_EQ(factory.zoomLevel(), 0.9);
    EXPECT_TRUE(d.objectForKey("UserLeftBackgroundColor").isValid());
    EXPECT_DOUBLE_EQ(d.doubleForKey("UserDesignViewZoomLevel"), 0.9);

    // Colours are kept with single-precision components.
    KTPresentationSettings mine(Color::rgb(0.25, 0.5, 0.75), Color::white(0.5), 0.2, 0.6);
    mine.save();
    EXPECT_EQ(d.dataForKey("UserLeftBackgroundColor"),
              Archiver::archivedDataWithRootObject(QVariant::fromValue(Color::rgb(0.25, 0.5, 0.75))))
        << "kept as an old-style archive";
    EXPECT_EQ(KTPresentationSettings::previousSettings(), mine);
    KTPresentationSettings nudged = mine;
    nudged.setColorSliderPosition(0.2 + 1e-12);
    EXPECT_NE(nudged, mine);

    KTPresentationSettings::reset();
    EXPECT_FALSE(d.objectForKey("UserLeftBackgroundColor").isValid());
    EXPECT_EQ(KTPresentationSettings::previousSettings(), KTPresentationSettings::defaultSettings());
}

namespace {

// A stand-in for the editor's layers palette: the window's canvas makes it
// and it registers with its window controller, as the real one does.
class TestPalette : public QObject, public KTLayersPaletteInterface
{
public:
    std::shared_ptr<KTLayer> selected;
    QStringList calls;
    void buildEmptyPalette() override { calls << "empty"; }
    void setImageLayer(const std::shared_ptr<KTLayer> &) override { calls << "image"; }
    void addFrameLayer(const std::shared_ptr<KTLayer> &) override { calls << "frame"; }
    void addOverlayLayer(const std::shared_ptr<KTLayer> &) override { calls << "overlay"; }
    void selectLayer(const KTLayer *layer) override
    {
        calls << "select";
        NotificationCenter::defaultCenter().post("KTLayerSelectedNotification", static_cast<QObject *>(this));
        (void)layer;
    }
    void removeLayer(const KTLayer *) override { calls << "remove"; }
    void layerWasAdded(const std::shared_ptr<KTLayer> &) override { calls << "added"; }
    std::shared_ptr<KTLayer> selectedRepresentedObject() const override { return selected; }
    QWidget *layersPaletteWidget() const override { return nullptr; }
    void choose(const std::shared_ptr<KTLayer> &layer)
    {
        selected = layer;
        selectLayer(layer.get());
    }
};

class TestCanvas : public XSViewController, public KTDesignCanvasInterface
{
public:
    using XSViewController::XSViewController;
    std::shared_ptr<KTViewState> state;
    int trackingResets = 0;
    QPointer<TestPalette> palette;
    void setViewState(const std::shared_ptr<KTViewState> &viewState) override { state = viewState; }
    KTTrackingAreaHost *trackingAreaHost() override { return nullptr; }
    void removeAllTrackingAreas() override { ++trackingResets; }

protected:
    QWidget *loadView() override
    {
        palette = new TestPalette;
        palette->setParent(this);
        if (auto *window = qobject_cast<XSDocumentWindowController *>(windowController()))
            window->setLayersPaletteController(palette);
        auto *view = new QLabel("canvas");
        view->setObjectName("DesignView");
        return view;
    }
};

class MainLayoutFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        AppDelegate::initialize();
        KTControllerRegistry::registerClass("KTDesignViewController",
                                            [this](const QString &nib, WindowController *window, QObject *parent) {
                                                canvas = new TestCanvas(nib, window, parent);
                                                return canvas.data();
                                            });
        KTControllerRegistry::registerClass("KTImageLayerPanelController",
                                            [](const QString &nib, WindowController *window, QObject *parent) {
                                                auto *made = new XSViewController(nib, window, parent);
                                                made->setObjectName("KTImageLayerPanelController");
                                                return made;
                                            });
        controller = KTDocumentController::sharedDocumentController();
    }
    void TearDown() override
    {
        controller->closeAllDocuments();
        QCoreApplication::processEvents();
        // Closed documents go now, with the work they still run in the background.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        KTControllerRegistry::unregisterClass("KTDesignViewController");
        KTControllerRegistry::unregisterClass("KTImageLayerPanelController");
    }
    XSDocumentWindowController *openWindow()
    {
        Document *opened = nullptr;
        controller->openDocumentWithContentsOfURL(QUrl::fromLocalFile(writePhoto(freshDir())), true,
                                                  [&](Document *doc, bool, const Error &) { opened = doc; });
        testsupport::waitUntil([&] { return opened != nullptr; });
        doc = qobject_cast<XSDocument *>(opened);
        return doc ? qobject_cast<XSDocumentWindowController *>(doc->windowControllers().value(0)) : nullptr;
    }
    KTDocumentController *controller = nullptr;
    XSDocument *doc = nullptr;
    QPointer<TestCanvas> canvas;
};

} // namespace

TEST_F(MainLayoutFixture, TheWindowTreeIsBuiltInOrderWithItsPanelsOpen)
{
    XSDocumentWindowController *window = openWindow();
    ASSERT_TRUE(window);
    KTMainLayoutViewController *layout = window->mainLayoutViewController();
    ASSERT_TRUE(layout);
    ASSERT_TRUE(canvas);
    EXPECT_EQ(window->layersPaletteController(), canvas->palette.data()) << "the canvas's palette registered itself";
    EXPECT_EQ(layout->layersPaletteController(), canvas->palette.data());
    EXPECT_EQ(doc->layersPaletteController(), canvas->palette.data());
    EXPECT_EQ(canvas->palette->calls.mid(0, 2), (QStringList{"empty", "image"}))
        << canvas->palette->calls.join(',').toStdString();
    EXPECT_EQ(canvas->state, layout->viewState()) << "the canvas shares the window's view state";

    const QList<platform::ViewController *> children = layout->childViewControllers();
    ASSERT_EQ(children.size(), 3);
    EXPECT_EQ(children[0], layout->mainSplitViewController());
    EXPECT_EQ(children[1], layout->panelManagerViewController());
    EXPECT_EQ(children[2], layout->bottomBarViewController());

    QStringList editing, browsers;
    for (KTPanelViewController *panel : layout->panelManagerViewController()->panels())
        editing << panel->panelName();
    KTMainSplitViewController *split = layout->mainSplitViewController();
    for (KTPanelViewController *panel : split->libraryPanelManagerViewController()->panels())
        browsers << panel->panelName();
    EXPECT_EQ(editing, (QStringList{"DESIGN SETTINGS", "LAYER SETTINGS", "OVERLAYS"}));
    EXPECT_EQ(browsers, (QStringList{"VARIATIONS", "TEMPLATES", "LIBRARY"}));
    EXPECT_EQ(layout->panelManagerViewController()->currentOpenPanel(), layout->templateSettingsPanelViewController());
    EXPECT_EQ(split->libraryPanelManagerViewController()->currentOpenPanel(), split->templatesPanelViewController());
    EXPECT_TRUE(layout->bottomBarViewController()->plusButtonEnabled());
    EXPECT_EQ(layout->bottomBarViewController()->docTemplate(), doc->docTemplate());
    EXPECT_THROW(layout->bottomBarViewController()->setTemplate(doc->docTemplate()), std::exception)
        << "the bar takes its design once";

    // Opening the library with its panel open would step its view: with no
    // library here it only stays open.
    layout->openLibraryPanel();
    EXPECT_EQ(split->libraryPanelManagerViewController()->currentOpenPanel(), split->libraryPanelViewController());
    layout->openLibraryPanel();
    EXPECT_EQ(split->libraryPanelManagerViewController()->currentOpenPanel(), split->libraryPanelViewController());
}

TEST_F(MainLayoutFixture, TheBrowserColumnKeepsItsWidthBetweenTwoHundredFiftyAndFiveHundred)
{
    XSDocumentWindowController *window = openWindow();
    ASSERT_TRUE(window);
    KTMainSplitViewController *split = window->mainLayoutViewController()->mainSplitViewController();
    window->window()->resize(1200, 860);
    QCoreApplication::processEvents();
    EXPECT_EQ(split->columnWidth(), 250);

    split->moveDivider(400);
    EXPECT_EQ(split->columnWidth(), 400);
    const int canvasBefore = split->designViewController()->view()->width();
    window->window()->resize(1400, 860);
    QCoreApplication::processEvents();
    EXPECT_EQ(split->columnWidth(), 400) << "growing the window widens only the canvas";
    EXPECT_EQ(split->designViewController()->view()->width(), canvasBefore + 200);

    split->moveDivider(120);
    EXPECT_EQ(split->columnWidth(), 250);
    split->moveDivider(900);
    EXPECT_EQ(split->columnWidth(), 500);
}

TEST_F(MainLayoutFixture, SelectingALayerPutsItsSettingsIntoTheLayerPanel)
{
    XSDocumentWindowController *window = openWindow();
    ASSERT_TRUE(window && canvas && canvas->palette);
    KTMainLayoutViewController *layout = window->mainLayoutViewController();
    KTPanelViewController *layerPanel = layout->controlsPanelViewController();
    EXPECT_FALSE(layerPanel->customViewController()) << "empty until the first selection";

    const std::shared_ptr<KTImageLayer> photo = doc->docTemplate()->imageLayer();
    ASSERT_TRUE(photo);
    canvas->palette->choose(photo);
    QPointer<XSViewController> first = layerPanel->customViewController();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->objectName(), "KTImageLayerPanelController");
    EXPECT_EQ(first->nibName(), photo->controlNibName());
    EXPECT_EQ(first->representedObject().value<QObject *>(), photo.get());
    EXPECT_EQ(layout->panelManagerViewController()->currentOpenPanel(), layerPanel);
    EXPECT_EQ(canvas->trackingResets, 1);

    // Every selection makes a new controller; the first leaves the panel.
    canvas->palette->choose(photo);
    EXPECT_NE(layerPanel->customViewController(), first.data());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());

    // Another window's palette is not this window's business.
    TestPalette stranger;
    stranger.selected = photo;
    XSViewController *current = layerPanel->customViewController();
    stranger.selectLayer(photo.get());
    EXPECT_EQ(layerPanel->customViewController(), current);

    // A layer class without a settings controller is an internal inconsistency.
    struct StrayLayer : KTLayer {};
    EXPECT_THROW(layout->selectLayer(std::make_shared<StrayLayer>()), std::exception);
}

TEST_F(MainLayoutFixture, PresentationSettingsAreSavedRestoredAndReset)
{
    KTPresentationSettings::reset();
    XSDocumentWindowController *window = openWindow();
    ASSERT_TRUE(window);
    KTMainLayoutViewController *layout = window->mainLayoutViewController();
    KTBottomBarViewController *bar = layout->bottomBarViewController();
    EXPECT_FALSE(layout->canLoadPreviousPresentationSettings()) << "the saved set is the factory one";

    bar->setLeftColor(Color::rgb(0.1, 0.2, 0.3));
    bar->setColorSliderPosition(0.5);
    layout->viewState()->setZoom(0.6);
    layout->saveCurrentPresentationSettings();
    EXPECT_DOUBLE_EQ(UserDefaults::standard().doubleForKey("UserDesignViewZoomLevel"), 0.6);
    EXPECT_DOUBLE_EQ(UserDefaults::standard().doubleForKey("UserBackgroundColorSliderPosition"), 0.5);
    EXPECT_FALSE(layout->canLoadPreviousPresentationSettings()) << "current equals saved";

    bar->setColorSliderPosition(0.9);
    layout->viewState()->setZoom(1.0);
    EXPECT_TRUE(layout->canLoadPreviousPresentationSettings());
    layout->loadPreviousPresentationSettings();
    EXPECT_DOUBLE_EQ(layout->viewState()->zoom(), 0.6);
    EXPECT_DOUBLE_EQ(bar->colorSliderPosition(), 0.5);
    EXPECT_EQ(bar->leftColor(), KTPresentationSettings::storedColor(Color::rgb(0.1, 0.2, 0.3)));
    const QColor blend = layout->viewState()->backgroundColor();
    EXPECT_NEAR(blend.redF(), 0.55, 0.01) << "the canvas shows the blend at the slider";

    layout->resetToDefaultPresentationSettings();
    EXPECT_DOUBLE_EQ(layout->viewState()->zoom(), 0.9);
    EXPECT_DOUBLE_EQ(bar->colorSliderPosition(), 214.0 / 255.0);
    EXPECT_EQ(bar->leftColor(), Color::white(0.0));
    KTPresentationSettings::reset();
}

TEST_F(MainLayoutFixture, TheBackgroundWellsShareOneColourDialogWithAlpha)
{
    KTPresentationSettings::reset();
    XSDocumentWindowController *window = openWindow();
    ASSERT_TRUE(window);
    KTMainLayoutViewController *layout = window->mainLayoutViewController();
    KTBottomBarViewController *bar = layout->bottomBarViewController();
    VLColorWell *left = bar->leftColorWell();
    VLColorWell *right = bar->rightColorWell();
    ASSERT_TRUE(left && right);
    EXPECT_EQ(left->color(), bar->leftColor().toQColor());
    bar->setRightColor(Color::rgb(0.2, 0.4, 0.6));
    EXPECT_EQ(right->color(), bar->rightColor().toQColor()) << "a colour set elsewhere shows in its well";

    left->activate();
    QColorDialog *dialog = VLColorWell::sharedColorDialog();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    EXPECT_TRUE(dialog->testOption(QColorDialog::ShowAlphaChannel));
    dialog->setCurrentColor(QColor(255, 0, 0, 128));
    EXPECT_NEAR(bar->leftColor().toQColor().redF(), 1.0, 1e-6);
    EXPECT_NEAR(bar->leftColor().toQColor().alphaF(), 0.5, 0.01);
    right->activate();
    dialog->setCurrentColor(QColor(0, 0, 255));
    EXPECT_NEAR(bar->rightColor().toQColor().blueF(), 1.0, 1e-6);
    EXPECT_NEAR(bar->leftColor().toQColor().redF(), 1.0, 1e-6) << "only the active well takes the dialog's colour";
    dialog->hide();
    right->deactivate();
    KTPresentationSettings::reset();
}
