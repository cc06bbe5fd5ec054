#include "platform/TemporaryFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;

namespace {
QFileDevice::Permissions ownerOnly()
{
    return QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadUser
           | QFileDevice::WriteUser | QFileDevice::ExeUser;
}
} // namespace

TEST(TemporaryFolders, FoldersArePrivateAndGoWithTheirRunOnlyWhenItIsOver)
{
    // A root of its own: programs and tests running beside it share the user's.
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    ASSERT_TRUE(TemporaryFolders::rootPath().startsWith(tmp.path()));
    const QString first = TemporaryFolders::makeFolder();
    const QString second = TemporaryFolders::makeFolder();
    ASSERT_FALSE(first.isEmpty());
    ASSERT_NE(first, second);
    const QString run = QFileInfo(first).absolutePath();
    for (const QString &path : {first, run, TemporaryFolders::rootPath()})
        EXPECT_EQ(QFile::permissions(path), ownerOnly()) << path.toStdString();

    // A root left open to others is closed again before it is used.
    QFile::setPermissions(TemporaryFolders::rootPath(), ownerOnly() | QFileDevice::ReadOther | QFileDevice::ExeOther);
    ASSERT_FALSE(TemporaryFolders::makeFolder().isEmpty());
    EXPECT_EQ(QFile::permissions(TemporaryFolders::rootPath()), ownerOnly());

    // The folder of a run that ended without quitting goes; a running one stays.
    const QString stale = QDir(TemporaryFolders::rootPath()).filePath("run-ended");
    ASSERT_TRUE(QDir().mkpath(stale + "/picture"));
    TemporaryFolders::removeStaleFolders();
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_FALSE(QFileInfo::exists(stale + ".lock"));
    EXPECT_TRUE(QFileInfo::exists(first));

    // Quitting takes this run's folder with it.
    QFile picture(second + "/framed.jpg");
    ASSERT_TRUE(picture.open(QIODevice::WriteOnly));
    picture.close();
    TemporaryFolders::removeRunFolder();
    EXPECT_FALSE(QFileInfo::exists(run));
    EXPECT_FALSE(QFileInfo::exists(run + ".lock"));
    EXPECT_NE(QFileInfo(TemporaryFolders::makeFolder()).absolutePath(), run) << "a new run's folder";
    TemporaryFolders::removeRunFolder();
}
