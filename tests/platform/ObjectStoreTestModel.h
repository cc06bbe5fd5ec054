#pragma once

// A small model with every kind of property and relationship, for the
// object store's tests. Version 1 lacks Label and Book.rating; version 2 adds
// them (an additive migration).

#include "platform/objectstore/ManagedObject.h"
#include "platform/objectstore/ManagedObjectModel.h"

#include <QDateTime>

#include <memory>

namespace storetest {

class Shelf : public platform::ManagedObject
{
public:
    enum { Name, Count, Ratio, Open, Made, Blob, Scratch };
    enum { Books };
    static QString entityName() { return QStringLiteral("Shelf"); }
    QString name() const { return stringAt(Name); }
    void setName(const QString &v) { setStringAt(Name, v); }
    std::optional<qint64> count() const { return int64At(Count); }
    void setCount(std::optional<qint64> v) { setInt64At(Count, v); }
    std::optional<double> ratio() const { return doubleAt(Ratio); }
    void setRatio(std::optional<double> v) { setDoubleAt(Ratio, v); }
    std::optional<bool> open() const { return boolAt(Open); }
    void setOpen(std::optional<bool> v) { setBoolAt(Open, v); }
    QDateTime made() const { return dateAt(Made); }
    void setMade(const QDateTime &v) { setDateAt(Made, v); }
    QByteArray blob() const { return bytesAt(Blob); }
    void setBlob(const QByteArray &v) { setBytesAt(Blob, v); }
    QList<ManagedObject *> books() const { return toMany(Books); }

    int fetchedCount = 0;
    void awakeFromFetch() override { ++fetchedCount; }
};

class Book : public platform::ManagedObject
{
public:
    enum { Title, Saved, Rating };
    enum { ShelfRel, Labels };
    static QString entityName() { return QStringLiteral("Book"); }
    QString title() const { return stringAt(Title); }
    void setTitle(const QString &v) { setStringAt(Title, v); }
    QDateTime saved() const { return dateAt(Saved); }
    Shelf *shelf() const { return toOneAs<Shelf>(ShelfRel); }
    void setShelf(Shelf *s) { setToOne(ShelfRel, s); }
    QList<ManagedObject *> labels() const { return toMany(Labels); }

    void awakeFromInsert() override { setTitle(QStringLiteral("Untitled")); }
    void willSave() override
    {
        if (!saved().isValid())
            setDateAt(Saved, QDateTime::currentDateTimeUtc());
    }
};

class Label : public platform::ManagedObject
{
public:
    enum { Name };
    enum { BooksRel };
    static QString entityName() { return QStringLiteral("Label"); }
    QString name() const { return stringAt(Name); }
    void setName(const QString &v) { setStringAt(Name, v); }
    QList<ManagedObject *> books() const { return toMany(BooksRel); }
};

inline std::shared_ptr<const platform::ManagedObjectModel> makeModel(int version = 2)
{
    using namespace platform;
    EntityDescription shelf;
    shelf.name = Shelf::entityName();
    shelf.attributes = {
        {QStringLiteral("name"), AttributeType::String, {}, false, false, true},
        {QStringLiteral("count"), AttributeType::Integer64},
        {QStringLiteral("ratio"), AttributeType::Double},
        {QStringLiteral("open"), AttributeType::Boolean},
        {QStringLiteral("made"), AttributeType::Date},
        {QStringLiteral("blob"), AttributeType::Bytes, {}, false, true},
        {QStringLiteral("scratch"), AttributeType::Boolean, true, true},
    };
    shelf.relationships = {{QStringLiteral("books"), Book::entityName(), QStringLiteral("shelf"), true, DeleteRule::Cascade}};
    shelf.factory = [] { return std::make_unique<Shelf>(); };

    EntityDescription book;
    book.name = Book::entityName();
    book.attributes = {
        {QStringLiteral("title"), AttributeType::String},
        {QStringLiteral("saved"), AttributeType::Date},
    };
    book.relationships = {{QStringLiteral("shelf"), Shelf::entityName(), QStringLiteral("books"), false, DeleteRule::Nullify}};
    book.factory = [] { return std::make_unique<Book>(); };

    QList<EntityDescription> entities{shelf, book};
    if (version >= 2) {
        entities[1].attributes.append({QStringLiteral("rating"), AttributeType::Integer64, qint64(3)});
        entities[1].relationships.append(
            {QStringLiteral("labels"), Label::entityName(), QStringLiteral("books"), true, DeleteRule::Nullify});
        EntityDescription label;
        label.name = Label::entityName();
        label.attributes = {{QStringLiteral("name"), AttributeType::String}};
        label.relationships = {{QStringLiteral("books"), Book::entityName(), QStringLiteral("labels"), true, DeleteRule::Nullify}};
        label.factory = [] { return std::make_unique<Label>(); };
        entities.append(label);
    }
    return std::make_shared<ManagedObjectModel>(entities, version);
}

} // namespace storetest
