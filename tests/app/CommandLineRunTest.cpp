// The command-line run as a user starts it: the real program in a process of
// its own, with settings, data and runtime folders of its own.
#include "AppTestSupport.h"

#include "platform/imaging/ColorMatch.h"
#include "platform/imaging/PsdReader.h"
#include "platform/objectstore/SqliteDatabase.h"
#include "platform/objectstore/SqliteStatement.h"
#include "platform/ui/SingleInstance.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QImageReader>
#include <QLockFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>

#include <cstring>
#include <thread>

#include <dirent.h>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Outcome {
    int exitCode = -1;
    bool finished = false;
    QString errors;
    int errorLines() const { return int(errors.count(QStringLiteral("ERROR:"))); }
};

class CommandLineRun : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { home = new QString(apptest::freshDir()); }
    static void TearDownTestSuite()
    {
        delete home;
        home = nullptr;
    }

    // Every run shares one home, so only the first start imports the
    // built-in library and designs. Runs have no window system at all, as
    // from cron, ssh or a container.
    static QProcessEnvironment environmentIn(const QString &folder)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *sub : {"config", "data", "cache", "runtime", "home"}) {
            QDir().mkpath(folder + '/' + sub);
            QFile::setPermissions(folder + '/' + sub, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                          | QFileDevice::ExeOwner);
        }
        for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(variable);
        environment.insert("XDG_CACHE_HOME", folder + "/cache");
        environment.insert("XDG_CONFIG_HOME", folder + "/config");
        environment.insert("XDG_DATA_HOME", folder + "/data");
        environment.insert("XDG_RUNTIME_DIR", folder + "/runtime");
        environment.insert("HOME", folder + "/home");
        return environment;
    }

    static Outcome kantelo(const QStringList &arguments, const QString &profile = QString(),
                           std::function<void()> inChild = nullptr)
    {
        QProcess process;
        process.setProcessEnvironment(environmentIn(profile.isEmpty() ? *home : profile));
        if (inChild)
            process.setChildProcessModifier(inChild);
        process.start(QStringLiteral(KANTELO_BINARY), arguments);
        Outcome run;
        // The event loop turns meanwhile, so a running instance could answer.
        run.finished = testsupport::waitUntil([&] { return process.state() == QProcess::NotRunning; });
        if (!run.finished) {
            process.kill();
            process.waitForFinished();
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.errors = QString::fromLocal8Bit(process.readAllStandardError());
        return run;
    }

    static QByteArray digest(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                              : QByteArray();
    }

    static QString exifDate(const QString &path)
    {
        QProcess exiftool;
        exiftool.start("exiftool", {"-s3", "-DateTimeOriginal", path});
        exiftool.waitForFinished(testsupport::kHangGuardMs);
        return QString::fromUtf8(exiftool.readAllStandardOutput()).trimmed();
    }

    static QString *home;
};

QString *CommandLineRun::home = nullptr;

} // namespace

TEST_F(CommandLineRun, ABuiltInDesignFramesThePhotoInPlaceAndQuits)
{
    const QString photo = apptest::writePhoto(apptest::freshDir(), "holiday.jpg", QSize(800, 600));
    QProcess exiftool;
    exiftool.start("exiftool", {"-q", "-overwrite_original", "-DateTimeOriginal=2021:05:06 07:08:09", photo});
    ASSERT_TRUE(exiftool.waitForFinished(testsupport::kHangGuardMs));
    ASSERT_EQ(exifDate(photo), "2021:05:06 07:08:09");
    const QByteArray before = digest(photo);

    // An instance already running for this user is left out of it.
    QDir().mkpath(*home + "/runtime");
    platform::SingleInstance running(*home + "/runtime/com.velmoorsoft.Kantelo3-" + QString::number(getuid()));
    ASSERT_TRUE(running.listen());
    QStringList handedOver;
    QObject::connect(&running, &platform::SingleInstance::filesReceived,
                     [&](const QStringList &paths) { handedOver << paths; });

    const Outcome run = kantelo({"-template=\"Gallery White\"", "-process", photo});
    EXPECT_TRUE(handedOver.isEmpty());
    ASSERT_TRUE(run.finished) << "the program quits by itself";
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_FALSE(run.errors.contains("ERROR:")) << run.errors.toStdString();

    EXPECT_NE(digest(photo), before);
    QImageReader reader(photo);
    EXPECT_EQ(reader.format(), QByteArray("jpeg")) << "the photo keeps its own type";
    const QSize framed = reader.size();
    EXPECT_GT(framed.width(), 800);
    EXPECT_GT(framed.height(), 600);
    EXPECT_EQ(exifDate(photo), "2021:05:06 07:08:09");
    EXPECT_FALSE(QFileInfo::exists(photo + ".tmp")) << "nothing is left beside the photo";
    EXPECT_EQ(QDir(QFileInfo(photo).path()).entryList(QDir::Files), QStringList{"holiday.jpg"});

    // The run counted no launch towards the newsletter offer, which it skips.
    QSettings settings(*home + "/config/Kantelo/Kantelo.conf", QSettings::IniFormat);
    EXPECT_TRUE(settings.contains("Launches"));
    EXPECT_FALSE(settings.contains("Launches-SubscribeToNewsletter"));
}

