#pragma once

#include "platform/ui/WindowController.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

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

    // Closes, then runs the Open command.
    void openImageInWelcome();

protected:
    QWidget *loadWindow() override;
    void windowDidLoad() override;

private:
    QPointer<QLabel> m_versionLabel;
    QPointer<QLabel> m_copyrightLabel;
    QPointer<QLabel> m_activityLabel;
    QPointer<QProgressBar> m_activityProgress;
    QPointer<QPushButton> m_openImageButton;
};
