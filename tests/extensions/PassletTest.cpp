// The real passlet handing files to a running Kantelo; a pasted picture saved only anew.
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

TEST(Passlet, HandsItsFilesToTheRunningKanteloAndRefusesBadInputWithAReason)
{
    const QString profile = apptest::freshDir(), dir = apptest::freshDir();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *sub : {"CONFIG_HOME", "DATA_HOME", "CACHE_HOME", "RUNTIME_DIR"}) {
        QDir().mkpath(profile + '/' + sub);
        QFile::setPermissions(profile + '/' + sub, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        environment.insert(QStringLiteral("XDG_") + sub, profile + '/' + sub);
    }
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess kantelo;
    kantelo.setProcessEnvironment(environment);
    kantelo.start(QStringLiteral(KANTELO_BINARY));
    const QString socket = profile + "/RUNTIME_DIR/com.velmoorsoft.Kantelo3-" + QString::number(getuid());
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(socket); }));

    auto passlet = [&](const QStringList &arguments) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(PASSLET_BINARY), arguments);
        EXPECT_TRUE(process.waitForFinished(testsupport::kHangGuardMs));
        return QString::number(process.exitCode()) + ' ' + QString::fromLocal8Bit(process.readAllStandardError());
    };
    auto opened = [&] { // as the running Kantelo's settings file lists it
        QSettings settings(profile + "/CONFIG_HOME/Kantelo/Kantelo.conf", QSettings::IniFormat);
        return settings.value(DocumentController::kRecentDocumentsKey).toStringList().join('\n');
    };
    const QString first = apptest::writePhoto(dir, "first.jpg"), second = apptest::writePhoto(dir, "second.png"),
                  refused = apptest::writePhoto(dir, "refused.jpg");

    EXPECT_TRUE(passlet({}).startsWith("2 passlet: no files to hand over\nUsage: passlet FILE... | --clipboard\n"));
    EXPECT_EQ(passlet({refused, dir + "/gone.jpg"}), "1 passlet: “" + dir + "/gone.jpg” can’t be handed over: there is no such file.\n");
    // The offscreen clipboard of another process is empty: nothing is written.
    EXPECT_EQ(passlet({"--clipboard"}), "1 passlet: The clipboard holds no picture and no files.\n");
    EXPECT_FALSE(QFileInfo::exists(profile + "/CACHE_HOME/Kantelo"));

    EXPECT_EQ(passlet({first, second}), "0 ");
    ASSERT_TRUE(testsupport::waitUntil([&] { return opened().contains(first) && opened().contains(second); }))
        << opened().toStdString();
    // Messages are taken in order: the refused file, stopped by its bad neighbour, never came.
    EXPECT_FALSE(opened().contains(refused));
}

TEST(Passlet, APastedPictureBecomesATiffThatReadsBackAndIsSavedOnlyUnderANewName)
{
    QImage picture(64, 48, QImage::Format_ARGB32);
    picture.fill(qRgb(30, 140, 200));
    picture.setPixel(5, 7, qRgb(250, 20, 10));
    auto *data = new QMimeData;
    data->setImageData(picture);
    QGuiApplication::clipboard()->setMimeData(data);
    Error error;
    const QStringList files = Passlet::filesFromClipboard(QGuiApplication::clipboard()->mimeData(), &error);
    ASSERT_EQ(files.size(), 1) << error.description.toStdString();
    const QString &path = files.first();
    EXPECT_TRUE(path.startsWith(Passlet::pastedPicturesFolder() + "/") && path.contains(".Kantelo3.Passlet/"));
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), "tiff");
    EXPECT_EQ(reader.read().convertToFormat(QImage::Format_ARGB32), picture);

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
    controller->openDocumentWithContentsOfURL(QUrl::fromLocalFile(path), true, [&](Document *opened, bool, const Error &) {
        doc = qobject_cast<XSDocument *>(opened);
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return doc && doc->fileURL().isEmpty(); }));
    QFile pasted(path);
    const QByteArray written = pasted.open(QIODevice::ReadOnly) ? pasted.readAll() : QByteArray();
    doc->updateChangeCount(Document::ChangeKind::Done);
    const QString chosen = apptest::freshDir() + "/framed.png";
    int panels = 0;
    setSavePanelPresenter([&](const SavePanelRequest &) { return ++panels, QUrl::fromLocalFile(chosen); });
    EXPECT_TRUE(doc->saveDocument(&error) && panels == 1 && QFileInfo::exists(chosen)) << error.description.toStdString();
    setSavePanelPresenter(nullptr);
    EXPECT_TRUE(pasted.seek(0));
    EXPECT_EQ(pasted.readAll(), written);
    controller->closeAllDocuments();
    QCoreApplication::processEvents();
}
