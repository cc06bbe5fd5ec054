#pragma once

#include <functional>

namespace platform {

// Keeps the main thread's loop turning until `done` answers true, as a save
// waits for the work it runs in the background: windows repaint and progress
// panels count, but what the user types or clicks meanwhile is dropped, not
// carried out once the wait is over. While a mouse button is held (a drag
// out of the canvas), the input is held back for the drag that follows
// instead: its release is the drop. A dialog or menu opened during the wait
// runs a loop of its own and takes its input. Answers false if `timeoutMs`
// (>= 0) passed.
bool waitForWork(const std::function<bool()> &done, int sliceMs = 100, int timeoutMs = -1);

} // namespace platform
