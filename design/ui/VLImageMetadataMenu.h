#pragma once

#include <QString>

class QAction;
class QMenu;
class QObject;
class QWidget;
class VLImageMetadataManager;

// The placeholder menu of the text overlay controls, built from the metadata
// manager's entries: each item carries its tag as the action's data.
namespace VLImageMetadataMenu {

// An item with the title and tag, no action, no shortcut.
QAction *menuItemWithTitleAndTag(const QString &title, long tag, QObject *parent);
// "Select" (tag -1) and one item per metadata tag, in tag order.
QMenu *menuForMetadataSelection(const VLImageMetadataManager &manager, QWidget *parent = nullptr);

} // namespace VLImageMetadataMenu
