#pragma once

// Tells the keyed unarchiver which C++ class stands for each archived class
// name of the design model: the design, every layer class (KTLayerKinds) and
// VLImage. Idempotent and thread-safe; the template archive calls it before
// it reads or writes, so callers need not.
void registerDesignArchiveClasses();
