// retouchlet as an image manager runs it, against a running Kantelo: the
// programs in processes of their own, with folders of their own. Kantelo's
// save of the working copy is a real one, by its command-line run.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QSettings>
#include <QUuid>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

QByteArray digest(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                          : QByteArray();
}

QString freshDir()
{
    const QString dir = testsupport::scratchDir() + '/' + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    return dir;
}

QProcessEnvironment profile(const QString &folder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *sub : {"config", "data", "cache", "runtime", "home"}) {
        QDir().mkpath(folder + '/' + sub);
        QFile::setPermissions(folder + '/' + sub, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", folder + "/config");
    environment.insert("XDG_DATA_HOME", folder + "/data");
    environment.insert("XDG_CACHE_HOME", folder + "/cache");
    environment.insert("XDG_RUNTIME_DIR", folder + "/runtime");
    environment.insert("HOME", folder + "/home");
    return environment;
}

class Retouchlet : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        home = new QString(freshDir());
        saver = new QString(freshDir());
        kantelo = new QProcess;
        kantelo->setProcessEnvironment(profile(*home));
        kantelo->start(KANTELO_BINARY, QStringList());
        const QString server = *home + "/runtime/com.velmoorsoft.Kantelo3-" + QString::number(getuid());
        listening = testsupport::waitUntil([&] {
            QLocalSocket probe;
            probe.connectToServer(server);
            return probe.waitForConnected(100);
        });
    }
    static void TearDownTestSuite()
    {
        kantelo->kill();
        kantelo->waitForFinished();
        delete kantelo;
        delete home;
        delete saver;
    }
    void SetUp() override { ASSERT_TRUE(listening) << "Kantelo runs and takes files"; }

    void start(const QStringList &arguments)
    {
        process.setProcessEnvironment(profile(*home));
        process.start(RETOUCHLET_BINARY, QStringList{"--script"} + arguments);
    }
    // The next line of standard output that starts with `prefix`, less it.
    QString line(const QString &prefix)
    {
        while (
            testsupport::waitUntil([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; })) {
            if (!process.canReadLine())
                break;
            const QString text = QString::fromLocal8Bit(process.readLine()).trimmed();
            if (text.startsWith(prefix))
                return text.mid(prefix.size());
        }
        return QString();
    }
    // Kantelo frames the working copy and saves it in place; the preview follows.
    void saveInKantelo(const QString &copy)
    {
        QProcess run;
        run.setProcessEnvironment(profile(*saver));
        run.start(KANTELO_BINARY, {"-template=\"Gallery White\"", "-process", copy});
        ASSERT_TRUE(testsupport::waitUntil([&] { return run.state() == QProcess::NotRunning; }));
        ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
        const QSize framed = QImageReader(copy).size();
        for (QString preview = line("preview "); preview != QString("%1x%2").arg(framed.width()).arg(framed.height());
             preview = line("preview "))
            ASSERT_FALSE(preview.isEmpty()) << "the preview follows the save";
    }
    int finish(const char *answer)
    {
        process.write(answer);
        testsupport::waitUntil([&] { return process.state() == QProcess::NotRunning; });
        errors = QString::fromLocal8Bit(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    static QString *home;
    static QString *saver;
    static QProcess *kantelo;
    static bool listening;
    QProcess process;
    QString errors;
};

QString *Retouchlet::home = nullptr;
QString *Retouchlet::saver = nullptr;
QProcess *Retouchlet::kantelo = nullptr;
bool Retouchlet::listening = false;

} // namespace

