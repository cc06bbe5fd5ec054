#include "kit/ui/VLTableView.h"

#include "platform/NotificationCenter.h"

VLTableView::VLTableView(QWidget *parent)
    : QTableView(parent)
{
}

void VLTableView::focusInEvent(QFocusEvent *event)
{
    platform::NotificationCenter::defaultCenter().post(QString::fromLatin1(kFirstResponderNotification),
                                                       this);
    QTableView::focusInEvent(event);
}
