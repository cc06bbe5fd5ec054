#include "stores/LibraryDates.h"

#include <QTimeZone>

namespace LibraryDates {

QDateTime distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), QTimeZone::utc());
}

QDateTime now()
{
    // Whole milliseconds: what the store keeps, so a date reads back equal.
    return QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch(), QTimeZone::utc());
}

} // namespace LibraryDates
