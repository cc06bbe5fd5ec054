#pragma once

// The application always looks dark, whatever the desktop's theme.
namespace DarkAppearance {
// Sets the dark palette on the running QApplication (nothing without one).
void apply();
bool isApplied();
} // namespace DarkAppearance
