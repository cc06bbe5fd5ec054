#include "kit/VLLengthFormatter.h"

#include <gtest/gtest.h>

namespace {

QVariant parse(const VLLengthFormatter &f, const QString &text, QString *error = nullptr)
{
    QVariant value;
    platform::Error message;
    if (!f.getObjectValueForString(&value, text, &message)) {
        if (error)
            *error = message.description;
        return QVariant();
    }
    return value;
}

} // namespace

TEST(KitLengthFormatter, MetricBothWays)
{
    VLLengthFormatter f(0);
    EXPECT_EQ(f.stringForObjectValue(12.5), "12.50");
    EXPECT_EQ(f.stringForObjectValue(3), "3.00");
    EXPECT_EQ(f.stringForObjectValue(-4.256), "-4.26");
    EXPECT_EQ(f.stringForObjectValue(QString("12")), "");
    EXPECT_EQ(f.stringForObjectValue(QVariant()), "");
    EXPECT_DOUBLE_EQ(parse(f, "12.5").toDouble(), 12.5);
    EXPECT_DOUBLE_EQ(parse(f, "  -7 ").toDouble(), -7.0);
    QString error;
    EXPECT_FALSE(parse(f, "12.5 cm", &error).isValid());
    EXPECT_EQ(error, "Can't handle input: cm");
    EXPECT_FALSE(parse(f, "abc", &error).isValid());
    EXPECT_EQ(error, "Couldn't find a number");
    const QVariant empty = parse(f, "   ");
    EXPECT_EQ(empty.typeId(), QMetaType::Int);
    EXPECT_EQ(empty.toInt(), 0);
}

TEST(KitLengthFormatter, ImperialTable)
{
    VLLengthFormatter f(1);
    const struct {
        double centimetres;
        const char *text;
    } table[] = {
        {10, "3 15/16"},   {8.89, "3 1/2"}, {0.635, "0 1/4"}, {2.54, "1"},        {0, "0"},
        {30, "11 13/16"},  {2.999 * 2.54, "3"}, // rounds up into the whole inches
        {(1 + 1.0 / 128) * 2.54, "1 1/64"},     // a half step rounds up
        {-8.89, "-3 1/2"}, {-0.635, "-0 1/4"}, {-2.54, "-1"}, {-0.0001, "0"},
    };
    for (const auto &row : table)
        EXPECT_EQ(f.stringForObjectValue(row.centimetres), row.text) << row.centimetres;
}

TEST(KitLengthFormatter, ImperialWithoutDenominatorTruncates)
{
    VLLengthFormatter f;
    f.setUnit(1);
    EXPECT_EQ(f.highestDenominator(), 0);
    EXPECT_EQ(f.stringForObjectValue(3.9 * 2.54), "3");
    f.setHighestDenominator(-5); // nonsense settings never produce a fraction
    EXPECT_EQ(f.stringForObjectValue(3.9 * 2.54), "3");
    f.setHighestDenominator(4);
    EXPECT_EQ(f.stringForObjectValue(3.9 * 2.54), "4"); // 3 3.6/4 rounds to a whole 4
    EXPECT_EQ(f.stringForObjectValue(3.3 * 2.54), "3 1/4");
    EXPECT_EQ(f.stringForObjectValue(std::numeric_limits<double>::infinity()), "");
}

TEST(KitLengthFormatter, ImperialParsing)
{
    VLLengthFormatter f(1);
    EXPECT_NEAR(parse(f, "3 1/2").toDouble(), 8.89, 1e-9);
    EXPECT_NEAR(parse(f, "3").toDouble(), 7.62, 1e-9);
    EXPECT_NEAR(parse(f, " 2.5 ").toDouble(), 6.35, 1e-9);
    EXPECT_NEAR(parse(f, "-3 1/2").toDouble(), -8.89, 1e-9);
    EXPECT_EQ(parse(f, "").toInt(), 0);
    QString error;
    EXPECT_FALSE(parse(f, "1/2", &error).isValid());
    EXPECT_EQ(error, "Can't handle input: /2");
    EXPECT_FALSE(parse(f, "3 1/0", &error).isValid());
    EXPECT_EQ(error, "Can't handle input: 1/0");
    EXPECT_FALSE(parse(f, "3 1", &error).isValid());
    EXPECT_EQ(error, "Can't handle input: 1");
    EXPECT_FALSE(parse(f, "3 1/", &error).isValid());
    EXPECT_FALSE(parse(f, "3 1/2 in", &error).isValid());
    EXPECT_FALSE(parse(f, "1e999", &error).isValid());
}

TEST(KitLengthFormatter, RoundTripsThroughText)
{
    VLLengthFormatter f(1);
    for (double cm : {0.0, 1.0, 8.89, 10.0, 25.4, 30.0, -12.7, 100.0}) {
        const QString text = f.stringForObjectValue(cm);
        const double back = parse(f, text).toDouble();
        EXPECT_NEAR(back, cm, 2.54 / 128 + 1e-9) << text.toStdString();
        EXPECT_EQ(f.stringForObjectValue(back), text);
    }
}

TEST(KitLengthFormatter, PartialTextsWhileTyping)
{
    VLLengthFormatter imperial(1);
    platform::Error error;
    for (const char *ok : {"", "3", "3 ", "3 1", "3 1/", "3 1/2", "-", "-3 1"})
        EXPECT_TRUE(imperial.isPartialStringValid(ok, &error)) << ok;
    for (const char *bad : {"x", "3 x", "3 1/2/", "1/2"})
        EXPECT_FALSE(imperial.isPartialStringValid(bad, &error)) << bad;
    VLLengthFormatter metric(0);
    EXPECT_TRUE(metric.isPartialStringValid("12.", &error));
    EXPECT_TRUE(metric.isPartialStringValid("-", &error));
    EXPECT_FALSE(metric.isPartialStringValid("12 cm", &error));
    EXPECT_EQ(error.description, "Can't handle input: cm");
}
