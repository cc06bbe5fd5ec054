// Runs in a program of its own: its main makes the program's application
// class, where every other test program makes a plain one, so that an
// exception there still fails its test.
#include <gtest/gtest.h>

#include "platform/Assert.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/ui/GuardedApplication.h"
#include "support/TestSupport.h"

#include <QPushButton>
#include <QTest>

#include <stdexcept>

using namespace platform;

TEST(GuardedApplication, AnExceptionFromASlotEndsItsEventNotTheProgram)
{
    QStringList log;
    setLogSink([&](const QString &line) { log.append(line); });
    QList<Error> shown;
    setErrorPresenter([&](const Error &error) { shown.append(error); });

    // A click whose slot fails an assertion, and a queued call that throws.
    QPushButton button(QStringLiteral("Go"));
    button.show();
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        ++clicks;
        KT_ASSERT(false, QStringLiteral("A probe's assertion"));
    });
    QTest::mouseClick(&button, Qt::LeftButton);
    QMetaObject::invokeMethod(qApp, [] { throw std::runtime_error("a probe's runtime error"); }, Qt::QueuedConnection);
    ASSERT_TRUE(testsupport::waitUntil([&] { return shown.size() == 2; }));
    EXPECT_EQ(shown.at(0).description, QString::fromLatin1(kUncaughtExceptionText));
    EXPECT_EQ(shown.at(0).recoverySuggestion, QString::fromLatin1(kUncaughtExceptionSuggestion));
    EXPECT_EQ(shown.at(0).userInfo.value("NSLocalizedFailureReason").toString(), "A probe's assertion");
    EXPECT_EQ(shown.at(1).userInfo.value("NSLocalizedFailureReason").toString(), "a probe's runtime error");
    EXPECT_TRUE(log.contains("ERROR: Uncaught NSInternalInconsistencyException: A probe's assertion"));

    // The same fault again is logged, not shown again; the button still works.
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_TRUE(testsupport::waitPastTimersDue(0));
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(shown.size(), 2);
    EXPECT_EQ(log.count("ERROR: Uncaught NSInternalInconsistencyException: A probe's assertion"), 2);

    setErrorPresenter(nullptr);
    setLogSink(nullptr);
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    GuardedApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