TEST_F(CommandLineRun, AnUnusableQualitySettingFramesAtTheFactoryQualityAndSaysSoOnce)
{
    const QString profile = apptest::freshDir();
    QDir().mkpath(profile + "/config/Kantelo");
    QFile settings(profile + "/config/Kantelo/Kantelo.conf");
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[General]\nOutputImageQuality=abc\n");
    settings.close();
    const QString photo = apptest::writePhoto(apptest::freshDir(), "quality.jpg", QSize(400, 300));

    const Outcome run = kantelo({"-template=\"Gallery White\"", "-process", photo}, profile);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_EQ(run.errors.count("Warning: "), 1) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains("OutputImageQuality “abc”")) << run.errors.toStdString();
    const testsupport::ProgramRun quality = testsupport::runProgram("/usr/bin/identify", {"-format", "%Q", photo});
    EXPECT_EQ(QString::fromUtf8(quality.out).trimmed(), "90");
}

TEST_F(CommandLineRun, FailuresSayWhyExitNonZeroAndLeaveThePhotoAlone)
{
    const QString dir = apptest::freshDir();
    const QString photo = apptest::writePhoto(dir, "keep.jpg", QSize(800, 600));
    const QByteArray before = digest(photo);

    const Outcome unknown = kantelo({"-template=No Such Design", "-process", photo});
    ASSERT_TRUE(unknown.finished) << "no alert waits for an answer";
    EXPECT_NE(unknown.exitCode, 0);
    EXPECT_TRUE(unknown.errors.contains("ERROR: Template named 'No Such Design' not found"))
        << unknown.errors.toStdString();
    EXPECT_EQ(digest(photo), before);

    const QString damaged = dir + "/damaged.jpg";
    {
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("\xff\xd8\xff\xe0 this is no picture", 24) + QByteArray(3000, '\x11'));
    }
    const QByteArray damagedBefore = digest(damaged);
    const Outcome undecodable = kantelo({"-template=Baroque", "-process", damaged});
    ASSERT_TRUE(undecodable.finished);
    EXPECT_NE(undecodable.exitCode, 0);
    EXPECT_EQ(undecodable.errorLines(), 1) << undecodable.errors.toStdString();
    EXPECT_TRUE(undecodable.errors.contains(damaged)) << "names the file";
    EXPECT_EQ(digest(damaged), damagedBefore);
    const Outcome folder = kantelo({"-template=Baroque", "-process", dir});
    EXPECT_NE(folder.exitCode, 0);
    EXPECT_TRUE(folder.errors.contains("because it is a folder")) << folder.errors.toStdString();
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/pipe.jpg").constData(), 0600), 0);
    const Outcome pipe = kantelo({"-template=Baroque", "-process", dir + "/pipe.jpg"});
    EXPECT_NE(pipe.exitCode, 0);
    EXPECT_TRUE(pipe.errors.contains("not a photo file")) << pipe.errors.toStdString();
    ASSERT_EQ(::symlink("loop-b.jpg", QFile::encodeName(dir + "/loop-a.jpg").constData()), 0);
    ASSERT_EQ(::symlink("loop-a.jpg", QFile::encodeName(dir + "/loop-b.jpg").constData()), 0);
    const Outcome loop = kantelo({"-template=Baroque", "-process", dir + "/loop-a.jpg"});
    EXPECT_NE(loop.exitCode, 0);
    EXPECT_TRUE(loop.errors.contains("symbolic links go round in a loop")) << loop.errors.toStdString();

    // A file-size limit fails the write, which the run reports.
    const QString big = dir + "/noise.jpg";
    QImage noise(1600, 1200, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y) {
        auto *row = reinterpret_cast<quint32 *>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            row[x] = quint32(y * 2654435761u + x * 40503u) * 2246822519u;
    }
    ASSERT_TRUE(noise.save(big, "JPEG", 90));
    const QByteArray bigBefore = digest(big);
    const rlim_t cap = rlim_t(QFileInfo(big).size() / 2); // the framed photo is larger than the photo
    const Outcome limited = kantelo({"-template=Baroque", "-process", big}, QString(), [cap] {
        struct rlimit limit {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = cap;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(limited.exitCode, 1) << "not killed by SIGXFSZ";
    EXPECT_EQ(limited.errorLines(), 1) << limited.errors.toStdString();
    EXPECT_TRUE(limited.errors.contains("Couldn't write")) << limited.errors.toStdString();
    EXPECT_EQ(digest(big), bigBefore);

    // A type the program cannot write back is refused, the file untouched.
    const QString gif = dir + "/still.gif";
    QImage small(300, 200, QImage::Format_RGB32);
    small.fill(Qt::darkGreen);
    ASSERT_TRUE(small.save(gif, "GIF") || small.save(gif, "BMP"));
    const QByteArray gifBefore = digest(gif);
    // Refused for its type alone, it is not read at all: a read would bring
    // its access time, set before its change, up to date.
    const timespec longAgo[2] = {{1, 0}, {0, UTIME_OMIT}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(gif).constData(), longAgo, 0), 0);
    const Outcome unwritable = kantelo({"-template=Baroque", "-process", gif});
    struct stat gifState {};
    ASSERT_EQ(::stat(QFile::encodeName(gif).constData(), &gifState), 0);
    EXPECT_EQ(gifState.st_atim.tv_sec, 1) << "not read before it was refused";
    ASSERT_TRUE(unwritable.finished);
    EXPECT_NE(unwritable.exitCode, 0);
    EXPECT_EQ(unwritable.errorLines(), 1) << unwritable.errors.toStdString();
    EXPECT_TRUE(unwritable.errors.contains("can't be framed in place")) << "refused before the render";
    EXPECT_TRUE(unwritable.errors.contains("Save a copy as JPEG, PNG or TIFF")) << "and what to do";
    EXPECT_EQ(digest(gif), gifBefore);

    // Without a design or a photo the run is refused at once, as is a file
    // that opens no photo of its own.
    QDir().mkpath(dir + "/Design.KTTemplate");
    for (const QStringList &arguments : {QStringList{"-process", photo}, QStringList{"-template=Baroque", "-process"},
                                         QStringList{"-template=Baroque", "-process", dir + "/Design.KTTemplate"}}) {
        const Outcome usage = kantelo(arguments);
        ASSERT_TRUE(usage.finished);
        EXPECT_NE(usage.exitCode, 0);
        EXPECT_TRUE(usage.errors.contains("ERROR:")) << arguments.join(' ').toStdString();
    }
    EXPECT_EQ(digest(photo), before);
}

TEST_F(CommandLineRun, ARefusedPhotoGivesItsOneErrorLineAloneAndWhatToSaveInstead)
{
    const QString dir = apptest::freshDir();
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile file(dir + '/' + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return file.fileName();
    };
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::darkBlue);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG");
    jpeg.replace(jpeg.indexOf("\xff\xc0") + 5, 2, QByteArray(2, '\0')); // no height: Qt's reader warns
    QByteArray tiff;
    QBuffer tiffBuffer(&tiff);
    tiffBuffer.open(QIODevice::WriteOnly);
    picture.save(&tiffBuffer, "TIFF");
    QByteArray logL;
    QBuffer logLBuffer(&logL);
    logLBuffer.open(QIODevice::WriteOnly);
    picture.convertToFormat(QImage::Format_Grayscale8).save(&logLBuffer, "TIFF");
    // Photometric interpretation LogL, which libtiff reads only compressed as such.
    logL.replace(logL.indexOf(QByteArray("\x06\x01\x03\0\x01\0\0\0\x01\0", 10)) + 8, 2, "\x4c\x80");
    // Photoshop headers, all the reader looks at before it refuses.
    const auto psd = [](char depth, char mode) {
        return QByteArray("8BPS\0\1\0\0\0\0\0\0\0\3\0\0\0\x40\0\0\0\x40\0", 23) + depth + QByteArray(1, '\0') + mode
               + QByteArray(16, '\0');
    };
    const struct {
        QString photo;
        QStringList says;
    } refusals[] = {
        {write("flat.jpg", jpeg), {"damaged"}},
        {write("cut.tif", tiff.left(tiff.size() / 2)), {"damaged", "TIFF directory"}},
        {write("logl.tif", logL), {"TIFF picture of a kind not read here (LogL"}},
        {write("lab.psd", psd(16, 9)), {"in Lab colour", "Save a copy in RGB colour with 8 bits a channel"}},
        {write("deep.psd", psd(32, 3)), {"32 bits a channel", "Save a copy with 8 bits a channel"}},
    };
    for (const auto &refused : refusals) {
        const Outcome run = kantelo({"-template=Baroque", "-process", refused.photo});
        EXPECT_EQ(run.exitCode, 1);
        const QString line = run.errors.trimmed();
        EXPECT_TRUE(line.startsWith("ERROR: ") && !line.contains('\n')) << run.errors.toStdString();
        for (const QString &words : refused.says)
            EXPECT_TRUE(line.contains(words)) << line.toStdString();
    }
}

