#pragma once

#include "platform/objectstore/EntityClass.h"
#include "platform/objectstore/ManagedObject.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>

#include <optional>

class Tag;

// A stored design: its name, a GUID that identifies it across stores,
// packages and documents, the design's template archive, a small icon and
// its keywords. Lives in the templates store (saved designs) or the
// variations store (the variations of one run).
class Variation : public platform::ManagedObject, public platform::EntityClass<Variation>
{
public:
    enum Attribute { Name, Guid, Data, Icon };
    enum Relationship { Tags };

    static constexpr const char *kVariationNameChangedNotification = "KTVariationNameChangedNotification";
    static constexpr const char *kOldNameKey = "OldName";
    static constexpr const char *kDefaultTemplateName = "New Template";
    // What a name is before a new Variation gets its default name, so that
    // the first rename has a previous name to report.
    static constexpr const char *kModelDefaultName = "Template";
    // A guid of this literal value is renewed when the Variation is fetched.
    static constexpr const char *kPlaceholderGUID = "GUID";
    static constexpr int kIconSide = 92;

    static QString entityName() { return QStringLiteral("Variation"); }
    static platform::EntityDescription entityDescription();

    QString name() const { return stringAt(Name); }
    // Equal names change nothing; another name is stored and announced with
    // "KTVariationNameChangedNotification" {"OldName": the previous name}.
    void setName(const QString &name);
    QString guid() const { return stringAt(Guid); }
    void setGuid(const QString &guid) { setStringAt(Guid, guid); }
    QByteArray data() const { return bytesAt(Data); }
    void setData(const QByteArray &data) { setBytesAt(Data, data); }
    // Kept as PNG bytes.
    QImage icon() const;
    void setIcon(const QImage &icon);
    QList<Tag *> tags() const;
    void addTagsObject(Tag *tag);
    void removeTagsObject(Tag *tag);

    static QString defaultTemplateName();
    // "name": a non-empty string stays; anything else becomes the default name.
    // Always valid.
    bool validateValueForKey(QVariant &value, const QString &key) const;
    void setValueForKey(const QVariant &value, const QString &key) override;

    void awakeFromInsert() override;
    void awakeFromFetch() override;
    void willSave() override;

    static Variation *variationWithGUID(const QString &guid, platform::ManagedObjectContext *moc);
    // Exact, case-sensitive.
    static Variation *variationWithName(const QString &name, platform::ManagedObjectContext *moc);
    // Every Variation's name in fetch order, a nameless one left out (it
    // could name nothing); none without a context.
    static std::optional<QStringList> namesOfAllVariationsInMOC(platform::ManagedObjectContext *moc);
};
