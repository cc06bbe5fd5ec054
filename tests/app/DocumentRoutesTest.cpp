#include "AppTestSupport.h"

#include "app/KTDocumentController.h"
#include "app/XSDocument.h"
#include "design/KTColorMatLayer.h"
#include "design/KTImageLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTemplatePackage.h"
#include "design/TemplatesStore.h"
#include "design/VLImage.h"
#include "design/Variation.h"
#include "kit/VLProcessArguments.h"
#include "platform/FileWrapper.h"
#include "platform/ui/FilePanels.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSignalSpy>

using namespace platform;
using namespace apptest;

namespace {

struct Opened {
    bool done = false;
    XSDocument *doc = nullptr;
    Error error;
};

class OpeningRoutes : public ::testing::Test
{
protected:
    void SetUp() override
    {
        controller = KTDocumentController::sharedDocumentController();
        controller->closeAllDocuments();
        QCoreApplication::processEvents();
        // Closed documents go now, with the work they still run in the background.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        alerts.install();
    }
    void TearDown() override
    {
        controller->closeAllDocuments();
        QCoreApplication::processEvents();
        // Closed documents go now, with the work they still run in the background.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    Opened open(const QString &path)
    {
        Opened result;
        controller->openDocumentWithContentsOfURL(QUrl::fromLocalFile(path), true,
                                                  [&](Document *doc, bool, const Error &error) {
                                                      result.doc = qobject_cast<XSDocument *>(doc);
                                                      result.error = error;
                                                      result.done = true;
                                                  });
        EXPECT_TRUE(testsupport::waitUntil([&] { return result.done; }));
        return result;
    }

    XSDocument *startupDocument()
    {
        Error error;
        auto *doc = qobject_cast<XSDocument *>(controller->openUntitledDocumentAndDisplay(true, &error));
        EXPECT_TRUE(doc);
        EXPECT_TRUE(doc && doc->isDefaultImage());
        controller->setCurrentDocument(doc);
        return doc;
    }

    // A package of a design with a colour mat around a photo of 160 x 90,
    // with or without that photo inside.
    QString package(const QString &dir, bool withImage)
    {
        const QString photo = writePhoto(dir, QStringLiteral("inside.jpg"), QSize(160, 90));
        KTTemplate design;
        EXPECT_TRUE(design.importImage(QUrl::fromLocalFile(photo)));
        design.addTopmostFrameLayer(std::make_shared<KTColorMatLayer>());
        design.setName(QStringLiteral("Matted"));
        const QString path = dir + QStringLiteral("/Matted.KTTemplate");
        EXPECT_TRUE(design.saveToURL(QUrl::fromLocalFile(path), {}, QStringLiteral("GUID-MATTED"), withImage));
        QFile::remove(photo);
        return path;
    }

    // The shared templates store, with one saved design "Matted": a colour mat.
    static bool saveMattedDesign(TemplatesStore &designs)
    {
        TemplatesStore::setShared(&designs);
        KTTemplate saved;
        saved.importImage(QUrl::fromLocalFile(writePhoto(freshDir())));
        saved.addTopmostFrameLayer(std::make_shared<KTColorMatLayer>());
        saved.setName(QStringLiteral("Matted"));
        return KTTemplatePackage::variationFromTemplate(&saved, designs.templatesManagedObjectContext()) != nullptr;
    }

    static qsizetype matCount(XSDocument *doc)
    {
        qsizetype count = 0;
        for (const auto &layer : doc->docTemplate()->layers())
            count += qobject_cast<KTColorMatLayer *>(layer.get()) != nullptr;
        return count;
    }

    KTDocumentController *controller = nullptr;
    AlertAnswers alerts;
};

} // namespace

TEST_F(OpeningRoutes, APhotoGoesIntoTheStartupWindowOnlyWhenItReallyImports)
{
    XSDocument *startup = startupDocument();
    ASSERT_TRUE(startup);
    const QString dir = freshDir();

    // A file that does not decode leaves the start-up document as it was,
    // and the caller hears why.
    const QString damaged = dir + QStringLiteral("/damaged.jpg");
    {
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(2000, '\x5a'));
    }
    Opened failed = open(damaged);
    EXPECT_EQ(failed.doc, nullptr);
    EXPECT_EQ(failed.error.description, "Image could not be opened");
    EXPECT_TRUE(startup->isDefaultImage());
    EXPECT_TRUE(startup->fileURL().isEmpty());
    EXPECT_EQ(controller->documents().size(), 1);