TEST_F(CommandLineRun, APhotoTooSmallForItsFramesIsRefusedWithTheLeastSizeTheyShow)
{
    const QString dir = apptest::freshDir();
    for (int side : {1, 4, 6, 12}) {
        const QString path = apptest::writePhoto(dir, QStringLiteral("tiny%1.jpg").arg(side), QSize(side, side));
        const QByteArray before = digest(path);
        const testsupport::ProgramRun run =
            testsupport::runProgram({KANTELO_BINARY, "-template=Classic Walnut", "-process", QFile::encodeName(path)},
                                    environmentIn(*home).toStringList());
        // 12 x 12 is the least the design shows, and is framed.
        EXPECT_EQ(run.exitCode, side == 12 ? 0 : 1) << run.err.toStdString();
        EXPECT_EQ(run.err.count("ERROR:"), side == 12 ? 0 : 1) << run.err.toStdString();
        if (side < 12) {
            EXPECT_TRUE(run.err.contains(QStringLiteral("is %1 × %1 pixels, too small").arg(side).toUtf8()));
            EXPECT_TRUE(run.err.contains("at least 12 × 12 pixels")) << run.err.toStdString();
        }
        EXPECT_EQ(digest(path) == before, side < 12);
    }
}

// What stops a photo being framed in place is named, with what to do: a
// read-only disk, or a file or folder that belongs to someone else.
TEST_F(CommandLineRun, AnUnwritablePhotoSaysWhatStandsInTheWay)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a read-only mount and a run as another user need root";
    const QString dir = apptest::freshDir();
    const QString photo = apptest::writePhoto(dir, "card.jpg", QSize(400, 300));
    const QByteArray at = QFile::encodeName(dir);
    const Outcome readOnly = kantelo({"-template=Baroque", "-process", photo}, QString(), [at] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount(at.constData(), at.constData(), nullptr, MS_BIND, nullptr) != 0
            || ::mount(nullptr, at.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            ::_exit(77);
    });
    if (readOnly.exitCode == 77)
        GTEST_SKIP() << "no mount namespace of our own here";
    EXPECT_EQ(readOnly.exitCode, 1);
    EXPECT_TRUE(readOnly.errors.contains("is on a read-only disk")) << readOnly.errors.toStdString();
    EXPECT_FALSE(readOnly.errors.contains("Make it writable")) << readOnly.errors.toStdString();

    // As another user: root's photo in that user's folder, their photo in root's.
    constexpr uid_t kOther = 65534;
    const QString profile = apptest::freshDir();
    const QString theirFolder = apptest::freshDir();
    const QString roots = apptest::writePhoto(theirFolder, "roots.jpg");
    const QString theirs = apptest::writePhoto(apptest::freshDir(), "theirs.jpg");
    ASSERT_EQ(::chown(QFile::encodeName(theirFolder).constData(), kOther, kOther), 0);
    ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), kOther, kOther), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(testsupport::scratchDir()).constData(), 0711), 0);
    QList<QByteArray> homes;
    for (const char *sub : {"config", "data", "cache", "runtime", "home"})
        homes << QFile::encodeName(profile + '/' + sub);
    const auto asOther = [homes] {
        for (const QByteArray &home : homes) {
            if (::chown(home.constData(), kOther, kOther) != 0)
                ::_exit(77);
        }
        if (::setgroups(0, nullptr) != 0 || ::setgid(kOther) != 0 || ::setuid(kOther) != 0)
            ::_exit(77);
    };
    const QByteArray rootsBefore = digest(roots);
    const Outcome file = kantelo({"-template=Baroque", "-process", roots}, profile, asOther);
    EXPECT_TRUE(file.errors.contains("You have no permission to change")) << file.errors.toStdString();
    const Outcome folder = kantelo({"-template=Baroque", "-process", theirs}, profile, asOther);
    EXPECT_TRUE(folder.errors.contains("You have no permission to write in the folder")) << folder.errors.toStdString();
    EXPECT_EQ(digest(roots), rootsBefore);
}

