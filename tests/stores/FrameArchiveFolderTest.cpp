#include "stores/FrameArchiveFolder.h"

#include "kit/ZCZipArchive.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUuid>

#include <gtest/gtest.h>

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
    QProcess p;
    p.setWorkingDirectory(cwd);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start("python3", {"-c", script});
    p.waitForFinished(30000);
    return p.exitCode();
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
with open('src/Collections/C1', 'wb') as f: plistlib.dump({'name': 'Woods', 'guid': 'C1'}, f, fmt=plistlib.FMT_BINARY)
with open('src/Collections/C2', 'wb') as f: plistlib.dump({'name': 'Metals', 'guid': 'C2'}, f, fmt=plistlib.FMT_XML)
with open('src/Collections/.DS_Store', 'wb') as f: f.write(b'junk')
with open('src/Sets/S1', 'wb') as f: plistlib.dump(['not', 'a', 'dictionary'], f, fmt=plistlib.FMT_BINARY)
with open('src/Sets/S2', 'wb') as f: f.write(b'\x00\x01garbage')
with open('src/Graphics/IMG1.png', 'wb') as f: f.write(b'new picture')
with open('src/Graphics/IMG2.png', 'wb') as f: f.write(b'second')
with open('src/ReadMe.txt', 'w') as f: f.write('ignored')
os.symlink('../ReadMe.txt', 'src/Graphics/LINK.png')
)"),
              0);
    QProcess zip;
    zip.setWorkingDirectory(dir + "/src");
    zip.start("zip", {"-q", "-r", "-y", dir + "/lib.ktframes", "."});
    ASSERT_TRUE(zip.waitForFinished(30000));
    ASSERT_EQ(zip.exitCode(), 0);

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
    EXPECT_TRUE(FrameArchiveFolder::itemFiles(out, FrameArchiveFolder::kImages).isEmpty());

    // Graphics: the file already in the library stays, links are not moved.
    const QString frames = dir + "/Frames";
    QDir().mkpath(frames);
    QFile existing(frames + "/IMG1.png");
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old picture");
    existing.close();
    EXPECT_EQ(FrameArchiveFolder::moveGraphics(out, frames), 1);
    EXPECT_EQ(readAll(frames + "/IMG1.png"), "old picture");
    EXPECT_EQ(readAll(frames + "/IMG2.png"), "second");
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
