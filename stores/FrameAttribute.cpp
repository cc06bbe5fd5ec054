#include "stores/FrameAttribute.h"

#include "stores/Frame.h"
#include "stores/FrameImage.h"

using namespace platform;

EntityDescription FrameAttribute::entityDescription()
{
    EntityDescription e;
    e.name = entityName();
    e.attributes = {
        {QStringLiteral("name"), AttributeType::String},
        {QStringLiteral("kind"), AttributeType::Integer64},
        {QStringLiteral("stringVal"), AttributeType::String},
        {QStringLiteral("intVal"), AttributeType::Integer64},
        {QStringLiteral("floatVal"), AttributeType::Double},
        {QStringLiteral("boolVal"), AttributeType::Boolean},
        {QStringLiteral("colorVal"), AttributeType::Bytes},
    };
    e.relationships = {
        {QStringLiteral("imageVal"), FrameImage::entityName(), QStringLiteral("attributes"), false},
        {QStringLiteral("frame"), Frame::entityName(), QStringLiteral("attributes"), false},
    };
    e.factory = [] { return std::make_unique<FrameAttribute>(); };
    return e;
}

FrameImage *FrameAttribute::imageVal() const
{
    return toOneAs<FrameImage>(ImageVal);
}

void FrameAttribute::setImageVal(FrameImage *image)
{
    setToOne(ImageVal, image);
}

Frame *FrameAttribute::frame() const
{
    return toOneAs<Frame>(FrameRel);
}

void FrameAttribute::setFrame(Frame *frame)
{
    setToOne(FrameRel, frame);
}

QVariant FrameAttribute::attributeValue() const
{
    switch (kindValue()) {
    case KindString: return value(StringVal);
    case KindImage: {
        FrameImage *image = imageVal();
        return image ? QVariant::fromValue(image) : QVariant();
    }
    case KindInteger: return value(IntVal);
    case KindFloat: return value(FloatVal);
    case KindBoolean: return value(BoolVal);
    case KindColor: return value(ColorVal);
    default: return QVariant();
    }
}

FrameAttribute *FrameAttribute::duplicate() const
{
    FrameAttribute *copy = insertInManagedObjectContext(managedObjectContext());
    for (int a : {Name, Kind, StringVal, IntVal, FloatVal, BoolVal, ColorVal})
        copy->setValue(a, value(a));
    copy->setImageVal(imageVal());
    return copy;
}