TEST_F(CommandLineRun, APhotoWhoseNameIsNotUtf8IsFramedUnderItsOwnName)
{
    const QString parent = apptest::freshDir();
    const QByteArray folder = QFile::encodeName(parent) + "/\xfe", photo = folder + "/\xff.jpg";
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    const QString written = apptest::writePhoto(parent, "plain.jpg", QSize(400, 300));
    ASSERT_EQ(::rename(QFile::encodeName(written).constData(), photo.constData()), 0);
    const auto entries = [&folder] {
        QList<QByteArray> names;
        DIR *dir = ::opendir(folder.constData());
        while (const dirent *entry = dir ? ::readdir(dir) : nullptr) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.append(entry->d_name);
        }
        if (dir)
            ::closedir(dir);
        return names;
    };
    const auto width = [&photo] {
        QFile framed;
        const int fd = ::open(photo.constData(), O_RDONLY | O_CLOEXEC);
        return fd >= 0 && framed.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)
                   ? QImage::fromData(framed.readAll()).width()
                   : -1;
    };
    const auto frame = [](const QByteArray &path) {
        return testsupport::runProgram({KANTELO_BINARY, "-template=Gallery White", "-process", path},
                                       environmentIn(*home).toStringList());
    };

    // Held up while it waits for the library, the run shows what being cut
    // short would leave: nothing beside the photo but a hidden name.
    QDir().mkpath(*home + "/data/Kantelo");
    QLockFile library(*home + "/data/Kantelo/KTLibrary.db.lock");
    ASSERT_TRUE(library.tryLock(0));
    testsupport::ProgramRun run;
    std::thread running([&] { run = frame(photo); });
    const bool held = testsupport::waitUntil([&] { return entries().size() > 1; }, 60000);
    const QList<QByteArray> during = entries();
    library.unlock();
    running.join();
    EXPECT_TRUE(held);
    for (const QByteArray &name : during)
        EXPECT_TRUE(name == "\xff.jpg" || name.startsWith('.')) << name.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const int once = width();
    EXPECT_GT(once, 400) << "framed under its own name";
    EXPECT_EQ(entries().size(), 1) << "nothing else is left";

    // Through a symbolic link, the photo it leads to is framed.
    ASSERT_EQ(::symlink("\xff.jpg", (folder + "/link.jpg").constData()), 0);
    const testsupport::ProgramRun linked = frame(folder + "/link.jpg");
    EXPECT_EQ(linked.exitCode, 0) << linked.err.toStdString();
    EXPECT_GT(width(), once);
    EXPECT_EQ(entries().size(), 2);
}

