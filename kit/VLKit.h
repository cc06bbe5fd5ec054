#pragma once

// The support kit: small helpers every other folder builds on.
//
// How the kit's names map to C++:
// - Free functions keep their names (VLRunBlockOnMainThread, ...); a block
//   becomes a std::function.
// - Additions to a system class (a category) become free functions in a
//   namespace named after the class and the category run together:
//   the category VLExtras on numbers is namespace NSNumberVLExtras, and its
//   `numberEnforcedBetween:and:` is NSNumberVLExtras::numberEnforcedBetweenAnd.
//   The receiver is the first argument.
// - Values stand in for the system classes: QVariant for a number, QString,
//   QDateTime, QList/QSet for arrays and sets, QPainterPath for a bezier path,
//   QColor; a design-space point or rectangle keeps the y-up sense.
// - Widgets stay in kit/ui (the view additions are NSViewVLKit in
//   kit/ui/VLViewAdditions.h); nothing here links them.

#include "kit/VLBlocks.h"
#include "kit/VLCollectionAdditions.h"
#include "kit/VLKitUtils.h"
#include "kit/VLQueue.h"
#include "kit/VLValueAdditions.h"
#include "kit/VLWAnalytics.h"
