#include "platform/ui/ViewController.h"

#include <QEvent>

namespace platform {

ViewController::ViewController(const QString &nibName, QObject *parent)
    : QObject(parent)
    , m_nibName(nibName)
{
}

ViewController::~ViewController()
{
    // A view inside a window belongs to that window; a loose one is ours.
    if (m_view) {
        m_view->removeEventFilter(this);
        if (!m_view->parentWidget())
            delete m_view.data();
    }
}

QWidget *ViewController::view()
{
    if (!m_viewLoaded)
        adoptView(loadView());
    return m_view.data();
}

void ViewController::setView(QWidget *view)
{
    if (m_view == view)
        return;
    if (m_view)
        m_view->removeEventFilter(this);
    adoptView(view);
}

void ViewController::adoptView(QWidget *view)
{
    m_viewLoaded = true;
    m_view = view;
    if (m_view)
        m_view->installEventFilter(this);
    viewDidLoad();
}

QWidget *ViewController::loadView()
{
    auto *widget = new QWidget;
    widget->setObjectName(m_nibName);
    return widget;
}

void ViewController::setRepresentedObject(const QVariant &object)
{
    m_representedObject = object;
    emit representedObjectChanged();
}

void ViewController::addChildViewController(ViewController *child)
{
    insertChildViewController(child, int(m_children.size()));
}

void ViewController::insertChildViewController(ViewController *child, int index)
{
    if (!child || child == this)
        return;
    child->removeFromParentViewController();
    m_children.removeAll(nullptr);
    child->setParent(this);
    child->m_parentController = this;
    m_children.insert(qBound(0, index, int(m_children.size())), child);
}

void ViewController::removeFromParentViewController()
{
    if (!m_parentController)
        return;
    m_parentController->m_children.removeAll(this);
    m_parentController = nullptr;
    setParent(nullptr);
}

QList<ViewController *> ViewController::childViewControllers() const
{
    QList<ViewController *> children;
    for (const auto &child : m_children) {
        if (child)
            children.append(child.data());
    }
    return children;
}

bool ViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view) {
        if (event->type() == QEvent::Show) {
            viewWillAppear();
            viewDidAppear();
        } else if (event->type() == QEvent::Hide) {
            viewWillDisappear();
            viewDidDisappear();
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace platform
