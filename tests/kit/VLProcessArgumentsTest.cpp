#include "kit/VLProcessArguments.h"

#include <gtest/gtest.h>

namespace {

VLProcessArguments::Arguments parse(const QStringList &arguments)
{
    return VLProcessArguments::argumentsFromArray(arguments);
}

} // namespace

TEST(VLProcessArgumentsParsing, KeysValuesAndWhatIsSkipped)
{
    // The program path and files are no options; -key alone has an empty value.
    const auto parsed = parse({"/usr/bin/kantelo", "-template=Gallery White", "photo.jpg", "-process"});
    EXPECT_EQ(parsed.size(), 2);
    EXPECT_EQ(parsed.value("template"), "Gallery White");
    ASSERT_TRUE(parsed.contains("process"));
    EXPECT_EQ(parsed.value("process"), "");
    EXPECT_FALSE(parsed.contains("photo.jpg"));

    // -x and -x= both give x an empty value.
    const auto empty = parse({"-x", "-y="});
    EXPECT_TRUE(empty.contains("x"));
    EXPECT_TRUE(empty.contains("y"));
    EXPECT_EQ(empty.value("x"), "");
    EXPECT_EQ(empty.value("y"), "");
}

TEST(VLProcessArgumentsParsing, OnlyTheFirstEqualsSplitsAndLaterKeysWin)
{
    const auto parsed = parse({"-template=a=b", "-size=1", "-size=2"});
    EXPECT_EQ(parsed.value("template"), "a=b");
    EXPECT_EQ(parsed.value("size"), "2");
    // A key may itself be empty; the text after the first "=" stays whole.
    EXPECT_EQ(parse({"-=v=w"}).value(""), "v=w");
}

TEST(VLProcessArgumentsParsing, QuotesAroundAValueAreRemovedOnce)
{
    EXPECT_EQ(parse({"-template=\"Museum Gold\""}).value("template"), "Museum Gold");
    // Each end loses at most one quote, and only a quote at that end.
    EXPECT_EQ(parse({"-t=\"\"x\"\""}).value("t"), "\"x\"");
    EXPECT_EQ(parse({"-t=\"open"}).value("t"), "open");
    EXPECT_EQ(parse({"-t=close\""}).value("t"), "close");
    EXPECT_EQ(parse({"-t=\""}).value("t"), "");
    EXPECT_EQ(parse({"-t=in\"side"}).value("t"), "in\"side");
}

TEST(VLProcessArgumentsParsing, TheObjectKeepsWhatItParsed)
{
    VLProcessArguments arguments(QStringList{"kantelo", "-template=Baroque", "-process"});
    EXPECT_TRUE(arguments.contains("process"));
    EXPECT_EQ(arguments.value("template"), "Baroque");
    EXPECT_TRUE(arguments.description().contains("template = \"Baroque\""));
    arguments.setArguments({{"a", "b"}});
    EXPECT_FALSE(arguments.contains("process"));
    // This test program was not started to process a photo.
    EXPECT_FALSE(VLProcessArguments::isProcessRun());
}
