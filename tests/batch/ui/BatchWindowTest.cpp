#include "batch/BatchTestSupport.h"

#include "app/AppDelegate.h"
#include "batch/ui/KTBatchProcessingConfigurationController.h"
#include "batch/ui/KTBatchProcessingProgressController.h"
#include "batch/ui/KTBatchProcessingWindowController.h"
#include "batch/ui/KTThumbnailsController.h"
#include "design/KTFullFrameLayer.h"
#include "design/KTImageOverlayLayer.h"
#include "design/KTTextOverlayLayer.h"
#include "design/KTTemplatePackage.h"
#include "design/TemplatesStore.h"
#include "design/Variation.h"
#include "platform/Alert.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/FilePanels.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QThread>
#include <QThreadPool>
#include <QSpinBox>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <atomic>

using namespace batchtest;

namespace {

QString freshFolder(const QString &name)
{
    const QString path = QDir(testsupport::scratchDir()).filePath(name);
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

// Alerts are noted and answered at once; open panels answer `answer`.
struct Panels {
    QStringList alerts;
    QStringList texts; // their informative texts
    QList<QUrl> answer;
    Panels()
    {
        platform::setAlertPresenter([this](const platform::AlertRequest &request) {
            alerts << request.messageText;
            texts << request.informativeText;
            return 0;
        });
        platform::setOpenPanelPresenter([this](const platform::OpenPanelRequest &) { return answer; });
    }
    ~Panels()
    {
        platform::setAlertPresenter(nullptr);
        platform::setOpenPanelPresenter(nullptr);
    }
};

} // namespace

TEST(BatchWindow, RunFromTheWindowWritesFramedFilesListsTheFailedOneAndRefusesCloseWhileRunning)
{
    const QString root = freshFolder(QStringLiteral("batch-window"));
    TemplatesStore store(root + QStringLiteral("/support"));
    TemplatesStore::setShared(&store);
    Variation *variation =
        KTTemplatePackage::variationFromTemplate(matDesign().get(), store.templatesManagedObjectContext());
    ASSERT_TRUE(variation);
    variation->setName(QStringLiteral("Mat"));
    ASSERT_TRUE(store.templatesManagedObjectContext()->save());

    for (const char *name : {"a.jpg", "b.jpg", "deep/c.jpg", "broken.jpg"})
        writePhoto(root + QStringLiteral("/photos/") + QLatin1String(name));
    {
        QFile damaged(root + QStringLiteral("/photos/broken.jpg"));
        ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
        const QByteArray head = damaged.read(600);
        damaged.resize(0);
        damaged.write(head);
    }
    Panels panels;
    QStringList &alerts = panels.alerts;
    QList<QUrl> &answer = panels.answer;

    const QString preset = root + QStringLiteral("/LastUsedPreset.plist");
    auto *window = new KTBatchProcessingWindowController(preset);
    window->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<KTBatchProcessingWindowController> alive(window);
    window->show();
    auto *config = window->configurationViewController();
    EXPECT_EQ(config->selectedDesignName(), QStringLiteral("Mat"));
    // The mat's frame is not in this test's library: picking the design says so.
    emit config->findChild<QComboBox *>(QStringLiteral("designChooser"))->activated(0);
    EXPECT_EQ(alerts, QStringList{QString::fromLatin1(KTBatchProcessingConfigurationController::kTemplateAlertMessage)});
    alerts.clear();

    // A folder with no pictures says so; the photo folder adds all four.
    answer = {QUrl::fromLocalFile(freshFolder(QStringLiteral("batch-window-empty")))};
    config->findChild<QPushButton *>(QStringLiteral("addFolderButton"))->click();
    EXPECT_EQ(alerts, QStringList{QString::fromLatin1(KTBatchProcessingCoordinator::kNoImagesTitle)});
    answer = {QUrl::fromLocalFile(root + QStringLiteral("/photos/b.jpg"))};
    config->findChild<QPushButton *>(QStringLiteral("addFilesButton"))->click();
    EXPECT_EQ(config->selectedFilesSummary(), QStringLiteral("You have selected 1 file from:"));
    answer = {QUrl::fromLocalFile(root + QStringLiteral("/photos"))};
    config->findChild<QPushButton *>(QStringLiteral("addFolderButton"))->click();
    EXPECT_EQ(config->files().size(), 4); // b.jpg once
    EXPECT_EQ(config->selectedFilesSummary(), QStringLiteral("You have selected 4 files from:"));

    // A slash can't be typed into the prefix; the prefix reaches the preset file.
    auto *prefix = config->findChild<QLineEdit *>(QStringLiteral("prefixField"));
    prefix->setFocus();
    QTest::keyClicks(prefix, QStringLiteral("fr/amed_"));
    EXPECT_EQ(prefix->text(), QStringLiteral("framed_"));
    prefix->parentWidget()->findChildren<QCheckBox *>().first()->setChecked(true);
    EXPECT_EQ(config->filenamePreview(), QStringLiteral("framed_MyPhoto.jpg"));
    const auto written = KTBatchProcessingOptions::readPreset(preset, {});
    ASSERT_TRUE(written);
    EXPECT_EQ(written->filenamePrefix(), QStringLiteral("framed_"));
    EXPECT_EQ(written->batchTemplate()->name(), QStringLiteral("Mat"));

    const QString out = freshFolder(QStringLiteral("batch-window-out"));
    config->setDestinationDirectory(QUrl::fromLocalFile(out));
    alerts.clear();
    config->findChild<QPushButton *>(QStringLiteral("startButton"))->click();
    ASSERT_TRUE(alerts.isEmpty()) << alerts.join(QLatin1Char('\n')).toStdString();
    auto *progress = window->progressViewController();
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->total(), 4u);
    // The short progress page shrinks the window.
    EXPECT_FALSE(config->isVisible());
    EXPECT_LT(window->height(), config->height());

