#include "AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/KTPreferencesController.h"
#include "platform/UserDefaults.h"

#include <QAbstractAnimation>
#include <QGraphicsEffect>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

namespace {

TEST(PreferencesCrossFade, ChoosingAPaneFadesItInSlowlyWithShiftAndOnlyWhenAsked)
{
    platform::UserDefaults::standard().registerDefaults(AppDelegate::factoryDefaults());
    KTPreferencesController *prefs = KTPreferencesController::sharedPrefsWindowController();
    prefs->showWindow();
    QToolBar *bar = prefs->toolbar();
    ASSERT_EQ(bar->actions().size(), 2);
    QWidget *exportPane = prefs->currentView();
    EXPECT_FALSE(prefs->viewAnimation()) << "opening the window shows its first pane at once";

    // Each click goes through the toolbar button, as the user's does.
    auto choose = [&](int item, Qt::KeyboardModifiers modifiers) {
        QTest::mouseClick(bar->widgetForAction(bar->actions().at(item)), Qt::LeftButton, modifiers);
        QCoreApplication::processEvents();
    };
    choose(1, Qt::ShiftModifier);
    QPointer<QAbstractAnimation> fade = prefs->viewAnimation();
    ASSERT_TRUE(fade);
    EXPECT_EQ(fade->totalDuration(), HXPrefsWindowController::kSlowCrossFadeMilliseconds);
    EXPECT_TRUE(exportPane->isVisible()) << "the old pane fades out above the new one";
    ASSERT_TRUE(testsupport::waitUntil([&] { return !fade; }));
    EXPECT_FALSE(exportPane->isVisible());
    EXPECT_FALSE(prefs->currentView()->graphicsEffect());
    EXPECT_EQ(prefs->window()->windowTitle(), "Updates");

    choose(0, Qt::NoModifier);
    ASSERT_TRUE(prefs->viewAnimation());
    EXPECT_EQ(prefs->viewAnimation()->totalDuration(), HXPrefsWindowController::kCrossFadeMilliseconds);
    // A choice during a fade ends it at once and starts the next.
    choose(1, Qt::NoModifier);
    EXPECT_NE(prefs->currentView(), exportPane);
    EXPECT_TRUE(prefs->currentView()->graphicsEffect());

    prefs->setCrossFade(false);
    choose(0, Qt::NoModifier);
    EXPECT_FALSE(prefs->viewAnimation());
    EXPECT_EQ(prefs->currentView(), exportPane);
    EXPECT_FALSE(exportPane->graphicsEffect());
    prefs->setCrossFade(true);
    prefs->closePreferences();
}

} // namespace
