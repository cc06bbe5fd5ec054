#pragma once

#include <QMutex>
#include <QPointer>
#include <QVariant>
#include <QWidget>

class VLForwardingViewProtocol;

// A view that hands its drawing to a target object. The target is held
// weakly: once it is gone the view simply draws nothing.
class VLForwardingView : public QWidget
{
    Q_OBJECT
public:
    explicit VLForwardingView(QWidget *parent = nullptr);

    // The target must implement VLForwardingViewProtocol.
    QObject *target() const { return m_target.data(); }
    void setTarget(QObject *target);

    // Slots for the target's own use; the view never reads them.
    QVariant forwardContext() const;
    void setForwardContext(const QVariant &context);
    void *bitmapContext() const { return m_bitmapContext; }
    void setBitmapContext(void *context) { m_bitmapContext = context; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<QObject> m_target;
    mutable QMutex m_contextMutex;
    QVariant m_forwardContext;
    void *m_bitmapContext = nullptr;
};
