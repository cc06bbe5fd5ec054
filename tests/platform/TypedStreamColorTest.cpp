#include "platform/archive/TypedStreamColor.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(TypedStreamColorTest, BlackInRGBMatchesTheWellKnownArchive)
{
    // The form settings files commonly carry for opaque RGB black.
    const QByteArray known = QByteArray::fromBase64(
        "BAtzdHJlYW10eXBlZIHoA4QBQISEhAdOU0NvbG9yAISECE5TT2JqZWN0AIWEAWMBhARmZmZmAAAAAYY=");
    EXPECT_EQ(typedStreamDataForColor(Color::rgb(0, 0, 0)), known);
}

TEST(TypedStreamColorTest, FractionsAreTaggedFloatsAndWhiteKeepsItsSpace)
{
    const QByteArray half = typedStreamDataForColor(Color::rgb(0.5, 0, 1, 1));
    // 0.5 as a tagged little-endian float: 83 00 00 00 3f.
    EXPECT_TRUE(half.contains(QByteArray("\x83\x00\x00\x00\x3f", 5)));
    const QByteArray white = typedStreamDataForColor(Color::white(1.0));
    EXPECT_TRUE(white.endsWith(QByteArray("\x84\x01" "c\x03\x84\x02" "ff\x01\x01\x86", 11)));
}
