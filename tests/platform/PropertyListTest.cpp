#include "platform/archive/PropertyList.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QPoint>

using namespace platform;
using PropertyList::Format;

namespace {

QVariantMap sample()
{
    return {
        {"name", QString::fromUtf8("Gr\xc3\xbc\xc3\x9f" "e \xe2\x9c\x93")},
        {"count", qint64(-42)},
        {"big", qint64(1) << 40},
        {"ratio", 0.1},
        {"half", 0.5},
        {"flag", true},
        {"off", false},
        {"when", QDateTime(QDate(2020, 5, 17), QTime(12, 30, 45), Qt::UTC)},
        {"old", QDateTime(QDate(1990, 1, 2), QTime(3, 4, 5), Qt::UTC)},
        {"blob", QByteArray("\x00\x01\xff", 3)},
        {"list", QVariantList{qint64(1), "two", QVariantList{3.5}}},
        {"nested", QVariantMap{{"a", QVariantMap{{"b", QVariantList{}}}}, {"empty", QVariantMap{}}}},
    };
}

// Runs a python3 snippet with plistlib; answers its standard output.
QByteArray python(const QString &script, const QStringList &args = {})
{
    const testsupport::ProgramRun r = testsupport::runProgram(testsupport::python3(), QStringList{"-c", script} + args);
    if (!r.succeeded())
        return "failed: " + r.err;
    return r.out.trimmed();
}

const char *kPythonWrite = R"(
import plistlib, sys, datetime
value = {
    'name': 'Gr\u00fc\u00dfe \u2713', 'count': -42, 'big': 1 << 40, 'ratio': 0.1, 'half': 0.5,
    'flag': True, 'off': False, 'when': datetime.datetime(2020, 5, 17, 12, 30, 45),
    'old': datetime.datetime(1990, 1, 2, 3, 4, 5),
    'blob': b'\x00\x01\xff', 'list': [1, 'two', [3.5]], 'nested': {'a': {'b': []}, 'empty': {}},
}
fmt = plistlib.FMT_BINARY if sys.argv[2] == 'binary' else plistlib.FMT_XML
with open(sys.argv[1], 'wb') as f:
    plistlib.dump(value, f, fmt=fmt)
)";

const char *kPythonCheck = R"(
import plistlib, sys, datetime
with open(sys.argv[1], 'rb') as f:
    value = plistlib.load(f)
expected = {
    'name': 'Gr\u00fc\u00dfe \u2713', 'count': -42, 'big': 1 << 40, 'ratio': 0.1, 'half': 0.5,
    'flag': True, 'off': False, 'when': datetime.datetime(2020, 5, 17, 12, 30, 45),
    'old': datetime.datetime(1990, 1, 2, 3, 4, 5),
    'blob': b'\x00\x01\xff', 'list': [1, 'two', [3.5]], 'nested': {'a': {'b': []}, 'empty': {}},
}
problems = [k for k in expected if value.get(k) != expected[k] or type(value.get(k)) != type(expected[k])]
print('ok' if not problems and len(value) == len(expected) else 'mismatch ' + repr(problems))
)";

} // namespace

TEST(PlatformPropertyList, RoundTripsInBothFormats)
{
    for (Format format : {Format::XML, Format::Binary}) {
        Error error;
        const QByteArray bytes = PropertyList::write(sample(), format, &error);
        ASSERT_FALSE(bytes.isEmpty()) << error.description.toStdString();
        EXPECT_EQ(PropertyList::detectFormat(bytes), format);
        Format seen = format == Format::XML ? Format::Binary : Format::XML;
        const QVariant back = PropertyList::read(bytes, &error, &seen);
        ASSERT_TRUE(back.isValid()) << error.description.toStdString();
        EXPECT_EQ(seen, format);
        const QVariantMap map = back.toMap();
        EXPECT_EQ(map, sample());
        EXPECT_EQ(map.value("count").typeId(), QMetaType::LongLong);
        EXPECT_EQ(map.value("ratio").typeId(), QMetaType::Double);
        EXPECT_EQ(map.value("flag").typeId(), QMetaType::Bool);
        EXPECT_EQ(map.value("blob").typeId(), QMetaType::QByteArray);
        EXPECT_EQ(map.value("when").toDateTime().timeSpec(), Qt::UTC);
    }
}

TEST(PlatformPropertyList, DatesBeforeTheEpochAndWithMillisecondsInBinary)
{
    const QDateTime early(QDate(1999, 12, 31), QTime(23, 59, 58, 250), Qt::UTC);
    const QByteArray bytes = PropertyList::write(QVariantList{early}, Format::Binary);
    EXPECT_EQ(PropertyList::read(bytes).toList().value(0).toDateTime(), early);
    const QDateTime later(QDate(2033, 1, 2), QTime(3, 4, 5, 750), Qt::UTC);
    EXPECT_EQ(PropertyList::read(PropertyList::write(later, Format::Binary)).toDateTime(), later);
    // XML holds whole seconds: the fraction is dropped, never rounded up a second.
    EXPECT_EQ(PropertyList::read(PropertyList::write(early, Format::XML)).toDateTime(), early.addMSecs(-250));
    EXPECT_EQ(PropertyList::read(PropertyList::write(later, Format::XML)).toDateTime(), later.addMSecs(-750));
    // A local time is stored as its instant.
    const QDateTime local = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::OffsetFromUTC, 3600);
    EXPECT_EQ(PropertyList::read(PropertyList::write(local, Format::XML)).toDateTime(), local.toUTC());
}