    // The first photo takes the start-up window instead of a second one.
    const QString first = writePhoto(dir, QStringLiteral("first.jpg"));
    Opened one = open(first);
    EXPECT_EQ(one.doc, startup);
    EXPECT_TRUE(one.error.isNull());
    EXPECT_FALSE(startup->isDefaultImage());
    EXPECT_EQ(startup->fileURL(), QUrl::fromLocalFile(first));
    EXPECT_FALSE(startup->isDocumentEdited());
    EXPECT_EQ(controller->documents().size(), 1);

    // The next one opens a window of its own.
    const QString second = writePhoto(dir, QStringLiteral("second.jpg"));
    Opened two = open(second);
    ASSERT_TRUE(two.doc);
    EXPECT_NE(two.doc, startup);
    EXPECT_EQ(two.doc->fileURL(), QUrl::fromLocalFile(second));
    EXPECT_EQ(controller->documents().size(), 2);
    EXPECT_EQ(startup->fileURL(), QUrl::fromLocalFile(first));
}

TEST_F(OpeningRoutes, APackageWithAPhotoLeavesAnUntitledUneditedDocumentAndNoTemporaryCopy)
{
    const QString dir = freshDir();
    const QString path = package(dir, true);
    XSDocument *startup = startupDocument();
    ASSERT_TRUE(startup);

    Opened opened = open(path);
    ASSERT_EQ(opened.doc, startup) << "an unedited document takes the package";
    EXPECT_TRUE(opened.error.isNull());
    EXPECT_EQ(controller->documents().size(), 1);
    EXPECT_FALSE(startup->isDefaultImage());
    EXPECT_TRUE(startup->fileURL().isEmpty()) << "the framed result must not go over a temporary copy";
    EXPECT_FALSE(startup->isDocumentEdited());
    EXPECT_EQ(matCount(startup), 1);
    EXPECT_EQ(startup->docTemplate()->name(), "Matted");
    EXPECT_EQ(startup->docTemplate()->originalImageSize(), QSizeF(160, 90));
    EXPECT_TRUE(controller->recentDocumentURLs().contains(QUrl::fromLocalFile(path)));

    // The photo was read from a folder made for it, which is gone again.
    const QString copy = startup->docTemplate()->imageLayer()->image()->originalImageFilePath();
    EXPECT_EQ(QFileInfo(copy).fileName(), "inside.jpg");
    EXPECT_FALSE(QFileInfo(copy).path().startsWith(dir));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(copy).path()));
}

TEST_F(OpeningRoutes, APackageOpenedOverUnsavedChangesGetsANewWindow)
{
    const QString dir = freshDir();
    const QString photo = writePhoto(dir, QStringLiteral("mine.jpg"));
    Opened mine = open(photo);
    ASSERT_TRUE(mine.doc);
    controller->setCurrentDocument(mine.doc);
    mine.doc->updateChangeCount(Document::ChangeKind::Done);

    // Without a photo in the package the new window keeps its start-up picture.
    Opened opened = open(package(dir, false));
    ASSERT_TRUE(opened.doc);
    EXPECT_NE(opened.doc, mine.doc);
    EXPECT_EQ(controller->documents().size(), 2);
    EXPECT_EQ(matCount(opened.doc), 1);
    EXPECT_TRUE(opened.doc->isDefaultImage());
    EXPECT_FALSE(opened.doc->isDocumentEdited());
    // The edited document is untouched.
    EXPECT_EQ(matCount(mine.doc), 0);
    EXPECT_TRUE(mine.doc->isDocumentEdited());
    EXPECT_EQ(mine.doc->fileURL(), QUrl::fromLocalFile(photo));
}

