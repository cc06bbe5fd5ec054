#include "AppTestSupport.h"

#include "app/KTDocumentController.h"
#include "app/KTMainLayoutViewController.h"
#include "app/XSDocument.h"
#include "app/XSDocumentWindowController.h"
#include "design/KTColorMatLayer.h"
#include "design/KTTemplate.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/imaging/ImageDecoder.h"
#include "platform/imaging/PdfDocument.h"
#include "platform/ui/FilePanels.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QMainWindow>
#include <QPrinter>
#include <QTest>
#include <QUndoStack>

using namespace platform;
using namespace apptest;

namespace {

class DocumentFixture : public ::testing::Test
{
protected:
    void SetUp() override { controller = KTDocumentController::sharedDocumentController(); }
    void TearDown() override
    {
        controller->closeAllDocuments();
        QCoreApplication::processEvents();
        // Closed documents go now, with the work they still run in the background.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        setSavePanelPresenter(nullptr);
        setOpenPanelPresenter(nullptr);
    }

    XSDocument *open(const QString &path, Error *failure = nullptr)
    {
        XSDocument *opened = nullptr;
        bool done = false;
        controller->openDocumentWithContentsOfURL(QUrl::fromLocalFile(path), true,
                                                  [&](Document *doc, bool, const Error &error) {
                                                      opened = qobject_cast<XSDocument *>(doc);
                                                      if (failure)
                                                          *failure = error;
                                                      done = true;
                                                  });
        EXPECT_TRUE(testsupport::waitUntil([&] { return done; }));
        return opened;
    }

    KTDocumentController *controller = nullptr;
};

} // namespace

TEST_F(DocumentFixture, APhotoOpensAsAnUneditedDocumentInItsWindow)
{
    ASSERT_TRUE(controller);
    const QString path = writePhoto(freshDir());
    XSDocument *doc = open(path);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->fileURL(), QUrl::fromLocalFile(path));
    EXPECT_EQ(doc->displayName(), "photo.jpg");
    EXPECT_FALSE(doc->isDefaultImage());
    EXPECT_FALSE(doc->isDocumentEdited());
    ASSERT_EQ(doc->windowControllers().size(), 1);
    auto *windowController = qobject_cast<XSDocumentWindowController *>(doc->windowControllers().first());
    ASSERT_TRUE(windowController);
    QWidget *window = windowController->window();
    EXPECT_EQ(window->objectName(), "MyDocument");
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->minimumSize(), QSize(790, 740));
    ASSERT_TRUE(windowController->mainLayoutViewController());
    EXPECT_EQ(windowController->mainLayoutViewController()->docTemplate(), doc->docTemplate());
    EXPECT_TRUE(doc->hasUndoManager());
    EXPECT_TRUE(controller->recentDocumentURLs().contains(QUrl::fromLocalFile(path)));

    // Opening the same file again brings the same document forward.
    bool already = false;
    Document *again = nullptr;
    controller->openDocumentWithContentsOfURL(QUrl::fromLocalFile(path), true, [&](Document *d, bool open, const Error &) {
        again = d;
        already = open;
    });
    EXPECT_EQ(again, doc);
    EXPECT_TRUE(already);
}

TEST_F(DocumentFixture, LayerChangesWithoutUserInfoMarkTheDocumentEdited)
{
    XSDocument *doc = open(writePhoto(freshDir()));
    ASSERT_TRUE(doc);
    const void *design = doc->docTemplate().get();
    NotificationCenter &center = NotificationCenter::defaultCenter();

    center.post("layerChanged", design, QVariantMap{});
    EXPECT_FALSE(doc->isDocumentEdited()) << "an empty user info only asks for a redraw";
    center.post("modelChanged", design, QVariantMap{{"fast", true}});
    EXPECT_FALSE(doc->isDocumentEdited());
    center.post("layerChanged", nullptr);
    EXPECT_FALSE(doc->isDocumentEdited()) << "another design's change is not this document's";

    center.post("layerChanged", design);
    EXPECT_TRUE(doc->isDocumentEdited());
    EXPECT_EQ(doc->changeCount(), 1);
    center.post("modelChanged", design);
    EXPECT_EQ(doc->changeCount(), 2);
    QWidget *window = doc->windowForSheet();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isWindowModified());
}

