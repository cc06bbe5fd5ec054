#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <QWidget>

namespace platform {

// Base of the program's view controllers: a view built on first use (then
// the awake hook), a represented object, child controllers that the parent
// owns, and hooks for the view appearing and disappearing.
class ViewController : public QObject
{
    Q_OBJECT
public:
    explicit ViewController(const QString &nibName = {}, QObject *parent = nullptr);
    ~ViewController() override;

    QString nibName() const { return m_nibName; }

    // Builds the view on first use (loadView, then viewDidLoad). Null once a
    // loaded view was destroyed by its parent widget.
    QWidget *view();
    bool isViewLoaded() const { return m_viewLoaded; }
    // Adopts a view built elsewhere; viewDidLoad runs as after loadView.
    void setView(QWidget *view);

    QVariant representedObject() const { return m_representedObject; }
    virtual void setRepresentedObject(const QVariant &object);

    QString title() const { return m_title; }
    void setTitle(const QString &title) { m_title = title; }

    // The parent owns its children (QObject parentage).
    void addChildViewController(ViewController *child);
    void insertChildViewController(ViewController *child, int index);
    // Leaves the child without parent: the caller owns it afterwards.
    void removeFromParentViewController();
    QList<ViewController *> childViewControllers() const;
    ViewController *parentViewController() const { return m_parentController; }

signals:
    void representedObjectChanged();

protected:
    // Builds the view; by default an empty widget named after the nib.
    virtual QWidget *loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear() {}
    virtual void viewDidAppear() {}
    virtual void viewWillDisappear() {}
    virtual void viewDidDisappear() {}

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void adoptView(QWidget *view);

    QString m_nibName;
    QString m_title;
    QPointer<QWidget> m_view;
    bool m_viewLoaded = false;
    QVariant m_representedObject;
    QList<QPointer<ViewController>> m_children;
    QPointer<ViewController> m_parentController;
};

} // namespace platform
