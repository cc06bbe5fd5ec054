#include "kit/ui/XSViewController.h"

#include <gtest/gtest.h>

namespace {

class PanelController : public XSViewController
{
public:
    using XSViewController::XSViewController;
    int layouts = 0;
    void performLayout() override { ++layouts; }
};

} // namespace

TEST(KitXSViewController, KeepsItsWindowControllerWeakly)
{
    auto *windowController = new platform::WindowController("MyDocument");
    XSViewController controller("MainLayoutView", windowController);
    EXPECT_EQ(controller.windowController(), windowController);
    EXPECT_EQ(controller.nibName(), "MainLayoutView");
    delete windowController;
    EXPECT_EQ(controller.windowController(), nullptr);
    // The controller itself stays usable.
    ASSERT_TRUE(controller.view());
    EXPECT_EQ(controller.view()->objectName(), "MainLayoutView");
}

TEST(KitXSViewController, NullWindowControllerAndEmptyHooks)
{
    XSViewController controller("BottomBarView", nullptr);
    EXPECT_EQ(controller.windowController(), nullptr);
    controller.performLayout();
    controller.activateViewController();
    EXPECT_FALSE(controller.isViewLoaded());

    PanelController panel("PanelView", nullptr);
    XSViewController *base = &panel;
    base->performLayout();
    EXPECT_EQ(panel.layouts, 1);
}
