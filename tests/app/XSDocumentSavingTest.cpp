#include "AppTestSupport.h"

#include "app/AppDelegate.h"
#include "app/KTDocumentController.h"
#include "app/KTMainMenu.h"
#include "app/KTSavePanelAccessoryViewController.h"
#include "app/XSDocument.h"
#include "design/KTColorMatLayer.h"
#include "design/KTTemplate.h"
#include "platform/TemporaryFolders.h"
#include "platform/UserDefaults.h"
#include "platform/codec/ExportFormat.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/SavePanel.h"

#include <QAction>
#include <QMainWindow>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>

using namespace platform;
using namespace apptest;

namespace {

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(testsupport::kHangGuardMs);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// "WxH" of the file as ImageMagick reads it.
QString pixelSize(const QString &path)
{
    return run(QStringLiteral("identify"), {QStringLiteral("-format"), QStringLiteral("%wx%h"), path + "[0]"});
}

QString exifTag(const QString &path, const QString &tag)
{
    return run(QStringLiteral("exiftool"), {QStringLiteral("-s3"), QStringLiteral("-") + tag, path});
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

constexpr const char *kShotAt = "2021:05:06 07:08:09";

// A camera photo of 600 x 400 at 300 dpi with its shooting date.
QString writeCameraPhoto(const QString &dir, const QString &name = QStringLiteral("photo.jpg"))
{
    const QString path = writePhoto(dir, name, QSize(600, 400));
    run(QStringLiteral("exiftool"),
        {QStringLiteral("-q"), QStringLiteral("-overwrite_original"), QStringLiteral("-DateTimeOriginal=") + kShotAt,
         QStringLiteral("-XResolution=300"), QStringLiteral("-YResolution=300"), QStringLiteral("-ResolutionUnit=inches"),
         path});
    return path;
}

class SavingFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        controller = KTDocumentController::sharedDocumentController();
        KTMainMenu::installForDocumentWindows();
        UserDefaults::standard().registerDefaults(AppDelegate::factoryDefaults());
    }
    void TearDown() override
    {
        controller->closeAllDocuments();
        QCoreApplication::processEvents();
        // Closed documents go now, with the work they still run in the background.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        setSavePanelPresenter(nullptr);
        for (const char *key : {AppDelegate::kOutputImageFormatKey, AppDelegate::kExportFilenameModificationKey,
                                XSDocument::kLastSaveURLKey})
            UserDefaults::standard().removeObject(QString::fromLatin1(key));
    }

    // A mat round the photo, so the framed size differs from the photo's.
    static QSize addMat(XSDocument *doc)
    {
        auto mat = std::make_shared<KTColorMatLayer>();
        mat->setLeftWidth(0.1);
        mat->setRightWidth(0.1);
        mat->setTopWidth(0.05);
        mat->setBottomWidth(0.05);
        doc->docTemplate()->addTopmostFrameLayer(mat);
        const QSizeF photo = doc->docTemplate()->sizeOfPreFramedImage();
        const QRectF framed = doc->docTemplate()->finalRectFromStartRect(QRectF(QPointF(0, 0), photo), true);
        return QSize(qRound(framed.width()), qRound(framed.height()));
    }

    // The save panel answered with `name` in `dir`, the user having picked
    // the format in the accessory; records what the panel offered.
    void answerSavePanel(const QString &dir, const QString &name, int format = -1)
    {
        setSavePanelPresenter([this, dir, name, format](const SavePanelRequest &request) {
            ++panelsShown;
            offeredName = request.nameFieldValue;
            offeredDirectory = request.directory;
            hadAccessory = request.accessoryView != nullptr;
            if (format >= 0 && request.accessoryView && lastDocument)
                lastDocument->savePanelAccessoryViewController()->setFileFormatIndex(format);
            offeredExtensions = request.panel ? request.panel->allowedFileTypes() : QStringList();
            return name.isEmpty() ? QUrl() : QUrl::fromLocalFile(dir + '/' + name);
        });
    }