TEST_F(DocumentFixture, AnotherPhotoInAnEditedDesignKeepsTheDocumentEdited)
{
    XSDocument *doc = open(writePhoto(freshDir()));
    ASSERT_TRUE(doc);
    ASSERT_TRUE(doc->importImage(QUrl::fromLocalFile(writePhoto(freshDir()))));
    EXPECT_FALSE(doc->isDocumentEdited()) << "an unedited document stays unedited";

    auto design = std::make_shared<KTTemplate>();
    design->addTopmostFrameLayer(std::make_shared<KTColorMatLayer>());
    doc->replaceTemplateWith(design);
    ASSERT_TRUE(doc->isDocumentEdited());
    ASSERT_TRUE(doc->importImage(QUrl::fromLocalFile(writePhoto(freshDir()))));
    EXPECT_TRUE(doc->isDocumentEdited()) << "the applied design is still unsaved";
    EXPECT_TRUE(doc->windowForSheet()->isWindowModified());
}

TEST_F(DocumentFixture, AnUndecodableFileIsRefusedWithTheDocumentError)
{
    const QString path = freshDir() + "/broken.jpg";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\xff\xd8\xff\xe0 this is not a picture");
    file.close();
    const qsizetype before = controller->documents().size();
    Error error;
    EXPECT_FALSE(open(path, &error));
    EXPECT_EQ(error.domain, "Kantelo Domain");
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.description, "Image could not be opened");
    EXPECT_EQ(controller->documents().size(), before);

    // Put into an open document (Replace Photo, a drop), it is refused with
    // the same words, and the document keeps its photo and file.
    const QString photo = writePhoto(freshDir());
    XSDocument *doc = open(photo);
    ASSERT_TRUE(doc);
    AlertAnswers alerts;
    alerts.install();
    EXPECT_FALSE(doc->importImage(QUrl::fromLocalFile(path)));
    ASSERT_EQ(alerts.errors.size(), 1);
    EXPECT_EQ(alerts.errors.first().description, "Image could not be opened");
    EXPECT_EQ(alerts.errors.first().userInfo.value("NSFilePath").toString(), path);
    EXPECT_EQ(doc->fileURL(), QUrl::fromLocalFile(photo));
}

TEST_F(DocumentFixture, APhotoIsDecodedOnceAndOneTooLargeIsRefusedWithItsSizes)
{
    const qint64 before = ImageDecoder::decodeCount();
    XSDocument *doc = open(writePhoto(freshDir(), "once.jpg", QSize(320, 240)));
    ASSERT_TRUE(doc);
    EXPECT_EQ(ImageDecoder::decodeCount(), before + 1);

    ImageDecoder::setMachineMemory(qint64(4) << 30);
    Error error;
    EXPECT_FALSE(open(QString(KANTELO_TEST_DATA_DIR) + "/huge-30000x30000.png", &error));
    ImageDecoder::setMachineMemory(0);
    EXPECT_EQ(error.description, "Image could not be opened");
    const QString reason = error.userInfo.value("NSLocalizedFailureReason").toString();
    EXPECT_TRUE(reason.contains("30000 × 30000") && reason.contains("4.0 GB")) << reason.toStdString();
}