TEST(PlatformPropertyList, UidsStayUidsInBothFormats)
{
    const QVariantMap archive{{"$top", QVariantMap{{"root", QVariant::fromValue(PlistUid{1})}}},
                              {"$objects", QVariantList{"$null", "x"}}};
    for (Format format : {Format::Binary, Format::XML}) {
        const QVariant back = PropertyList::read(PropertyList::write(archive, format));
        const QVariant uid = back.toMap().value("$top").toMap().value("root");
        ASSERT_EQ(uid.userType(), qMetaTypeId<PlistUid>());
        EXPECT_EQ(uid.value<PlistUid>().value, 1u);
    }
}

TEST(PlatformPropertyList, PythonReadsWhatWeWriteAndWeReadWhatPythonWrites)
{
    const QString dir = testsupport::scratchDir();
    for (Format format : {Format::XML, Format::Binary}) {
        const QString name = format == Format::XML ? "xml" : "binary";
        const QString ours = dir + "/ours-" + name + ".plist";
        Error error;
        ASSERT_TRUE(PropertyList::writeFile(ours, sample(), format, &error)) << error.description.toStdString();
        EXPECT_EQ(python(kPythonCheck, {ours}), "ok") << name.toStdString();

        const QString theirs = dir + "/theirs-" + name + ".plist";
        ASSERT_EQ(python(kPythonWrite, {theirs, name}), "");
        Format seen;
        const QVariant back = PropertyList::readFile(theirs, &error, &seen);
        ASSERT_TRUE(back.isValid()) << error.description.toStdString();
        EXPECT_EQ(seen, format);
        EXPECT_EQ(back.toMap(), sample()) << name.toStdString();
    }
}

TEST(PlatformPropertyList, DamagedInputIsAnErrorNotACrash)
{
    Error error;
    EXPECT_FALSE(PropertyList::read(QByteArray(), &error).isValid());
    EXPECT_FALSE(error.description.isEmpty());
    EXPECT_FALSE(PropertyList::read("hello world", &error).isValid());
    EXPECT_FALSE(PropertyList::read("<?xml version=\"1.0\"?><plist><dict><key>a</key>", &error).isValid());

    const QByteArray good = PropertyList::write(sample(), Format::Binary);
    // Every truncation and a sweep of flipped bytes must fail cleanly or read something.
    for (int length = 0; length < good.size(); length += 3)
        PropertyList::read(good.left(length), &error);
    for (int i = 8; i < good.size(); ++i) {
        QByteArray damaged = good;
        damaged[i] = char(damaged[i] ^ 0x5a);
        PropertyList::read(damaged, &error);
    }
    EXPECT_FALSE(PropertyList::read(good.left(good.size() - 10), &error).isValid());
}

TEST(PlatformPropertyList, ValuesAPropertyListCannotHoldAreRefused)
{
    Error error;
    EXPECT_TRUE(PropertyList::write(QVariant(), Format::XML, &error).isEmpty());
    EXPECT_FALSE(error.description.isEmpty());
    EXPECT_TRUE(PropertyList::write(QVariantMap{{"a", QVariantList{QVariant()}}}, Format::Binary, &error).isEmpty());
    EXPECT_TRUE(PropertyList::write(QVariant::fromValue(QPoint(1, 2)), Format::XML, &error).isEmpty());
    EXPECT_FALSE(PropertyList::writeFile(testsupport::scratchDir() + "/no/such/folder/x.plist", QVariantMap{},
                                         Format::XML, &error));
}

TEST(PlatformPropertyList, DeepNestingIsRefusedOnReadAndWrite)
{
    QVariant deep = QVariantList{};
    for (int i = 0; i < 600; ++i)
        deep = QVariantList{deep};
    Error error;
    EXPECT_TRUE(PropertyList::write(deep, Format::Binary, &error).isEmpty());

    QByteArray xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 600; ++i)
        xml += "<array>";
    for (int i = 0; i < 600; ++i)
        xml += "</array>";
    xml += "</plist>";
    EXPECT_FALSE(PropertyList::read(xml, &error).isValid());

    // Far deeper, unclosed: refused before anything that deep is built.
    xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">" + QByteArray("<array>").repeated(200000);
    EXPECT_FALSE(PropertyList::read(xml, &error).isValid());
    EXPECT_TRUE(error.description.contains("deeply")) << error.description.toStdString();
}

TEST(PlatformPropertyList, TextsAFormatCannotHoldAreRefusedNotWrittenUnreadable)
{
    // Found by the fuzzer: a keyed archive whose strings hold control characters.
    QFile file(QString(KANTELO_TEST_DATA_DIR) + "/plist-control-character.bplist");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QVariant found = PropertyList::read(file.readAll());
    ASSERT_TRUE(found.isValid());
    Error error;
    EXPECT_TRUE(PropertyList::write(found, Format::XML, &error).isEmpty());
    EXPECT_TRUE(error.description.contains("U+")) << error.description.toStdString();
    EXPECT_EQ(PropertyList::read(PropertyList::write(found, Format::Binary)), found);

    const QVariantMap control{{"a", QString("x\x01y")}};
    EXPECT_TRUE(PropertyList::write(control, Format::XML, &error).isEmpty());
    EXPECT_EQ(PropertyList::read(PropertyList::write(control, Format::Binary)), control);
    const QVariantMap nul{{"a", QString::fromLatin1("x\0y", 3)}};
    EXPECT_TRUE(PropertyList::write(nul, Format::Binary, &error).isEmpty());
    EXPECT_TRUE(PropertyList::write(QVariantMap{{QString("k\x02"), 1}}, Format::XML, &error).isEmpty());
}
