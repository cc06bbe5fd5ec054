#include "app/KTPanelViewController.h"

#include "app/KTPanelView.h"

#include <QPushButton>
#include <QVBoxLayout>

KTPanelViewController::KTPanelViewController(const QString &nibName, platform::WindowController *windowController,
                                             QObject *parent)
    : XSViewController(nibName, windowController, parent)
{
}

KTPanelViewController::~KTPanelViewController() = default;

QWidget *KTPanelViewController::loadView()
{
    auto *view = new KTPanelView;
    view->setObjectName(nibName());
    view->setNextResponder(this);
    connect(view, &KTPanelView::focusedByUser, this, &KTPanelViewController::buttonPressed);
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_titleButton = new QPushButton(view);
    m_titleButton->setObjectName(QStringLiteral("titleButton"));
    m_titleButton->setFixedHeight(kTitleHeight);
    m_titleButton->setFlat(true);
    m_titleButton->setFocusPolicy(Qt::NoFocus);
    m_titleButton->setStyleSheet(QStringLiteral(
        "QPushButton { color: rgb(220,220,220); background: rgb(64,64,66); border: none;"
        " border-bottom: 1px solid rgb(30,30,32); font-weight: bold; letter-spacing: 1px; }"
        "QPushButton:pressed { background: rgb(54,54,56); }"));
    connect(m_titleButton, &QPushButton::clicked, this, &KTPanelViewController::buttonPressed);
    layout->addWidget(m_titleButton);

    m_contentViewHolder = new QWidget(view);
    m_contentViewHolder->setObjectName(QStringLiteral("contentViewHolder"));
    auto *holderLayout = new QVBoxLayout(m_contentViewHolder);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    holderLayout->setSpacing(0);
    // A closed panel is its title strip alone: the content's own minimum
    // size must not push the title aside or spill below the strip.
    holderLayout->setSizeConstraint(QLayout::SetNoConstraint);
    m_contentViewHolder->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    layout->addWidget(m_contentViewHolder, 1);
    return view;
}

void KTPanelViewController::viewDidLoad()
{
    // The content always comes after the view was loaded.
    m_customViewController = nullptr;
    if (m_panelName.isEmpty())
        setPanelName(QString::fromLatin1(kDefaultTitle));
    else
        m_titleButton->setText(m_panelName);
}

void KTPanelViewController::setPanelName(const QString &name)
{
    m_panelName = name;
    if (m_titleButton)
        m_titleButton->setText(name);
}

void KTPanelViewController::setCustomViewController(XSViewController *controller)
{
    view();
    if (controller && controller == m_customViewController)
        return;
    if (XSViewController *old = m_customViewController.data()) {
        if (QWidget *oldView = old->isViewLoaded() ? old->view() : nullptr) {
            m_contentViewHolder->layout()->removeWidget(oldView);
            oldView->setParent(nullptr);
        }
        old->setRepresentedObject(QVariant());
        const QList<platform::ViewController *> children = childViewControllers();
        if (!children.isEmpty())
            children.first()->removeFromParentViewController();
        // The panel owned it; its view goes with it.
        old->deleteLater();
    }
    m_customViewController = controller;
    if (!controller)
        return;
    addChildViewController(controller);
    if (QWidget *content = controller->view()) {
        content->setParent(m_contentViewHolder);
        m_contentViewHolder->layout()->addWidget(content);
        content->show();
    }
    controller->performLayout();
}

void KTPanelViewController::activatePanel()
{
    m_isActive = true;
    if (m_customViewController)
        m_customViewController->activateViewController();
}

void KTPanelViewController::deactivatePanel()
{
    m_isActive = false;
}

void KTPanelViewController::buttonPressed()
{
    if (m_delegate)
        m_delegate->buttonClickedForPanelView(this);
}

void KTPanelViewController::performLayout()
{
    if (m_customViewController)
        m_customViewController->performLayout();
}
