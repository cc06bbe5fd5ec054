#include "kit/ui/VLViewAdditions.h"

#include <QCursor>
#include <QWidget>

namespace NSViewVLKit {

QPoint vl_mouseLocation(const QWidget *view)
{
    if (!view)
        return {};
    return view->mapFromGlobal(QCursor::pos(view->screen()));
}

bool vl_mouseInside(const QWidget *view)
{
    return view && view->rect().contains(vl_mouseLocation(view));
}

} // namespace NSViewVLKit
