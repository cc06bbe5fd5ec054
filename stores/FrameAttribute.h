#pragma once

#include "platform/objectstore/EntityClass.h"
#include "platform/objectstore/ManagedObject.h"

class Frame;
class FrameImage;

// One named, typed value of a frame. The kind selects the property that
// holds the value: 0 string, 1 image, 2 integer, 3 float, 4 boolean, 5 colour.
class FrameAttribute : public platform::ManagedObject, public platform::EntityClass<FrameAttribute>
{
public:
    enum Attribute { Name, Kind, StringVal, IntVal, FloatVal, BoolVal, ColorVal };
    enum Relationship { ImageVal, FrameRel };
    enum FrameAttributeKind { KindString = 0, KindImage = 1, KindInteger = 2, KindFloat = 3, KindBoolean = 4, KindColor = 5 };
    static QString entityName() { return QStringLiteral("FrameAttribute"); }
    static platform::EntityDescription entityDescription();

    QString name() const { return stringAt(Name); }
    void setName(const QString &name) { setStringAt(Name, name); }
    std::optional<qint64> kind() const { return int64At(Kind); }
    void setKind(std::optional<qint64> kind) { setInt64At(Kind, kind); }
    QString stringVal() const { return stringAt(StringVal); }
    void setStringVal(const QString &text) { setStringAt(StringVal, text); }
    std::optional<qint64> intVal() const { return int64At(IntVal); }
    void setIntVal(std::optional<qint64> number) { setInt64At(IntVal, number); }
    std::optional<double> floatVal() const { return doubleAt(FloatVal); }
    void setFloatVal(std::optional<double> number) { setDoubleAt(FloatVal, number); }
    std::optional<bool> boolVal() const { return boolAt(BoolVal); }
    void setBoolVal(std::optional<bool> flag) { setBoolAt(BoolVal, flag); }
    // Archived colour data, kept as it came.
    QByteArray colorVal() const { return bytesAt(ColorVal); }
    void setColorVal(const QByteArray &data) { setBytesAt(ColorVal, data); }
    FrameImage *imageVal() const;
    void setImageVal(FrameImage *image);
    Frame *frame() const;
    void setFrame(Frame *frame);

    // The value property the kind selects (a FrameImage* for kind 1, bytes
    // for a colour); invalid for a kind outside 0 to 5 or no value.
    QVariant attributeValue() const;
    // The kind, 0 when none is stored.
    qint64 kindValue() const { return kind().value_or(0); }
    // A new attribute in the same context with the same values; the same
    // FrameImage (graphics are shared, not copied); no frame yet.
    FrameAttribute *duplicate() const;
};
