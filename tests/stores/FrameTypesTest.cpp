#include "LibraryTestSupport.h"

#include "platform/Assert.h"
#include "platform/objectstore/UndoManager.h"
#include "stores/Frame.h"
#include "stores/FrameAttribute.h"
#include "stores/FrameImage.h"
#include "stores/FrameType.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace platform;
using namespace librarytest;

namespace {

struct Types {
    Library lib;
    QMap<QString, FrameType *> byName;
    Types()
    {
        for (const QString &name : Frame::frameTypeTable().keys()) {
            FrameType *type = FrameType::insertInManagedObjectContext(lib.moc());
            type->setName(name);
            byName.insert(name, type);
        }
    }
    Frame *frameOf(const QString &type)
    {
        Frame *frame = Frame::insertInManagedObjectContext(lib.moc());
        frame->setFrametype(byName.value(type));
        return frame;
    }
};

QMap<QString, qint64> kinds(const Frame *frame)
{
    QMap<QString, qint64> out;
    for (FrameAttribute *attribute : frame->attributes())
        out.insert(attribute->name(), attribute->kindValue());
    return out;
}

} // namespace

TEST(FrameTypesTable, TheTableHoldsTheFourTypesAndTheirAttributes)
{
    const auto &table = Frame::frameTypeTable();
    ASSERT_EQ(table.size(), 4);
    EXPECT_EQ(table.value("Color Mat").size(), 1);
    EXPECT_EQ(table.value("Full frame").size(), 3);
    EXPECT_EQ(table.value("Moulding").size(), 6);
    EXPECT_EQ(table.value("Moulding with corners").size(), 9);
    EXPECT_EQ(table.value("Color Mat").value("Mat color"), 5);
    EXPECT_FALSE(table.value("Moulding with corners").contains("Mirror images"));
    EXPECT_EQ(table.value("Moulding with corners").value("Bottom-Left corner"), 1);
}

TEST(FrameTypesSetting, ATypeBringsItsAttributesWithoutValues)
{
    Types t;
    Frame *frame = t.frameOf("Moulding with corners");
    QMap<QString, qint64> expected;
    const auto entry = Frame::frameTypeTable().value("Moulding with corners");
    for (auto it = entry.begin(); it != entry.end(); ++it)
        expected.insert(it.key(), it.value());
    EXPECT_EQ(kinds(frame), expected);
    for (FrameAttribute *attribute : frame->attributes())
        EXPECT_FALSE(attribute->attributeValue().isValid());

    frame->setFrametype(t.byName.value("Color Mat"));
    EXPECT_EQ(kinds(frame), (QMap<QString, qint64>{{"Mat color", 5}}));
    EXPECT_EQ(t.lib.moc()->count({FrameAttribute::entityName()}), 1) << "old attributes are deleted, not just detached";

    frame->frameAttributeWithName("Mat color")->setColorVal("colour bytes");
    frame->setFrametype(t.byName.value("Color Mat"));
    EXPECT_FALSE(frame->valueForAttribute("Mat color").isValid()) << "the same type again clears the values";

    frame->setFrametype(nullptr);
    EXPECT_TRUE(frame->attributes().isEmpty());
    EXPECT_EQ(frame->frametype(), nullptr);
}

TEST(FrameTypesSetting, AnUnknownTypeRemovesTheAttributesAndKeepsTheOldType)
{
    Types t;
    Frame *frame = t.frameOf("Full frame");
    FrameType *odd = FrameType::insertInManagedObjectContext(t.lib.moc());
    odd->setName("Hexagon");
    frame->setFrametype(odd);
    EXPECT_TRUE(frame->attributes().isEmpty());
    EXPECT_EQ(frame->frametype(), t.byName.value("Full frame"));
    frame->addMissingAttributes();
    EXPECT_EQ(frame->attributes().size(), 3) << "the kept type's attributes come back";
}

TEST(FrameTypesSetting, TheGenericSetterGoesThroughSetFrametype)
{
    Types t;
    Frame *frame = Frame::insertInManagedObjectContext(t.lib.moc());
    frame->setValueForKey(QVariant::fromValue<ManagedObject *>(t.byName.value("Moulding")), "frametype");
    EXPECT_EQ(frame->attributes().size(), 6);
    EXPECT_EQ(frame->valueForKey("frametype").value<ManagedObject *>(), t.byName.value("Moulding"));
}

