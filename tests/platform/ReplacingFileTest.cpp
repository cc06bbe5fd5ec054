// A picture written over a file in place: whatever the name, and the old
// file's owner, group, mode and extended attributes kept.
#include "support/TestSupport.h"

#include "platform/FileBytes.h"
#include "platform/ReplacingFile.h"
#include "platform/TemporaryNames.h"
#include "platform/TypeTable.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QUuid>

#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>

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

// What another program puts at the name after the file was read is its own.
TEST(ReplacingFiles, OnlyTheFileThatWasReadIsReplaced)
{
    const QString dir = freshDir();
    const QString path = dir + "/photo.png";
    const QByteArray native = QFile::encodeName(path);
    const auto readNow = [&] {
        FileIdentity read;
        EXPECT_TRUE(FileBytes::read(path, -1, &read).ok());
        return read;
    };
    const auto replaceWith = [&](const FileIdentity &read, const std::function<void()> &meanwhile) {
        ReplacingFile file(path);
        file.replaceOnlyWhatWasRead(read);
        if (!file.open(QIODevice::WriteOnly))
            return file.failure();
        file.write("framed");
        meanwhile();
        return file.commit() ? QString() : file.failure();
    };
    const auto other = [&] { return QFileInfo(path).size(); };
    ASSERT_TRUE(writePng(path, Qt::red));
    // Moved over it between the open and the replace.
    QString why = replaceWith(readNow(), [&] { ASSERT_TRUE(writePng(path, Qt::green)); });
    EXPECT_TRUE(why.contains("another program replaced or changed it")) << why.toStdString();
    EXPECT_EQ(QImage(path).pixelColor(3, 3), QColor(Qt::green));
    // Rewritten in place before the open, or deleted.
    const FileIdentity read = readNow();
    QFile rewrite(path);
    ASSERT_TRUE(rewrite.open(QIODevice::WriteOnly | QIODevice::Append));
    rewrite.write("x");
    rewrite.close();
    const qint64 rewritten = other();
    why = replaceWith(read, [] {});
    EXPECT_TRUE(why.contains("another program replaced or changed it")) << why.toStdString();
    EXPECT_EQ(other(), rewritten);
    const FileIdentity gone = readNow();
    ASSERT_EQ(::unlink(native.constData()), 0);
    why = replaceWith(gone, [] {});
    EXPECT_TRUE(why.contains("moved or deleted")) << why.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path)) << "nothing is written in its place";
    // As it was read, it is replaced.
    ASSERT_TRUE(writePng(path, Qt::red));
    EXPECT_EQ(replaceWith(readNow(), [] {}), QString());
    EXPECT_EQ(other(), 6);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"photo.png"});
}

TEST(ReplacingFiles, LinksLeadAsTheKernelLetsThemAndNamesNeedNotBeUtf8)
{
    const QString dir = freshDir();
    const QByteArray at = QFile::encodeName(dir);
    // A UTF-8 link to a photo whose name is not: the photo itself is replaced.
    const QByteArray photo = at + "/\xff.png";
    ASSERT_TRUE(writePng(dir + "/plain.png", Qt::red));
    ASSERT_EQ(::rename(QFile::encodeName(dir + "/plain.png").constData(), photo.constData()), 0);
    ASSERT_EQ(::symlink(photo.constData(), (at + "/link.png").constData()), 0);
    Error error;
    ASSERT_TRUE(writePng(dir + "/link.png", Qt::blue, &error)) << error.description.toStdString();
    QFile written;
    const int fd = ::open(photo.constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_TRUE(written.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    EXPECT_EQ(QImage::fromData(written.readAll()).pixelColor(3, 3), QColor(Qt::blue));
    EXPECT_FALSE(QFileInfo::exists(dir + "/\uFFFD.png")) << "no new file under a mangled name";

    // A link in a sticky folder everyone writes in, made by another user: not followed.
    if (::geteuid() != 0)
        GTEST_SKIP() << "a link of another user's needs root";
    const QByteArray shared = at + "/shared";
    ASSERT_EQ(::mkdir(shared.constData(), 0777), 0);
    ASSERT_EQ(::chmod(shared.constData(), 01777), 0);
    ASSERT_EQ(::symlink(photo.constData(), (shared + "/planted.png").constData()), 0);
    ASSERT_EQ(::lchown((shared + "/planted.png").constData(), 1234, 1234), 0);
    EXPECT_FALSE(writePng(dir + "/shared/planted.png", Qt::green, &error));
    EXPECT_TRUE(error.description.contains("another user made in the shared folder"))
        << error.description.toStdString();
    // The folder's owner's link is followed.
    ASSERT_EQ(::chown(shared.constData(), 1234, 1234), 0);
    EXPECT_TRUE(writePng(dir + "/shared/planted.png", Qt::green, &error)) << error.description.toStdString();
}

TEST(ReplacingFiles, TemporariesGoAtASignalAndThoseOfEndedRunsAtTheNextWrite)
{
    const QString dir = freshDir();
    const QByteArray at = QFile::encodeName(dir);
    // A run that has ended: a child that is gone.
    const pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const QByteArray dead = ".kantelo-" + QByteArray::number(ended), alive = ".kantelo-1-abcdefgh";
    ASSERT_TRUE(QFile(dir + '/' + QString::fromLatin1(dead) + "-abcdefgh").open(QIODevice::WriteOnly));
    ASSERT_EQ(::mkdir((at + '/' + dead + "-0").constData(), 0700), 0);
    ASSERT_TRUE(QFile(dir + '/' + QString::fromLatin1(dead) + "-0/photo.jpg").open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile(dir + '/' + QString::fromLatin1(alive)).open(QIODevice::WriteOnly));
    ASSERT_TRUE(writePng(dir + "/card.png", Qt::red));
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{QString::fromLatin1(alive), "card.png"}));

    // Where the disk keeps no file without a name, the new one has a hidden
    // name while it is written; a terminating signal removes it.
    ReplacingFile::allowUnnamedFiles(false);
    ReplacingFile file(dir + "/card.png");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("framed");
    ASSERT_TRUE(file.flush());
    const QStringList during =
        QDir(dir).entryList({".kantelo-" + QString::number(::getpid()) + "-*"}, QDir::Files | QDir::Hidden);
    TemporaryNames::removeHeld();
    EXPECT_EQ(during.size(), 1);
    EXPECT_EQ(QDir(dir).entryList({".kantelo-" + QString::number(::getpid()) + "-*"}, QDir::Files | QDir::Hidden),
              QStringList());
    EXPECT_FALSE(file.commit());
    ReplacingFile::allowUnnamedFiles(true);
    EXPECT_EQ(QImage(dir + "/card.png").pixelColor(3, 3), QColor(Qt::red));
}
