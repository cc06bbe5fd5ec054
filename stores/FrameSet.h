#pragma once

#include "platform/objectstore/EntityClass.h"
#include "stores/LibraryItem.h"

class Frame;
class FrameCollection;

// A set of frames inside a collection.
class FrameSet : public LibraryItem, public platform::EntityClass<FrameSet>
{
public:
    enum Relationship { Framecollection, Frames, Icon };
    static QString entityName() { return QStringLiteral("FrameSet"); }
    static platform::EntityDescription entityDescription();

    FrameCollection *framecollection() const;
    void setFramecollection(FrameCollection *collection);
    QList<Frame *> frames() const;
    void addFramesObject(Frame *frame);
    void removeFramesObject(Frame *frame);
    FrameImage *icon() const override;
    void setIcon(FrameImage *image);

    QList<LibraryItem *> children() const override;
    qsizetype numberOfChildren() const override { return toMany(Frames).size(); }
    // Frames of this set whose names contain `text`, ignoring case and
    // diacritics; all of them for an empty text.
    qsizetype numberOfChildrenNamedLike(const QString &text) const;

    void awakeFromInsert() override;

    static FrameSet *frameSetWithGUID(const QString &guid, platform::ManagedObjectContext *moc);
};
