#include "design/ui/VLImageMetadataMenu.h"

#include "design/VLImageMetadataManager.h"

#include <QAction>
#include <QMenu>

namespace VLImageMetadataMenu {

QAction *menuItemWithTitleAndTag(const QString &title, long tag, QObject *parent)
{
    auto *action = new QAction(title, parent);
    action->setData(qlonglong(tag));
    return action;
}

QMenu *menuForMetadataSelection(const VLImageMetadataManager &manager, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    for (const auto &item : manager.menuItemsForMetadataSelection())
        menu->addAction(menuItemWithTitleAndTag(item.title, item.tag, menu));
    return menu;
}

} // namespace VLImageMetadataMenu
