#include "app/HXPrefsWindowController.h"

#include "platform/Assert.h"
#include "platform/UserDefaults.h"
#include "platform/ui/WindowPlacement.h"

#include <QAction>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QActionGroup>
#include <QIcon>
#include <QMainWindow>
#include <QToolBar>
#include <QVBoxLayout>

HXPrefsWindowController::HXPrefsWindowController(QObject *parent)
    : platform::WindowController(QString::fromLatin1(kNibName), parent)
{
}

HXPrefsWindowController::~HXPrefsWindowController() = default;

QWidget *HXPrefsWindowController::loadWindow()
{
    auto *window = new QMainWindow(nullptr, Qt::Dialog);
    window->setObjectName(windowNibName());
    m_contentSubview = new QWidget(window);
    m_contentSubview->setObjectName(QStringLiteral("contentSubview"));
    auto *layout = new QVBoxLayout(m_contentSubview);
    layout->setContentsMargins(0, 0, 0, 0);
    window->setCentralWidget(m_contentSubview);
    return window;
}

void HXPrefsWindowController::windowWillClose()
{
    if (QWidget *w = isWindowLoaded() ? window() : nullptr)
        platform::UserDefaults::standard().setObject(QString::fromLatin1(kFrameAutosaveName), w->saveGeometry());
}

void HXPrefsWindowController::addView(QWidget *view, const QString &label)
{
    addView(view, label, label);
}

void HXPrefsWindowController::addView(QWidget *view, const QString &label, const QString &imageName)
{
    KT_ASSERT(view, kNilView);
    if (!view)
        return;
    const QString identifier = label;
    m_toolbarIdentifiers.append(identifier);
    m_toolbarViews.insert(identifier, view);
    auto *item = new QAction(QIcon::fromTheme(imageName.toLower()), label, this);
    item->setObjectName(identifier);
    item->setCheckable(true);
    connect(item, &QAction::triggered, this, [this, identifier] { displayViewForIdentifier(identifier, true); });
    m_toolbarItems.insert(identifier, item);
}

void HXPrefsWindowController::showWindow()
{
    auto *window = static_cast<QMainWindow *>(this->window());
    m_toolbarIdentifiers.clear();
    m_toolbarViews.clear();
    for (const QPointer<QAction> &item : std::as_const(m_toolbarItems))
        delete item.data();
    m_toolbarItems.clear();
    setupToolbar();
    KT_ASSERT(!m_toolbarIdentifiers.isEmpty(), kNoItems);
    if (m_toolbarIdentifiers.isEmpty())
        return;
    if (!m_toolbar) {
        m_toolbar = window->addToolBar(QString::fromLatin1(kToolbarIdentifier));
        m_toolbar->setObjectName(QString::fromLatin1(kToolbarIdentifier));
        m_toolbar->setMovable(false);
        m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        window->setContextMenuPolicy(Qt::NoContextMenu);
    }
    m_toolbar->clear();
    auto *group = new QActionGroup(m_toolbar);
    for (const QString &identifier : std::as_const(m_toolbarIdentifiers)) {
        group->addAction(m_toolbarItems.value(identifier));
        m_toolbar->addAction(m_toolbarItems.value(identifier));
    }
    m_currentView.clear();
    displayViewForIdentifier(m_toolbarIdentifiers.constFirst());
    const QByteArray frame =
        platform::UserDefaults::standard().dataForKey(QString::fromLatin1(kFrameAutosaveName));
    if (!frame.isEmpty())
        window->restoreGeometry(frame);
    else if (!window->isVisible())
        platform::placeWindowOnScreen(window); // the first time: not stuck in a corner
    platform::WindowController::showWindow();
    window->raise();
    window->activateWindow();
}

void HXPrefsWindowController::displayViewForIdentifier(const QString &identifier, bool animate)
{
    QWidget *view = m_toolbarViews.value(identifier);
    if (!view || view == m_currentView)
        return;
    endCrossFade();
    const QPointer<QWidget> oldView = m_currentView;
    auto *layout = static_cast<QVBoxLayout *>(m_contentSubview->layout());
    if (m_currentView) {
        layout->removeWidget(m_currentView);
        m_currentView->hide();
    }
    if (view->parent() != m_contentSubview)
        view->setParent(m_contentSubview);
    layout->addWidget(view, 0, Qt::AlignTop);
    view->show();
    m_currentView = view;
    if (QAction *item = m_toolbarItems.value(identifier))
        item->setChecked(true);
    // The window fits the pane; its top edge stays where it was. pos() and
    // move() both mean the frame's corner, title bar included.
    QWidget *w = window();
    const QPoint corner = w->pos();
    w->setWindowTitle(identifier);
    w->setFixedSize(QSize(std::max(view->sizeHint().width(), 420),
                          view->sizeHint().height() + (m_toolbar ? m_toolbar->sizeHint().height() : 0)));
    w->move(corner);
    if (QWidget *first = view->nextInFocusChain(); first && view->isAncestorOf(first))
        first->setFocus();
    if (animate && m_crossFade && oldView)
        crossFadeView(oldView, view);
}

void HXPrefsWindowController::crossFadeView(QWidget *oldView, QWidget *newView)
{
    const bool slow = m_shiftSlowsAnimation && (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier);
    const int duration = slow ? kSlowCrossFadeMilliseconds : kCrossFadeMilliseconds;
    // The old pane stays on top of the new one, outside the layout, while it fades.
    m_fadingView = oldView;
    oldView->setGeometry(QRect(QPoint(0, 0), oldView->size()));
    oldView->show();
    oldView->raise();
    auto *group = new QParallelAnimationGroup(this);
    auto fade = [&](QWidget *view, double from, double to) {
        auto *effect = new QGraphicsOpacityEffect(view);
        effect->setOpacity(from);
        view->setGraphicsEffect(effect);
        auto *animation = new QPropertyAnimation(effect, "opacity", group);
        animation->setDuration(duration);
        animation->setStartValue(from);
        animation->setEndValue(to);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        group->addAnimation(animation);
    };
    fade(oldView, 1.0, 0.0);
    fade(newView, 0.0, 1.0);
    connect(group, &QAbstractAnimation::finished, this, &HXPrefsWindowController::endCrossFade);
    m_viewAnimation = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void HXPrefsWindowController::endCrossFade()
{
    if (m_viewAnimation) {
        QAbstractAnimation *running = m_viewAnimation;
        m_viewAnimation.clear();
        running->stop(); // deletes itself
    }
    if (m_fadingView) {
        m_fadingView->hide();
        m_fadingView->setGraphicsEffect(nullptr);
        m_fadingView.clear();
    }
    if (m_currentView)
        m_currentView->setGraphicsEffect(nullptr);
}
