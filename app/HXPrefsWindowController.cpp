#include "app/HXPrefsWindowController.h"

#include "platform/Assert.h"
#include "platform/UserDefaults.h"
#include "platform/ui/WindowPlacement.h"

#include <QAction>
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
    connect(item, &QAction::triggered, this, [this, identifier] { displayViewForIdentifier(identifier); });
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

void HXPrefsWindowController::displayViewForIdentifier(const QString &identifier)
{
    QWidget *view = m_toolbarViews.value(identifier);
    if (!view || view == m_currentView)
        return;
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
}
