#include "frameeditor/KTEImagesMimeData.h"

#include "platform/archive/PropertyList.h"

KTEImagesMimeData::KTEImagesMimeData(const QStringList &guids)
{
    QVariantList list;
    for (const QString &guid : guids)
        list.append(guid);
    setData(QString::fromLatin1(kPasteboardType), platform::PropertyList::write(list, platform::PropertyList::Format::XML));
}

QStringList KTEImagesMimeData::frameImageGUIDs(const QMimeData *data)
{
    const QString type = QString::fromLatin1(kPasteboardType);
    if (!data || !data->hasFormat(type))
        return {};
    const QVariant value = platform::PropertyList::read(data->data(type));
    if (value.metaType().id() != QMetaType::QVariantList)
        return {};
    QStringList guids;
    for (const QVariant &entry : value.toList()) {
        if (entry.metaType().id() != QMetaType::QString)
            return {};
        guids.append(entry.toString());
    }
    return guids;
}
