#pragma once

#include "editor/JoystickView.h"
#include "kit/ui/XSViewController.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>

class KTBoundControls;
class KTTemplate;
class QUndoStack;

// The design settings panel: the design's shadow (the joystick), its framed
// size and the design report.
class KTTemplateControlsViewController : public XSViewController
{
    Q_OBJECT
public:
    KTTemplateControlsViewController(const QString &nibName, platform::WindowController *windowController,
                                     QObject *parent = nullptr);

    KTTemplate *docTemplate() const;
    // A KTTemplate.
    void setRepresentedObject(const QVariant &object) override;
    void showReport();

    JoystickView *shadowsControl() const { return m_shadowsControl; }
    QLabel *framedSizeLabel() const { return m_framedSizeLabel; }
    QPushButton *showDesignReportButton() const { return m_showDesignReportButton; }
    KTBoundControls *controls() const { return m_controls; }
    void setUndoStack(QUndoStack *stack) { m_undoStack = stack; }

protected:
    QWidget *loadView() override;

private:
    QUndoStack *undoStack() const;

    KTBoundControls *m_controls;
    QPointer<JoystickView> m_shadowsControl;
    QPointer<QLabel> m_framedSizeLabel;
    QPointer<QPushButton> m_showDesignReportButton;
    QPointer<QUndoStack> m_undoStack;
};