TEST_F(OpeningRoutes, ADamagedPackageReplacesNothing)
{
    const QString dir = freshDir();
    const QString photo = writePhoto(dir, QStringLiteral("mine.jpg"));
    Opened mine = open(photo);
    ASSERT_TRUE(mine.doc);
    controller->setCurrentDocument(mine.doc);
    const auto layersBefore = mine.doc->docTemplate()->layers();

    // A package whose design archive is garbage and that holds no photo.
    const QString path = dir + QStringLiteral("/Broken.KTTemplate");
    FileWrapper broken = FileWrapper::directory();
    broken.addRegularFile(QStringLiteral("Template"), QByteArray("bplist00 not really"));
    ASSERT_TRUE(broken.writeToPath(path));

    Opened opened = open(path);
    EXPECT_EQ(opened.doc, nullptr);
    EXPECT_TRUE(opened.error.description.contains("Broken.KTTemplate")) << opened.error.description.toStdString();
    EXPECT_EQ(controller->documents().size(), 1);
    EXPECT_EQ(mine.doc->docTemplate()->layers(), layersBefore);
    EXPECT_EQ(mine.doc->fileURL(), QUrl::fromLocalFile(photo));
    EXPECT_FALSE(mine.doc->isDocumentEdited());
    EXPECT_FALSE(controller->recentDocumentURLs().contains(QUrl::fromLocalFile(path)));

    // With a photo inside but a broken design only the photo changes.
    const QString inside = writePhoto(dir, QStringLiteral("kept.jpg"), QSize(50, 40));
    FileWrapper withPhoto = broken;
    FileWrapper image = FileWrapper::directory();
    QFile keptFile(inside);
    ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
    image.addRegularFile(QStringLiteral("kept.jpg"), keptFile.readAll());
    withPhoto.addFileWrapper(QStringLiteral("Image"), image);
    const QString second = dir + QStringLiteral("/PhotoOnly.KTTemplate");
    ASSERT_TRUE(withPhoto.writeToPath(second));
    Opened photoOnly = open(second);
    ASSERT_EQ(photoOnly.doc, mine.doc);
    EXPECT_EQ(mine.doc->docTemplate()->originalImageSize(), QSizeF(50, 40));
    EXPECT_TRUE(mine.doc->fileURL().isEmpty());
    EXPECT_FALSE(controller->recentDocumentURLs().contains(QUrl::fromLocalFile(second)));
}

TEST_F(OpeningRoutes, APackagesPhotoIsExtractedToAFreshFolder)
{
    FileWrapper package = FileWrapper::directory();
    EXPECT_TRUE(controller->imageURLFromFileWrapper(package).isEmpty());
    package.addFileWrapper(QStringLiteral("Image"), FileWrapper::directory());
    EXPECT_TRUE(controller->imageURLFromFileWrapper(package).isEmpty()) << "an empty Image folder holds no photo";

    FileWrapper image = FileWrapper::directory();
    image.addRegularFile(QStringLiteral("a.jpg"), QByteArray("first"));
    image.addRegularFile(QStringLiteral("b.jpg"), QByteArray("second"));
    package.addFileWrapper(QStringLiteral("Image"), image);
    const QUrl one = controller->imageURLFromFileWrapper(package);
    const QUrl two = controller->imageURLFromFileWrapper(package);
    ASSERT_FALSE(one.isEmpty());
    EXPECT_EQ(one.fileName(), "a.jpg");
    EXPECT_NE(QFileInfo(one.toLocalFile()).path(), QFileInfo(two.toLocalFile()).path());
    QFile file(one.toLocalFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("first"));
    QDir(QFileInfo(one.toLocalFile()).path()).removeRecursively();
    QDir(QFileInfo(two.toLocalFile()).path()).removeRecursively();
}

TEST_F(OpeningRoutes, AFrameArchiveGoesIntoTheLibraryAndTheResultIsReported)
{
    const QString archive = frameArchive();
    ASSERT_FALSE(archive.isEmpty());
    LibraryStore library(nullptr, freshDir());
    LibraryStore::setShared(&library);
    XSDocument *startup = startupDocument();

    QSignalSpy ended(controller, &KTDocumentController::frameArchiveImportEnded);
    Opened opened = open(archive);
    EXPECT_EQ(opened.doc, startup) << "the current document is handed back unchanged";
    EXPECT_TRUE(startup->isDefaultImage());
    ASSERT_TRUE(testsupport::waitUntil([&] { return !ended.isEmpty(); }));
    EXPECT_TRUE(ended.first().at(1).toBool());

    QStringList frames;
    for (Frame *frame : library.managedObjectContext()->fetchObjects<Frame>())
        frames << frame->name();
    frames.sort();
    EXPECT_EQ(frames, (QStringList{"Oak full", "Oak wide"}));
    ASSERT_EQ(alerts.asked.size(), 1);
    EXPECT_EQ(alerts.asked.first().messageText, "Frames imported");
    EXPECT_TRUE(alerts.asked.first().informativeText.contains("1 collection, 1 set and 2 frames"))
        << alerts.asked.first().informativeText.toStdString();

    // A damaged archive is reported as an error; the library keeps its frames.
    const QString damaged = freshDir() + QStringLiteral("/Damaged.ktframes");
    {
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(500, 'z'));
    }
    open(damaged);
    ASSERT_TRUE(testsupport::waitUntil([&] { return ended.size() == 2; }));
    EXPECT_FALSE(ended.at(1).at(1).toBool());
    ASSERT_EQ(alerts.errors.size(), 1);
    EXPECT_TRUE(alerts.errors.first().description.contains("Damaged.ktframes"));
    // So is one cut short, by name.
    const QString truncated = freshDir() + QStringLiteral("/Truncated.ktframes");
    {
        QFile whole(archive);
        ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
        QFile file(truncated);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(whole.readAll().chopped(200));
    }
    open(truncated);
    ASSERT_TRUE(testsupport::waitUntil([&] { return ended.size() == 3; }));
    ASSERT_EQ(alerts.errors.size(), 2);
    EXPECT_TRUE(alerts.errors.last().description.contains("Truncated.ktframes"))
        << alerts.errors.last().description.toStdString();
    EXPECT_EQ(library.managedObjectContext()->fetchObjects<Frame>().size(), 2);
    LibraryStore::setShared(nullptr);
}

