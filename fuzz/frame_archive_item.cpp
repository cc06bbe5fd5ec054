// The item files of a frame archive: read as dictionaries, checked key by
// key as the importer checks them, and searched for the graphics they name.
#include "stores/FrameArchiveFolder.h"
#include "stores/LibraryItemDictionary.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace LibraryItemDictionary;
    static QTemporaryDir folder;
    static const bool made = QDir(folder.path()).mkpath("Collections") && QDir(folder.path()).mkpath("Frames")
                             && QDir(folder.path()).mkpath("Images");
    if (!made)
        __builtin_trap();
    for (const char *name : {"/Collections/C", "/Frames/F"}) {
        QFile file(folder.path() + name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            __builtin_trap();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    const std::optional<QVariantMap> item = FrameArchiveFolder::readItem(folder.path() + "/Frames/F");
    FrameArchiveFolder::referencedGraphics(folder.path());
    if (!item)
        return 0;
    describe(*item);
    for (const char *key : {kName, kGUID, kDescription, kURL, kIconGUID, kFrameCollectionGUID, kFramesetGUID,
                            kFrametype, kFilename}) {
        stringForKey(*item, key);
        guidForKey(*item, key);
    }
    const QVariantMap attributes = dictionaryForKey(*item, kAttributes);
    const QVariantMap kinds = dictionaryForKey(*item, kAttributeKinds);
    for (auto it = attributes.cbegin(); it != attributes.cend(); ++it) {
        attributeValueForKind(it.key(), it.value(), int(kinds.value(it.key()).toLongLong()));
        for (int kind = KindString; kind <= KindColor; ++kind)
            attributeValueForKind(it.key(), it.value(), kind);
    }
    return 0;
}