TEST_F(CommandLineRun, RunsStartedTogetherOnAFreshProfileAllFrameTheirPhotosAndAllCount)
{
    const QString profile = apptest::freshDir();
    const QString dir = apptest::freshDir();
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int i = 0; i < 4; ++i) {
        const QString photo = apptest::writePhoto(dir, QStringLiteral("p%1.jpg").arg(i), QSize(400, 300));
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->setProcessEnvironment(environmentIn(profile));
        runs.back()->start(QStringLiteral(KANTELO_BINARY), {"-template=Baroque", "-process", photo});
    }
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return std::all_of(runs.begin(), runs.end(), [](const auto &p) { return p->state() == QProcess::NotRunning; });
    }));
    for (const auto &run : runs) {
        EXPECT_EQ(run->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
    }
    QSettings settings(profile + "/config/Kantelo/Kantelo.conf", QSettings::IniFormat);
    EXPECT_EQ(settings.value("Launches").toInt(), 4) << "no launch lost";
    // The built-in frames went in once.
    platform::SqliteDatabase db;
    ASSERT_TRUE(db.open(profile + "/data/Kantelo/KTLibrary.db", false, true));
    platform::SqliteStatement frames(db, "SELECT count(*), count(DISTINCT guid) FROM Frame");
    ASSERT_TRUE(frames.step());
    EXPECT_GT(frames.int64At(0), 0);
    EXPECT_EQ(frames.int64At(0), frames.int64At(1));

    // So it does when the frames' pictures are damaged or gone: the design
    // would come out as its mat alone.
    const QString photo = apptest::writePhoto(dir, "unframed.jpg", QSize(400, 300));
    const QByteArray before = digest(photo);
    const QDir pictures(profile + "/data/Kantelo/Frames");
    for (const QString &name : pictures.entryList(QDir::Files)) {
        QFile file(pictures.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha512).repeated(20));
    }
    const Outcome damaged = kantelo({"-template=Baroque", "-process", photo}, profile);
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_EQ(damaged.errorLines(), 1) << damaged.errors.toStdString();
    EXPECT_TRUE(damaged.errors.contains("The design 'Baroque' uses frames missing from the library"))
        << damaged.errors.toStdString();
    EXPECT_EQ(digest(photo), before);

    // With the design's frames gone from the library, the run fails and
    // leaves the photo alone rather than writing it without them.
    ASSERT_TRUE(db.open(profile + "/data/Kantelo/KTLibrary.db", false));
    ASSERT_TRUE(db.exec("DELETE FROM Frame"));
    db.close();
    const Outcome missing = kantelo({"-template=Baroque", "-process", photo}, profile);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.errorLines(), 1) << missing.errors.toStdString();
    EXPECT_TRUE(missing.errors.contains("missing from the library")) << missing.errors.toStdString();
    EXPECT_EQ(digest(photo), before);
}

TEST_F(CommandLineRun, AFailureDuringTheFirstRunImportWaitsForItAndLeavesNothingBehind)
{
    const QString profile = apptest::freshDir();
    const QString damaged = apptest::freshDir() + "/damaged.jpg";
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\xff\xd8\xff\xe0 no picture", 16));
    file.close();
    const Outcome run = kantelo({"-template=Baroque", "-process", damaged}, profile);
    EXPECT_EQ(run.exitCode, 1) << "ends by itself, not by a crash";
    EXPECT_EQ(run.errorLines(), 1) << run.errors.toStdString();
    const QDir support(profile + "/data/Kantelo");
    EXPECT_EQ(support.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"Frames"});
    platform::SqliteDatabase db;
    ASSERT_TRUE(db.open(support.filePath("KTLibrary.db"), false, true));
    platform::SqliteStatement frames(db, "SELECT count(*) FROM Frame");
    ASSERT_TRUE(frames.step());
    EXPECT_GT(frames.int64At(0), 0) << "the import finished and was saved";
}

TEST_F(CommandLineRun, AFirstRunImportThatFailsSaysSoAndTheNextStartCompletesIt)
{
    const QString profile = apptest::freshDir();
    const QString photo = apptest::writePhoto(apptest::freshDir(), "photo.jpg", QSize(400, 300));
    const QByteArray before = digest(photo);
    // A file where the frame pictures' folder belongs: the import can't write them.
    QDir().mkpath(profile + "/data/Kantelo");
    QFile blocker(profile + "/data/Kantelo/Frames");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const Outcome failed = kantelo({"-template=Baroque", "-process", photo}, profile);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.errorLines(), 1) << failed.errors.toStdString();
    EXPECT_TRUE(failed.errors.contains("ERROR: The built-in frames could not be imported"))
        << "not a design said to be missing: " << failed.errors.toStdString();
    EXPECT_EQ(digest(photo), before);

    ASSERT_TRUE(blocker.remove());
    const Outcome next = kantelo({"-template=Baroque", "-process", photo}, profile);
    EXPECT_EQ(next.exitCode, 0) << next.errors.toStdString();
    EXPECT_NE(digest(photo), before);
}