TEST_F(DocumentFixture, TheUntitledStartupDocumentHasNoFileAndKeepsAnUndecodableOne)
{
    Error error;
    auto *startup = qobject_cast<XSDocument *>(controller->openUntitledDocumentAndDisplay(true, &error));
    ASSERT_TRUE(startup);
    EXPECT_TRUE(startup->isDefaultImage());
    EXPECT_TRUE(startup->fileURL().isEmpty());
    EXPECT_FALSE(startup->isDocumentEdited());
    EXPECT_TRUE(startup->displayName().startsWith("Untitled"));
    controller->setCurrentDocument(startup);

    // A file the start-up document cannot show never becomes its file, so a
    // later Save cannot write over it.
    const QString broken = freshDir() + "/broken.png";
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG not really");
    file.close();
    Error failure;
    EXPECT_FALSE(open(broken, &failure));
    EXPECT_EQ(failure.description, "Image could not be opened");
    EXPECT_TRUE(startup->fileURL().isEmpty());
    EXPECT_TRUE(startup->isDefaultImage());
}

TEST_F(DocumentFixture, APhotoOpenedOverTheStartupDocumentGoesIntoIt)
{
    Error error;
    auto *startup = qobject_cast<XSDocument *>(controller->openUntitledDocumentAndDisplay(true, &error));
    ASSERT_TRUE(startup);
    controller->setCurrentDocument(startup);
    const QString path = writePhoto(freshDir());
    if (!KTTemplate().importImage(QUrl::fromLocalFile(path)))
        GTEST_SKIP() << "the design cannot take photos in this build yet";
    const qsizetype before = controller->documents().size();
    XSDocument *doc = open(path);
    EXPECT_EQ(doc, startup);
    EXPECT_EQ(controller->documents().size(), before);
    EXPECT_FALSE(startup->isDefaultImage());
    EXPECT_EQ(startup->fileURL(), QUrl::fromLocalFile(path));
    EXPECT_FALSE(startup->isDocumentEdited());
}

TEST_F(DocumentFixture, AFileFromTheShareExtensionIsNeverSavedOver)
{
    const QString dir = freshDir() + "/Containers/com.velmoorsoft.Kantelo3.Passlet/tmp";
    QDir().mkpath(dir);
    const QString path = writePhoto(dir);
    XSDocument *doc = open(path);
    ASSERT_TRUE(doc);
    ASSERT_TRUE(testsupport::waitUntil([&] { return doc->fileURL().isEmpty(); }));
}