TEST_F(Retouchlet, APhotoFramedInKanteloComesBackAsJPEGWithItsAdjustmentData)
{
    const QString dir = freshDir();
    QImage picture(300, 200, QImage::Format_ARGB32);
    picture.fill(QColor(30, 140, 200));
    ASSERT_TRUE(picture.save(dir + "/beach.png"));
    const QByteArray before = digest(dir + "/beach.png");

    start({"--adjustment-data=" + dir + "/result.json", dir + "/beach.png", dir + "/result.jpg"});
    const QString copy = line("working-copy ");
    ASSERT_FALSE(copy.isEmpty()) << process.readAllStandardError().toStdString();
    EXPECT_TRUE(copy.startsWith(*home + "/cache/com.velmoorsoft.Kantelo3.Retouchlet/"));
    EXPECT_EQ(QFileInfo(QFileInfo(copy).path()).permissions() & 0x0077, 0) << "the session folder is private";
    EXPECT_EQ(digest(copy), before);

    // The running Kantelo opened the copy.
    QSettings settings(*home + "/config/Kantelo/Kantelo.conf", QSettings::IniFormat);
    EXPECT_TRUE(testsupport::waitUntil([&] {
        settings.sync();
        return settings.value("RecentDocumentURLs").toStringList().contains(QUrl::fromLocalFile(copy).toString());
    }));

    saveInKantelo(copy);
    QImage framed(copy);
    ASSERT_GT(framed.width(), 300);
    QBuffer expected;
    expected.open(QIODevice::WriteOnly);
    QImageWriter writer(&expected, "jpeg");
    writer.setQuality(80);
    ASSERT_TRUE(writer.write(framed.convertToFormat(QImage::Format_RGB32)));

    EXPECT_EQ(finish("done\n"), 0) << errors.toStdString();
    QFile result(dir + "/result.jpg");
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(result.readAll(), expected.data()) << "converted at quality 80";
    EXPECT_EQ(digest(dir + "/beach.png"), before);
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(copy).path())) << "the working copy is gone once written";
    QFile sidecar(dir + "/result.json");
    ASSERT_TRUE(sidecar.open(QIODevice::ReadOnly));
    const QJsonObject adjustment = QJsonDocument::fromJson(sidecar.readAll()).object();
    EXPECT_EQ(adjustment.value("formatIdentifier").toString(), "com.velmoorsoft.Kantelo");
    EXPECT_EQ(adjustment.value("formatVersion").toString(), "1");
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), (QStringList{"beach.png", "result.jpg", "result.json"}));
}

TEST_F(Retouchlet, CancelLeavesThePhotoAloneAndDoneWritesKantelosJPEGOverIt)
{
    const QString dir = freshDir();
    QImage picture(240, 160, QImage::Format_RGB32);
    picture.fill(QColor(200, 120, 40));
    ASSERT_TRUE(picture.save(dir + "/walk.jpg", "JPEG", 95));
    const QByteArray before = digest(dir + "/walk.jpg");

    start({dir + "/walk.jpg"});
    const QString cancelled = line("working-copy ");
    ASSERT_FALSE(cancelled.isEmpty());
    saveInKantelo(cancelled);
    EXPECT_EQ(finish("cancel\n"), 1);
    EXPECT_EQ(digest(dir + "/walk.jpg"), before);
    EXPECT_GT(QImageReader(cancelled).size().width(), 240) << "the framed copy is kept";

    // Written over, the photo stays its owner's, with its group, mode and attributes.
    const QByteArray walk = QFile::encodeName(dir + "/walk.jpg");
    const uid_t owner = ::geteuid() == 0 ? 1234 : ::geteuid();
    ASSERT_EQ(::chown(walk.constData(), owner, owner == 1234 ? 1235 : ::getegid()), 0);
    ASSERT_EQ(::chmod(walk.constData(), 0666), 0);
    const bool attributes = ::setxattr(walk.constData(), "user.rating", "4", 1, 0) == 0;
    start({dir + "/walk.jpg"});
    const QString copy = line("working-copy ");
    ASSERT_FALSE(copy.isEmpty());
    EXPECT_NE(QFileInfo(copy).path(), QFileInfo(cancelled).path()) << "each edit has a folder of its own";
    saveInKantelo(copy);
    const QByteArray saved = digest(copy);
    EXPECT_EQ(finish("done\n"), 0) << errors.toStdString();
    EXPECT_EQ(digest(dir + "/walk.jpg"), saved) << "a JPEG comes back byte for byte";
    struct stat st;
    ASSERT_EQ(::stat(walk.constData(), &st), 0);
    EXPECT_EQ(st.st_uid, owner);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
    char rating = 0;
    EXPECT_EQ(attributes ? ::getxattr(walk.constData(), "user.rating", &rating, 1) : 1, 1);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{"walk.jpg"});
}

