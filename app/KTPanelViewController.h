#pragma once

#include "kit/ui/XSViewController.h"

#include <QPointer>

class KTPanelView;
#include <QPushButton>

class KTPanelViewController;

// Told when a panel's title is clicked: the panel manager.
class KTPanelViewControllerDelegate
{
public:
    virtual ~KTPanelViewControllerDelegate() = default;
    virtual void buttonClickedForPanelView(KTPanelViewController *panel) = 0;
};

// One collapsible panel: a title button above a content area that holds one
// content controller.
class KTPanelViewController : public XSViewController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "PanelView";
    static constexpr const char *kDefaultTitle = "Default Title";
    static constexpr int kTitleHeight = 38;

    KTPanelViewController(const QString &nibName, platform::WindowController *windowController,
                          QObject *parent = nullptr);
    ~KTPanelViewController() override;

    QString panelName() const { return m_panelName; }
    void setPanelName(const QString &name);
    bool isActive() const { return m_isActive; }

    XSViewController *customViewController() const { return m_customViewController.data(); }
    // Replaces the content; the old controller loses its view, its
    // represented object and its place among the children.
    void setCustomViewController(XSViewController *controller);

    KTPanelViewControllerDelegate *delegate() const { return m_delegate; }
    void setDelegate(KTPanelViewControllerDelegate *delegate) { m_delegate = delegate; }

    void activatePanel();
    void deactivatePanel();
    // The title button's action.
    void buttonPressed();
    void performLayout() override;

    QPushButton *titleButton() const { return m_titleButton; }
    QWidget *contentViewHolder() const { return m_contentViewHolder; }

protected:
    QWidget *loadView() override;
    void viewDidLoad() override;

private:
    QString m_panelName;
    bool m_isActive = false;
    QPointer<XSViewController> m_customViewController;
    KTPanelViewControllerDelegate *m_delegate = nullptr;
    QPointer<QPushButton> m_titleButton;
    QPointer<QWidget> m_contentViewHolder;
};
