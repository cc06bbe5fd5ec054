#include "editor/KTTemplateControlsViewController.h"

#include "design/KTTemplate.h"
#include "design/ui/KTReportView.h"
#include "editor/JoystickView.h"
#include "editor/KTBoundControls.h"
#include "platform/ui/Document.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUndoStack>
#include <QVBoxLayout>

KTTemplateControlsViewController::KTTemplateControlsViewController(const QString &nibName,
                                                                   platform::WindowController *windowController,
                                                                   QObject *parent)
    : XSViewController(nibName, windowController, parent)
    , m_controls(new KTBoundControls(this))
{
    m_controls->setUndoStackProvider([this] { return undoStack(); });
}

KTTemplate *KTTemplateControlsViewController::docTemplate() const
{
    return qobject_cast<KTTemplate *>(m_controls->target());
}

QUndoStack *KTTemplateControlsViewController::undoStack() const
{
    if (m_undoStack)
        return m_undoStack;
    platform::WindowController *window = windowController();
    auto *document = window ? qobject_cast<platform::Document *>(window->document()) : nullptr;
    return document && document->hasUndoManager() ? document->undoManager() : nullptr;
}

void KTTemplateControlsViewController::setRepresentedObject(const QVariant &object)
{
    XSViewController::setRepresentedObject(object);
    view();
    m_controls->setTarget(qobject_cast<KTTemplate *>(object.value<QObject *>()));
    if (m_shadowsControl)
        m_shadowsControl->setHasSelection(docTemplate() != nullptr);
}

void KTTemplateControlsViewController::showReport()
{
    if (KTTemplate *design = docTemplate())
        KTReportView::createDesignReport(design->shared_from_this());
}

QWidget *KTTemplateControlsViewController::loadView()
{
    auto *view = new QWidget;
    view->setObjectName(nibName());
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(8, 6, 8, 8);

    auto *shadowRow = new QHBoxLayout;
    m_shadowsControl = new JoystickView;
    m_shadowsControl->setToolTip(tr("Drag to set the direction and length of the shadow"));
    shadowRow->addWidget(m_shadowsControl);
    auto *side = new QVBoxLayout;
    auto *title = new QLabel(tr("Shadow"));
    side->addWidget(title);
    m_controls->addCheckBox(side, tr("Show shadows"), "drawShadows");
    side->addStretch(1);
    m_showDesignReportButton = new QPushButton(tr("Design Report"));
    connect(m_showDesignReportButton, &QPushButton::clicked, this, &KTTemplateControlsViewController::showReport);
    side->addWidget(m_showDesignReportButton);
    shadowRow->addLayout(side, 1);
    layout->addLayout(shadowRow);

    m_framedSizeLabel = new QLabel;
    m_framedSizeLabel->setObjectName(QStringLiteral("framedSizeLabel"));
    layout->addWidget(m_framedSizeLabel);
    layout->addStretch(1);

    QPointer<JoystickView> joystick(m_shadowsControl);
    QPointer<QLabel> size(m_framedSizeLabel);
    m_controls->addRefresher([this, joystick, size] {
        if (joystick) {
            joystick->setAngle(m_controls->read("shadowAngle").toDouble());
            joystick->setOffset(m_controls->read("shadowOffset").toDouble() * joystick->maxOffset());
        }
        if (size) {
            const QString framed = m_controls->read("framedSizeString").toString();
            size->setText(framed.isEmpty() ? QString() : tr("Framed size: %1").arg(framed));
        }
    });
    connect(m_shadowsControl, &JoystickView::edited, m_controls, [this](double angle, double offset, bool starts) {
        m_controls->write({{"shadowAngle", angle}, {"shadowOffset", offset}}, !starts);
    });
    return view;
}
