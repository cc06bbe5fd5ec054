// The "Open with" hand-off as a user meets it: the real passlet program
// handing files to a real running Kantelo, and a pasted picture opened in
// the application, which saves it only under a new name.
#include "app/AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/KTDocumentController.h"
#include "app/XSDocument.h"
#include "extensions/share/Passlet.h"
#include "platform/UserDefaults.h"
#include "platform/ui/FilePanels.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>
#include <QProcess>
#include <QSettings>

#include <unistd.h>

using namespace platform;

namespace {

struct Outcome {
    int exitCode = -1;
    QString errors;
};

// A Kantelo of its own: settings, data, cache and runtime folders private to it.
class RunningKantelo : public ::testing::Test
{
protected:
    void SetUp() override
    {
        profile = apptest::freshDir();
        environment = QProcessEnvironment::systemEnvironment();
        for (const char *sub : {"config", "data", "cache", "runtime", "home"}) {
            QDir().mkpath(profile + '/' + sub);
            QFile::setPermissions(profile + '/' + sub,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_CONFIG_HOME", profile + "/config");
        environment.insert("XDG_DATA_HOME", profile + "/data");
        environment.insert("XDG_CACHE_HOME", profile + "/cache");
        environment.insert("XDG_RUNTIME_DIR", profile + "/runtime");
        environment.insert("HOME", profile + "/home");
        kantelo.setProcessEnvironment(environment);
        kantelo.start(QStringLiteral(KANTELO_BINARY));
        const QString socket = profile + "/runtime/com.velmoorsoft.Kantelo3-" + QString::number(getuid());
        ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(socket); }, 60000));
    }
    void TearDown() override
    {
        kantelo.kill();
        kantelo.waitForFinished();
    }

    Outcome passlet(const QStringList &arguments)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(PASSLET_BINARY), arguments);
        EXPECT_TRUE(process.waitForFinished(30000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromLocal8Bit(process.readAllStandardError())};
    }

    // The documents the running Kantelo opened, as its settings file lists them.
    QString recentDocuments() const
    {
        QSettings settings(profile + "/config/Kantelo/Kantelo.conf", QSettings::IniFormat);
        return settings.value(DocumentController::kRecentDocumentsKey).toStringList().join('\n');
    }

    QString profile;
    QProcessEnvironment environment;
    QProcess kantelo;
};

QImage pixels(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

TEST_F(RunningKantelo, PassletHandsItsFilesToTheRunningKanteloAndRefusesBadInputWithAReason)
{
    const QString dir = apptest::freshDir();
    const QString first = apptest::writePhoto(dir, "first.jpg");
    const QString second = apptest::writePhoto(dir, "second.png");
    const QString refused = apptest::writePhoto(dir, "refused.jpg");

    const Outcome nothing = passlet({});
    EXPECT_EQ(nothing.exitCode, 2);
    EXPECT_TRUE(nothing.errors.contains("no files to hand over")) << nothing.errors.toStdString();

    // One bad file stops the whole hand-over, before anything is sent.
    const Outcome missing = passlet({refused, dir + "/gone.jpg"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.errors.contains(dir + "/gone.jpg")) << missing.errors.toStdString();
    const Outcome folder = passlet({dir});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_TRUE(folder.errors.contains("it is no file")) << folder.errors.toStdString();

    // Nothing on the (offscreen, process-local) clipboard: nothing is written.
    const Outcome empty = passlet({"--clipboard"});
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_TRUE(empty.errors.contains("The clipboard holds no picture and no files.")) << empty.errors.toStdString();
    EXPECT_FALSE(QFileInfo::exists(profile + "/cache/Kantelo/com.velmoorsoft.Kantelo3.Passlet"));

    const Outcome handed = passlet({first, second});
    EXPECT_EQ(handed.exitCode, 0) << handed.errors.toStdString();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return recentDocuments().contains(first) && recentDocuments().contains(second); }, 60000))
        << recentDocuments().toStdString();
    // The running instance takes messages in order, so the refused one never came.
    EXPECT_FALSE(recentDocuments().contains(refused));
}

TEST(PastedPicture, BecomesATiffThatReadsBackAndIsSavedOnlyUnderANewName)
{
    QImage picture(64, 48, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgba(x * 4, y * 5, 255 - x * 3, 255));
    auto *data = new QMimeData;
    data->setImageData(picture);
    QGuiApplication::clipboard()->setMimeData(data);

    Error error;
    const QStringList files = Passlet::filesFromClipboard(QGuiApplication::clipboard()->mimeData(), &error);
    ASSERT_EQ(files.size(), 1) << error.description.toStdString();
    const QString path = files.first();
    EXPECT_TRUE(path.startsWith(Passlet::pastedPicturesFolder() + '/'));
    EXPECT_TRUE(path.contains("com.velmoorsoft.Kantelo3.Passlet/"));
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), QByteArray("tiff"));
    EXPECT_EQ(pixels(reader.read()), pixels(picture));

    // A file on the clipboard beside a picture goes over as the file.
    auto *both = new QMimeData;
    both->setImageData(picture);
    both->setUrls({QUrl::fromLocalFile("/elsewhere/shot.png"), QUrl("https://example.com/x.png")});
    QGuiApplication::clipboard()->setMimeData(both);
    EXPECT_EQ(Passlet::filesFromClipboard(QGuiApplication::clipboard()->mimeData(), &error),
              QStringList{"/elsewhere/shot.png"});
    EXPECT_EQ(QDir(Passlet::pastedPicturesFolder()).entryList(QDir::Files).size(), 1);

    // Opened in Kantelo, the pasted picture is untitled: Save asks where.
    UserDefaults::standard().registerDefaults(AppDelegate::factoryDefaults());
    KTDocumentController *controller = KTDocumentController::sharedDocumentController();
    XSDocument *doc = nullptr;
    controller->openDocumentWithContentsOfURL(QUrl::fromLocalFile(path), true,
                                              [&](Document *opened, bool, const Error &) {
                                                  doc = qobject_cast<XSDocument *>(opened);
                                              });
    ASSERT_TRUE(testsupport::waitUntil([&] { return doc && doc->fileURL().isEmpty(); }));
    const QByteArray written = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    doc->updateChangeCount(Document::ChangeKind::Done);
    const QString chosen = apptest::freshDir() + "/framed.png";
    int panels = 0;
    setSavePanelPresenter([&](const SavePanelRequest &request) {
        ++panels;
        EXPECT_NE(request.directory, Passlet::pastedPicturesFolder());
        return QUrl::fromLocalFile(chosen);
    });
    EXPECT_TRUE(doc->saveDocument(&error)) << error.description.toStdString();
    setSavePanelPresenter(nullptr);
    EXPECT_EQ(panels, 1);
    EXPECT_TRUE(QFileInfo::exists(chosen));
    QFile kept(path);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), written);
    controller->closeAllDocuments();
    QCoreApplication::processEvents();
}
