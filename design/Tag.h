#pragma once

#include "platform/objectstore/EntityClass.h"
#include "platform/objectstore/ManagedObject.h"

class Variation;

// A keyword of stored designs, looked up by its exact name.
class Tag : public platform::ManagedObject, public platform::EntityClass<Tag>
{
public:
    enum Attribute { Name };
    enum Relationship { Variations };

    static QString entityName() { return QStringLiteral("Tag"); }
    static platform::EntityDescription entityDescription();

    QString name() const { return stringAt(Name); }
    void setName(const QString &name) { setStringAt(Name, name); }
    QList<Variation *> variations() const;

    // The tag of that exact name (the last one found), or null; never inserts.
    static Tag *tagWithName(const QString &name, platform::ManagedObjectContext *moc);
};
