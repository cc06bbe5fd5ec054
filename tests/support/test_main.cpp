// The main of every test program: an offscreen GUI application whose settings
// and data folders are private to this process, so tests never touch the
// user's own files and never see each other's.
#include <gtest/gtest.h>

#include "platform/EnglishPlurals.h"

#include <QDir>
#include <QTemporaryDir>

#include <optional>

#ifdef KANTELO_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // A death test's child runs this main again and ends with _Exit: it
    // keeps its parent's folders rather than make some nobody removes.
    std::optional<QTemporaryDir> home;
    if (GTEST_FLAG_GET(internal_run_death_test).empty()) {
        home.emplace(QDir::tempPath() + "/kantelo-home-XXXXXX");
        qputenv("XDG_CONFIG_HOME", (home->path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (home->path() + "/data").toUtf8());
        qputenv("XDG_CACHE_HOME", (home->path() + "/cache").toUtf8());
        QDir().mkpath(home->path() + "/config");
        QDir().mkpath(home->path() + "/data");
    }
    qputenv("KANTELO_TEST_DATA", KANTELO_TEST_DATA_DIR);

    TestApplication app(argc, argv);
    app.setOrganizationName("Kantelo");
    app.setApplicationName("Kantelo");
    platform::EnglishPlurals::install();
    return RUN_ALL_TESTS();
}
