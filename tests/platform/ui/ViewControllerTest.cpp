#include "platform/ui/ViewController.h"
#include "platform/ui/WindowController.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class RecordingController : public platform::ViewController
{
public:
    using platform::ViewController::ViewController;
    QStringList calls;
    int loads = 0;

protected:
    QWidget *loadView() override
    {
        ++loads;
        calls << "loadView";
        auto *label = new QLabel("content");
        label->setObjectName(nibName());
        return label;
    }
    void viewDidLoad() override { calls << "viewDidLoad"; }
    void viewWillAppear() override { calls << "willAppear"; }
    void viewDidAppear() override { calls << "didAppear"; }
    void viewWillDisappear() override { calls << "willDisappear"; }
    void viewDidDisappear() override { calls << "didDisappear"; }
};

class RecordingWindowController : public platform::WindowController
{
public:
    using platform::WindowController::WindowController;
    int loaded = 0;
    int closing = 0;

protected:
    void windowDidLoad() override { ++loaded; }
    void windowWillClose() override { ++closing; }
};

} // namespace

TEST(PlatformViewController, ViewIsBuiltOnceOnFirstUseThenAwakes)
{
    RecordingController controller("SomeView");
    EXPECT_FALSE(controller.isViewLoaded());
    EXPECT_TRUE(controller.calls.isEmpty());
    QWidget *view = controller.view();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->objectName(), "SomeView");
    EXPECT_EQ(controller.view(), view);
    EXPECT_EQ(controller.loads, 1);
    EXPECT_EQ(controller.calls, (QStringList{"loadView", "viewDidLoad"}));
}

TEST(PlatformViewController, AppearAndDisappearFollowTheView)
{
    RecordingController controller("V");
    QWidget *view = controller.view();
    controller.calls.clear();
    view->show();
    view->hide();
    EXPECT_EQ(controller.calls, (QStringList{"willAppear", "didAppear", "willDisappear", "didDisappear"}));
}

TEST(PlatformViewController, RepresentedObjectAndChildren)
{
    auto *parent = new RecordingController("Parent");
    QPointer<platform::ViewController> a = new RecordingController("A");
    QPointer<platform::ViewController> b = new RecordingController("B");
    int changes = 0;
    QObject::connect(parent, &platform::ViewController::representedObjectChanged, [&] { ++changes; });
    parent->setRepresentedObject(QVariant(42));
    EXPECT_EQ(parent->representedObject().toInt(), 42);
    EXPECT_EQ(changes, 1);

    parent->addChildViewController(a);
    parent->insertChildViewController(b, 0);
    EXPECT_EQ(parent->childViewControllers(), (QList<platform::ViewController *>{b, a}));
    EXPECT_EQ(a->parentViewController(), parent);

    b->removeFromParentViewController();
    EXPECT_EQ(parent->childViewControllers(), (QList<platform::ViewController *>{a}));
    EXPECT_EQ(b->parentViewController(), nullptr);

    delete parent; // owns its remaining child
    EXPECT_TRUE(a.isNull());
    ASSERT_FALSE(b.isNull());
    delete b.data();
}

TEST(PlatformViewController, AViewInsideAWindowOutlivesItsController)
{
    QWidget window;
    QPointer<QWidget> view;
    {
        RecordingController controller("V");
        view = controller.view();
        view->setParent(&window);
    }
    EXPECT_FALSE(view.isNull());

    QPointer<QWidget> loose;
    {
        RecordingController controller("W");
        loose = controller.view();
    }
    EXPECT_TRUE(loose.isNull());
}

TEST(PlatformWindowController, LazyWindowContentAndCloseHook)
{
    QPointer<QWidget> window;
    QPointer<platform::ViewController> content;
    {
        RecordingWindowController controller("SomeWindow");
        EXPECT_FALSE(controller.isWindowLoaded());
        window = controller.window();
        ASSERT_TRUE(window);
        EXPECT_EQ(window->objectName(), "SomeWindow");
        EXPECT_EQ(controller.loaded, 1);
        controller.window();
        EXPECT_EQ(controller.loaded, 1);

        content = new RecordingController("Content");
        controller.setContentViewController(content);
        EXPECT_EQ(qobject_cast<QMainWindow *>(window.data())->centralWidget(), content->view());

        int signalled = 0;
        QObject::connect(&controller, &platform::WindowController::windowClosing, [&] { ++signalled; });
        controller.showWindow();
        EXPECT_TRUE(window->isVisible());
        controller.close();
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(controller.closing, 1);
        EXPECT_EQ(signalled, 1);

        QObject document;
        controller.setDocument(&document);
        EXPECT_EQ(controller.document(), &document);
    }
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(content.isNull());
}
