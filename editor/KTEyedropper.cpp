#include "editor/KTEyedropper.h"

#include "kit/ui/VLColorWell.h"

#include <QApplication>
#include <QColorDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

namespace {

QPointer<KTEyedropper> &current()
{
    static QPointer<KTEyedropper> picking;
    return picking;
}

} // namespace

KTEyedropper::KTEyedropper(VLColorWell *well)
    : QObject(qApp)
    , m_well(well)
{
}

void KTEyedropper::pickColorForWell(VLColorWell *well)
{
    if (!well || current())
        return;
    auto *picker = new KTEyedropper(well);
    current() = picker;
    picker->m_dialogWasVisible = VLColorWell::sharedColorDialogIsVisible();
    QApplication::setOverrideCursor(Qt::CrossCursor);
    qApp->installEventFilter(picker);
}

bool KTEyedropper::isPicking()
{
    return current() != nullptr;
}

bool KTEyedropper::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            finish();
        return true;
    }
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto *widget = qobject_cast<QWidget *>(watched);
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (!widget || mouse->button() != Qt::LeftButton)
            return true;
        QWidget *window = widget->window();
        const QPoint at = widget->mapTo(window, mouse->position().toPoint());
        const QImage pixel = window->grab(QRect(at, QSize(1, 1))).toImage();
        if (!pixel.isNull() && m_well) {
            const QColor picked = pixel.pixelColor(0, 0);
            m_well->activate();
            VLColorWell::sharedColorDialog()->setCurrentColor(picked);
        }
        finish();
        return true;
    }
    default:
        return false;
    }
}

void KTEyedropper::finish()
{
    qApp->removeEventFilter(this);
    QApplication::restoreOverrideCursor();
    if (!m_dialogWasVisible)
        VLColorWell::sharedColorDialog()->hide();
    current() = nullptr;
    deleteLater();
}
