#include "app/KTPanelManagerViewController.h"

#include "platform/NotificationCenter.h"

#include <QEvent>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QWidget>

#include <algorithm>

KTPanelManagerViewController::KTPanelManagerViewController(const QString &nibName,
                                                           platform::WindowController *windowController,
                                                           QObject *parent)
    : XSViewController(nibName, windowController, parent)
{
    m_panels.reserve(3);
}

KTPanelManagerViewController::~KTPanelManagerViewController() = default;

QWidget *KTPanelManagerViewController::loadView()
{
    auto *view = new QWidget;
    view->setObjectName(nibName());
    view->setAutoFillBackground(true);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Window, QColor(40, 40, 42));
    view->setPalette(palette);
    view->setMinimumWidth(1);
    return view;
}

void KTPanelManagerViewController::viewDidLoad()
{
    // Frame changes relayout at once (the base already watches the view).
}

bool KTPanelManagerViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize && isViewLoaded() && watched == view())
        layoutViewAndAnimate(false);
    return XSViewController::eventFilter(watched, event);
}

QList<KTPanelViewController *> KTPanelManagerViewController::panels() const
{
    QList<KTPanelViewController *> out;
    for (const QPointer<KTPanelViewController> &panel : m_panels) {
        if (panel)
            out.append(panel.data());
    }
    return out;
}

void KTPanelManagerViewController::addPanel(KTPanelViewController *panel)
{
    if (!panel)
        return;
    m_panels.append(panel);
    addChildViewController(panel);
    panel->setDelegate(this);
    QWidget *panelView = panel->view();
    panelView->setParent(view());
    panelView->show();
}

void KTPanelManagerViewController::removePanel(KTPanelViewController *panel)
{
    if (!m_panels.removeOne(panel))
        return;
    if (panel->parentViewController() == this)
        panel->removeFromParentViewController();
    if (panel->isViewLoaded() && panel->view())
        panel->view()->hide();
    if (m_currentOpenPanel == panel)
        m_currentOpenPanel = nullptr;
    if (panels().size() >= 2)
        openPanel(panels().first());
}

void KTPanelManagerViewController::openPanelAtIndex(qsizetype index)
{
    const QList<KTPanelViewController *> all = panels();
    if (index >= 0 && index < all.size())
        openPanel(all.at(index));
}

void KTPanelManagerViewController::openPanelAndAnimate(KTPanelViewController *panel, bool animate)
{
    if (m_currentOpenPanel)
        m_currentOpenPanel->deactivatePanel();
    m_currentOpenPanel = panel;
    layoutViewAndAnimate(animate);
    if (panel) {
        panel->activatePanel();
        // The content chose its first key view while it was activated.
        XSViewController *content = panel->customViewController();
        QWidget *contentView = content && content->isViewLoaded() ? content->view() : nullptr;
        QWidget *next = contentView ? contentView->nextInFocusChain() : nullptr;
        if (next && next != contentView && contentView->isAncestorOf(next) && next->focusPolicy() != Qt::NoFocus)
            next->setFocus(Qt::OtherFocusReason);
    }
    platform::NotificationCenter::defaultCenter().post(QString::fromLatin1(kPanelOpenedNotification), this);
}

void KTPanelManagerViewController::buttonClickedForPanelView(KTPanelViewController *panel)
{
    if (panel != m_currentOpenPanel)
        openPanel(panel);
}

QList<QRect> KTPanelManagerViewController::panelFrames() const
{
    const QList<KTPanelViewController *> all = panels();
    QWidget *managerView = const_cast<KTPanelManagerViewController *>(this)->view();
    const int width = managerView->width();
    const int height = managerView->height();
    const int n = int(all.size());
    const int strip = KTPanelViewController::kTitleHeight;
    QList<QRect> frames;
    // Measured from the top: each panel below the open one keeps its strip.
    int top = 0;
    for (int i = 0; i < n; ++i) {
        int h = strip;
        if (all.at(i) == m_currentOpenPanel.data()) {
            // A window shorter than the strips need gives the open panel no
            // room, never a negative height.
            h = std::max(0, height - top - strip * (n - i - 1));
        }
        frames.append(QRect(0, top, width, h));
        top += h;
    }
    return frames;
}

void KTPanelManagerViewController::layoutViewAndAnimate(bool animate)
{
    if (!isViewLoaded() || !view())
        return;
    if (m_animation) {
        m_animation->stop();
        m_animation->deleteLater();
        m_animation = nullptr;
    }
    const QList<KTPanelViewController *> all = panels();
    const QList<QRect> frames = panelFrames();
    if (animate && view()->isVisible()) {
        auto *group = new QParallelAnimationGroup(this);
        for (qsizetype i = 0; i < all.size(); ++i) {
            auto *move = new QPropertyAnimation(all.at(i)->view(), "geometry", group);
            move->setDuration(kAnimationMs);
            move->setEndValue(frames.at(i));
            group->addAnimation(move);
        }
        m_animation = group;
        group->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        for (qsizetype i = 0; i < all.size(); ++i)
            all.at(i)->view()->setGeometry(frames.at(i));
    }
    for (KTPanelViewController *panel : all)
        panel->view()->update();
}
