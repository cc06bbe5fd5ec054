#include "kit/ZCZipArchive.h"

#include "platform/Assert.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QString freshDir(const QString &label)
{
    QString path = testsupport::scratchDir() + "/" + label + "-"
                   + QUuid::createUuid().toString(QUuid::Id128).left(8);
    QDir().mkpath(path);
    return path;
}

void writeText(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

using testsupport::run;

// Same length swap of a name inside an archive, so that Info-ZIP's own
// archive can carry a name it would never write itself.
void renameInArchive(const QString &zipPath, const QByteArray &from, const QByteArray &to)
{
    ASSERT_EQ(from.size(), to.size());
    QByteArray bytes = readAll(zipPath);
    ASSERT_TRUE(bytes.contains(from));
    bytes.replace(from, to);
    QFile f(zipPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

struct Progress {
    QStringList names;
    QList<qint64> numbers;
    QList<qint64> totals;
};

ZCZipArchive::ProgressHandler recorder(Progress *p)
{
    return [p](const QString &name, unz_file_info, qint64 number, qint64 total) {
        p->names << name;
        p->numbers << number;
        p->totals << total;
    };
}

} // namespace

TEST(ZCZipArchiveUnzip, NotAZipFailsWithOpenErrorAndNoPath)
{
    const QString dir = freshDir("notzip");
    writeText(dir + "/plain.txt", "not a zip file at all");
    bool called = false;
    QString reportedPath = "unset";
    platform::Error reported;
    bool ok = ZCZipArchive::unzipFileAtPath(
        dir + "/plain.txt", dir + "/out", {},
        [&](const QString &path, bool succeeded, const platform::Error &error) {
            called = true;
            reportedPath = path;
            EXPECT_FALSE(succeeded);
            reported = error;
        });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(called);
    EXPECT_TRUE(reportedPath.isNull());
    EXPECT_EQ(reported.domain, ZCZipArchive::kErrorDomain);
    EXPECT_EQ(reported.code, -1);
    EXPECT_EQ(reported.description, "failed to open zip file");
}

TEST(ZCZipArchiveUnzip, FolderEntryAndFileFromInfoZip)
{
    const QString dir = freshDir("folder");
    writeText(dir + "/src/a/b.txt", "bee");
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", "-r", dir + "/t.zip", "a"}), 0);

    Progress progress;
    platform::Error error;
    bool ok = ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out", true, QString(),
                                            recorder(&progress), {});
    EXPECT_TRUE(ok);
    EXPECT_EQ(readAll(dir + "/out/a/b.txt"), "bee");
    EXPECT_EQ(progress.names, (QStringList{"a/", "a/b.txt"}));
    EXPECT_EQ(progress.numbers, (QList<qint64>{1, 2}));
    EXPECT_EQ(progress.totals, (QList<qint64>{2, 2}));
}

TEST(ZCZipArchiveUnzip, BackslashNameLandsInFolder)
{
    const QString dir = freshDir("backslash");
    writeText(dir + "/src/dir\\file.txt", "slashed");
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", dir + "/t.zip", "dir\\file.txt"}), 0);

    Progress progress;
    EXPECT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out", recorder(&progress), {}));
    EXPECT_EQ(readAll(dir + "/out/dir/file.txt"), "slashed");
    EXPECT_EQ(progress.names, QStringList{"dir/file.txt"});
}

TEST(ZCZipArchiveUnzip, NamesClimbingOutAreRefusedAndTheRestUnpacked)
{
    const QString dir = freshDir("evil");
    writeText(dir + "/src/aa_evil", "outside");
    writeText(dir + "/src/keep.txt", "kept");
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", dir + "/t.zip", "aa_evil", "keep.txt"}), 0);
    renameInArchive(dir + "/t.zip", "aa_evil", "../evil");

    Progress progress;
    EXPECT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out", recorder(&progress), {}));
    EXPECT_FALSE(QFileInfo::exists(dir + "/evil"));
    EXPECT_EQ(readAll(dir + "/out/keep.txt"), "kept");
    EXPECT_EQ(progress.names, QStringList{"keep.txt"});

    // An absolute name is refused the same way.
    writeText(dir + "/src2/zz/abs", "abs");
    ASSERT_EQ(run(dir + "/src2", "zip", {"-q", dir + "/abs.zip", "zz/abs"}), 0);
    renameInArchive(dir + "/abs.zip", "zz/abs", "/tmp/a");
    EXPECT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/abs.zip", dir + "/out2"));
    EXPECT_TRUE(QDir(dir + "/out2").isEmpty());
}

TEST(ZCZipArchiveUnzip, EmptyAndDotNamesAreRefused)
{
    // Written with minizip directly: our own writer refuses such names.
    const QString dir = freshDir("emptyname");
    zipFile z = zipOpen64(QFile::encodeName(dir + "/t.zip").constData(), APPEND_STATUS_CREATE);
    ASSERT_NE(z, nullptr);
    for (const char *name : {"", "./", "ok.txt", "a/../../b.txt"}) {
        zip_fileinfo info{};
        ZCZipArchive::zipInfoSetDate(&info, QDateTime::currentDateTime());
        ASSERT_EQ(zipOpenNewFileInZip(z, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, -1), ZIP_OK);
        ASSERT_EQ(zipWriteInFileInZip(z, "data", 4), ZIP_OK);
        ASSERT_EQ(zipCloseFileInZip(z), ZIP_OK);
    }
    ASSERT_EQ(zipClose(z, nullptr), ZIP_OK);

    Progress progress;
    EXPECT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out", recorder(&progress), {}));
    EXPECT_EQ(progress.names, QStringList{"ok.txt"});
    EXPECT_EQ(QDir(dir + "/out").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"ok.txt"});
    EXPECT_FALSE(QFileInfo::exists(dir + "/b.txt"));
}

