#pragma once

#include "platform/objectstore/EntityClass.h"
#include "platform/objectstore/ManagedObject.h"

class Frame;

// One of the kinds of frame the design model can draw ("Full frame", ...).
class FrameType : public platform::ManagedObject, public platform::EntityClass<FrameType>
{
public:
    enum Attribute { Name };
    enum Relationship { Frames };
    static QString entityName() { return QStringLiteral("FrameType"); }
    static platform::EntityDescription entityDescription();

    QString name() const { return stringAt(Name); }
    void setName(const QString &name) { setStringAt(Name, name); }
    QList<Frame *> frames() const;

    // The frame type of that name (one of several when the store has more).
    static FrameType *frameTypeWithName(const QString &name, platform::ManagedObjectContext *moc);
};