    // Results arrive through the event loop, so the run is still going here.
    EXPECT_FALSE(window->close());
    EXPECT_EQ(alerts, QStringList{QString::fromLatin1(KTBatchProcessingWindowController::kCloseRefusedMessage)});
    ASSERT_TRUE(alive);

    ASSERT_TRUE(testsupport::waitUntil([&] { return progress->done(); }));
    EXPECT_EQ(progress->status(), QStringLiteral("Done!"));
    EXPECT_EQ(progress->error(), QStringLiteral("Failed to process 1 image"));
    ASSERT_EQ(progress->failedFiles().size(), 1);
    EXPECT_TRUE(progress->failedFiles().first().toLocalFile().endsWith(QStringLiteral("broken.jpg")));
    EXPECT_FALSE(progress->failureReasons().first().isEmpty());
    // The failed list opens beside its button with the reason; a second click closes it.
    auto *showFailed = progress->findChild<QPushButton *>(QStringLiteral("showFailedButton"));
    showFailed->click();
    ASSERT_TRUE(progress->failedFilesPopup());
    auto *failedList = progress->failedFilesPopup()->findChild<QTreeWidget *>();
    ASSERT_EQ(failedList->topLevelItemCount(), 1);
    EXPECT_EQ(failedList->topLevelItem(0)->text(0), QStringLiteral("broken.jpg"));
    EXPECT_EQ(failedList->topLevelItem(0)->text(1), progress->failureReasons().first());
    showFailed->click();
    EXPECT_FALSE(progress->failedFilesPopup());
    const QStringList outputs = QDir(out).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(outputs, (QStringList{QStringLiteral("framed_a.jpg"), QStringLiteral("framed_b.jpg"),
                                    QStringLiteral("framed_c.jpg")}));
    // The mat makes each framed copy larger than its 300 x 200 photo.
    const QImage framed(out + QStringLiteral("/framed_a.jpg"));
    EXPECT_GT(framed.width(), 300);
    EXPECT_GT(framed.height(), 200);

    // Back to the same settings; then the window closes.
    const int progressHeight = window->height();
    progress->findChild<QPushButton *>(QStringLiteral("completeButton"))->click();
    EXPECT_EQ(config->files().size(), 4);
    EXPECT_GT(window->height(), progressHeight);
    EXPECT_TRUE(window->close());
    // The closed window goes now, while the store its thumbnails read lives,
    // and waits for the thumbnails still being made.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(alive);
    // The next window offers the folder used last.
    KTBatchProcessingConfigurationController next;
    EXPECT_EQ(next.destinationDirectory(), QUrl::fromLocalFile(out));
    TemplatesStore::setShared(nullptr);
}