TEST(ZCZipArchiveUnzip, SymbolicLinksStayInsideTheDestination)
{
    const QString dir = freshDir("links");
    writeText(dir + "/src/target.txt", "target");
    writeText(dir + "/secret.txt", "secret");
    ASSERT_EQ(::symlink("target.txt", QFile::encodeName(dir + "/src/inside")), 0);
    ASSERT_EQ(::symlink("../../secret.txt", QFile::encodeName(dir + "/src/outside")), 0);
    ASSERT_EQ(::symlink("/etc/passwd", QFile::encodeName(dir + "/src/absolute")), 0);
    ASSERT_EQ(run(dir + "/src", "zip",
                  {"-q", "-y", dir + "/t.zip", "target.txt", "inside", "outside", "absolute"}),
              0);

    EXPECT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out"));
    QFileInfo inside(dir + "/out/inside");
    EXPECT_TRUE(inside.isSymLink());
    EXPECT_EQ(inside.symLinkTarget(), dir + "/out/target.txt");
    EXPECT_EQ(readAll(dir + "/out/inside"), "target");
    EXPECT_FALSE(QFileInfo(dir + "/out/outside").exists() || QFileInfo(dir + "/out/outside").isSymLink());
    EXPECT_FALSE(QFileInfo(dir + "/out/absolute").isSymLink());
}

TEST(ZCZipArchiveUnzip, NeverWritesThroughAnExistingLink)
{
    const QString dir = freshDir("through");
    writeText(dir + "/src/sub/file.txt", "new");
    writeText(dir + "/src/leaf.txt", "new leaf");
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", dir + "/t.zip", "sub/file.txt", "leaf.txt"}), 0);

    // The destination already holds links leading out of it.
    QDir().mkpath(dir + "/elsewhere");
    writeText(dir + "/victim.txt", "precious");
    QDir().mkpath(dir + "/out");
    ASSERT_EQ(::symlink(QFile::encodeName(dir + "/elsewhere"), QFile::encodeName(dir + "/out/sub")), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(dir + "/victim.txt"), QFile::encodeName(dir + "/out/leaf.txt")), 0);

    ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out");
    EXPECT_FALSE(QFileInfo::exists(dir + "/elsewhere/file.txt"));
    EXPECT_EQ(readAll(dir + "/victim.txt"), "precious");
}

TEST(ZCZipArchiveUnzip, NestedZipStaysPacked)
{
    const QString dir = freshDir("nested");
    writeText(dir + "/inner/x.txt", "x");
    QDir().mkpath(dir + "/src");
    ASSERT_EQ(run(dir + "/inner", "zip", {"-q", dir + "/src/Inner.ZIP", "x.txt"}), 0);
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", dir + "/t.zip", "Inner.ZIP"}), 0);
    EXPECT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out"));
    EXPECT_TRUE(QFileInfo(dir + "/out/Inner.ZIP").isFile());
    EXPECT_FALSE(QFileInfo::exists(dir + "/out/x.txt"));
}

