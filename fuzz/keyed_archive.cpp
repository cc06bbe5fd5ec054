// Keyed archives from untrusted bytes: the reader must answer a value or an
// error, never crash; what it answers must archive and read again.
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"

#include <cstdint>

namespace {

// An object class that reads every kind of keyed value.
class FuzzObject : public platform::Coding
{
public:
    QStringList archiveClassNames() const override { return {"FuzzObject", "NSObject"}; }
    void encode(platform::KeyedArchiver &c) const override
    {
        c.encodeBool(flag, "flag");
        c.encodeInt64(number, "number");
        c.encodeFloat(narrow, "narrow");
        c.encodeDouble(wide, "wide");
        c.encodePoint(point, "point");
        c.encodeObject(object, "object");
        c.encodeArray(items, "items", true);
        c.encodeObject(std::static_pointer_cast<const platform::Coding>(child), "child");
    }
    void decode(platform::KeyedUnarchiver &c) override
    {
        flag = c.decodeBoolForKey("flag");
        number = c.decodeInt64ForKey("number");
        narrow = c.decodeFloatForKey("narrow");
        wide = c.decodeDoubleForKey("wide");
        point = c.decodePointForKey("point");
        object = c.decodeObjectForKey("object");
        const QVariant list = c.decodeObjectForKey("items");
        items = list.typeId() == QMetaType::QVariantList ? list.toList() : QVariantList();
        child = c.decodeObjectOfClassForKey<FuzzObject>("child");
        (void)c.decodeStringForKey("string");
        (void)c.decodeDataForKey("data");
        (void)c.decodeInt32ForKey("int");
    }
    bool flag = false;
    qint64 number = 0;
    float narrow = 0;
    double wide = 0;
    QPointF point;
    QVariant object;
    QVariantList items;
    std::shared_ptr<FuzzObject> child;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool registered = [] {
        platform::KeyedClassRegistry::shared().registerClass<FuzzObject>("FuzzObject");
        platform::KeyedUnarchiver::setGlobalClass("FuzzObject", "FuzzLegacyObject");
        return true;
    }();
    (void)registered;

    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto result = platform::KeyedUnarchiver::unarchiveTopLevelObjectWithData(bytes);
    if (!result.ok())
        return 0;
    const QByteArray again = platform::KeyedArchiver::archivedDataWithRootObject(result.value());
    if (!platform::KeyedUnarchiver::unarchiveTopLevelObjectWithData(again).ok() && result.value().isValid())
        __builtin_trap();
    return 0;
}
