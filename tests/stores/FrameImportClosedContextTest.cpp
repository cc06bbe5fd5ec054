#include "FrameArchiveTestSupport.h"

#include "platform/Bundle.h"
#include "stores/LibraryModel.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

TEST(FrameImportClosedContext, AContextClosedBeforeTheImportBeginsEndsWithAnError)
{
    const QString archive = platform::Bundle::resourcePath() + QStringLiteral("/InitialFrames.ktframes");
    ASSERT_TRUE(QFileInfo::exists(archive)) << "the content generator runs with the build";
    const QString graphics = testsupport::scratchDir() + QStringLiteral("/closed-context-graphics");
    QDir().mkpath(graphics);
    auto moc = std::make_unique<platform::ManagedObjectContext>(LibraryModel::shared());
    archivetest::ImportRecorder recorder;
    auto importer = std::make_shared<KTFrameLibraryImporter>(QUrl::fromLocalFile(archive), QUrl::fromLocalFile(graphics),
                                                             moc.get());
    importer->setDelegate(&recorder);
    importer->startImport();
    moc.reset(); // the library goes while the archive is being unpacked
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.done(); }));
    EXPECT_TRUE(recorder.failed);
    EXPECT_FALSE(recorder.finished);
    testsupport::waitUntil([] { return false; }, 50);
}