TEST(ZCZipArchiveUnzip, PermissionsMaskedWithOwnerReadWriteKept)
{
    const QString dir = freshDir("perms");
    writeText(dir + "/src/locked", "l");
    writeText(dir + "/src/setuid", "s");
    writeText(dir + "/src/script", "#!/bin/sh\n");
    ::chmod(QFile::encodeName(dir + "/src/locked"), 0040);
    ::chmod(QFile::encodeName(dir + "/src/setuid"), 04755);
    ::chmod(QFile::encodeName(dir + "/src/script"), 0750);
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", dir + "/t.zip", "locked", "setuid", "script"}), 0);

    ASSERT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out"));
    auto mode = [&](const char *name) {
        struct stat st;
        EXPECT_EQ(::stat(QFile::encodeName(dir + "/out/" + name), &st), 0);
        return st.st_mode & 07777;
    };
    EXPECT_EQ(mode("locked"), 0640u);
    EXPECT_EQ(mode("setuid"), 0755u);
    EXPECT_EQ(mode("script"), 0750u);
}

TEST(ZCZipArchiveUnzip, DamagedArchivesFail)
{
    const QString dir = freshDir("damaged");
    QByteArray big;
    for (int i = 0; i < 20000; ++i)
        big += QByteArray::number(i * 7919 % 10007) + ",";
    writeText(dir + "/src/big.txt", big);
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", dir + "/t.zip", "big.txt"}), 0);
    const QByteArray whole = readAll(dir + "/t.zip");

    // Cut short: the directory at the end is gone.
    writeText(dir + "/cut.zip", whole.left(whole.size() / 2));
    platform::Error error;
    EXPECT_FALSE(ZCZipArchive::unzipFileAtPath(dir + "/cut.zip", dir + "/out1", true, QString(), &error));
    EXPECT_EQ(error.code, -1);

    // Damaged data with an intact directory: failure, no half-written file.
    QByteArray spoiled = whole;
    for (int i = 200; i < 260; ++i)
        spoiled[i] = char(spoiled[i] ^ 0x5A);
    writeText(dir + "/spoiled.zip", spoiled);
    error = {};
    EXPECT_FALSE(ZCZipArchive::unzipFileAtPath(dir + "/spoiled.zip", dir + "/out2", true, QString(), &error));
    EXPECT_FALSE(error.isNull());
    EXPECT_FALSE(QFileInfo::exists(dir + "/out2/big.txt"));
}

TEST(ZCZipArchiveUnzip, UnwritableDestinationFails)
{
    const QString dir = freshDir("unwritable");
    writeText(dir + "/src/a.txt", "a");
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", dir + "/t.zip", "a.txt"}), 0);
    writeText(dir + "/plainfile", "in the way");
    platform::Error error;
    EXPECT_FALSE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/plainfile/out", true, QString(), &error));
    EXPECT_EQ(error.code, ZCZipArchive::FailedWriteFile);
}

TEST(ZCZipArchiveUnzip, PasswordsAreRefusedAndEncryptionIsDetected)
{
    const QString dir = freshDir("password");
    writeText(dir + "/src/a.txt", "secret");
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", "-P", "pw", dir + "/enc.zip", "a.txt"}), 0);
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", dir + "/plain.zip", "a.txt"}), 0);

    EXPECT_TRUE(ZCZipArchive::isFilePasswordProtectedAtPath(dir + "/enc.zip"));
    EXPECT_FALSE(ZCZipArchive::isFilePasswordProtectedAtPath(dir + "/plain.zip"));
    EXPECT_FALSE(ZCZipArchive::isFilePasswordProtectedAtPath(dir + "/nothing.zip"));

    platform::Error error;
    EXPECT_FALSE(ZCZipArchive::unzipFileAtPath(dir + "/plain.zip", dir + "/o1", true, "pw", &error));
    EXPECT_EQ(error.code, ZCZipArchive::PasswordNotSupported);
    error = {};
    EXPECT_FALSE(ZCZipArchive::unzipFileAtPath(dir + "/enc.zip", dir + "/o2", true, QString(), &error));
    EXPECT_EQ(error.code, ZCZipArchive::PasswordNotSupported);
    EXPECT_FALSE(QFileInfo::exists(dir + "/o2/a.txt"));

    ZCZipArchive writer(dir + "/w.zip");
    ASSERT_TRUE(writer.open());
    EXPECT_FALSE(writer.writeData("x", "x.txt", "pw"));
    EXPECT_TRUE(writer.close());
}

