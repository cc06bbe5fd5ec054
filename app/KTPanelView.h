#pragma once

#include "kit/ui/VLForwardingView.h"

#include <QPointer>

// The grey ground of a panel. Taking the keyboard focus opens its panel, so
// tabbing into a closed panel opens it.
class KTPanelView : public VLForwardingView
{
    Q_OBJECT
public:
    static constexpr int kGreyLevel = 88; // of 255

    explicit KTPanelView(QWidget *parent = nullptr);

    // The panel's controller.
    QObject *nextResponder() const { return m_nextResponder.data(); }
    void setNextResponder(QObject *controller) { m_nextResponder = controller; }

signals:
    // The user moved the keyboard focus into the panel.
    void focusedByUser();

protected:
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QPointer<QObject> m_nextResponder;
};