TEST(FrameTypesMissing, AddMissingAttributesRestoresOnlyWhatIsMissing)
{
    Types t;
    Frame *frame = t.frameOf("Moulding");
    FrameImage *image = FrameImage::insertFrameImageWithGUIDAndDisplayName("top.png", "top.png", t.lib.moc());
    frame->frameAttributeWithName("Top Image")->setImageVal(image);
    frame->frameAttributeWithName("Act as mask")->setBoolVal(true);
    FrameAttribute *extra = FrameAttribute::insertInManagedObjectContext(t.lib.moc());
    extra->setName("Legacy");
    frame->addAttributesObject(extra);
    t.lib.moc()->deleteObject(frame->frameAttributeWithName("Mirror images"));
    ASSERT_EQ(frame->frameAttributeWithName("Mirror images"), nullptr);

    frame->addMissingAttributes();
    FrameAttribute *mirror = frame->frameAttributeWithName("Mirror images");
    ASSERT_TRUE(mirror);
    EXPECT_EQ(mirror->kindValue(), 4);
    EXPECT_FALSE(mirror->attributeValue().isValid());
    EXPECT_EQ(frame->valueForAttribute("Top Image").value<FrameImage *>(), image);
    EXPECT_EQ(frame->valueForAttribute("Act as mask"), QVariant(true));
    EXPECT_TRUE(frame->frameAttributeWithName("Legacy")) << "names outside the table stay";
    EXPECT_EQ(frame->attributes().size(), 7);

    Frame *untyped = Frame::insertInManagedObjectContext(t.lib.moc());
    untyped->addMissingAttributes();
    EXPECT_TRUE(untyped->attributes().isEmpty());
}

TEST(FrameTypesValues, ValuesAreReadByKind)
{
    Types t;
    Frame *full = t.frameOf("Full frame");
    EXPECT_FALSE(full->valueForAttribute("Left Image").isValid());
    EXPECT_EQ(full->frameAttributeWithName("left image"), nullptr) << "names compare exactly";

    FrameAttribute *attribute = FrameAttribute::insertInManagedObjectContext(t.lib.moc());
    attribute->setStringVal("text");
    attribute->setIntVal(7);
    EXPECT_FALSE(attribute->kind().has_value());
    EXPECT_EQ(attribute->kindValue(), 0);
    EXPECT_EQ(attribute->attributeValue(), QVariant("text"));
    attribute->setKind(2);
    EXPECT_EQ(attribute->attributeValue(), QVariant(qint64(7)));
    attribute->setKind(3);
    attribute->setFloatVal(0.5);
    EXPECT_EQ(attribute->attributeValue(), QVariant(0.5));
    attribute->setKind(9);
    EXPECT_FALSE(attribute->attributeValue().isValid());

    try {
        full->frameAttributeWithName(QString());
        FAIL() << "no exception";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.reason().contains("AttributeName can't be nil"));
    }
}

TEST(FrameTypesLookup, FrameTypeWithNameFindsOneOrNone)
{
    Types t;
    EXPECT_EQ(FrameType::frameTypeWithName("Moulding", t.lib.moc()), t.byName.value("Moulding"));
    EXPECT_EQ(FrameType::frameTypeWithName("moulding", t.lib.moc()), nullptr);
    EXPECT_EQ(FrameType::frameTypeWithName("Moulding", nullptr), nullptr);
    Frame *frame = t.frameOf("Moulding");
    EXPECT_EQ(t.byName.value("Moulding")->frames(), QList<Frame *>{frame});
}

TEST(FrameTypesUndo, ChangingTheTypeUndoesWithTheOldAttributesBack)
{
    Types t;
    auto *undo = new UndoManager(t.lib.moc());
    t.lib.moc()->setUndoManager(undo);
    Frame *frame = t.frameOf("Full frame");
    frame->frameAttributeWithName("Act as mask")->setBoolVal(true);
    QCoreApplication::processEvents();
    frame->setFrametype(t.byName.value("Color Mat"));
    QCoreApplication::processEvents();
    undo->undo();
    EXPECT_EQ(frame->frametype(), t.byName.value("Full frame"));
    EXPECT_EQ(frame->attributes().size(), 3);
    EXPECT_EQ(frame->valueForAttribute("Act as mask"), QVariant(true));
    EXPECT_EQ(t.lib.moc()->count({FrameAttribute::entityName()}), 3);
    undo->redo();
    EXPECT_EQ(kinds(frame), (QMap<QString, qint64>{{"Mat color", 5}}));
}