TEST_F(Retouchlet, AResultThatCannotBeWrittenKeepsTheCopyAndFails)
{
    const QString dir = freshDir();
    QImage picture(120, 80, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    ASSERT_TRUE(picture.save(dir + "/tree.png"));
    const QByteArray before = digest(dir + "/tree.png");

    // A JPEG can't go over a PNG: refused before anything is copied.
    start({dir + "/tree.png"});
    EXPECT_EQ(finish(""), 2);
    EXPECT_TRUE(errors.contains("name an OUTPUT ending in .jpg")) << errors.toStdString();
    // Nor does it replace a file of another kind named as OUTPUT.
    QFile notes(dir + "/notes");
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("not a photo\n");
    notes.close();
    start({dir + "/tree.png", dir + "/notes"});
    EXPECT_EQ(finish(""), 2);
    EXPECT_TRUE(errors.contains("must end in .jpg or .jpeg")) << errors.toStdString();
    EXPECT_EQ(digest(dir + "/notes"), QCryptographicHash::hash("not a photo\n", QCryptographicHash::Sha256));

    // The output's folder went away while the photo was being framed.
    QDir().mkpath(dir + "/gone");
    start({dir + "/tree.png", dir + "/gone/tree.jpg"});
    const QString copy = line("working-copy ");
    ASSERT_FALSE(copy.isEmpty());
    saveInKantelo(copy);
    const QByteArray saved = digest(copy);
    ASSERT_TRUE(QDir(dir + "/gone").removeRecursively());
    EXPECT_EQ(finish("done\n"), 3);
    EXPECT_TRUE(errors.contains("ERROR: Couldn't write")) << errors.toStdString();
    EXPECT_TRUE(errors.contains(copy));
    EXPECT_EQ(digest(copy), saved) << "the framed copy is kept";
    EXPECT_EQ(digest(dir + "/tree.png"), before);

    // A working copy Kantelo left unreadable isn't passed off as a result.
    start({dir + "/tree.png", dir + "/tree.jpg"});
    const QString broken = line("working-copy ");
    ASSERT_FALSE(broken.isEmpty());
    QFile damage(broken);
    ASSERT_TRUE(damage.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damage.write("not a picture");
    damage.close();
    EXPECT_EQ(finish("done\n"), 3);
    EXPECT_FALSE(QFileInfo::exists(dir + "/tree.jpg"));
    EXPECT_TRUE(QFileInfo::exists(broken));
}

TEST_F(Retouchlet, ANameWithLineBreaksIsOneLineOfTheScriptThatGivesItBack)
{
    const QString dir = freshDir();
    const QString name = "a\nworking-copy forged.jpg\npreview 1x1 %41.jpg";
    QImage picture(60, 40, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    ASSERT_TRUE(picture.save(dir + '/' + name, "JPEG"));
    start({dir + '/' + name});
    const QString copy = line("working-copy ");
    EXPECT_TRUE(copy.endsWith("/a%0Aworking-copy forged.jpg%0Apreview 1x1 %2541.jpg")) << copy.toStdString();
    EXPECT_TRUE(QFileInfo::exists(QUrl::fromPercentEncoding(copy.toUtf8())));
    EXPECT_EQ(finish("cancel\n"), 1);

    // The line breaks of Unicode too, at which line readers also split.
    const QString unicode = QString::fromUtf8("b\u0085c\u2028d\u2029e.jpg");
    ASSERT_TRUE(picture.save(dir + '/' + unicode, "JPEG"));
    start({dir + '/' + unicode});
    const QString encoded = line("working-copy ");
    EXPECT_TRUE(encoded.endsWith("/b%C2%85c%E2%80%A8d%E2%80%A9e.jpg")) << encoded.toStdString();
    EXPECT_EQ(finish("cancel\n"), 1);
}

TEST_F(Retouchlet, APhotoAnotherProgramReplacesDuringTheEditIsLeftAndAnyNameIsEdited)
{
    const QString dir = freshDir();
    QImage picture(80, 60, QImage::Format_RGB32);
    picture.fill(Qt::darkBlue);
    ASSERT_TRUE(picture.save(dir + "/sea.jpg", "JPEG") && picture.save(dir + "/newer.jpg", "JPEG", 50));
    const QByteArray newer = digest(dir + "/newer.jpg");
    start({dir + "/sea.jpg"});
    ASSERT_FALSE(line("working-copy ").isEmpty());
    // An import moves a new file over the photo while it is being framed.
    ASSERT_EQ(
        ::rename(QFile::encodeName(dir + "/newer.jpg").constData(), QFile::encodeName(dir + "/sea.jpg").constData()),
        0);
    EXPECT_EQ(finish("done\n"), 3);
    EXPECT_TRUE(errors.contains("another program replaced or changed it")) << errors.toStdString();
    EXPECT_EQ(digest(dir + "/sea.jpg"), newer);

    // A photo whose name is not UTF-8 is taken; the end of the script's input cancels.
    const QByteArray odd = QFile::encodeName(dir) + "/\xff.jpg";
    ASSERT_EQ(::link(QFile::encodeName(dir + "/sea.jpg").constData(), odd.constData()), 0);
    const testsupport::ProgramRun run =
        testsupport::runProgram({RETOUCHLET_BINARY, "--script", odd}, profile(*home).toStringList());
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("working-copy ")) << run.out.toStdString();
}
