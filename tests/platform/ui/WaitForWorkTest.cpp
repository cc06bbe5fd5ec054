#include "platform/ui/WaitForWork.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>


namespace {

// A key typed as the window system hands it over.
void type(QWindow *window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    qt_handleKeyEvent(window, QEvent::KeyPress, key, modifiers);
    qt_handleKeyEvent(window, QEvent::KeyRelease, key, modifiers);
}

} // namespace

TEST(WaitForWork, WhatIsTypedMeanwhileIsDroppedButADialogOpenedMeanwhileTakesIt)
{
    QWidget window;
    int quits = 0;
    QAction quit(&window);
    quit.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(&quit, &QAction::triggered, [&] { ++quits; });
    window.addAction(&quit);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window, testsupport::kHangGuardMs));

    // Ctrl+Q typed while the work runs.
    bool typed = false;
    QTimer::singleShot(0, &window, [&] {
        type(window.windowHandle(), Qt::Key_Q, Qt::ControlModifier);
        typed = true;
    });
    ASSERT_TRUE(platform::waitForWork([&] { return typed; }, 10, testsupport::kHangGuardMs));
    QCoreApplication::processEvents();
    EXPECT_EQ(quits, 0) << "the Quit typed during the work is not carried out";
    type(window.windowHandle(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1) << "after the wait the keys work again";

    // A message shown during the work answers its Escape.
    QDialog message(&window);
    int answer = -1;
    QTimer::singleShot(0, &message, [&] {
        QTimer::singleShot(0, &message, [&] { type(message.windowHandle(), Qt::Key_Escape); });
        QTimer::singleShot(testsupport::kHangGuardMs, &message, &QDialog::accept);
        answer = message.exec();
    });
    ASSERT_TRUE(platform::waitForWork([&] { return answer >= 0; }, 10, testsupport::kHangGuardMs));
    EXPECT_EQ(answer, QDialog::Rejected);
}