    XSDocument *open(const QString &path)
    {
        XSDocument *opened = nullptr;
        bool done = false;
        controller->openDocumentWithContentsOfURL(QUrl::fromLocalFile(path), true,
                                                  [&](Document *doc, bool, const Error &) {
                                                      opened = qobject_cast<XSDocument *>(doc);
                                                      done = true;
                                                  });
        EXPECT_TRUE(testsupport::waitUntil([&] { return done; }));
        lastDocument = opened;
        return opened;
    }

    KTDocumentController *controller = nullptr;
    QPointer<XSDocument> lastDocument;
    int panelsShown = 0;
    QString offeredName;
    QString offeredDirectory;
    QStringList offeredExtensions;
    bool hadAccessory = false;
};

} // namespace

TEST_F(SavingFixture, RenderAndWriteProducesTheFileAtTheSizeAndRefusesWhatItCannotWrite)
{
    const QString dir = freshDir();
    XSDocument *doc = open(writePhoto(dir, QStringLiteral("photo.jpg"), QSize(600, 400)));
    ASSERT_TRUE(doc);

    Error error;
    const QString out = dir + "/out.png";
    ASSERT_TRUE(doc->renderAndWrite(QUrl::fromLocalFile(out), "public.png", QSize(300, 200), 0.5, &error))
        << error.description.toStdString();
    EXPECT_EQ(pixelSize(out), "300x200");

    // An empty size and a folder that is not there write nothing and say why.
    EXPECT_FALSE(doc->renderAndWrite(QUrl::fromLocalFile(dir + "/empty.png"), "public.png", QSize(0, 10), 0.5, &error));
    EXPECT_FALSE(error.description.isEmpty());
    error = Error{};
    EXPECT_FALSE(doc->renderAndWrite(QUrl::fromLocalFile(dir + "/missing/out.jpg"), "public.jpeg", QSize(30, 20), 0.5,
                                     &error));
    EXPECT_FALSE(error.description.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir + "/missing/out.jpg"));
}

TEST_F(SavingFixture, SaveAsWritesEachFormatWithTheFramedSizeResolutionAndThePhotosMetadata)
{
    const QString dir = freshDir();
    const QString photo = writeCameraPhoto(dir);
    XSDocument *doc = open(photo);
    ASSERT_TRUE(doc);
    const QSize framed = addMat(doc);
    ASSERT_GT(framed.width(), 600);
    const QByteArray original = readAll(photo);

    const struct {
        int format;
        const char *name;
        const char *type;
    } formats[] = {{0, "out.jpg", "public.jpeg"}, {1, "out.png", "public.png"}, {2, "out.tiff", "public.tiff"},
                   {3, "out.psd", "com.adobe.photoshop-image"}};
    for (const auto &f : formats) {
        SCOPED_TRACE(f.name);
        doc->updateChangeCount(Document::ChangeKind::Done);
        answerSavePanel(dir, QString::fromLatin1(f.name), f.format);
        Error error;
        ASSERT_TRUE(doc->saveDocumentAs(&error)) << error.description.toStdString();
        EXPECT_TRUE(hadAccessory);
        EXPECT_EQ(offeredExtensions, doc->savePanelAccessoryViewController()->formatExtensions());
        const QString out = dir + '/' + f.name;
        EXPECT_EQ(pixelSize(out), QStringLiteral("%1x%2").arg(framed.width()).arg(framed.height()));
        EXPECT_NEAR(run("identify", {"-units", "PixelsPerInch", "-format", "%x", out + "[0]"}).toDouble(), 300, 0.1)
            << "resolution";
        // One exiftool run for both tags: software first, then the date.
        const QStringList tags = run("exiftool", {"-s3", "-Software", "-DateTimeOriginal", out}).split('\n');
        ASSERT_EQ(tags.size(), 2) << tags.join('|').toStdString();
        EXPECT_TRUE(QRegularExpression("^Kantelo .* for Linux$").match(tags[0]).hasMatch()) << tags[0].toStdString();
        EXPECT_EQ(tags[1], kShotAt);
        // The document now is that file, unedited.
        EXPECT_EQ(doc->fileURL(), QUrl::fromLocalFile(out));
        EXPECT_EQ(doc->fileType(), f.type);
        EXPECT_FALSE(doc->isDocumentEdited());
    }
    EXPECT_EQ(readAll(photo), original) << "Save As never touches the photo";
    EXPECT_EQ(UserDefaults::standard().objectForKey(XSDocument::kLastSaveURLKey).toUrl().toLocalFile(), dir + '/');

    // Cancelling the panel writes nothing and reports nothing.
    answerSavePanel(dir, QString());
    Error error;
    EXPECT_FALSE(doc->saveDocumentAs(&error));
    EXPECT_TRUE(error.isNull());
}

