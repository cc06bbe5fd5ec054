#include "platform/TypeTable.h"
#include "platform/ui/FilePanels.h"
#include "platform/ui/SavePanel.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QUuid>

using namespace platform;

namespace {

QFileDialog *shownDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QFileDialog *>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

} // namespace

TEST(SavePanelDialog, TheDialogFollowsTheAccessorysFormatAndHandsTheAccessoryBack)
{
    setSavePanelPresenter(nullptr);
    const QString dir = testsupport::scratchDir() + '/' + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    SavePanel panel;
    panel.setDirectory(dir);
    panel.setNameFieldStringValue(QStringLiteral("photo.jpg"));
    panel.setAllowedFileTypes({QStringLiteral("jpg"), QStringLiteral("jpeg")});
    auto accessory = std::make_unique<QWidget>();
    panel.setAccessoryView(accessory.get());

    bool accessoryInside = false;
    QStringList filtersBefore, filtersAfter;
    QString typedAfter;
    bool running = false;
    std::function<void()> look = [&] {
        QFileDialog *dialog = shownDialog();
        if (!dialog) {
            QTimer::singleShot(10, look);
            return;
        }
        running = panel.isRunning();
        accessoryInside = dialog->isAncestorOf(accessory.get());
        filtersBefore = dialog->nameFilters();
        // The accessory switches to PNG while the dialog shows.
        panel.setAllowedFileTypes({QStringLiteral("png")});
        filtersAfter = dialog->nameFilters();
        typedAfter = QFileInfo(dialog->selectedFiles().value(0)).fileName();
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    };
    QTimer::singleShot(0, look);
    const QUrl chosen = panel.runModal();

    EXPECT_TRUE(running);
    EXPECT_TRUE(accessoryInside);
    EXPECT_EQ(filtersBefore, QStringList{"JPEG image (*.jpg *.jpeg)"});
    EXPECT_EQ(filtersAfter, QStringList{"PNG image (*.png)"});
    EXPECT_EQ(typedAfter, "photo.png");
    EXPECT_EQ(chosen, QUrl::fromLocalFile(dir + "/photo.png"));
    EXPECT_EQ(accessory->parent(), nullptr) << "the caller keeps its accessory";
    EXPECT_FALSE(panel.isRunning());
}

TEST(SavePanelDialog, ANameTheDialogSettlesOtherwiseIsShownBeforeItIsAccepted)
{
    setSavePanelPresenter(nullptr);
    const QString dir = testsupport::scratchDir() + '/' + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    SavePanel panel;
    panel.setDirectory(dir);
    panel.setAllowedFileTypes({QStringLiteral("jpg"), QStringLiteral("jpeg")});
    panel.setUnacceptedExtensionHandler([&](const QString &extension) {
        if (extension == QLatin1String("tif"))
            panel.setAllowedFileTypes({QStringLiteral("tiff"), QStringLiteral("tif")});
    });
    // Answers the chosen name and the one the dialog showed after the first
    // press of Save, if it stayed open.
    auto chooseTyping = [&](const QString &typed) {
        QString shown;
        int presses = 0;
        std::function<void()> look = [&] {
            QFileDialog *dialog = shownDialog();
            if (!dialog) {
                QTimer::singleShot(10, look);
                return;
            }
            // Typed as a user types, into the name field that has the focus.
            auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            ASSERT_TRUE(field);
            if (presses++ == 0) {
                dialog->activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(dialog, testsupport::kHangGuardMs));
                field->setFocus();
                field->selectAll();
                QTest::keyClicks(field, typed);
            }
            QTest::keyClick(field, Qt::Key_Return);
            if (dialog->isVisible() && presses == 1) {
                shown = field->text();
                QTimer::singleShot(0, look);
            } else if (dialog->isVisible()) {
                dialog->reject(); // a name it will not take
            }
        };
        QTimer::singleShot(0, look);
        const QUrl chosen = panel.runModal();
        return std::make_pair(QFileInfo(chosen.toLocalFile()).fileName(), shown);
    };
    EXPECT_EQ(chooseTyping("typed.gif"), std::make_pair(QString("typed.jpg"), QString("typed.jpg")));
    const auto tiff = chooseTyping("typed.tif");
    EXPECT_EQ(tiff.first, "typed.tif") << "the owner switched to its format";
    EXPECT_TRUE(tiff.second.isEmpty()) << "accepted at once";
    EXPECT_EQ(panel.allowedFileTypes(), QStringList({"tiff", "tif"}));
}

TEST(SavePanelDialog, NamedTypesListUnderTheirName)
{
    setSavePanelPresenter(nullptr);
    SavePanelRequest request;
    request.directory = testsupport::scratchDir();
    request.allowedTypes = {QString::fromLatin1(TypeTable::kFrames)};
    request.typesName = QStringLiteral("Frame archives");
    QStringList filters;
    std::function<void()> look = [&] {
        QFileDialog *dialog = shownDialog();
        if (!dialog) {
            QTimer::singleShot(10, look);
            return;
        }
        filters = dialog->nameFilters();
        QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    };
    QTimer::singleShot(0, look);
    EXPECT_TRUE(runSavePanel(request).isEmpty());
    EXPECT_EQ(filters, QStringList{"Frame archives (*.ktframes)"});
}

TEST(SavePanelDialog, AChosenNameGetsAnAcceptedExtension)
{
    const QStringList jpeg = {"jpg", "jpeg"};
    EXPECT_EQ(SavePanel::withAcceptedExtension(QUrl::fromLocalFile("/t/a.JPEG"), jpeg), QUrl::fromLocalFile("/t/a.JPEG"));
    EXPECT_EQ(SavePanel::withAcceptedExtension(QUrl::fromLocalFile("/t/a"), jpeg), QUrl::fromLocalFile("/t/a.jpg"));
    EXPECT_EQ(SavePanel::withAcceptedExtension(QUrl::fromLocalFile("/t/a.png"), jpeg),
              QUrl::fromLocalFile("/t/a.png.jpg"));
    EXPECT_EQ(SavePanel::withAcceptedExtension(QUrl(), jpeg), QUrl());
    EXPECT_EQ(SavePanel::withAcceptedExtension(QUrl::fromLocalFile("/t/a"), {}), QUrl::fromLocalFile("/t/a"));

    // Presenters see the panel itself and its accessory.
    SavePanel panel;
    panel.setAllowedFileTypes({"psd"});
    const SavePanel *seen = nullptr;
    setSavePanelPresenter([&](const SavePanelRequest &request) {
        seen = request.panel;
        return QUrl::fromLocalFile("/t/b");
    });
    EXPECT_EQ(panel.runModal(), QUrl::fromLocalFile("/t/b.psd"));
    EXPECT_EQ(seen, &panel);
    setSavePanelPresenter(nullptr);
}
