#pragma once

#include "platform/objectstore/ManagedObject.h"

#include <QImage>

class FrameImage;

// What collections, sets and frames have in common, so that the library
// browser, the frame editor's outline and the update engine treat them alike.
// The first attributes of the three entities are the same, in this order.
class LibraryItem : public platform::ManagedObject
{
public:
    enum CommonAttribute { Name, ADescription, Url, Guid, Flags, CustomInfo, LastModified, LastUpdated, CommonAttributeCount };

    QString name() const { return stringAt(Name); }
    void setName(const QString &name) { setStringAt(Name, name); }
    QString adescription() const { return stringAt(ADescription); }
    void setAdescription(const QString &text) { setStringAt(ADescription, text); }
    QString url() const { return stringAt(Url); }
    void setUrl(const QString &url) { setStringAt(Url, url); }
    QString guid() const { return stringAt(Guid); }
    void setGuid(const QString &guid) { setStringAt(Guid, guid); }
    std::optional<qint64> flags() const { return int64At(Flags); }
    void setFlags(std::optional<qint64> flags) { setInt64At(Flags, flags); }
    QByteArray customInfo() const { return bytesAt(CustomInfo); }
    void setCustomInfo(const QByteArray &data) { setBytesAt(CustomInfo, data); }
    QDateTime lastModified() const { return dateAt(LastModified); }
    void setLastModified(const QDateTime &date) { setDateAt(LastModified, date); }
    QDateTime lastUpdated() const { return dateAt(LastUpdated); }
    void setLastUpdated(const QDateTime &date) { setDateAt(LastUpdated, date); }

    virtual QList<LibraryItem *> children() const { return {}; }
    virtual qsizetype numberOfChildren() const { return 0; }
    // The picture of the icon graphic (null without one).
    virtual QImage iconImage() const;
    virtual FrameImage *icon() const { return nullptr; }
    virtual QString catalogRef() const { return QStringLiteral(""); }
    virtual QString author() const { return QStringLiteral(""); }
    // The last change as a medium-style date without time.
    QString lastModifiedString() const;

    void willSave() override;

protected:
    // Defaults of a new collection or set.
    void setInsertDefaults(const QString &defaultName);
};