TEST_F(DocumentFixture, ModifierKeysInTheWindowAreAnnouncedOncePerChange)
{
    XSDocument *doc = open(writePhoto(freshDir()));
    ASSERT_TRUE(doc);
    QWidget *window = doc->windowForSheet();
    ASSERT_TRUE(window);
    int posted = 0;
    const auto id = NotificationCenter::defaultCenter().addObserver(
        "flagsChangedNotification", nullptr, [&](const Notification &) { ++posted; });
    QTest::keyPress(window, Qt::Key_Shift, Qt::ShiftModifier);
    QTest::keyRelease(window, Qt::Key_Shift);
    QTest::keyPress(window, Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(window, Qt::Key_Alt);
    QTest::keyPress(window, Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(window, Qt::Key_Alt);
    QTest::keyPress(window, Qt::Key_A);
    QWidget elsewhere;
    QTest::keyPress(&elsewhere, Qt::Key_Shift, Qt::ShiftModifier);
    NotificationCenter::defaultCenter().removeObserver(id);
    EXPECT_EQ(posted, 6);
}

TEST_F(DocumentFixture, QuitWithAnEditedDocumentAsksTheUser)
{
    struct Delegate : ApplicationDelegate {
        int willTerminate = 0;
        void applicationWillTerminate() override { ++willTerminate; }
    } delegate;
    Application application(&delegate);
    int quits = 0;
    application.setQuitHandler([&] { ++quits; });

    XSDocument *doc = open(writePhoto(freshDir()));
    ASSERT_TRUE(doc);
    NotificationCenter::defaultCenter().post("layerChanged", doc->docTemplate().get());
    ASSERT_TRUE(doc->isDocumentEdited());

    AlertAnswers answers;
    answers.install();
    answers.answers = {"Cancel"};
    application.terminate();
    ASSERT_EQ(answers.asked.size(), 1);
    EXPECT_EQ(answers.asked[0].messageText, "Do you want to save the changes made to the document “photo.jpg”?");
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(delegate.willTerminate, 0);
    EXPECT_TRUE(controller->documents().contains(doc));

    answers.answers = {"Don’t Save"};
    application.terminate();
    EXPECT_EQ(answers.asked.size(), 2);
    EXPECT_EQ(delegate.willTerminate, 1);
    EXPECT_EQ(quits, 1);
}

TEST_F(DocumentFixture, ClosingAnEditedWindowAsksAndCancelKeepsIt)
{
    XSDocument *doc = open(writePhoto(freshDir()));
    ASSERT_TRUE(doc);
    QPointer<XSDocument> guard(doc);
    NotificationCenter::defaultCenter().post("modelChanged", doc->docTemplate().get());
    QWidget *window = doc->windowForSheet();
    AlertAnswers answers;
    answers.install();
    answers.answers = {"Cancel"};
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(controller->documents().contains(doc));

    answers.answers = {"Don’t Save"};
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(controller->documents().contains(doc));
    ASSERT_TRUE(testsupport::waitUntil([&] { return guard.isNull(); }));
}

TEST_F(DocumentFixture, PrintingPutsTheFramedPictureOnOnePageWithoutMargins)
{
    XSDocument *doc = open(writePhoto(freshDir(), "wide.jpg", QSize(300, 100)));
    ASSERT_TRUE(doc);
    const QImage picture = doc->printImage();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), doc->docTemplate()->sizeFromOriginalWithOuterShadow(true).toSize());

    const QString pdf = freshDir() + "/printed.pdf";
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        doc->printOnPrinter(printer);
    }
    const auto printed = PdfDocument::fromFile(pdf);
    ASSERT_TRUE(printed);
    EXPECT_EQ(printed->pageCount(), 1);
    // The wide picture spans the page's width: its middle row is the photo's
    // colour from edge to edge, with no margin.
    const QSizeF points = printed->pageSize();
    const QImage page = printed->render(QSize(400, int(400 * points.height() / points.width())), 0);
    ASSERT_FALSE(page.isNull());
    const int middle = page.height() / 2;
    for (int x : {2, page.width() / 2, page.width() - 3}) {
        const QColor c = page.pixelColor(x, middle);
        EXPECT_NEAR(c.red(), 200, 20) << x;
        EXPECT_NEAR(c.green(), 120, 20) << x;
    }
}

TEST_F(DocumentFixture, ApplyingADesignCanBeUndoneBackToTheOneTheUserMade)
{
    XSDocument *doc = open(writePhoto(freshDir()));
    ASSERT_TRUE(doc);
    const std::shared_ptr<KTTemplate> applied =
        KTTemplate::templateFromData(doc->docTemplate()->dataForArchiving(), nullptr);
    ASSERT_TRUE(applied);
    applied->addTopmostFrameLayer(std::make_shared<KTColorMatLayer>());
    applied->addTopmostFrameLayer(std::make_shared<KTColorMatLayer>());
    auto mine = std::make_shared<KTColorMatLayer>();
    mine->setLeftWidth(0.2);
    doc->docTemplate()->addTopmostFrameLayer(mine);

    doc->replaceTemplateWith(applied);
    EXPECT_EQ(doc->docTemplate()->layers().size(), 3);
    doc->undoManager()->undo();
    ASSERT_EQ(doc->docTemplate()->layers().size(), 2);
    auto *back = qobject_cast<KTColorMatLayer *>(doc->docTemplate()->layers().first().get());
    ASSERT_TRUE(back);
    EXPECT_NEAR(back->leftWidth(), 0.2, 1e-6);
    doc->undoManager()->redo();
    EXPECT_EQ(doc->docTemplate()->layers().size(), 3);
    EXPECT_EQ(doc->undoManager()->count(), 1);
}
