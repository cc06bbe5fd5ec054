#include "platform/ui/MessageBoxPresenter.h"

#include "platform/Error.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace platform;

namespace {
// Clicks the button titled `title` in the message box once it is up.
void clickWhenShown(const QString &title, QStringList *seenTitles, QString *seenText)
{
    QTimer::singleShot(0, [=] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            clickWhenShown(title, seenTitles, seenText);
            return;
        }
        *seenText = box->text() + QLatin1Char('|') + box->informativeText();
        for (QAbstractButton *button : box->buttons()) {
            *seenTitles << button->text();
            if (button->text() == title)
                button->click();
        }
    });
}
} // namespace

TEST(PlatformUiMessageBox, AnswersTheIndexOfTheClickedButton)
{
    AlertRequest request;
    request.messageText = "Could not save changes while quitting. Quit anyway?";
    request.buttons = {"Don't quit", "Quit anyway"};
    QStringList titles;
    QString text;
    clickWhenShown("Quit anyway", &titles, &text);
    EXPECT_EQ(presentAlertWithMessageBox(request), 1);
    EXPECT_EQ(text, request.messageText + "|");
    EXPECT_TRUE(titles.contains("Don't quit"));
}

TEST(PlatformUiMessageBox, EscapeAnswersNoAndAQuestionHasRoomForItsSentences)
{
    AlertRequest request;
    request.messageText = "You are deleting a whole frame set";
    request.informativeText = "Set \"Oak\" contains 10 frames.\nAre you sure you want to delete it?";
    request.buttons = {"No", "Yes", "Yes to All"};
    int width = 0;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        width = box->width();
        if (box->escapeButton())
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->buttons().constLast()->click(); // ends the box, failing the answer
    });
    EXPECT_EQ(presentAlertWithMessageBox(request), 0);
    EXPECT_GE(width, kMinimumAlertWidth);
}

TEST(PlatformUiMessageBox, InstalledPresenterServesRunAlert)
{
    installMessageBoxPresenters();
    AlertRequest request;
    request.messageText = "Only OK";
    QStringList titles;
    QString text;
    clickWhenShown("OK", &titles, &text);
    EXPECT_EQ(runAlert(request), 0);
    EXPECT_EQ(titles, QStringList{"OK"});

    // An error says why it failed and what to do.
    Error error = describedError("Image could not be opened");
    error.userInfo.insert("NSLocalizedFailureReason", "The picture \u201cx.jpg\u201d could not be opened.");
    error.recoverySuggestion = "Choose another photo.";
    clickWhenShown("OK", &titles, &text);
    presentError(error);
    EXPECT_EQ(text, "Image could not be opened|The picture \u201cx.jpg\u201d could not be opened.\n\nChoose another photo.");
    setAlertPresenter(nullptr);
    setErrorPresenter(nullptr);
}
