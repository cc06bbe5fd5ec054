#pragma once

#include <QString>
#include <functional>

// Helpers shared by every test program.
namespace testsupport {

// A fresh folder for this test process, removed when the process ends.
QString scratchDir();

// Runs the event loop until `done` answers true or `timeoutMs` passes;
// answers whether `done` became true.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 5000);

// The folder of small files shipped with the tests.
QString dataDir();

// The python3 to run interop checks with: the system's own when present
// (quick to start), else the first on PATH.
QString python3();

} // namespace testsupport
