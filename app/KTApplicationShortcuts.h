#pragma once

class QWidget;

// Open, Quit and Undo for a window without a menu bar: Open shows the open
// panel, Quit ends the application, Undo reaches the current document.
namespace KTApplicationShortcuts {
void install(QWidget *window);
}
