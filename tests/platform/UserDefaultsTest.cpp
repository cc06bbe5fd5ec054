#include "platform/UserDefaults.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QUuid>

#include <fcntl.h>
#include <sys/stat.h>

using platform::UserDefaults;

namespace {
QString freshIni()
{
    return testsupport::scratchDir() + "/defaults-" + QUuid::createUuid().toString(QUuid::WithoutBraces) + ".conf";
}
QByteArray fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

TEST(PlatformUserDefaults, RegisteredValuesAnswerButAreNeverWritten)
{
    const QString path = freshIni();
    {
        UserDefaults defaults(path);
        defaults.registerDefaults({{"ExportFixWidth", 800}, {"IncludeImageInTemplate", false}});
        EXPECT_EQ(defaults.integerForKey("ExportFixWidth"), 800);
        EXPECT_FALSE(defaults.hasStoredValue("ExportFixWidth"));
        defaults.setInteger("ExportFixHeight", 600);
        defaults.synchronize();
    }
    const QByteArray text = fileText(path);
    EXPECT_TRUE(text.contains("ExportFixHeight"));
    EXPECT_FALSE(text.contains("ExportFixWidth"));
    EXPECT_FALSE(text.contains("IncludeImageInTemplate"));

    UserDefaults reopened(path);
    EXPECT_EQ(reopened.integerForKey("ExportFixHeight"), 600);
    EXPECT_FALSE(reopened.objectForKey("ExportFixWidth").isValid());
}

TEST(PlatformUserDefaults, StoredValueHidesRegisteredUntilRemoved)
{
    UserDefaults defaults(freshIni());
    defaults.registerDefaults({{"Mode", 3}});
    defaults.setInteger("Mode", 5);
    EXPECT_EQ(defaults.integerForKey("Mode"), 5);
    defaults.removeObject("Mode");
    EXPECT_EQ(defaults.integerForKey("Mode"), 3);
    EXPECT_EQ(defaults.registeredDefaults().value("Mode").toInt(), 3);
}

TEST(PlatformUserDefaults, BoolConversions)
{
    UserDefaults defaults(freshIni());
    defaults.registerDefaults({{"yesText", "YES"}, {"trueText", "true"}, {"noText", "NO"}, {"one", 1},
                               {"zero", 0}, {"half", 0.5}, {"numberText", "2"}, {"zeroText", "0"},
                               {"other", "maybe"}, {"lowerYes", "yes"}});
    EXPECT_TRUE(defaults.boolForKey("yesText"));
    EXPECT_TRUE(defaults.boolForKey("lowerYes"));
    EXPECT_TRUE(defaults.boolForKey("trueText"));
    EXPECT_FALSE(defaults.boolForKey("noText"));
    EXPECT_TRUE(defaults.boolForKey("one"));
    EXPECT_FALSE(defaults.boolForKey("zero"));
    EXPECT_TRUE(defaults.boolForKey("half"));
    EXPECT_TRUE(defaults.boolForKey("numberText"));
    EXPECT_FALSE(defaults.boolForKey("zeroText"));
    EXPECT_FALSE(defaults.boolForKey("other"));
    EXPECT_FALSE(defaults.boolForKey("missing"));
    EXPECT_EQ(defaults.integerForKey("yesText"), 1);
}

TEST(PlatformUserDefaults, TypedValuesSurviveTheFile)
{
    const QString path = freshIni();
    const QVariantMap dictionary{{"a", 1}, {"b", QVariantList{"x", 2.5}}};
    {
        UserDefaults defaults(path);
        defaults.setBool("Flag", true);
        defaults.setBool("Off", false);
        defaults.setDouble("Ratio", 0.25);
        defaults.setInteger("Big", 1LL << 40);
        defaults.setObject("Names", QStringList{"One", "Two"});
        defaults.setObject("Dict", dictionary);
        defaults.setObject("Blob", QByteArray("\x00\x01\xff", 3));
    }
    UserDefaults defaults(path);
    EXPECT_TRUE(defaults.boolForKey("Flag"));
    EXPECT_FALSE(defaults.boolForKey("Off"));
    EXPECT_DOUBLE_EQ(defaults.doubleForKey("Ratio"), 0.25);
    EXPECT_EQ(defaults.integerForKey("Big"), 1LL << 40);
    EXPECT_EQ(defaults.stringForKey("Big"), "1099511627776");
    EXPECT_EQ(defaults.arrayForKey("Names"), (QVariantList{"One", "Two"}));
    EXPECT_EQ(defaults.dictionaryForKey("Dict"), dictionary);
    EXPECT_EQ(defaults.dataForKey("Blob"), QByteArray("\x00\x01\xff", 3));
    // Asking for the wrong kind answers empty, not garbage.
    EXPECT_TRUE(defaults.arrayForKey("Dict").isEmpty());
    EXPECT_TRUE(defaults.dictionaryForKey("Names").isEmpty());
    EXPECT_TRUE(defaults.stringForKey("Dict").isEmpty());
}

TEST(PlatformUserDefaults, HandWrittenFileReadsThroughTheGetters)
{
    // What another process (or an older version) left in the file is text.
    const QString path = freshIni();
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nFlag=true\nOld=YES\nNo=NO\nLaunches=7\nRatio=2.5\nName=Frame One\n");
    }
    UserDefaults defaults(path);
    EXPECT_EQ(defaults.objectForKey("Flag").typeId(), QMetaType::QString);
    EXPECT_TRUE(defaults.boolForKey("Flag"));
    EXPECT_TRUE(defaults.boolForKey("Old"));
    EXPECT_FALSE(defaults.boolForKey("No"));
    EXPECT_EQ(defaults.integerForKey("Launches"), 7);
    EXPECT_DOUBLE_EQ(defaults.doubleForKey("Ratio"), 2.5);
    EXPECT_EQ(defaults.integerForKey("Ratio"), 2);
    EXPECT_EQ(defaults.stringForKey("Name"), "Frame One");
    EXPECT_EQ(defaults.integerForKey("Name"), 0);
}

TEST(PlatformUserDefaults, ChangesAreAnnounced)
{
    UserDefaults defaults(freshIni());
    QSignalSpy spy(&defaults, &UserDefaults::valueChanged);
    defaults.setInteger("Launches", 1);
    defaults.removeObject("Launches");
    defaults.removeObject("Launches"); // nothing stored: nothing changes
    defaults.setObject("Other", QVariant()); // invalid value removes, nothing there either
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toString(), "Launches");
}

TEST(PlatformUserDefaults, StandardLivesInTheConfigFolder)
{
    UserDefaults &standard = UserDefaults::standard();
    EXPECT_EQ(&standard, &UserDefaults::standard());
    EXPECT_EQ(standard.filePath(), QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                                       + "/Kantelo/Kantelo.conf");
    EXPECT_TRUE(standard.filePath().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
}

TEST(PlatformUserDefaults, ACountSeesAnotherProgramsCountMadeInTheSameTickOfTheClock)
{
    const QString path = freshIni();
    UserDefaults defaults(path);
    defaults.setInteger("Launches", 1);
    // Another program counted to 5 just after: the file keeps its size and,
    // within one tick of the file system's clock, its time.
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    QByteArray text = fileText(path);
    ASSERT_TRUE(text.contains("Launches=1\n"));
    text.replace("Launches=1\n", "Launches=5\n");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size());
    file.close();
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);

    EXPECT_EQ(defaults.incrementInteger("Launches"), 6);
    EXPECT_TRUE(fileText(path).contains("Launches=6\n"));
}