TEST_F(SavingFixture, ATypedExtensionOfAnotherFormatSwitchesToItAnyOtherIsReplaced)
{
    const QString dir = freshDir();
    XSDocument *doc = open(writePhoto(dir, QStringLiteral("photo.jpg"), QSize(60, 40)));
    ASSERT_TRUE(doc);
    auto saveAs = [&](const QString &typed) {
        answerSavePanel(dir, typed, 0);
        Error error;
        EXPECT_TRUE(doc->saveDocumentAs(&error)) << error.description.toStdString();
        return QFileInfo(doc->fileURL().toLocalFile()).fileName();
    };
    EXPECT_EQ(saveAs("typed.TIF"), "typed.TIF");
    EXPECT_EQ(doc->fileType(), "public.tiff");
    EXPECT_EQ(run("identify", {"-format", "%m", dir + "/typed.TIF"}), "TIFF");
    EXPECT_EQ(doc->savePanelAccessoryViewController()->fileFormatIndex(), 2) << "the accessory shows it";

    EXPECT_EQ(saveAs("typed.gif"), "typed.jpg");
    EXPECT_EQ(run("identify", {"-format", "%m", dir + "/typed.jpg"}), "JPEG");
    EXPECT_EQ(saveAs("v1.2 final"), "v1.2 final.jpg") << "not an extension: kept";
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 4);
}

TEST_F(SavingFixture, PlainSaveOverwritesTheOpenedJpegAtTheFramedSize)
{
    const QString dir = freshDir();
    const QString photo = writeCameraPhoto(dir);
    XSDocument *doc = open(photo);
    ASSERT_TRUE(doc);
    const QSize framed = addMat(doc);
    EXPECT_TRUE(doc->isDocumentEdited());
    answerSavePanel(dir, "unexpected.jpg");
    AlertAnswers alerts;
    alerts.answers = {"Replace"};
    alerts.install();

    // Through the window's Save command, as a user would.
    auto *window = qobject_cast<QMainWindow *>(doc->windowForSheet());
    ASSERT_TRUE(window);
    auto *save = window->findChild<QAction *>("saveDocumentAction");
    ASSERT_TRUE(save);
    EXPECT_EQ(save->shortcut(), QKeySequence(QKeySequence::Save));
    save->trigger();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !doc->isDocumentEdited(); }));
    EXPECT_EQ(panelsShown, 0) << "a file of a writable type is saved in place";
    ASSERT_EQ(alerts.asked.size(), 1) << "replacing the original photo was asked first";
    EXPECT_EQ(alerts.asked.first().messageText, XSDocument::kReplaceOriginalQuestion);
    EXPECT_EQ(pixelSize(photo), QStringLiteral("%1x%2").arg(framed.width()).arg(framed.height()));
    EXPECT_EQ(run("identify", {"-format", "%m", photo}), "JPEG");
    EXPECT_EQ(run("identify", {"-format", "%Q", photo}), "90") << "the preferred quality, with no panel shown";
    EXPECT_EQ(exifTag(photo, "DateTimeOriginal"), kShotAt);
    EXPECT_EQ(doc->fileURL(), QUrl::fromLocalFile(photo));
    EXPECT_FALSE(QFileInfo::exists(dir + "/unexpected.jpg"));

    // After a Save As at the original size, a frame added later still
    // counts at the next Save: the size is the design's as it is now.
    answerSavePanel(dir, "again.png", 1);
    Error error;
    ASSERT_TRUE(doc->saveDocumentAs(&error));
    const QSize wider = addMat(doc);
    ASSERT_NE(wider, framed);
    ASSERT_TRUE(doc->saveDocument(&error)) << error.description.toStdString();
    EXPECT_EQ(panelsShown, 1);
    EXPECT_EQ(pixelSize(dir + "/again.png"), QStringLiteral("%1x%2").arg(wider.width()).arg(wider.height()));
}