TEST_F(OpeningRoutes, ADesignNamedWithPhotosGoesOnThosePhotosOnly)
{
    TemplatesStore designs(freshDir());
    ASSERT_TRUE(saveMattedDesign(designs));
    const QString named = writePhoto(freshDir());
    controller->applyDesignWhenOpened({QUrl::fromLocalFile(named)}, QStringLiteral("Matted"));
    Opened framed = open(named);
    ASSERT_TRUE(framed.doc);
    EXPECT_TRUE(testsupport::waitUntil([&] { return matCount(framed.doc) == 1; }));

    // A photo opened later gets none and stays unedited, even after its window's pass.
    Opened later = open(writePhoto(freshDir()));
    ASSERT_TRUE(later.doc);
    EXPECT_TRUE(testsupport::waitPastTimersDue(20));
    EXPECT_EQ(matCount(later.doc), 0);
    EXPECT_FALSE(later.doc->isDocumentEdited());
    EXPECT_EQ(matCount(open(named).doc), 1) << "reopening the framed photo shows it as it is";

    // An unknown name says so.
    const QString unknown = writePhoto(freshDir());
    controller->applyDesignWhenOpened({QUrl::fromLocalFile(unknown)}, QStringLiteral("Gone"));
    EXPECT_TRUE(open(unknown).doc);
    ASSERT_TRUE(testsupport::waitUntil([&] { return alerts.asked.size() == 1; }));
    EXPECT_EQ(alerts.asked.first().informativeText, "Template named 'Gone' not found");
    TemplatesStore::setShared(nullptr);
}

TEST_F(OpeningRoutes, ADesignNamedAtStartIsAppliedOrItsAbsenceShown)
{
    TemplatesStore designs(freshDir());
    ASSERT_TRUE(saveMattedDesign(designs));
    Opened opened = open(writePhoto(freshDir()));
    ASSERT_TRUE(opened.doc);
    QCoreApplication::processEvents(); // the window's own pass finds no design named

    opened.doc->processArguments(VLProcessArguments(QStringList{"kantelo", "-template=Matted"}));
    EXPECT_EQ(matCount(opened.doc), 1);
    EXPECT_EQ(opened.doc->docTemplate()->name(), "Matted");
    EXPECT_TRUE(alerts.asked.isEmpty());

    // A name not among the saved designs is shown, and the photo stays open.
    opened.doc->processArguments(VLProcessArguments(QStringList{"kantelo", "-template=\"Gone\""}));
    ASSERT_EQ(alerts.asked.size(), 1);
    EXPECT_EQ(alerts.asked.first().messageText, "Template not found");
    EXPECT_EQ(alerts.asked.first().informativeText, "Template named 'Gone' not found");
    EXPECT_EQ(alerts.asked.first().buttons, QStringList{"OK"});
    EXPECT_EQ(matCount(opened.doc), 1);
    EXPECT_TRUE(controller->documents().contains(opened.doc));

    // Without a design named nothing happens.
    opened.doc->processArguments(VLProcessArguments(QStringList{"kantelo", "-process=later"}));
    EXPECT_EQ(alerts.asked.size(), 1);
    TemplatesStore::setShared(nullptr);
}
