#pragma once

#include "kit/ui/VLForwardingView.h"

#include <QPointer>

class KTPanelViewController;

// The grey ground of a panel. Taking the keyboard focus opens its panel, so
// tabbing into a closed panel opens it.
class KTPanelView : public VLForwardingView
{
    Q_OBJECT
public:
    static constexpr int kGreyLevel = 88; // of 255

    explicit KTPanelView(QWidget *parent = nullptr);

    KTPanelViewController *nextResponder() const { return m_nextResponder.data(); }
    void setNextResponder(KTPanelViewController *controller) { m_nextResponder = controller; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QPointer<KTPanelViewController> m_nextResponder;
};
