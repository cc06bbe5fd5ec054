#pragma once

#include "platform/objectstore/EntityClass.h"
#include "stores/LibraryItem.h"

#include <QMap>
#include <QSize>

#include <functional>

class FrameAttribute;
class FrameSet;
class FrameType;

// One frame design of the library: a frame type plus the named, typed values
// that type defines.
class Frame : public LibraryItem, public platform::EntityClass<Frame>
{
public:
    enum Attribute { Author = CommonAttributeCount, CatalogRef, IsFavorite, IconImage, LastUsed, HasGraphics };
    enum Relationship { Attributes, Frameset, Frametype };
    static QString entityName() { return QStringLiteral("Frame"); }
    static platform::EntityDescription entityDescription();

    // Type name -> attribute name -> kind; fixed for the life of the process.
    static const QMap<QString, QMap<QString, int>> &frameTypeTable();

    QString author() const override { return stringAt(Author); }
    void setAuthor(const QString &author) { setStringAt(Author, author); }
    QString catalogRef() const override { return stringAt(CatalogRef); }
    void setCatalogRef(const QString &ref) { setStringAt(CatalogRef, ref); }
    std::optional<bool> isFavorite() const { return boolAt(IsFavorite); }
    void setIsFavorite(std::optional<bool> flag) { setBoolAt(IsFavorite, flag); }
    // The icon as stored (PNG bytes) and as a picture.
    QByteArray iconImageData() const { return bytesAt(IconImage); }
    void setIconImageData(const QByteArray &data) { setBytesAt(IconImage, data); }
    QImage iconImage() const override;
    void setIconImage(const QImage &image);
    QDateTime lastUsed() const { return dateAt(LastUsed); }
    void setLastUsed(const QDateTime &date) { setDateAt(LastUsed, date); }
    // Not stored: YES after insertion and every fetch, NO once
    // verifyHasGraphics found a graphics file missing.
    bool hasGraphics() const { return value(HasGraphics).toBool(); }
    void setHasGraphics(bool flag) { setValue(HasGraphics, flag); }

    QList<FrameAttribute *> attributes() const;
    void addAttributesObject(FrameAttribute *attribute);
    void removeAttributesObject(FrameAttribute *attribute);
    FrameSet *frameset() const;
    void setFrameset(FrameSet *set);
    FrameType *frametype() const;
    // Replaces the type and the attributes: the old attributes are deleted
    // and the new type's come without values. A type the table does not know
    // leaves no attributes and keeps the old type.
    void setFrametype(FrameType *type);
    FrameImage *icon() const override { return nullptr; }

    void setValueForKey(const QVariant &value, const QString &key) override;

    void addMissingAttributes();
    // Raises for a null name (a programming error).
    FrameAttribute *frameAttributeWithName(const QString &name) const;
    QVariant valueForAttribute(const QString &name) const;

    // A copy in the same context, in no set, with its own GUID and dates and
    // copies of the attributes sharing their graphics.
    Frame *duplicate();
    // Draws the icon through the hook the frame layers provide.
    void buildIcon();
    void verifyHasGraphics();

    // Draws `frame` as a frame layer's icon of `size` points; installed by
    // the design model. Without one, buildIcon stores no icon.
    using IconBuilder = std::function<QImage(Frame &frame, const QSize &size)>;
    static void setIconBuilder(IconBuilder builder);

    void awakeFromInsert() override;
    void awakeFromFetch() override;

    static Frame *frameWithGUID(const QString &guid, platform::ManagedObjectContext *moc);
};
