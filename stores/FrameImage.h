#pragma once

#include "platform/objectstore/EntityClass.h"
#include "platform/objectstore/ManagedObject.h"

#include <QImage>

class FrameAttribute;
class FrameCollection;
class FrameSet;

// A graphics file of the library: one file in the graphics folder, named by
// the GUID, shared by any number of attributes and icons.
class FrameImage : public platform::ManagedObject, public platform::EntityClass<FrameImage>
{
public:
    enum Attribute { Guid, Filename, DateAdded, Flags, CustomInfo };
    enum Relationship { Attributes, CollectionIcons, SetIcons };
    static QString entityName() { return QStringLiteral("FrameImage"); }
    static platform::EntityDescription entityDescription();

    QString guid() const { return stringAt(Guid); }
    void setGuid(const QString &guid) { setStringAt(Guid, guid); }
    QString filename() const { return stringAt(Filename); }
    void setFilename(const QString &name) { setStringAt(Filename, name); }
    QDateTime dateAdded() const { return dateAt(DateAdded); }
    void setDateAdded(const QDateTime &date) { setDateAt(DateAdded, date); }
    std::optional<qint64> flags() const { return int64At(Flags); }
    void setFlags(std::optional<qint64> flags) { setInt64At(Flags, flags); }
    QByteArray customInfo() const { return bytesAt(CustomInfo); }
    void setCustomInfo(const QByteArray &data) { setBytesAt(CustomInfo, data); }
    QList<FrameAttribute *> attributes() const;
    QList<FrameCollection *> collectionIcons() const;
    QList<FrameSet *> setIcons() const;

    // The context's value under this key is the graphics folder of its
    // library (the library's store sets it on the contexts it makes).
    static constexpr const char *kImagesFolderKey = "framesGraphicsFolder";
    // The graphics folder of the library in `moc`; empty when it has none.
    static QString imagesFolder(const platform::ManagedObjectContext *moc);
    // Copies the file into the graphics folder under a new GUID (keeping the
    // extension) and inserts its FrameImage; null when the copy fails.
    static FrameImage *frameImageFromImageAtPath(const QString &path, platform::ManagedObjectContext *moc);
    // Inserts a FrameImage for a file that is (or will be) there already.
    static FrameImage *insertFrameImageWithGUIDAndDisplayName(const QString &guid, const QString &displayName,
                                                              platform::ManagedObjectContext *moc);
    static FrameImage *frameImageWithGUID(const QString &guid, platform::ManagedObjectContext *moc);

    // The file's path; empty when the GUID is not one safe file name, so a
    // GUID from an archive or a server can never point outside the folder.
    QString imagePath() const;
    // Read from the file at every call; null when missing or unreadable.
    QImage image() const;
    qsizetype timesUsed() const;
};

Q_DECLARE_METATYPE(FrameImage *)