TEST_F(SavingFixture, TheFirstSaveOverTheOpenedPhotoAsksAndSaveAsOrCancelKeepIt)
{
    const QString dir = freshDir();
    const QString photo = writeCameraPhoto(dir);
    XSDocument *doc = open(photo);
    ASSERT_TRUE(doc);
    addMat(doc);
    const QByteArray original = readAll(photo);
    AlertAnswers alerts;
    alerts.answers = {"Cancel", "Save As…"};
    alerts.install();
    Error error;

    EXPECT_FALSE(doc->saveDocument(&error));
    EXPECT_TRUE(error.isNull()) << "a cancel is no failure to report";
    EXPECT_EQ(readAll(photo), original);
    EXPECT_TRUE(doc->isDocumentEdited());

    answerSavePanel(dir, "framed.png", 1);
    ASSERT_TRUE(doc->saveDocument(&error)) << error.description.toStdString();
    EXPECT_EQ(panelsShown, 1);
    EXPECT_EQ(readAll(photo), original) << "Save As leaves the original alone";
    EXPECT_TRUE(QFileInfo::exists(dir + "/framed.png"));

    // The document is now the framed copy: saving it again asks nothing.
    addMat(doc);
    ASSERT_TRUE(doc->saveDocument(&error));
    EXPECT_EQ(alerts.asked.size(), 2);
    EXPECT_EQ(panelsShown, 1);
}

TEST_F(SavingFixture, AFileAnotherProgramChangedIsNotSavedOverWithoutAsking)
{
    const QString dir = freshDir();
    const QString photo = writeCameraPhoto(dir);
    XSDocument *doc = open(photo);
    ASSERT_TRUE(doc);
    addMat(doc);
    // Written by another program while the window is open.
    const QByteArray theirs = readAll(writeCameraPhoto(freshDir())) + QByteArray(100, '\0');
    {
        QFile file(photo);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(theirs);
    }
    AlertAnswers alerts;
    alerts.answers = {"Cancel", "Replace"};
    alerts.install();
    Error error;
    EXPECT_FALSE(doc->saveDocument(&error));
    ASSERT_EQ(alerts.asked.size(), 1);
    EXPECT_EQ(alerts.asked.first().messageText, QString::fromUtf8(XSDocument::kChangedOnDiskQuestion).arg("photo.jpg"));
    EXPECT_EQ(readAll(photo), theirs);
    EXPECT_TRUE(doc->isDocumentEdited());

    ASSERT_TRUE(doc->saveDocument(&error)) << error.description.toStdString();
    EXPECT_EQ(alerts.asked.size(), 2) << "one question, not a second one about the original";
    EXPECT_NE(readAll(photo), theirs);
    // What it wrote itself it saves over again without a word.
    addMat(doc);
    ASSERT_TRUE(doc->saveDocument(&error));
    EXPECT_EQ(alerts.asked.size(), 2);
}

TEST_F(SavingFixture, AFailedSaveKeepsTheOriginalAndTheEditsAndTellsTheUser)
{
    const QString dir = freshDir();
    const QString photo = writeCameraPhoto(dir);
    XSDocument *doc = open(photo);
    ASSERT_TRUE(doc);
    addMat(doc);
    const QByteArray original = readAll(photo);
    AlertAnswers alerts;
    alerts.answers = {"Replace", "Replace"};
    alerts.install();

    if (::geteuid() != 0) {
        // A folder that cannot be written.
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        doc->saveDocumentFromMenu();
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        ASSERT_EQ(alerts.errors.size(), 1);
        EXPECT_FALSE(alerts.errors.first().description.isEmpty());
        EXPECT_EQ(readAll(photo), original);
        EXPECT_TRUE(doc->isDocumentEdited());
        alerts.errors.clear();
    }

    // A disk that fills up mid-write (the file size limit stops even root).
    struct rlimit saved;
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 256;
    ::setrlimit(RLIMIT_FSIZE, &small);
    doc->saveDocumentFromMenu();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(alerts.errors.size(), 1) << "the failure is reported, never taken for success";
    EXPECT_FALSE(alerts.errors.first().description.isEmpty());
    EXPECT_EQ(readAll(photo), original) << "the original is untouched";
    EXPECT_TRUE(doc->isDocumentEdited()) << "the edits are still unsaved";
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"photo.jpg"}) << "no leftovers";
}

