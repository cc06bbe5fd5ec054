#pragma once

#include "app/KTPanelViewController.h"

#include <QList>
#include <QPointer>
#include <QRect>

class QParallelAnimationGroup;

// A vertical stack of panels with exactly one open: the open panel takes
// every point the closed panels' title strips leave free.
class KTPanelManagerViewController : public XSViewController, public KTPanelViewControllerDelegate
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "PanelManagerView";
    static constexpr const char *kPanelOpenedNotification = "panelManagerPanelOpenedNotification";
    static constexpr int kAnimationMs = 250;

    KTPanelManagerViewController(const QString &nibName, platform::WindowController *windowController,
                                 QObject *parent = nullptr);
    ~KTPanelManagerViewController() override;

    QList<KTPanelViewController *> panels() const;
    KTPanelViewController *currentOpenPanel() const { return m_currentOpenPanel.data(); }

    void addPanel(KTPanelViewController *panel);
    void removePanel(KTPanelViewController *panel);
    void openPanelAndAnimate(KTPanelViewController *panel, bool animate);
    void openPanel(KTPanelViewController *panel) { openPanelAndAnimate(panel, true); }
    void openPanelAtIndex(qsizetype index);

    void buttonClickedForPanelView(KTPanelViewController *panel) override;

    // Where each panel goes for the manager's current size (Qt's y-down).
    QList<QRect> panelFrames() const;
    void layoutViewAndAnimate(bool animate);

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<QPointer<KTPanelViewController>> m_panels;
    QPointer<KTPanelViewController> m_currentOpenPanel;
    QPointer<QParallelAnimationGroup> m_animation;
};
