#include "stores/LibraryItem.h"

#include "kit/VLBlocks.h"
#include "stores/FrameImage.h"
#include "stores/LibraryDates.h"

#include <QLocale>

QImage LibraryItem::iconImage() const
{
    FrameImage *graphic = icon();
    return graphic ? graphic->image() : QImage();
}

QString LibraryItem::lastModifiedString() const
{
    const QDateTime date = lastModified();
    if (!date.isValid())
        return QString();
    return QLocale().toString(date.toLocalTime().date(), QStringLiteral("MMM d, yyyy"));
}

void LibraryItem::willSave()
{
    // A missing date means "now" when the item is written.
    if (!lastUpdated().isValid())
        setLastUpdated(LibraryDates::now());
    if (!lastModified().isValid())
        setLastModified(LibraryDates::now());
}

void LibraryItem::setInsertDefaults(const QString &defaultName)
{
    setName(defaultName);
    setGuid(NSObjectVLGUID::getGUID());
    setLastUpdated(LibraryDates::distantPast());
    setLastModified(LibraryDates::now());
}