TEST_F(SavingFixture, APhotoTooSmallForItsFramesIsNotSavedOverAndTheUserIsTold)
{
    const QString dir = freshDir();
    const QString photo = writePhoto(dir, QStringLiteral("dot.jpg"), QSize(1, 1));
    XSDocument *doc = open(photo);
    ASSERT_TRUE(doc);
    addMat(doc);
    const QByteArray original = readAll(photo);
    AlertAnswers alerts;
    alerts.answers = {"Replace", "Replace"};
    alerts.install();
    doc->saveDocumentFromMenu();
    ASSERT_EQ(alerts.errors.size(), 1);
    EXPECT_TRUE(alerts.errors.first().description.contains("is 1 × 1 pixels, too small"))
        << alerts.errors.first().description.toStdString();
    EXPECT_EQ(readAll(photo), original);
}

TEST_F(SavingFixture, PhotoTypesThatCannotBeWrittenBackAskWhereToSave)
{
    const QString dir = freshDir();
    const QString source = writePhoto(dir, "source.png", QSize(60, 40));
    for (const char *name : {"photo.gif", "photo.webp", "photo.heic"}) {
        SCOPED_TRACE(name);
        const QString path = dir + '/' + name;
        run("convert", {source, path});
        if (!QFileInfo::exists(path)) {
            ADD_FAILURE() << "could not make " << name;
            continue;
        }
        const QByteArray original = readAll(path);
        XSDocument *doc = open(path);
        ASSERT_TRUE(doc);
        doc->updateChangeCount(Document::ChangeKind::Done);
        panelsShown = 0;
        answerSavePanel(dir, QStringLiteral("framed-%1.png").arg(QFileInfo(path).suffix()));
        Error error;
        EXPECT_TRUE(doc->saveDocument(&error)) << error.description.toStdString();
        EXPECT_EQ(panelsShown, 1);
        EXPECT_EQ(readAll(path), original);
        EXPECT_EQ(pixelSize(dir + QStringLiteral("/framed-%1.png").arg(QFileInfo(path).suffix())), "60x40");
        doc->close();
        QCoreApplication::processEvents();
    }
}

TEST_F(SavingFixture, TheProposedNameFollowsTheNameRuleAndTheFormat)
{
    const QString dir = freshDir();
    UserDefaults &defaults = UserDefaults::standard();
    auto proposed = [&](const QString &name) {
        XSDocument *doc = open(writePhoto(dir, name, QSize(60, 40)));
        SavePanel panel;
        doc->prepareSavePanel(&panel);
        const QString offered = panel.nameFieldStringValue();
        EXPECT_EQ(panel.directory(), dir) << "a document with a file keeps its folder";
        doc->close();
        QCoreApplication::processEvents();
        return offered;
    };
    // Factory defaults: PNG, names kept.
    EXPECT_EQ(proposed("photo.jpeg"), "photo.png");
    EXPECT_EQ(XSDocument::createExportFileNameAndAddExtension("/a/b/photo.jpeg", false), "photo");

    defaults.setInteger(AppDelegate::kOutputImageFormatKey, 0);
    EXPECT_EQ(proposed("IMG_1.jpeg"), "IMG_1.jpeg");
    EXPECT_EQ(proposed("IMG_1.JPG"), "IMG_1.jpg") << "the extension test is case-sensitive";

    defaults.setInteger(AppDelegate::kExportFilenameModificationKey, 2);
    EXPECT_EQ(proposed("beach.jpg"), "beach_framed.jpg");
    defaults.setInteger(AppDelegate::kExportFilenameModificationKey, 1);
    defaults.setInteger(AppDelegate::kOutputImageFormatKey, 3);
    EXPECT_EQ(XSDocument::createExportFileNameAndAddExtension("beach.jpg", true), "framed_beach.psd");
    defaults.setInteger(AppDelegate::kOutputImageFormatKey, 9);
    EXPECT_EQ(XSDocument::createExportFileNameAndAddExtension("beach.jpg", true), "framed_beach");
    EXPECT_EQ(platform::ExportFormat::forSavedIndex(9).type, "public.jpeg");
    EXPECT_EQ(platform::ExportFormat::forSavedIndex(9).name, "JPEG");
}

