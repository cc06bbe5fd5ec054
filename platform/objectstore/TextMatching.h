#pragma once

#include <QString>

namespace platform {

// Case- and diacritic-insensitive comparisons, as predicates marked [cd]
// compare: both sides are folded (compatibility decomposition, non-spacing
// marks dropped, case folded) before matching.
namespace TextMatching {
QString fold(const QString &text);
bool containsCD(const QString &text, const QString &part);
bool beginsWithCD(const QString &text, const QString &prefix);
bool equalsCD(const QString &a, const QString &b);
} // namespace TextMatching

} // namespace platform
