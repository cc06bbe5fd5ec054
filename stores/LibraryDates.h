#pragma once

#include <QDateTime>

// Dates the library stamps on its items.
namespace LibraryDates {
// The earliest date there is: "never updated".
QDateTime distantPast();
QDateTime now();
} // namespace LibraryDates
