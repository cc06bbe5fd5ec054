#include "stores/FrameArchiveFolder.h"

#include "kit/ZCZipArchive.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <gtest/gtest.h>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString freshFolder(const QString &label)
{
    const QString path = testsupport::scratchDir() + "/" + label + "-"
                         + QUuid::createUuid().toString(QUuid::Id128).left(8);
    QDir().mkpath(path);
    return path;
}

int python(const QString &cwd, const QString &script)
{
    const testsupport::ProgramRun r =
        testsupport::runProgram("python3", {"-c", script}, cwd, testsupport::kHangGuardMs, true);
    if (!r.succeeded())
        std::fprintf(stderr, "%s", r.out.constData());
    return r.exitCode;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(FrameArchiveFolderRead, ItemsFromInfoZipArchiveInBothPlistForms)
{
    const QString dir = freshFolder("layout");
    // Python's plistlib writes the two forms; Info-ZIP packs them.
    ASSERT_EQ(python(dir, R"(
import os, plistlib
os.makedirs('src/Collections'); os.makedirs('src/Sets'); os.makedirs('src/Graphics')
os.makedirs('src/Frames/nested')
os.makedirs('src/Images')
with open('src/Collections/C1', 'wb') as f: plistlib.dump({'name': 'Woods', 'guid': 'C1', 'iconGUID': 'IMG1.png'}, f, fmt=plistlib.FMT_BINARY)
with open('src/Collections/C2', 'wb') as f: plistlib.dump({'name': 'Metals', 'guid': 'C2', 'iconGUID': 'IMG2.png'}, f, fmt=plistlib.FMT_XML)
for name in ('IMG1.png', 'IMG2.png', 'IMG3.png'):
    with open('src/Images/' + name, 'wb') as f: plistlib.dump({'filename': name}, f, fmt=plistlib.FMT_BINARY)
with open('src/Collections/.DS_Store', 'wb') as f: f.write(b'junk')
with open('src/Sets/S1', 'wb') as f: plistlib.dump(['not', 'a', 'dictionary'], f, fmt=plistlib.FMT_BINARY)
with open('src/Sets/S2', 'wb') as f: f.write(b'\x00\x01garbage')
with open('src/Graphics/IMG1.png', 'wb') as f: f.write(b'new picture')
with open('src/Graphics/IMG2.png', 'wb') as f: f.write(b'second')
os.chmod('src/Graphics/IMG2.png', 0o777)
with open('src/Graphics/IMG3.png', 'wb') as f: f.write(b'nobody refers to me')
with open('src/ReadMe.txt', 'w') as f: f.write('ignored')
os.symlink('../ReadMe.txt', 'src/Graphics/LINK.png')
)"),
              0);
    ASSERT_EQ(testsupport::runProgram("zip", {"-q", "-r", "-y", dir + "/lib.ktframes", "."}, dir + "/src").exitCode, 0);

    ASSERT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/lib.ktframes", dir + "/out"));
    const QString out = dir + "/out";

    QStringList collections = FrameArchiveFolder::itemFiles(out, FrameArchiveFolder::kCollections);
    collections.sort();
    EXPECT_EQ(collections, (QStringList{out + "/Collections/C1", out + "/Collections/C2"}));
    EXPECT_EQ(FrameArchiveFolder::readItem(out + "/Collections/C1")->value("name"), "Woods");
    EXPECT_EQ(FrameArchiveFolder::readItem(out + "/Collections/C2")->value("name"), "Metals");
    EXPECT_FALSE(FrameArchiveFolder::readItem(out + "/Sets/S1").has_value());
    EXPECT_FALSE(FrameArchiveFolder::readItem(out + "/Sets/S2").has_value());
    EXPECT_FALSE(FrameArchiveFolder::readItem(out + "/Sets/missing").has_value());
    // Folders inside an item folder are not items; a missing folder is empty.
    EXPECT_TRUE(FrameArchiveFolder::itemFiles(out, FrameArchiveFolder::kFrames).isEmpty());
    EXPECT_EQ(FrameArchiveFolder::itemFiles(out, FrameArchiveFolder::kImages).size(), 3);

    // Graphics: the file already in the library stays, links and graphics no
    // item refers to are not moved, and the archive's permissions are not kept.
    const QString frames = dir + "/Frames";
    QDir().mkpath(frames);
    QFile existing(frames + "/IMG1.png");
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old picture");
    existing.close();
    EXPECT_EQ(FrameArchiveFolder::moveGraphics(out, frames), 1);
    EXPECT_EQ(readAll(frames + "/IMG1.png"), "old picture");
    EXPECT_EQ(readAll(frames + "/IMG2.png"), "second");
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(frames + "/IMG2.png").constData(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
    EXPECT_FALSE(QFileInfo::exists(frames + "/IMG3.png"));
    EXPECT_FALSE(QFileInfo::exists(frames + "/LINK.png"));
    EXPECT_FALSE(QFileInfo::exists(out + "/Graphics/IMG2.png"));
}

TEST(FrameArchiveFolderRead, OversizedItemIsRefused)
{
    const QString dir = freshFolder("oversize");
    QFile f(dir + "/big");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(FrameArchiveFolder::kMaxItemFileSize + 1));
    f.close();
    EXPECT_FALSE(FrameArchiveFolder::readItem(dir + "/big").has_value());
    EXPECT_EQ(FrameArchiveFolder::entryName(FrameArchiveFolder::kFrames, "G"), "Frames/G");
}
