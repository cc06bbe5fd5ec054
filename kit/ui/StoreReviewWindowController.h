#pragma once

#include "platform/ui/WindowController.h"

#include <QPointer>
#include <QPushButton>

#include <functional>

// Asks the user to rate the application on its store page, now or later.
class VLMASReviewWindowController : public platform::WindowController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "MASReview";
    static constexpr const char *kReviewFeature = "App Store Review 2";
    static constexpr qint64 kRemindLaterLaunches = 7;
    static constexpr const char *kTitleFormat = "Please review %1";

    explicit VLMASReviewWindowController(const QString &appURL, QObject *parent = nullptr);

    QString appURL() const { return m_appURL; }
    void setRemindLaterActionBlock(std::function<void()> block) { m_remindLaterActionBlock = std::move(block); }

    void showWindow() override;
    void rateApp();
    void remindLater();

    // The application's answer to a pending quit, given when the window
    // closes; the shell installs it.
    static void setTerminationReplyHandler(std::function<void(bool)> handler);

    QPushButton *rateButton() const { return m_rateButton; }
    QPushButton *remindLaterButton() const { return m_remindLaterButton; }

protected:
    QWidget *loadWindow() override;
    void windowWillClose() override;

private:
    QString m_appURL;
    std::function<void()> m_remindLaterActionBlock;
    QPointer<QPushButton> m_rateButton;
    QPointer<QPushButton> m_remindLaterButton;
};
