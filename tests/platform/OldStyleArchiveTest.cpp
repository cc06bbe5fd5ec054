// Old-style (typedstream) archives: exact bytes for known values, round
// trips, and damaged input.
#include "platform/archive/Archiver.h"
#include "platform/archive/Color.h"
#include "platform/archive/TypedStreamReader.h"
#include "platform/archive/Unarchiver.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const char *const kHeader = "040B 73747265616D7479706564 81E803";

} // namespace

TEST(OldStyleArchiveBytes, OpaqueRedIsWrittenExactly)
{
    const QByteArray expected = hex(kHeader)
                                + hex("840140"                         // group "@"
                                      "84 84 84 074E53436F6C6F72 00"   // new object, new class NSColor v0
                                      "84 84 084E534F626A656374 00 85" // superclass NSObject v0, then none
                                      "840163 01"                      // group "c": calibrated RGB
                                      "840466666666 01 00 00 01"       // group "ffff": whole numbers as integers
                                      "86");
    EXPECT_EQ(Archiver::archivedDataWithRootObject(QVariant::fromValue(Color::rgb(1, 0, 0, 1))).toHex(' '),
              expected.toHex(' '));
}

TEST(OldStyleArchiveBytes, StringArrayIsWrittenExactlyWithSharedClassesAndStrings)
{
    const QByteArray expected =
        hex(kHeader)
        + hex("840140"                               // group "@" (string 0)
              "84 84 84 074E534172726179 00"         // NSArray v0 (object 0, class 1; string 1)
              "84 84 084E534F626A656374 00 85"       // NSObject v0 (class 2; string 2)
              "840169 02"                            // group "i" (string 3): 2 elements
              "92 84 84 84 084E53537472696E67 01 94" // "@"; new NSString v1 (object 3, class 4), base = class 2
              "84012B 01 61 86"                      // group "+" (string 5): "a"
              "92 84 96 97 02 C3A9 86"               // "@"; object 5 of class 4; "+" by reference: "é"
              "86");
    EXPECT_EQ(Archiver::archivedDataWithRootObject(QStringList{"a", QString::fromUtf8("\xc3\xa9")}).toHex(' '),
              expected.toHex(' '));
}

TEST(OldStyleArchiveRoundTrip, ColoursOfEverySpace)
{
    const QList<Color> colors{
        Color::rgb(0.5, 0.25, 0.125, 0.75),
        Color::rgb(0.2f, 0.4f, 0.6f, 1.0, Color::Space::DeviceRGB),
        Color::white(0.5, 1.0),
        Color::white(0.0, 0.5, Color::Space::DeviceWhite),
        Color::cmyk(0.1f, 0.2f, 0.3f, 0.4f, 1.0),
        Color::named("System", "controlColor", Color::white(0.75)),
    };
    for (const Color &c : colors) {
        const auto r =
            Unarchiver::unarchiveObjectWithData(Archiver::archivedDataWithRootObject(QVariant::fromValue(c)));
        ASSERT_TRUE(r.ok()) << r.error.description.toStdString();
        ASSERT_EQ(r.object.typeId(), qMetaTypeId<Color>());
        EXPECT_EQ(r.object.value<Color>(), c) << int(c.colorSpace());
    }
    // Components pass through 32-bit floats.
    const auto r = Unarchiver::unarchiveObjectWithData(
        Archiver::archivedDataWithRootObject(QVariant::fromValue(Color::rgb(0.1, 0.2, 0.3))));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.object.value<Color>().components().at(0), double(0.1f));
    EXPECT_EQ(r.object.value<Color>().toQColor(), QColor::fromRgbF(0.1f, 0.2f, 0.3f));
}

TEST(OldStyleArchiveRoundTrip, StringArrays)
{
    QStringList many;
    for (int i = 0; i < 300; ++i)
        many << QStringLiteral("tag %1").arg(i);
    many << QString(200, QChar(0x263A)) << QString();
    const QList<QStringList> lists{{}, {"Wedding"}, many};
    for (const QStringList &list : lists) {
        const auto r = Unarchiver::unarchiveObjectWithData(Archiver::archivedDataWithRootObject(list));
        ASSERT_TRUE(r.ok()) << r.error.description.toStdString();
        const QVariantList back = r.object.toList();
        ASSERT_EQ(back.size(), list.size());
        for (qsizetype i = 0; i < list.size(); ++i)
            EXPECT_EQ(back[i].toString(), list[i]) << i;
    }
}

