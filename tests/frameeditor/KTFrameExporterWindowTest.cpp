#include "stores/FrameArchiveTestSupport.h"

#include "frameeditor/KTFrameExporterWindowController.h"
#include "platform/ui/FilePanels.h"

#include <QDir>
#include <QWidget>

#include <gtest/gtest.h>

using namespace archivetest;
using namespace librarytest;

namespace {

struct ExporterFixture : ::testing::Test {
    Library lib;
    FrameCollection *woods = nullptr;
    FrameSet *oak = nullptr;
    FrameSet *pine = nullptr;
    FrameSet *spare = nullptr;
    Frame *pineFrame = nullptr;
    QWidget parent;
    QList<platform::SavePanelRequest> panels;
    QList<platform::Error> shown;
    QUrl answer;

    void SetUp() override
    {
        sharedLibrary();
        platform::ManagedObjectContext *moc = lib.moc();
        seedFrameTypes(moc);
        woods = newCollection(moc, "Woods");
        oak = newSet(moc, woods, "Oak");
        FrameImage *side = makeImage(moc, QColor(120, 70, 30), "oak.png");
        for (const char *name : {"Light", "Dark", "Gilt"}) {
            Frame *frame = makeFrame(moc, oak, QString::fromLatin1(name), "Moulding");
            frame->frameAttributeWithName("Top Image")->setImageVal(side);
        }
        pine = newSet(moc, newCollection(moc, "Papers"), "Pine");
        pineFrame = makeFrame(moc, pine, "Cream", "Color Mat");
        pineFrame->frameAttributeWithName("Mat color")->setColorVal(archivedColour(0.95, 0.9, 0.8));
        makeFrame(moc, pine, "Left out", "Color Mat");
        spare = newSet(moc, woods, "Spare");
        ASSERT_TRUE(moc->save());

        platform::setSavePanelPresenter([this](const platform::SavePanelRequest &request) {
            panels << request;
            return answer;
        });
        platform::setErrorPresenter([this](const platform::Error &error) { shown << error; });
    }
    void TearDown() override
    {
        platform::setSavePanelPresenter(nullptr);
        platform::setErrorPresenter(nullptr);
    }

    // Runs the export to its end; answers the handler's code.
    int exportItems(KTFrameExporterWindowController &controller)
    {
        QList<int> codes;
        controller.beginSheetModalForWindow(&parent, [&](int code) { codes << code; });
        EXPECT_TRUE(testsupport::waitUntil([&] { return !codes.isEmpty(); }));
        EXPECT_TRUE(testsupport::waitPastTimersDue(50));
        EXPECT_EQ(codes.size(), 1) << "the handler runs once";
        return codes.value(0, 42);
    }
};

} // namespace

TEST_F(ExporterFixture, ExportsASetAndAFrameOfAnotherSetThatImportElsewhere)
{
    KTFrameExporterWindowController controller({oak, pineFrame});
    EXPECT_EQ(controller.missingParentObjects(), (QList<LibraryItem *>{woods, pine, pine->framecollection()}));
    EXPECT_EQ(controller.suggestedName(), "2 Frame Sets");
    const QString folder = freshFolder();
    answer = QUrl::fromLocalFile(folder + "/Chosen");
    ASSERT_EQ(exportItems(controller), KTFrameExporterWindowController::kSucceeded);
    ASSERT_EQ(panels.size(), 1);
    EXPECT_EQ(panels[0].nameFieldValue, "2 Frame Sets");
    EXPECT_EQ(panels[0].prompt, "Export");
    EXPECT_EQ(controller.totalItems(), 5u);
    EXPECT_EQ(controller.informationLabel()->text(), "Exporting 0 collections, 1 set, 4 frames");
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_FALSE(controller.window()->isVisible());
    EXPECT_EQ(controller.progressIndicator()->value(), controller.progressIndicator()->maximum());
    const QString archive = folder + "/Chosen.ktframes";
    ASSERT_TRUE(QFileInfo(archive).isFile());

    Library target;
    seedFrameTypes(target.moc());
    ImportRecorder imported;
    importArchive(archive, target.moc(), &imported);
    ASSERT_TRUE(imported.finished);
    ASSERT_TRUE(target.moc()->save());
    target.open();
    // Both collections and sets come along, but only the chosen frames.
    EXPECT_EQ(dictionariesOf<FrameCollection>(target.moc()).keys().size(), 2);
    QMap<QString, QVariantMap> sets = dictionariesOf<FrameSet>(lib.moc());
    sets.remove(spare->guid());
    EXPECT_EQ(dictionariesOf<FrameSet>(target.moc()), sets);
    QMap<QString, QVariantMap> frames = dictionariesOf<Frame>(lib.moc());
    for (Frame *frame : pine->frames())
        if (frame != pineFrame)
            frames.remove(frame->guid());
    EXPECT_EQ(dictionariesOf<Frame>(target.moc()), frames);
}

TEST_F(ExporterFixture, CancelledPanelExportsNothingAndNamesFollowTheItems)
{
    KTFrameExporterWindowController one({pineFrame});
    EXPECT_EQ(one.suggestedName(), "Cream Frame");
    EXPECT_EQ(KTFrameExporterWindowController({woods}).suggestedName(), "Woods Frame Collection");
    EXPECT_EQ(KTFrameExporterWindowController({oak, pine}).suggestedName(), "2 Frame Sets");
    // A frame with its own set: only the set's collection is missing.
    EXPECT_EQ(KTFrameExporterWindowController({pine, pineFrame}).missingParentObjects(),
              QList<LibraryItem *>{pine->framecollection()});

    answer = QUrl();
    EXPECT_EQ(exportItems(one), KTFrameExporterWindowController::kCancelled);
    EXPECT_FALSE(one.window()->isVisible());
    EXPECT_TRUE(shown.isEmpty());
}

TEST_F(ExporterFixture, FailingDestinationsAndUnusableIdentifiersAreShownAsFailures)
{
    const QString folder = freshFolder();
    struct Case {
        QString destination, says;
    };
    ASSERT_TRUE(QDir().mkpath(folder + "/Taken.ktframes"));
    for (const Case &c : {Case{folder + "/Taken.ktframes", "Taken.ktframes"},
                          Case{folder + "/missing/Woods.ktframes", folder + "/missing"}}) {
        shown.clear();
        KTFrameExporterWindowController controller({woods});
        answer = QUrl::fromLocalFile(c.destination);
        EXPECT_EQ(exportItems(controller), KTFrameExporterWindowController::kFailed);
        ASSERT_EQ(shown.size(), 1);
        EXPECT_TRUE(shown[0].description.contains(c.says)) << shown[0].description.toStdString();
        EXPECT_FALSE(controller.window()->isVisible());
    }
    EXPECT_TRUE(QFileInfo(folder + "/Taken.ktframes").isDir());

    // An identifier that would climb out of the archive's folder is refused.
    pineFrame->setGuid("../../Escaped");
    shown.clear();
    KTFrameExporterWindowController controller({pineFrame});
    answer = QUrl::fromLocalFile(folder + "/Cream.ktframes");
    EXPECT_EQ(exportItems(controller), KTFrameExporterWindowController::kFailed);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].description.contains("../../Escaped"));
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"Taken.ktframes"});
}