TEST_F(CommandLineRun, DamagedFramePicturesOrLibraryGiveOneLineNamingTheFileAndWhatToDo)
{
    const QString profile = apptest::freshDir();
    const QString photo = apptest::writePhoto(apptest::freshDir(), "photo.jpg", QSize(400, 300));
    ASSERT_EQ(kantelo({"-template=\"Gallery White\"", "-process", photo}, profile).exitCode, 0);
    const QByteArray before = digest(photo);
    const QString support = profile + "/data/Kantelo";
    // What a run killed mid-import left behind goes at the next run.
    const QString killed = support + "/.ktframes-import-999999999-AbCdEf";
    ASSERT_TRUE(QDir().mkpath(killed + "/Graphics"));
    const auto spoil = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(QByteArray(4000, '\x5a')) == 4000;
    };
    // A photo cut short: which, and what to do.
    const QString png = apptest::freshDir() + "/cut.png";
    ASSERT_TRUE(QImage(QImage(photo).scaled(300, 200)).save(png));
    ASSERT_TRUE(QFile::resize(png, QFileInfo(png).size() / 2));
    const Outcome cut = kantelo({"-template=Gallery White", "-process", png}, profile);
    EXPECT_EQ(cut.exitCode, 1);
    EXPECT_EQ(cut.errorLines(), 1) << cut.errors.toStdString();
    EXPECT_TRUE(cut.errors.contains("“" + png + "” could not be opened")) << cut.errors.toStdString();
    EXPECT_TRUE(cut.errors.contains("Choose another photo"));
    EXPECT_FALSE(QFileInfo::exists(killed));

    for (const QString &name : QDir(support + "/Frames").entryList(QDir::Files))
        ASSERT_TRUE(spoil(support + "/Frames/" + name));

    const Outcome frames = kantelo({"-template=Baroque", "-process", photo}, profile);
    EXPECT_EQ(frames.exitCode, 1);
    EXPECT_EQ(frames.errors.trimmed().count('\n'), 0) << "one line: " << frames.errors.toStdString();
    EXPECT_TRUE(frames.errors.startsWith("ERROR: ")) << frames.errors.toStdString();
    EXPECT_TRUE(frames.errors.contains("Baroque Gold"));
    EXPECT_TRUE(frames.errors.contains("Choose another design"));
    EXPECT_FALSE(frames.errors.contains(photo)) << "the photo is not what is wrong";

    ASSERT_TRUE(spoil(support + "/KTLibrary.db"));
    const Outcome library = kantelo({"-template=Baroque", "-process", photo}, profile);
    EXPECT_EQ(library.exitCode, 1);
    EXPECT_EQ(library.errorLines(), 1) << library.errors.toStdString();
    EXPECT_TRUE(library.errors.contains("“" + support + "/KTLibrary.db”")) << library.errors.toStdString();
    EXPECT_TRUE(library.errors.contains("move it aside")) << library.errors.toStdString();
    EXPECT_EQ(digest(photo), before);
}

namespace {

// An ICC profile of `space`: a grey one of gamma 2.2, which Qt and other
// readers take, or a CMYK one with no tags, which they only name.
QByteArray iccProfile(const char *space)
{
    QByteArray out;
    const auto be32 = [&out](quint32 v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.append(char((v >> shift) & 0xff));
    };
    const bool grey = qstrcmp(space, "GRAY") == 0;
    be32(grey ? 192 : 132);
    out += QByteArray("none") + QByteArray("\x02\x10\0\0", 4) + (grey ? "mntr" : "prtr") + space
           + (grey ? "XYZ " : "Lab ") + QByteArray(12, '\0') + "acsp" + QByteArray(24, '\0');
    be32(0);
    for (quint32 v : {63189u, 65536u, 54061u}) // the D50 illuminant
        be32(v);
    out += QByteArray(48, '\0');
    be32(grey ? 2 : 0);
    if (grey) {
        out += "wtpt";
        be32(156);
        be32(20);
        out += "kTRC";
        be32(176);
        be32(14);
        out += QByteArray("XYZ ") + QByteArray(4, '\0');
        for (quint32 v : {63189u, 65536u, 54061u})
            be32(v);
        out += QByteArray("curv") + QByteArray(4, '\0');
        be32(1);
        out += QByteArray("\x02\x33\0\0", 4); // gamma 2.2, padded
    }
    return out;
}

} // namespace

