#pragma once

#include "platform/objectstore/ManagedObjectContext.h"

#include <QPointer>

// The stores designs are read against, handed down by the program's windows
// and the command line: the frame library's main context, where frame
// layers find their frames, and the saved designs' context. Either may be
// missing: frames then count as missing, saved designs as not found. Used on
// the main thread only.
struct KTDesignStores {
    QPointer<platform::ManagedObjectContext> library;
    QPointer<platform::ManagedObjectContext> templates;
};
