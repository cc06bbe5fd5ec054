#include "kit/ui/VLColorWell.h"

#include <QColorDialog>
#include <QMouseEvent>
#include <QPainter>

namespace {

QPointer<VLColorWell> &activeWellPointer()
{
    static QPointer<VLColorWell> well;
    return well;
}

} // namespace

VLColorWell::VLColorWell(QWidget *parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

VLColorWell::~VLColorWell()
{
    deactivate();
}

void VLColorWell::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
    emit colorChanged(color);
}

QColorDialog *VLColorWell::sharedColorDialog()
{
    static QPointer<QColorDialog> dialog;
    if (!dialog) {
        dialog = new QColorDialog;
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        dialog->setWindowTitle(QObject::tr("Colors"));
        dialog->setOptions(QColorDialog::ShowAlphaChannel | QColorDialog::NoButtons
                           | QColorDialog::DontUseNativeDialog);
        dialog->setModal(false);
        QObject::connect(dialog, &QColorDialog::currentColorChanged, dialog, [](const QColor &color) {
            VLColorWell *well = activeWellPointer().data();
            if (!well || !color.isValid() || color == well->color())
                return;
            well->setColor(color);
            emit well->colorEdited(color);
        });
    }
    return dialog;
}

bool VLColorWell::sharedColorDialogIsVisible()
{
    return sharedColorDialog()->isVisible();
}

VLColorWell *VLColorWell::activeWell()
{
    return activeWellPointer().data();
}

void VLColorWell::activate()
{
    QColorDialog *dialog = sharedColorDialog();
    VLColorWell *old = activeWellPointer().data();
    // The dialog shows this well's colour before the well listens to it.
    activeWellPointer() = nullptr;
    if (old && old != this)
        old->update();
    dialog->setCurrentColor(m_color);
    activeWellPointer() = this;
    update();
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void VLColorWell::deactivate()
{
    if (activeWellPointer().data() == this) {
        activeWellPointer() = nullptr;
        update();
    }
}

bool VLColorWell::isActive() const
{
    return activeWellPointer().data() == this;
}

void VLColorWell::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.fillRect(r, palette().button());
    const QRectF swatch = r.adjusted(3, 3, -3, -3);
    // A checkerboard under the colour shows its transparency.
    if (m_color.alpha() < 255) {
        const int cell = 5;
        for (int y = 0; y * cell < swatch.height(); ++y)
            for (int x = 0; x * cell < swatch.width(); ++x)
                painter.fillRect(QRectF(swatch.x() + x * cell, swatch.y() + y * cell, cell, cell)
                                     .intersected(swatch),
                                 (x + y) % 2 ? Qt::lightGray : Qt::white);
    }
    painter.fillRect(swatch, m_color);
    painter.setPen(isActive() ? QPen(palette().highlight().color(), 2) : QPen(Qt::black, 1));
    painter.drawRect(isActive() ? r.adjusted(0.5, 0.5, -0.5, -0.5) : swatch);
}

void VLColorWell::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && isEnabled())
        activate();
}