TEST(ZCZipArchiveUnzip, OverwriteOffKeepsFileAndSkipsItsProgress)
{
    const QString dir = freshDir("overwrite");
    writeText(dir + "/src/one.txt", "new one");
    writeText(dir + "/src/two.txt", "new two");
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", dir + "/t.zip", "one.txt", "two.txt"}), 0);
    writeText(dir + "/out/one.txt", "old one");

    Progress progress;
    EXPECT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out", false, QString(),
                                              recorder(&progress), {}));
    EXPECT_EQ(readAll(dir + "/out/one.txt"), "old one");
    EXPECT_EQ(readAll(dir + "/out/two.txt"), "new two");
    EXPECT_EQ(progress.names, QStringList{"two.txt"});
    EXPECT_EQ(progress.numbers, QList<qint64>{1});

    EXPECT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out"));
    EXPECT_EQ(readAll(dir + "/out/one.txt"), "new one");
}

TEST(ZCZipArchiveUnzip, DatesAreKeptOnFilesAndFolders)
{
    const QString dir = freshDir("dates");
    writeText(dir + "/src/d/f.txt", "f");
    ASSERT_EQ(run(dir, "touch", {"-d", "2019-06-15 10:20:30", "src/d/f.txt", "src/d"}), 0);
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", "-r", dir + "/t.zip", "d"}), 0);
    ASSERT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out"));
    const QDateTime expected(QDate(2019, 6, 15), QTime(10, 20, 30));
    EXPECT_LE(qAbs(QFileInfo(dir + "/out/d/f.txt").lastModified().secsTo(expected)), 2);
    EXPECT_LE(qAbs(QFileInfo(dir + "/out/d").lastModified().secsTo(expected)), 2);
}

namespace {
struct RecordingDelegate : ZCZipArchiveDelegate {
    QStringList events;
    int cancelAt = -1;
    bool wantsInfoForm = false;
    void zipArchiveWillUnzipArchiveAtPath(const QString &, unz_global_info info) override
    {
        events << QString("will archive %1").arg(info.number_entry);
    }
    void zipArchiveProgressEvent(qint64 loaded, qint64 total) override
    {
        events << QString(loaded == total ? "progress end" : loaded == 0 ? "progress start" : "progress");
    }
    bool zipArchiveShouldUnzipFileAtIndex(qint64 index, qint64, const QString &, unz_file_info) override
    {
        return index != cancelAt;
    }
    bool zipArchiveDidUnzipFileAtIndex(qint64 index, qint64, const QString &, unz_file_info) override
    {
        if (wantsInfoForm)
            events << QString("did info %1").arg(index);
        return wantsInfoForm;
    }
    void zipArchiveDidUnzipFileAtIndexUnzippedFilePath(qint64 index, qint64, const QString &,
                                                       const QString &path) override
    {
        events << QString("did path %1 %2").arg(index).arg(QFileInfo(path).fileName());
    }
    void zipArchiveDidUnzipArchiveAtPath(const QString &, unz_global_info, const QString &) override
    {
        events << "did archive";
    }
};
} // namespace

