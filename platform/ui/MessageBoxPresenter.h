#pragma once

#include "platform/Alert.h"

namespace platform {

// Asks with a real QMessageBox at least kMinimumAlertWidth wide; the first
// button is the default, and Escape picks a button named "Cancel" when there
// is one, else one named "No".
constexpr int kMinimumAlertWidth = 380;
int presentAlertWithMessageBox(const AlertRequest &request);

// Makes alerts and errors show in message boxes. The application calls this
// once it has a QApplication; tests keep their own presenters instead.
void installMessageBoxPresenters();

} // namespace platform
