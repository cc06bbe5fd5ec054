#pragma once

#include "platform/objectstore/EntityDescription.h"

#include <QVariant>

namespace platform {

// Values are kept in one type per attribute type, with nil as an invalid
// QVariant, so comparisons and writes are uniform.
QVariant canonical(AttributeType type, const QVariant &value);

// Orders two values of one attribute type; nil sorts first.
int compareValues(AttributeType type, const QVariant &a, const QVariant &b, bool caseInsensitive);

} // namespace platform
