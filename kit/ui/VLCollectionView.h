#pragma once

#include <QListView>
#include <QPointer>

class VLCollectionViewDelegate;

// A collection view (a list in icon mode) that hands double clicks and the
// context menu to its delegate, and leaves the keys that act on the
// selection (Delete, Forward Delete, Return, Enter, Space) to its parent.
class VLCollectionView : public QListView
{
    Q_OBJECT
public:
    explicit VLCollectionView(QWidget *parent = nullptr);

    // Held weakly; the object must implement VLCollectionViewDelegate.
    QObject *vlDelegate() const { return m_delegate.data(); }
    void setVlDelegate(QObject *delegate) { m_delegate = delegate; }

    // Whether a key goes to the next responder instead of the view.
    static bool isForwardedKey(const QKeyEvent *event);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    VLCollectionViewDelegate *delegateInterface() const;

    QPointer<QObject> m_delegate;
};
