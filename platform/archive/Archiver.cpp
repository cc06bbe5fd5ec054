#include "platform/archive/Archiver.h"

#include "platform/Assert.h"
#include "platform/archive/Color.h"
#include "platform/archive/PlistValue.h"
#include "platform/archive/TypedStreamWriter.h"

#include <QStringList>

namespace platform {

namespace {

const QPair<QByteArray, int> kObject{"NSObject", 0};

void writeObject(TypedStreamWriter &w, const QVariant &value)
{
    if (!value.isValid() || (value.typeId() == QMetaType::QString && value.toString().isNull())) {
        w.writeNil();
        return;
    }
    switch (value.typeId()) {
    case QMetaType::QString:
        w.beginObject({{"NSString", 1}, kObject});
        w.beginGroup("+");
        w.writeUnsharedBytes(value.toString().toUtf8());
        w.endObject();
        return;
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        const QVariantList items = value.toList();
        w.beginObject({{"NSArray", 0}, kObject});
        w.beginGroup("i");
        w.writeInteger(items.size());
        for (const QVariant &item : items) {
            w.beginGroup("@");
            writeObject(w, item);
        }
        w.endObject();
        return;
    }
    default:
        break;
    }
    KT_ASSERT(value.typeId() == qMetaTypeId<Color>(),
              QStringLiteral("no old-style archive form for values of type %1").arg(QString::fromLatin1(value.typeName())));
    const Color color = value.value<Color>();
    w.beginObject({{"NSColor", 0}, kObject});
    w.beginGroup("c");
    w.writeChar(quint8(color.colorSpace()));
    const QList<double> &c = color.components();
    switch (color.colorSpace()) {
    case Color::Space::CalibratedRGB:
    case Color::Space::DeviceRGB:
        w.beginGroup("ffff");
        for (int i = 0; i < 3; ++i)
            w.writeFloat(PlistValue::narrowToFloat(c.value(i)));
        w.writeFloat(PlistValue::narrowToFloat(color.alpha()));
        break;
    case Color::Space::CalibratedWhite:
    case Color::Space::DeviceWhite:
        w.beginGroup("ff");
        w.writeFloat(PlistValue::narrowToFloat(c.value(0)));
        w.writeFloat(PlistValue::narrowToFloat(color.alpha()));
        break;
    case Color::Space::DeviceCMYK:
        w.beginGroup("fffff");
        for (int i = 0; i < 4; ++i)
            w.writeFloat(PlistValue::narrowToFloat(c.value(i)));
        w.writeFloat(PlistValue::narrowToFloat(color.alpha()));
        break;
    case Color::Space::Named:
        w.beginGroup("@@@");
        writeObject(w, color.catalogName());
        writeObject(w, color.colorName());
        writeObject(w, QVariant::fromValue(color.resolved()));
        break;
    }
    w.endObject();
}

} // namespace

QByteArray Archiver::archivedDataWithRootObject(const QVariant &root)
{
    TypedStreamWriter w;
    w.beginGroup("@");
    writeObject(w, root);
    return w.data();
}

} // namespace platform
