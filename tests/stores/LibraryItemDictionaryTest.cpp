#include "stores/LibraryItemDictionary.h"

#include "platform/Log.h"
#include "platform/archive/Archiver.h"
#include "platform/archive/Color.h"

#include <QByteArray>
#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace LibraryItemDictionary;

namespace {
struct LogCapture {
    QStringList lines;
    LogCapture()
    {
        platform::setLogSink([this](const QString &l) { lines << l; });
    }
    ~LogCapture() { platform::setLogSink(nullptr); }
};
} // namespace

TEST(LibraryItemDictionaryCoercion, TextFieldsTakeStringsAndNumbersOnly)
{
    LogCapture log;
    QVariantMap d{{"name", "Oak"}, {"url", 42}, {"author", QVariantList{1, 2}},
                  {"adescription", QByteArray("x")}};
    EXPECT_EQ(stringForKey(d, kName), QString("Oak"));
    EXPECT_EQ(stringForKey(d, kURL), QString("42"));
    EXPECT_FALSE(stringForKey(d, kAuthor).has_value());
    EXPECT_FALSE(stringForKey(d, kDescription).has_value());
    EXPECT_FALSE(stringForKey(d, kCatalogRef).has_value());
    EXPECT_EQ(log.lines.size(), 2); // the two dropped values, not the absent one
}

TEST(LibraryItemDictionaryCoercion, GuidsMustBeUsableAsFileNames)
{
    LogCapture log;
    QVariantMap d{{"guid", "A1B2-C3"}, {"iconGUID", "../../etc/passwd"}, {"framesetGUID", 7},
                  {"framecollectionGUID", ""}};
    EXPECT_EQ(guidForKey(d, kGUID), QString("A1B2-C3"));
    EXPECT_FALSE(guidForKey(d, kIconGUID).has_value());
    EXPECT_FALSE(guidForKey(d, kFramesetGUID).has_value());
    EXPECT_FALSE(guidForKey(d, kFrameCollectionGUID).has_value());
    EXPECT_FALSE(guidForKey(d, kFrametype).has_value());
    EXPECT_EQ(log.lines.size(), 3);
    EXPECT_TRUE(isUsableGUID("5E0C1F7A-0000-4000-8000-00000000000A.png"));
    EXPECT_FALSE(isUsableGUID(".."));
    EXPECT_FALSE(isUsableGUID("a\\b"));
}

TEST(LibraryItemDictionaryCoercion, AttributeValuesFollowTheirKind)
{
    LogCapture log;
    // integer
    EXPECT_EQ(attributeValueForKind("n", 3, KindInteger), QVariant::fromValue<qint64>(3));
    EXPECT_EQ(attributeValueForKind("n", 2.6, KindInteger), QVariant::fromValue<qint64>(3));
    EXPECT_EQ(attributeValueForKind("n", "12", KindInteger), QVariant::fromValue<qint64>(12));
    EXPECT_EQ(attributeValueForKind("n", true, KindInteger), QVariant::fromValue<qint64>(1));
    EXPECT_FALSE(attributeValueForKind("n", "twelve", KindInteger).isValid());
    EXPECT_FALSE(attributeValueForKind("n", std::nan(""), KindInteger).isValid());
    EXPECT_FALSE(attributeValueForKind("n", std::numeric_limits<qulonglong>::max(), KindInteger).isValid());
    // float
    EXPECT_EQ(attributeValueForKind("f", 2, KindFloat), QVariant(2.0));
    EXPECT_EQ(attributeValueForKind("f", " 0.5", KindFloat), QVariant(0.5));
    EXPECT_FALSE(attributeValueForKind("f", std::numeric_limits<double>::infinity(), KindFloat).isValid());
    EXPECT_FALSE(attributeValueForKind("f", QVariantMap{}, KindFloat).isValid());
    // boolean
    EXPECT_EQ(attributeValueForKind("b", 1, KindBoolean), QVariant(true));
    EXPECT_EQ(attributeValueForKind("b", 0.0, KindBoolean), QVariant(false));
    EXPECT_EQ(attributeValueForKind("b", "YES", KindBoolean), QVariant(true));
    EXPECT_EQ(attributeValueForKind("b", "false", KindBoolean), QVariant(false));
    EXPECT_FALSE(attributeValueForKind("b", "maybe", KindBoolean).isValid());
    // string
    EXPECT_EQ(attributeValueForKind("s", "text", KindString), QVariant("text"));
    EXPECT_EQ(attributeValueForKind("s", 5, KindString), QVariant("5"));
    EXPECT_FALSE(attributeValueForKind("s", QByteArray("raw"), KindString).isValid());
    // image: a GUID string only
    EXPECT_EQ(attributeValueForKind("i", "GUID-1.png", KindImage), QVariant("GUID-1.png"));
    EXPECT_FALSE(attributeValueForKind("i", 5, KindImage).isValid());
    EXPECT_FALSE(attributeValueForKind("i", "a/b", KindImage).isValid());
    // colour: data that reads back as a colour only
    const QByteArray colour = platform::Archiver::archivedDataWithRootObject(
        QVariant::fromValue(platform::Color::rgb(1, 0.5, 0)));
    EXPECT_EQ(attributeValueForKind("c", colour, KindColor), QVariant(colour));
    EXPECT_FALSE(attributeValueForKind("c", QByteArray("\x04\x0b", 2), KindColor).isValid());
    EXPECT_FALSE(attributeValueForKind("c", platform::Archiver::archivedDataWithRootObject(QString("red")),
                                       KindColor).isValid());
    EXPECT_FALSE(attributeValueForKind("c", "red", KindColor).isValid());
    // unknown kind, absent value
    EXPECT_FALSE(attributeValueForKind("u", 1, 9).isValid());
    EXPECT_FALSE(attributeValueForKind("u", QVariant(), KindInteger).isValid());
    EXPECT_FALSE(log.lines.isEmpty());
}

TEST(LibraryItemDictionaryCoercion, NestedDictionaryOrEmpty)
{
    LogCapture log;
    QVariantMap attrs{{"Act as mask", true}};
    QVariantMap d{{"attributes", attrs}, {"attributeKinds", "nope"}};
    EXPECT_EQ(dictionaryForKey(d, kAttributes), attrs);
    EXPECT_TRUE(dictionaryForKey(d, kAttributeKinds).isEmpty());
    EXPECT_TRUE(dictionaryForKey(d, kName).isEmpty());
    EXPECT_EQ(log.lines.size(), 1);
}
