#include "batch/KTFilenameFormatter.h"

bool KTFilenameFormatter::isPartialStringValid(const QString &proposed)
{
    return !proposed.contains(QLatin1Char('/')) && !proposed.contains(QLatin1Char(':'));
}
