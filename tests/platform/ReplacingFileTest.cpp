// A picture written over a file in place: whatever the name, and the old
// file's owner, group, mode and extended attributes kept.
#include "support/TestSupport.h"

#include "platform/TypeTable.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QUuid>

#include <thread>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace platform;

namespace {

QString freshDir()
{
    const QString dir = testsupport::scratchDir() + '/' + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    return dir;
}

bool writePng(const QString &path, const QColor &colour, Error *error = nullptr)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(colour);
    return ImageEncoder::writeToFile(path, image, TypeTable::kPNG, ExportMetadata(), std::nullopt, error);
}

} // namespace

TEST(ReplacingFiles, NamesOfTheLongestLengthsAreReplacedLikeAnyOther)
{
    const QString dir = freshDir();
    for (int length : {249, 255}) {
        const QString path = dir + '/' + QString(length - 4, QLatin1Char('n')) + ".png";
        ASSERT_TRUE(writePng(path, Qt::red));
        Error error;
        EXPECT_TRUE(writePng(path, Qt::blue, &error)) << length << ": " << error.description.toStdString();
        EXPECT_EQ(QImage(path).pixelColor(3, 3), QColor(Qt::blue));
    }
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 2) << "nothing left beside them";
}

TEST(ReplacingFiles, TheNewFileKeepsTheOwnerGroupModeAndAttributesAndOtherNamesKeepTheOldPicture)
{
    const QString dir = freshDir();
    const QString path = dir + "/shared.png";
    const QByteArray native = QFile::encodeName(path);
    ASSERT_TRUE(writePng(path, Qt::red));
    // As root another user's file; otherwise a second group of the user's, if any.
    uid_t owner = ::geteuid();
    gid_t group = ::getegid();
    if (owner == 0) {
        owner = 1234;
        group = 1235;
    } else {
        gid_t groups[64];
        const int count = ::getgroups(64, groups);
        for (int i = 0; i < count; ++i)
            group = groups[i] != ::getegid() ? groups[i] : group;
    }
    ASSERT_EQ(::chown(native.constData(), owner, group), 0);
    // Wider than the usual umask lets a new file be.
    ASSERT_EQ(::chmod(native.constData(), 0666), 0);
    const bool attributes = ::setxattr(native.constData(), "user.rating", "5", 1, 0) == 0;
    ASSERT_EQ(::link(native.constData(), QFile::encodeName(dir + "/other.png").constData()), 0);

    ASSERT_TRUE(writePng(path, Qt::blue));
    EXPECT_EQ(QImage(path).pixelColor(3, 3), QColor(Qt::blue));
    struct stat st;
    ASSERT_EQ(::stat(native.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(st.st_uid, owner);
    EXPECT_EQ(st.st_gid, group);
    char value[4] = {};
    if (attributes) {
        EXPECT_EQ(::getxattr(native.constData(), "user.rating", value, sizeof value), 1);
        EXPECT_EQ(value[0], '5');
    }
    // Replaced whole or not at all: the file's other name keeps the old picture.
    EXPECT_EQ(QImage(dir + "/other.png").pixelColor(3, 3), QColor(Qt::red));
}

// A disk mounted read-only says so; making the file writable would not help.
TEST(ReplacingFiles, AFileOnAReadOnlyDiskSaysTheDiskIsReadOnly)
{
    const QString dir = freshDir();
    const QString path = dir + "/card.png";
    ASSERT_TRUE(writePng(path, Qt::red));
    const QByteArray at = QFile::encodeName(dir);
    bool mounted = false;
    Error error;
    // A thread's own mount namespace: the rest of the process never sees the mount.
    std::thread([&] {
        mounted = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                  && ::mount(at.constData(), at.constData(), nullptr, MS_BIND, nullptr) == 0
                  && ::mount(nullptr, at.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        if (mounted)
            writePng(path, Qt::blue, &error);
    }).join();
    if (!mounted)
        GTEST_SKIP() << "no mount of our own here (not root)";
    EXPECT_TRUE(error.description.contains("is read-only. Save to another disk")) << error.description.toStdString();
    EXPECT_FALSE(error.description.contains("Make it writable")) << error.description.toStdString();
    EXPECT_EQ(QImage(path).pixelColor(3, 3), QColor(Qt::red));
}
