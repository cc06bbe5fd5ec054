#pragma once

namespace kantelo {

// Registers with the shell the document window's controllers that live above
// it: the canvas (which brings the window's layers palette), the library
// panel, the layer settings panels and the design browsers. The program does
// it at start-up; tests do it to build the program's own windows.
void registerWindowControllers();

} // namespace kantelo