TEST(BatchWindow, EveryPhotoGetsAThumbnailOfTheDesignAndAChangedDesignDropsLateOnes)
{
    const QString root = freshFolder(QStringLiteral("batch-thumbs"));
    TemplatesStore store(root + QStringLiteral("/support"));
    TemplatesStore::setShared(&store);
    for (const char *name : {"Mat", "Other"}) {
        auto design = matDesign();
        if (name[0] == 'O') {
            auto mat = std::make_shared<KTColorMatLayer>();
            mat->setMatColor(QColor(20, 200, 90));
            design->addTopmostLayer(mat);
        }
        Variation *variation =
            KTTemplatePackage::variationFromTemplate(design.get(), store.templatesManagedObjectContext());
        ASSERT_TRUE(variation);
        variation->setName(QLatin1String(name));
    }
    ASSERT_TRUE(store.templatesManagedObjectContext()->save());
    QList<QUrl> photos;
    for (int i = 0; i < 12; ++i)
        photos << QUrl::fromLocalFile(writePhoto(root + QStringLiteral("/p%1.jpg").arg(i)));
    {
        KTBatchProcessingWindowController window(root + QStringLiteral("/preset.plist"));
        auto *config = window.configurationViewController();
        auto *strip = config->thumbnailsController();
        ASSERT_TRUE(strip);
        int shown = 0;
        QObject::connect(strip, &KTThumbnailsController::thumbnailReady, [&] { ++shown; });
        config->addItems(photos);
        // The design changes while the first thumbnails are being made.
        const quint64 before = strip->generation();
        config->findChild<QComboBox *>(QStringLiteral("designChooser"))->setCurrentText(QStringLiteral("Other"));
        EXPECT_GT(strip->generation(), before);
        strip->waitForPending();
        ASSERT_TRUE(testsupport::waitUntil([&] { return strip->readyCount() == 12; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(shown, 12); // none of the first design's arrived late
        for (int i = 0; i < strip->count(); ++i)
            EXPECT_EQ(strip->stateOf(i), KTThumbnailsController::State::Ready);

        // Under the pointer a thumbnail darkens; its button opens the larger look.
        window.show();
        const QRect button = strip->hoverButtonRect(0);
        auto brightness = [&] {
            const QImage shot = strip->viewport()->grab(button.adjusted(-20, -20, 20, 20)).toImage();
            qint64 sum = 0;
            for (int y = 0; y < shot.height(); ++y)
                for (int x = 0; x < 6; ++x)
                    sum += qGray(shot.pixel(x, y));
            return sum;
        };
        const qint64 plain = brightness();
        QTest::mouseMove(strip->viewport(), button.center());
        EXPECT_EQ(strip->hoveredRow(), 0);
        EXPECT_LT(brightness() * 10, plain * 7);
        QSignalSpy previewed(strip, &KTThumbnailsController::largePreviewReady);
        QTest::mouseClick(strip->viewport(), Qt::LeftButton, {}, button.center());
        ASSERT_TRUE(strip->largePreviewWindow());
        ASSERT_TRUE(previewed.wait(testsupport::kHangGuardMs));
        const QString previewFile = strip->largePreviewFile().toLocalFile();
        EXPECT_TRUE(QFileInfo::exists(previewFile));
        QTest::mouseClick(strip->viewport(), Qt::LeftButton, {}, button.center());
        EXPECT_FALSE(strip->largePreviewWindow());
        EXPECT_FALSE(QFileInfo::exists(previewFile));
    }
    TemplatesStore::setShared(nullptr);
}

TEST(BatchWindow, ADesignFileOnDiskIsUsedAndRememberedAndItsMissingFramesAreToldOnce)
{
    const QString root = freshFolder(QStringLiteral("batch-design-file"));
    TemplatesStore store(root + QStringLiteral("/support"));
    TemplatesStore::setShared(&store);
    // A frame layer whose frame this machine's library lacks.
    auto design = matDesign();
    design->addTopmostLayer(std::make_shared<KTFullFrameLayer>());
    const QString package = root + QStringLiteral("/Ring.KTTemplate");
    ASSERT_TRUE(design->saveToURL(QUrl::fromLocalFile(package), {}, QString(), false));
    QDir().mkpath(root + QStringLiteral("/Broken.KTTemplate"));
    QFile garbage(root + QStringLiteral("/Broken.KTTemplate/Template"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("not a design");
    garbage.close();

    Panels panels;
    QStringList &alerts = panels.alerts;
    QList<QUrl> &answer = panels.answer;
    const QString preset = root + QStringLiteral("/preset.plist");
    {
        KTBatchProcessingWindowController window(preset);
        auto *config = window.configurationViewController();
        auto *check = config->findChild<QCheckBox *>(QStringLiteral("customTemplateCheckbox"));
        // A damaged package says so and leaves the box off.
        answer = {QUrl::fromLocalFile(root + QStringLiteral("/Broken.KTTemplate"))};
        check->click();
        EXPECT_EQ(alerts, QStringList{QString::fromLatin1(KTBatchProcessingConfigurationController::kUnreadableTemplateMessage)});
        EXPECT_FALSE(check->isChecked());
        EXPECT_FALSE(config->configurationIsValid());

        alerts.clear();
        answer = {QUrl::fromLocalFile(package)};
        check->click();
        // Without its frame the full frame frames no photo: the alert says so, and the design is taken.
        EXPECT_EQ(alerts,
                  QStringList{QString::fromLatin1(KTBatchProcessingConfigurationController::kFramesNothingMessage)});
        ASSERT_TRUE(config->useCustomTemplate());
        EXPECT_EQ(config->currentTemplate()->name(), QStringLiteral("Ring.KTTemplate"));
        EXPECT_EQ(config->currentOptions()->batchTemplate()->source(), KTBatchProcessingTemplate::External);
        EXPECT_TRUE(config->configurationIsValid());

        // Size in centimetres at 300 dpi.
        config->findChild<QComboBox *>(QStringLiteral("scalingChooser"))->setCurrentIndex(KTImageScalingTypeCustomWidth);
        config->findChild<QComboBox *>(QStringLiteral("unitsChooser"))->setCurrentIndex(KTImageUnitsCentimeters);
        config->findChild<QSpinBox *>(QStringLiteral("dpiField"))->setValue(300);
        config->findChild<QDoubleSpinBox *>(QStringLiteral("widthField"))->setValue(10);
        EXPECT_EQ(config->sizeInPixelsSummary(), QStringLiteral("Width in pixels: 1181"));
        EXPECT_EQ(config->currentOptions()->scaling()->pixelsWidth(), 1181);
        // "From original" needs neither units nor resolution.
        config->findChild<QComboBox *>(QStringLiteral("scalingChooser"))->setCurrentIndex(KTImageScalingTypeOriginal);
        EXPECT_FALSE(config->findChild<QSpinBox *>(QStringLiteral("dpiField"))->isVisibleTo(config));
        // A section folds away.
        config->findChild<QToolButton *>(QStringLiteral("optionsGroupViewToggle"))->click();
        EXPECT_FALSE(config->findChild<QWidget *>(QStringLiteral("optionsGroupView"))->isVisibleTo(config));
    }
    // The next window comes back with the design file, read again from disk.
    alerts.clear();
    KTBatchProcessingWindowController again(preset);
    auto *config = again.configurationViewController();
    ASSERT_TRUE(config->useCustomTemplate());
    EXPECT_EQ(config->customTemplateURL().toLocalFile(), package);
    EXPECT_EQ(config->scaling().units(), KTImageUnitsCentimeters);
    EXPECT_TRUE(alerts.isEmpty());
    TemplatesStore::setShared(nullptr);
}

TEST(BatchWindow, WhatAChosenDesignGivesIsToldAsItIs)
{
    const QString root = freshFolder(QStringLiteral("batch-design-told"));
    TemplatesStore store(root + QStringLiteral("/support"));
    TemplatesStore::setShared(&store);
    Variation *unreadable = Variation::insertInManagedObjectContext(store.templatesManagedObjectContext());
    unreadable->setName(QStringLiteral("Unreadable"));
    unreadable->setData(QByteArrayLiteral("not a design"));
    // A picture overlay naming a picture it does not carry; a text past what a design from a file may hold.
    auto logo = matDesign(), many = matDesign();
    auto overlay = std::make_shared<KTImageOverlayLayer>();
    overlay->setImagePath(root + QStringLiteral("/logo.png"));
    logo->addTopmostLayer(overlay);
    auto text = std::make_shared<KTTextOverlayLayer>();
    text->setOverlayText(platform::StyledText(QStringLiteral("{{File name}}").repeated(101)));
    many->addTopmostLayer(text);
    for (const auto &[design, name] : {std::pair(logo, "/Logo.KTTemplate"), std::pair(many, "/Many.KTTemplate")})
        ASSERT_TRUE(design->saveToURL(QUrl::fromLocalFile(root + name), {}, QString(), false));

    Panels panels;
    KTBatchProcessingWindowController window(root + QStringLiteral("/preset.plist"));
    auto *config = window.configurationViewController();
    auto *box = config->findChild<QCheckBox *>(QStringLiteral("customTemplateCheckbox"));
    for (const char *name : {"/Logo.KTTemplate", "/Many.KTTemplate"}) {
        panels.answer = {QUrl::fromLocalFile(root + name)};
        config->findChild<QPushButton *>(QStringLiteral("chooseCustomTemplateButton"))->click();
    }
    box->click(); // back to the saved designs
    auto *chooser = config->findChild<QComboBox *>(QStringLiteral("designChooser"));
    chooser->setCurrentIndex(chooser->findText(QStringLiteral("Unreadable")));
    emit chooser->activated(chooser->currentIndex());
    using Page = KTBatchProcessingConfigurationController;
    EXPECT_EQ(panels.alerts,
              QStringList({QString::fromUtf8(Page::kFramesNothingMessage), Page::kUnreadableTemplateMessage,
                           QString::fromUtf8(Page::kUnreadableSavedDesignFormat).arg("Unreadable")}));
    EXPECT_TRUE(panels.texts.value(0).contains("uses pictures it does not hold: logo.png. Every photo"));
    EXPECT_TRUE(panels.texts.value(1).contains("holds 101 placeholders, more than the 100"));
    EXPECT_FALSE(panels.texts.value(1).contains("damaged"));
    TemplatesStore::setShared(nullptr);
}

TEST(BatchWindow, QuitDuringARunAsksThenFinishesWholeFilesAndQuitsWithTheWindowsKept)
{
    const QString root = freshFolder(QStringLiteral("batch-quit"));
    TemplatesStore store(root + QStringLiteral("/support"));
    TemplatesStore::setShared(&store);
    Variation *variation =
        KTTemplatePackage::variationFromTemplate(matDesign().get(), store.templatesManagedObjectContext());
    ASSERT_TRUE(variation);
    variation->setName(QStringLiteral("Mat"));
    QList<QUrl> photos;
    for (int i = 0; i < 40; ++i)
        photos << QUrl::fromLocalFile(writePhoto(root + QStringLiteral("/photos/p%1.jpg").arg(i), 900, 600));
    const QString out = freshFolder(QStringLiteral("batch-quit-out"));

    // The program's own wiring: the shared window, the delegate, the application.
    AppDelegate::Services services;
    services.isBatchProcessing = &KTBatchProcessingWindowController::isSharedWindowProcessing;
    services.stopBatchProcessing = &KTBatchProcessingWindowController::stopSharedRunAfterCurrentFiles;
    AppDelegate delegate(services, root + QStringLiteral("/support"));
    platform::Application application(&delegate);
    int quits = 0;
    application.setQuitHandler([&] { ++quits; });
    QStringList asked;
    QStringList answers;
    platform::setAlertPresenter([&](const platform::AlertRequest &request) {
        asked << request.informativeText;
        return int(request.buttons.indexOf(answers.isEmpty() ? QString() : answers.takeFirst()));
    });

    QPointer<KTBatchProcessingWindowController> window = KTBatchProcessingWindowController::showShared();
    auto *config = window->configurationViewController();
    config->addItems(photos);
    config->setDestinationDirectory(QUrl::fromLocalFile(out));
    // One worker, held until the quit was answered: no file has begun then.
    std::atomic<bool> hold = true;
    window->coordinator().processingQueue()->setMaxThreadCount(1);
    window->coordinator().processingQueue()->start([&hold] {
        while (hold)
            QThread::yieldCurrentThread();
    });
    ASSERT_TRUE(window->process());
    auto *progress = window->progressViewController();
    ASSERT_TRUE(progress);

    answers = {QStringLiteral("Don't quit")};
    application.terminate();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked.first().startsWith(QStringLiteral("Your photos are still being processed.")));
    EXPECT_FALSE(application.isTerminating());
    EXPECT_TRUE(window->coordinator().isProcessing()) << "the run goes on";

    answers = {QStringLiteral("Quit anyway")};
    application.terminate();
    EXPECT_TRUE(application.isAwaitingTerminateReply());
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(window && window->isVisible()) << "the windows stay while the photos being written end";
    hold = false;
    ASSERT_TRUE(testsupport::waitUntil([&] { return quits == 1; }));
    EXPECT_EQ(asked.size(), 2) << "asked once more only";
    EXPECT_FALSE(window->coordinator().isProcessing());
    // The files not begun are left, and not listed as failed.
    EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(progress->failedFiles().isEmpty());
    EXPECT_TRUE(window->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    platform::setAlertPresenter(nullptr);
    TemplatesStore::setShared(nullptr);
}

TEST(BatchWindow, APresetNamingASavedDesignNoLongerThereIsToldAsAWarning)
{
    TemplatesStore store(freshFolder(QStringLiteral("batch-missing-design")));
    TemplatesStore::setShared(&store);
    KTBatchProcessingConfigurationController config;
    const KTBatchProcessingOptions preset({}, KTImageFileFormat::PNGFileFormat(),
                                          KTBatchProcessingTemplate::initWithBuiltinTemplateNamed("Gone", {}),
                                          KTImageScaling::defaultScaling(), {}, {});
    QStringList lines;
    platform::setLogSink([&](const QString &line) { lines << line; });
    config.loadPreset(preset);
    platform::setLogSink(nullptr);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("Warning: ") && lines[0].endsWith("Could not find a builtin template named Gone"));
    TemplatesStore::setShared(nullptr);
}
