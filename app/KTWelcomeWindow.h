#pragma once

#include "platform/ui/WindowController.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include <functional>

// The start window: version and copyright, a way to open a first photo,
// and the progress of the first-run import of the frame library.
class KTWelcomeWindow : public platform::WindowController
{
    Q_OBJECT
public:
    static constexpr const char *kCopyrightTemplate = "Copyright © @ Velmoorsoft. All rights reserved.";

    explicit KTWelcomeWindow(QObject *parent = nullptr);
    ~KTWelcomeWindow() override;

    // Callable from any thread: each queues its change to the main thread,
    // where the changes happen in the order of the calls.
    void startActivity(const QString &activity);
    void endActivity();
    void setActivityProgress(double progress);

    void updateCopyrightYear();
    void updateVersion();

    // Outlets (valid once the window is loaded).
    QLabel *versionLabel() const { return m_versionLabel; }
    QLabel *copyrightLabel() const { return m_copyrightLabel; }
    QLabel *activityLabel() const { return m_activityLabel; }
    QProgressBar *activityProgressIndicator() const { return m_activityProgress; }
    QPushButton *openImageButton() const { return m_openImageButton; }
    // Writes the start-up choice ("ShowWelcomeWindow") as it is toggled.
    QCheckBox *showAtLaunchCheckBox() const { return m_showAtLaunchCheckBox; }

    // The buttons' actions. Each closes the window; the commands of the
    // application go out as signals, web pages open through `openURL`.
    void openImageInWelcome();
    void openTutorial();
    void exploreFrameLibrary();
    void openKanteloSite();
    void batchProcessingInWelcome();
    void readUserManualInWelcome();
    void getSupportInWelcome();
    void subscribeToNewsletterInWelcome();
    void facebookInWelcome();
    void integrationsInWelcome();

    void setOpenURL(std::function<bool(const QUrl &)> openURL) { m_openURL = std::move(openURL); }
    // Buttons of commands this build cannot do are disabled.
    void setBatchProcessingAvailable(bool available);
    void setManualAvailable(bool available);
    // Placed whole on the screen the first time.
    void showWindow() override;
    // At launch: in front, above the start-up document while it shows its
    // start-up picture.
    void showAtLaunch();
    // Stays above the start-up document's window, which may open later, and
    // steps behind it once it shows a photo the user opened.
    void keepInFront();

signals:
    void batchProcessingRequested();
    void manualRequested();
    void supportRequested();
    void newsletterRequested();
    void facebookRequested();

protected:
    QWidget *loadWindow() override;
    void windowDidLoad() override;

private:
    QPointer<QLabel> m_versionLabel;
    QPointer<QLabel> m_copyrightLabel;
    QPointer<QLabel> m_activityLabel;
    QPointer<QProgressBar> m_activityProgress;
    QPointer<QPushButton> m_openImageButton;
    QPointer<QPushButton> m_batchButton;
    QPointer<QPushButton> m_manualButton;
    QPointer<QCheckBox> m_showAtLaunchCheckBox;
    bool m_placed = false;
    std::function<bool(const QUrl &)> m_openURL;

    bool eventFilter(QObject *watched, QEvent *event) override;
    void keepInFrontLater();
    void ownerTookPhoto();
    // Maps the window anew as a dialog of `owner`, or, without one, as a
    // window of its own that others may cover.
    void belongTo(QWidget *owner, bool activate);
    void stepBehind(QWidget *documentWindow);
    // Visible windows that are neither this one nor a document's.
    QList<QWidget *> otherWindows();
    void leaveOtherWindowsInFront();
    // Shown at launch, and the user has not touched anything since.
    bool m_atLaunch = false;
    bool m_watchingLaunch = false;
    bool m_launchEnded = false;
    QPointer<QWidget> m_documentWindow;
    // The start-up document's window this one stays above.
    QPointer<QWidget> m_owner;
    void track(const char *action);
    void openPage(const QUrl &url);
};