TEST(OldStyleArchiveRead, SharedObjectReferencesAndMutableClasses)
{
    // An NSMutableArray whose second element refers back to its first string.
    const QByteArray data =
        hex(kHeader)
        + hex("840140 84 84 84 0E4E534D757461626C654172726179 00" // NSMutableArray v0 (object 0, class 1)
              "84 84 074E534172726179 00"                         // NSArray v0 (class 2)
              "84 84 084E534F626A656374 00 85"                    // NSObject (class 3)
              "840169 02"
              "92 84 84 84 0F4E534D757461626C65537472696E67 01" // NSMutableString v1 (object 4, class 5)
              "84 84 084E53537472696E67 01 95"                  // NSString v1 (class 6), base NSObject
              "84012B 03 616263 86"
              "92 96" // "@": reference to object 4
              "86");
    const auto r = Unarchiver::unarchiveObjectWithData(data);
    ASSERT_TRUE(r.ok()) << r.error.description.toStdString();
    EXPECT_EQ(r.object.toList(), (QVariantList{"abc", "abc"}));
}

TEST(OldStyleArchiveDamage, DamagedInputsGiveErrors)
{
    const QByteArray good = Archiver::archivedDataWithRootObject(QStringList{"one", "two"});
    ASSERT_TRUE(Unarchiver::unarchiveObjectWithData(good).ok());
    for (qsizetype n = 0; n < good.size(); ++n) {
        const auto r = Unarchiver::unarchiveObjectWithData(good.left(n));
        EXPECT_FALSE(r.ok()) << "truncated to " << n;
        EXPECT_FALSE(r.error.description.isEmpty());
    }
    // A shared-string reference beyond the table.
    EXPECT_FALSE(Unarchiver::unarchiveObjectWithData(hex(kHeader) + hex("99")).ok());
    // An object reference beyond the table.
    EXPECT_FALSE(Unarchiver::unarchiveObjectWithData(hex(kHeader) + hex("840140 A0")).ok());
    // An array that contains itself.
    const auto self =
        Unarchiver::unarchiveObjectWithData(hex(kHeader)
                                            + hex("840140 84 84 84 074E534172726179 00 84 84 084E534F626A656374 00 85"
                                                  "840169 01 92 92 86"));
    EXPECT_FALSE(self.ok());
    EXPECT_TRUE(self.error.description.contains("itself")) << self.error.description.toStdString();
    // An element count larger than the contents.
    EXPECT_FALSE(
        Unarchiver::unarchiveObjectWithData(
            hex(kHeader) + hex("840140 84 84 84 074E534172726179 00 84 84 084E534F626A656374 00 85 840169 05 86"))
            .ok());
    // A class this reader does not know.
    EXPECT_FALSE(
        Unarchiver::unarchiveObjectWithData(hex(kHeader) + hex("840140 84 84 84 064E5346726F67 00 85 86")).ok());
    // A huge byte array length.
    EXPECT_FALSE(Unarchiver::unarchiveObjectWithData(hex(kHeader) + hex("84065B3939397D63")).ok());
    // Wrong header.
    EXPECT_FALSE(Unarchiver::unarchiveObjectWithData(QByteArray("streamtyped, not really")).ok());
}

TEST(OldStyleArchiveDamage, DeepNestingIsRefused)
{
    // 200 arrays, each holding the next.
    QByteArray body = hex("840140 84 84 84 074E534172726179 00 84 84 084E534F626A656374 00 85");
    for (int i = 0; i < 200; ++i)
        body += hex("840169 01 92 84 93");
    const auto r = Unarchiver::unarchiveObjectWithData(hex(kHeader) + body);
    EXPECT_FALSE(r.ok());
}