TEST_F(CommandLineRun, PhotoshopDocumentsKeepTheirKindWithAProfileOfTheirPixelsOrAreLeftAlone)
{
    const QString dir = apptest::freshDir();
    const auto make = [&](const QString &name, const QStringList &options) {
        const QString path = dir + '/' + name;
        EXPECT_EQ(testsupport::runProgram("convert", QStringList{"-size", "300x200"} << options << path).exitCode, 0);
        return path;
    };
    const auto written = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    for (const char *space : {"GRAY", "CMYK"}) {
        QFile profile(dir + '/' + space + ".icc");
        ASSERT_TRUE(profile.open(QIODevice::WriteOnly));
        profile.write(iccProfile(space));
    }

    // A grey large document: still one, its own XMP kept, its pixels and profile RGB.
    const QString scan =
        make("scan.psb", {"xc:gray(20)", "-colorspace", "Gray", "-depth", "8", "-profile", dir + "/GRAY.icc"});
    ASSERT_EQ(testsupport::runProgram("exiftool",
                                      {"-q", "-overwrite_original", "-XMP-xmp:CreateDate=2020:01:02 03:04:05", scan})
                  .exitCode,
              0);
    Outcome run = kantelo({"-template=Gallery White", "-process", scan});
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    QByteArray data = written(scan);
    EXPECT_EQ(data.mid(4, 2), QByteArray("\0\2", 2)) << "written as a large document";
    EXPECT_TRUE(platform::ColorMatch::isRgbProfile(platform::PsdReader::readResources(data).icc));
    const QImage framed = platform::PsdReader::read(data).valueOr(QImage());
    ASSERT_FALSE(framed.isNull());
    // Grey 20 at gamma 2.2 is 12 in sRGB.
    EXPECT_NEAR(framed.pixelColor(framed.width() / 2, framed.height() / 2).green(), 12, 2);
    const testsupport::ProgramRun date = testsupport::runProgram("exiftool", {"-s3", "-XMP-xmp:CreateDate", scan});
    EXPECT_EQ(QString::fromUtf8(date.out).trimmed(), "2020:01:02 03:04:05");

    // CMYK is written as RGB, with a profile of RGB.
    const QString print =
        make("print.psd", {"xc:rgb(200,60,30)", "-colorspace", "CMYK", "-depth", "8", "-profile", dir + "/CMYK.icc"});
    run = kantelo({"-template=Gallery White", "-process", print});
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    data = written(print);
    EXPECT_EQ(data.mid(24, 2), QByteArray("\0\3", 2));
    EXPECT_TRUE(platform::ColorMatch::isRgbProfile(platform::PsdReader::readResources(data).icc));

    // Sixteen bits a channel would be cut to eight: refused, the file as it
    // was. (A colour of 8 bits would let ImageMagick write a PNG of 8.)
    for (const char *name : {"deep.psd", "deep.png", "deep.tif"}) {
        SCOPED_TRACE(name);
        const QString deep = make(name, {"xc:rgb(20.1%,30.2%,40.3%)", "-depth", "16"});
        const QByteArray before = digest(deep);
        run = kantelo({"-template=Gallery White", "-process", deep});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.errorLines(), 1) << run.errors.toStdString();
        EXPECT_TRUE(run.errors.contains("16 bits a channel")) << run.errors.toStdString();
        EXPECT_EQ(digest(deep), before);
    }
}

TEST_F(CommandLineRun, APhotoItsHeaderShowsTooLargeIsRefusedWithoutBeingRead)
{
    // A large document's header claims 300000 x 300000 pixels; two gigabytes of holes follow.
    const QString path = apptest::freshDir() + "/huge.psb";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("8BPS\0\2\0\0\0\0\0\0\0\3\0\4\x93\xe0\0\4\x93\xe0\0\x08\0\x03", 26));
    ASSERT_TRUE(file.resize(qint64(2) << 30));
    file.close();
    const Outcome run = kantelo({"-template=Gallery White", "-process", path});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.errors.contains("300000 × 300000 pixels")) << run.errors.toStdString();
    rusage children{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &children), 0);
    EXPECT_LT(children.ru_maxrss, 1024 * 1024) << "kilobytes at the run's peak";
}