TEST(ZCZipArchiveUnzip, DelegateHearsEachStepAndCanCancel)
{
    const QString dir = freshDir("delegate");
    writeText(dir + "/src/a.txt", "a");
    writeText(dir + "/src/b.txt", "b");
    ASSERT_EQ(run(dir + "/src", "zip", {"-q", dir + "/t.zip", "a.txt", "b.txt"}), 0);

    RecordingDelegate d;
    EXPECT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/o1", &d));
    EXPECT_EQ(d.events.first(), "will archive 2");
    EXPECT_TRUE(d.events.contains("did path 0 a.txt"));
    EXPECT_TRUE(d.events.contains("did path 1 b.txt"));
    EXPECT_EQ(d.events.mid(d.events.size() - 2), (QStringList{"did archive", "progress end"}));

    RecordingDelegate info;
    info.wantsInfoForm = true;
    EXPECT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/o2", &info));
    EXPECT_TRUE(info.events.contains("did info 1"));
    EXPECT_FALSE(info.events.join(",").contains("did path"));

    RecordingDelegate cancel;
    cancel.cancelAt = 1;
    EXPECT_FALSE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/o3", &cancel));
    EXPECT_TRUE(QFileInfo::exists(dir + "/o3/a.txt"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/o3/b.txt"));
    EXPECT_FALSE(cancel.events.contains("did archive"));
    EXPECT_FALSE(cancel.events.contains("progress end"));
}

TEST(ZCZipArchiveDate, MsdosFieldsConvert)
{
    const quint32 value = (45u << 25) | (4u << 21) | (12u << 16) | (13u << 11) | (33u << 5) | 1u;
    EXPECT_EQ(ZCZipArchive::dateWithMSDOSFormat(value),
              QDateTime(QDate(2025, 4, 12), QTime(13, 33, 2)));
    // Month 0 is no date.
    EXPECT_FALSE(ZCZipArchive::dateWithMSDOSFormat(45u << 25).isValid());

    zip_fileinfo info{};
    ZCZipArchive::zipInfoSetDate(&info, QDateTime(QDate(2025, 1, 31), QTime(8, 9, 10)));
    EXPECT_EQ(info.tmz_date.tm_year, 2025u);
    EXPECT_EQ(info.tmz_date.tm_mon, 0u);
    EXPECT_EQ(info.tmz_date.tm_mday, 31u);
    EXPECT_EQ(info.tmz_date.tm_hour, 8u);
    EXPECT_EQ(info.tmz_date.tm_min, 9u);
    EXPECT_EQ(info.tmz_date.tm_sec, 10u);
}

TEST(ZCZipArchiveWrite, DataEntryIsDeflatedAndDatedNow)
{
    const QString dir = freshDir("writedata");
    ZCZipArchive writer(dir + "/t.zip");
    ASSERT_TRUE(writer.open());
    QByteArray payload(5000, 'p');
    EXPECT_TRUE(writer.writeData(payload, "a.plist", QString()));
    EXPECT_FALSE(writer.writeData(QByteArray(), "null.plist", QString()));
    EXPECT_TRUE(writer.close());

    QString out;
    ASSERT_EQ(run(dir, "unzip", {"-t", "t.zip"}, &out), 0) << out.toStdString();
    ASSERT_EQ(run(dir, "unzip", {"-Z", "-l", "t.zip"}, &out), 0);
    EXPECT_TRUE(out.contains("a.plist"));
    EXPECT_TRUE(out.contains("defN")) << out.toStdString();
    EXPECT_FALSE(out.contains("null.plist"));
    EXPECT_TRUE(out.contains(QDate::currentDate().toString("yy-MMM-dd"))) << out.toStdString();

    ASSERT_TRUE(ZCZipArchive::unzipFileAtPath(dir + "/t.zip", dir + "/out"));
    EXPECT_EQ(readAll(dir + "/out/a.plist"), payload);
}

TEST(ZCZipArchiveWrite, FolderArchiveRoundTripsThroughInfoZip)
{
    const QString dir = freshDir("writefolder");
    writeText(dir + "/Lib/Frames/één.bin", QByteArray(70000, '\x7'));
    writeText(dir + "/Lib/.hidden", "h");
    writeText(dir + "/Lib/top.txt", "top");
    QDir().mkpath(dir + "/Lib/e");
    ::chmod(QFile::encodeName(dir + "/Lib/top.txt"), 0640);

    ASSERT_TRUE(ZCZipArchive::createZipFileAtPath(dir + "/t.zip", dir + "/Lib"));
    QString out;
    ASSERT_EQ(run(dir, "unzip", {"-t", "t.zip"}, &out), 0) << out.toStdString();
    ASSERT_EQ(run(dir, "unzip", {"-Z1", "t.zip"}, &out), 0);
    QStringList names = out.split('\n', Qt::SkipEmptyParts);
    names.sort();
    EXPECT_EQ(names, (QStringList{".hidden", "Frames/één.bin", "e/.DS_Store", "top.txt"}));

    // Info-ZIP unpacks what we wrote, permissions included.
    ASSERT_EQ(run(dir, "unzip", {"-q", "t.zip", "-d", "byunzip"}), 0);
    EXPECT_EQ(readAll(dir + "/byunzip/Frames/één.bin"), QByteArray(70000, '\x7'));
    EXPECT_EQ(QFileInfo(dir + "/byunzip/top.txt").permissions() & 0x7777,
              QFileInfo(dir + "/Lib/top.txt").permissions() & 0x7777);

    ASSERT_TRUE(ZCZipArchive::createZipFileAtPath(dir + "/kept.zip", dir + "/Lib", true));
    ASSERT_EQ(run(dir, "unzip", {"-Z1", "kept.zip"}, &out), 0);
    EXPECT_TRUE(out.split('\n').contains("Lib/e/.DS_Store"));

    ASSERT_TRUE(ZCZipArchive::createZipFileAtPath(dir + "/files.zip",
                                                  QStringList{dir + "/Lib/top.txt", dir + "/missing",
                                                              dir + "/Lib/.hidden"}));
    ASSERT_EQ(run(dir, "unzip", {"-Z1", "files.zip"}, &out), 0);
    EXPECT_EQ(out.split('\n', Qt::SkipEmptyParts), (QStringList{"top.txt", ".hidden"}));
}

TEST(ZCZipArchiveWrite, FolderEntryAndMisuse)
{
    const QString dir = freshDir("misuse");
    ZCZipArchive writer(dir + "/t.zip");
    EXPECT_THROW(writer.writeFile(dir + "/x", QString()), platform::Exception);
    EXPECT_THROW(writer.close(), platform::Exception);
    EXPECT_FALSE(writer.writeData("x", "x", QString()));
    ASSERT_TRUE(writer.open());
    EXPECT_THROW(writer.open(), platform::Exception);
    EXPECT_TRUE(writer.writeFolderAtPath(dir, "folder", QString()));
    EXPECT_FALSE(writer.writeData("x", QString(), QString()));
    EXPECT_TRUE(writer.close());
    QString out;
    ASSERT_EQ(run(dir, "unzip", {"-t", "t.zip"}, &out), 0) << out.toStdString();
    ASSERT_EQ(run(dir, "unzip", {"-Z1", "t.zip"}, &out), 0);
    EXPECT_EQ(out.trimmed(), "folder/");
}

TEST(ZCZipArchiveWrite, FullDiskIsAFailure)
{
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    ZCZipArchive writer("/dev/full");
    if (!writer.open())
        return; // refusing to open is a failure reported too
    QByteArray noise;
    for (int i = 0; i < 200000; ++i)
        noise += char((i * 2654435761u) >> 24);
    bool wrote = writer.writeData(noise, "n.bin", QString());
    bool closed = writer.close();
    EXPECT_FALSE(wrote && closed);
}

TEST(ZCZipArchiveUnzip, ExpansionAndEntryCountAreBoundedByWhatIsInflated)
{
    const QString dir = freshDir("bounds");
    // Zeros deflate to almost nothing: small archives that expand far.
    ASSERT_EQ(run(dir, testsupport::python3(), {"-c", R"(
import zipfile
def make(name, entries):
    with zipfile.ZipFile(name, 'w', zipfile.ZIP_DEFLATED) as z:
        for entry, size in entries: z.writestr(entry, bytes(size))
make('entry.zip', [('small.bin', 10), ('Frames/huge.bin', 2 << 20)])
make('total.zip', [('part%d.bin' % i, 900 << 10) for i in range(4)])
make('count.zip', [('f%d' % i, 1) for i in range(6)])
make('fits.zip', [('part%d.bin' % i, 900 << 10) for i in range(3)])
)"}),
              0);
    const ZCZipArchive::Limits saved = ZCZipArchive::limits();
    ZCZipArchive::setLimits({3 << 20, 1 << 20, 5});
    auto unzip = [&](const QString &name, platform::Error *error) {
        return ZCZipArchive::unzipFileAtPath(dir + "/" + name, dir + "/out-" + name, true, QString(), error);
    };
    platform::Error error;
    EXPECT_FALSE(unzip("entry.zip", &error));
    EXPECT_EQ(error.code, ZCZipArchive::ExpandsTooFar);
    EXPECT_TRUE(error.description.contains("Frames/huge.bin")) << error.description.toStdString();
    EXPECT_EQ(QDir(dir + "/out-entry.zip/Frames").entryList(QDir::Files), QStringList());
    error = {};
    EXPECT_FALSE(unzip("total.zip", &error));
    EXPECT_EQ(error.code, ZCZipArchive::ExpandsTooFar);
    EXPECT_LE(QDir(dir + "/out-total.zip").entryList(QDir::Files).size(), 3);
    error = {};
    EXPECT_FALSE(unzip("count.zip", &error));
    EXPECT_EQ(error.code, ZCZipArchive::ExpandsTooFar);
    EXPECT_TRUE(unzip("fits.zip", &error));
    ZCZipArchive::setLimits(saved);
}
