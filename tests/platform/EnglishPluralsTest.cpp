#include "platform/EnglishPlurals.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

TEST(EnglishPlurals, CountedTextsReadAsEnglishAndOthersStandAsWritten)
{
    platform::EnglishPlurals::install(); // a second time changes nothing
    auto counted = [](const char *text, int n) { return QCoreApplication::translate("Any", text, nullptr, n); };
    EXPECT_EQ(counted("%n set(s)", 1), "1 set");
    EXPECT_EQ(counted("%n set(s)", 0), "0 sets");
    EXPECT_EQ(counted("Failed to process %n image(s) of %1", 12), "Failed to process 12 images of %1");
    EXPECT_EQ(counted("%n match(es)", 1), "1 match");
    EXPECT_EQ(counted("%n match(es)", 3), "3 matches");
    EXPECT_EQ(counted("Size (s) of %1", -1), "Size (s) of %1") << "no count: as written";
    EXPECT_EQ(counted("%n new", 2), "2 new");
}