TEST_F(CommandLineRun, LinksAndPermissionsAreJudgedWhereThePhotoIsAndSaidAsTheyAre)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a read-only mount, another user's link and an immutable file need root";
    const QString dir = apptest::freshDir();
    const QByteArray at = QFile::encodeName(dir);
    const QString photo = apptest::writePhoto(dir, "card.jpg", QSize(400, 300));
    // A link on a read-only disk to a photo that can be written.
    const QString links = apptest::freshDir();
    ASSERT_EQ(::symlink(QFile::encodeName(photo).constData(), QFile::encodeName(links + "/card.jpg").constData()), 0);
    const QByteArray linksAt = QFile::encodeName(links);
    const Outcome linked = kantelo({"-template=Baroque", "-process", links + "/card.jpg"}, QString(), [linksAt] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount(linksAt.constData(), linksAt.constData(), nullptr, MS_BIND, nullptr) != 0
            || ::mount(nullptr, linksAt.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            ::_exit(77);
    });
    if (linked.exitCode != 77) {
        EXPECT_EQ(linked.exitCode, 0) << linked.errors.toStdString();
        EXPECT_GT(QImageReader(photo).size().width(), 400);
    }
    // Another user's link in a shared sticky folder is not followed.
    ASSERT_EQ(::mkdir((at + "/shared").constData(), 0777), 0);
    ASSERT_EQ(::chmod((at + "/shared").constData(), 01777), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(photo).constData(), (at + "/shared/photo.jpg").constData()), 0);
    ASSERT_EQ(::lchown((at + "/shared/photo.jpg").constData(), 65534, 65534), 0);
    const QByteArray before = digest(photo);
    const Outcome planted = kantelo({"-template=Baroque", "-process", dir + "/shared/photo.jpg"});
    EXPECT_EQ(planted.exitCode, 1);
    EXPECT_TRUE(planted.errors.contains("a symbolic link that another user made")) << planted.errors.toStdString();
    EXPECT_EQ(digest(photo), before);
    // A JPEG named as HEIC is framed as the JPEG it is.
    ASSERT_TRUE(QFile::copy(photo, dir + "/card.heic"));
    const Outcome named = kantelo({"-template=Baroque", "-process", dir + "/card.heic"});
    EXPECT_EQ(named.exitCode, 0) << named.errors.toStdString();
    EXPECT_EQ(QImageReader(dir + "/card.heic").format(), QByteArray("jpeg"));
    // An immutable file says so.
    const int fd = ::open(QFile::encodeName(photo).constData(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0
        && (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0)) {
        const Outcome immutable = kantelo({"-template=Baroque", "-process", photo});
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        EXPECT_TRUE(immutable.errors.contains("is marked immutable")) << immutable.errors.toStdString();
    }
    ::close(fd);

    // As another user: their own photo with no permissions, and one in their folder they can't search.
    constexpr uid_t kOther = 65534;
    const QString profile = apptest::freshDir(), theirs = apptest::freshDir();
    const QString locked = apptest::writePhoto(theirs, "locked.jpg"), hidden = theirs + "/closed/hidden.jpg";
    ASSERT_TRUE(QDir().mkpath(theirs + "/closed") && QFile::copy(locked, hidden));
    for (const QString &path : {theirs, locked, theirs + "/closed", hidden})
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kOther, kOther), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(theirs + "/closed").constData(), 0600), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(testsupport::scratchDir()).constData(), 0711), 0);
    QList<QByteArray> homes;
    for (const char *sub : {"config", "data", "cache", "runtime", "home"})
        homes << QFile::encodeName(profile + '/' + sub);
    environmentIn(profile);
    const auto asOther = [homes] {
        for (const QByteArray &home : homes) {
            if (::chown(home.constData(), kOther, kOther) != 0)
                ::_exit(77);
        }
        if (::setgroups(0, nullptr) != 0 || ::setgid(kOther) != 0 || ::setuid(kOther) != 0)
            ::_exit(77);
    };
    const Outcome none = kantelo({"-template=Baroque", "-process", locked}, profile, asOther);
    EXPECT_TRUE(none.errors.contains("lets no one read or change it")) << none.errors.toStdString();
    const Outcome closed = kantelo({"-template=Baroque", "-process", hidden}, profile, asOther);
    EXPECT_TRUE(closed.errors.contains("you have no permission to open the folder")) << closed.errors.toStdString();
}

TEST_F(CommandLineRun, LongNamesThatAreNotUtf8AreFramedAndARunCutShortLeavesNothingForLong)
{
    const QString parent = apptest::freshDir();
    const QByteArray folder = QFile::encodeName(parent), photo = folder + '/' + QByteArray(85, '\xff') + ".jpg";
    ASSERT_EQ(::rename(QFile::encodeName(apptest::writePhoto(parent, "plain.jpg", QSize(400, 300))).constData(),
                       photo.constData()),
              0);
    const bool root = ::geteuid() == 0;
    if (root) // the hidden folder of a root run is then the photo's owner's to clear
        ASSERT_EQ(::chown(photo.constData(), 65534, 65534), 0);
    const auto entries = [&folder] {
        QList<QByteArray> names;
        DIR *dir = ::opendir(folder.constData());
        while (const dirent *entry = dir ? ::readdir(dir) : nullptr) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.append(entry->d_name);
        }
        if (dir)
            ::closedir(dir);
        return names;
    };
    const auto frame = [&photo] {
        return testsupport::runProgram({KANTELO_BINARY, "-template=Gallery White", "-process", photo},
                                       environmentIn(*home).toStringList());
    };
    const testsupport::ProgramRun framed = frame();
    EXPECT_EQ(framed.exitCode, 0) << framed.err.toStdString();
    EXPECT_EQ(entries(), QList<QByteArray>{photo.mid(folder.size() + 1)});

    // Held up while it waits for the library, the run is ended by a signal.
    QDir().mkpath(*home + "/data/Kantelo");
    QLockFile library(*home + "/data/Kantelo/KTLibrary.db.lock");
    for (const int signal : {SIGTERM, SIGKILL}) {
        ASSERT_TRUE(library.tryLock(0));
        testsupport::ProgramRun run;
        std::thread running([&] { run = frame(); });
        // Its hidden folder made, the photo's owner's, with the second name in it.
        QByteArray hidden;
        EXPECT_TRUE(testsupport::waitUntil([&] {
            for (const QByteArray &name : entries())
                hidden = name.startsWith(".kantelo-") ? name : hidden;
            struct stat st {};
            return !hidden.isEmpty() && ::stat((folder + '/' + hidden).constData(), &st) == 0
                   && (!root || st.st_uid == 65534u) && QDir(QFile::decodeName(folder + '/' + hidden)).count() == 3;
        }));
        const pid_t pid = pid_t(hidden.mid(9, hidden.indexOf('-', 9) - 9).toInt());
        ASSERT_GT(pid, 0);
        ::kill(pid, signal);
        running.join();
        library.unlock();
        EXPECT_EQ(run.exitCode, -1);
        EXPECT_EQ(entries().size(), signal == SIGTERM ? 1 : 2) << "a TERM leaves nothing";
    }
    // The next run clears what the killed one left.
    const testsupport::ProgramRun next = frame();
    EXPECT_EQ(next.exitCode, 0) << next.err.toStdString();
    EXPECT_EQ(entries().size(), 1);
}
