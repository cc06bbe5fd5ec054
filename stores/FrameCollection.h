#pragma once

#include "platform/objectstore/EntityClass.h"
#include "stores/LibraryItem.h"

class FrameSet;

// The top of the library tree: a collection of frame sets.
class FrameCollection : public LibraryItem, public platform::EntityClass<FrameCollection>
{
public:
    enum Relationship { Framesets, Icon };
    static QString entityName() { return QStringLiteral("FrameCollection"); }
    static platform::EntityDescription entityDescription();

    QList<FrameSet *> framesets() const;
    void addFramesetsObject(FrameSet *set);
    void removeFramesetsObject(FrameSet *set);
    FrameImage *icon() const override;
    void setIcon(FrameImage *image);

    QList<LibraryItem *> children() const override;
    qsizetype numberOfChildren() const override { return toMany(Framesets).size(); }

    void awakeFromInsert() override;

    static FrameCollection *frameCollectionWithGUID(const QString &guid, platform::ManagedObjectContext *moc);
};