TEST_F(SavingFixture, TheSavePanelIsPreparedFromTheDefaultsAndThePhoto)
{
    const QString dir = freshDir();
    UserDefaults::standard().setInteger(AppDelegate::kOutputImageFormatKey, 0);
    UserDefaults::standard().setInteger(AppDelegate::kOutputImageQualityKey, 70);
    XSDocument *doc = open(writeCameraPhoto(dir));
    ASSERT_TRUE(doc);
    SavePanel panel;
    ASSERT_TRUE(doc->prepareSavePanel(&panel));
    KTSavePanelAccessoryViewController *accessory = doc->savePanelAccessoryViewController();
    EXPECT_EQ(doc->savePanel(), &panel);
    EXPECT_EQ(panel.accessoryView(), accessory->view());
    EXPECT_EQ(panel.allowedFileTypes(), (QStringList{"jpg", "jpeg"}));
    EXPECT_FALSE(panel.isExtensionHidden());
    EXPECT_FALSE(panel.canSelectHiddenExtension());
    EXPECT_EQ(accessory->fileFormatIndex(), 0);
    EXPECT_DOUBLE_EQ(accessory->quality(), 0.7);
    EXPECT_EQ(accessory->dpi(), 300);
    EXPECT_EQ(accessory->exportImageSize(), QSize(600, 400));
    UserDefaults::standard().removeObject(AppDelegate::kOutputImageQualityKey);

    // The untitled start-up document: the last save's folder, when it exists.
    const QString last = freshDir();
    UserDefaults::standard().setObject(XSDocument::kLastSaveURLKey, QUrl::fromLocalFile(last + '/'));
    doc->setFileURL(QUrl());
    SavePanel untitled;
    doc->prepareSavePanel(&untitled);
    EXPECT_EQ(QDir(untitled.directory()), QDir(last));
    UserDefaults::standard().setObject(XSDocument::kLastSaveURLKey, QUrl::fromLocalFile(last + "/gone/"));
    SavePanel fallback;
    doc->prepareSavePanel(&fallback);
    EXPECT_NE(QDir(fallback.directory()), QDir(last + "/gone"));
}

TEST_F(SavingFixture, DragOutWritesTheChosenFormatAndAnEmptySizeMeansThePhotosSize)
{
    const QString dir = freshDir();
    XSDocument *doc = open(writeCameraPhoto(dir));
    ASSERT_TRUE(doc);
    addMat(doc);
    const QString out = dir + "/dragged.psd";
    EXPECT_TRUE(doc->saveToURL(QUrl::fromLocalFile(out), QSizeF(), 3));
    EXPECT_EQ(pixelSize(out), "600x400");
    EXPECT_EQ(run("identify", {"-format", "%m", out + "[0]"}), "PSD");
    EXPECT_TRUE(doc->isDocumentEdited()) << "a drag-out is no save of the document";
    EXPECT_TRUE(doc->saveToURL(QUrl::fromLocalFile(dir + "/small.tiff"), QSizeF(90.7, 60.2), 2));
    EXPECT_EQ(pixelSize(dir + "/small.tiff"), "90x60");
}

TEST_F(SavingFixture, ADragOutFileIsWrittenInAFolderOfItsOwnNamedAfterThePhoto)
{
    const QString dir = freshDir();
    XSDocument *doc = open(writeCameraPhoto(dir));
    ASSERT_TRUE(doc);
    addMat(doc);
    UserDefaults::standard().setInteger(QString::fromLatin1(AppDelegate::kOutputImageFormatKey), 1);
    const QUrl url = doc->writeFramedPictureFile(QSizeF(300, 200));
    ASSERT_TRUE(url.isLocalFile());
    EXPECT_TRUE(url.fileName().endsWith(QStringLiteral(".png"))) << url.fileName().toStdString();
    EXPECT_FALSE(QImage(url.toLocalFile()).isNull());
    EXPECT_TRUE(QFileInfo(url.toLocalFile()).absolutePath().startsWith(TemporaryFolders::rootPath()));
    QDir(QFileInfo(url.toLocalFile()).absolutePath()).removeRecursively();
}
