// Keyed archives written here and read back, read by Python's plistlib, and
// hand-made or damaged archives read here.
#include "platform/archive/PropertyList.h"
#include "platform/archive/Color.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedClassRegistry.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/PlistReader.h"
#include "platform/archive/PlistWriter.h"
#include "platform/archive/StyledText.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

using namespace platform;

namespace {

// A small archivable class with every kind of value.
class ArchiveProbe : public Coding
{
public:
    bool flag = false;
    int count = 0;
    qint64 big = 0;
    float narrow = 0;
    double wide = 0;
    QPointF where;
    QString name;
    QByteArray bytes;
    Color color;
    std::shared_ptr<ArchiveProbe> child;
    QList<std::shared_ptr<ArchiveProbe>> children;

    QStringList archiveClassNames() const override { return {"ArchiveProbe", "ProbeBase", "NSObject"}; }
    void encode(KeyedArchiver &c) const override
    {
        c.encodeBool(flag, "flag");
        c.encodeInt(count, "count");
        c.encodeInt64(big, "big");
        c.encodeFloat(narrow, "narrow");
        c.encodeDouble(wide, "wide");
        c.encodePoint(where, "where");
        c.encodeString(name, "name");
        c.encodeData(bytes, "bytes");
        c.encodeObject(QVariant::fromValue(color), "color");
        c.encodeObject(std::static_pointer_cast<const Coding>(child), "child");
        c.encodeObjects(children, "children", true);
    }
    void decode(KeyedUnarchiver &c) override
    {
        flag = c.decodeBoolForKey("flag");
        count = c.decodeIntForKey("count");
        big = c.decodeInt64ForKey("big");
        narrow = c.decodeFloatForKey("narrow");
        wide = c.decodeDoubleForKey("wide");
        where = c.decodePointForKey("where");
        name = c.decodeStringForKey("name");
        bytes = c.decodeDataForKey("bytes");
        color = c.decodeObjectForKey("color").value<Color>();
        child = c.decodeObjectOfClassForKey<ArchiveProbe>("child");
        children = c.decodeArrayOfObjectsOfClassForKey<ArchiveProbe>("children");
        mutableChildren = c.currentClassName() == "ArchiveProbe";
    }
    bool mutableChildren = false;
};

class RenamedProbe : public ArchiveProbe
{};

void registerProbe()
{
    static bool done = false;
    if (!done) {
        KeyedClassRegistry::shared().registerClass<ArchiveProbe>("ArchiveProbe");
        done = true;
    }
}

QJsonObject runPython(const QString &script, const QByteArray &archive)
{
    const QString path = testsupport::scratchDir() + "/archive.bin";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(archive);
    f.close();
    const testsupport::ProgramRun r = testsupport::runProgram("python3", {"-c", script, path});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return QJsonDocument::fromJson(r.out).object();
}

QByteArray xmlArchive(const QString &objects, const QString &top)
{
    return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>$archiver</key><string>NSKeyedArchiver</string>
<key>$version</key><integer>100000</integer>
<key>$top</key><dict>%1</dict>
<key>$objects</key><array><string>$null</string>%2</array>
</dict></plist>)")
        .arg(top, objects)
        .toUtf8();
}

} // namespace

TEST(KeyedArchiveRoundTrip, EveryValueKindComesBack)
{
    registerProbe();
    auto probe = std::make_shared<ArchiveProbe>();
    probe->flag = true;
    probe->count = -42;
    probe->big = qint64(1) << 40;
    probe->narrow = 0.2f;
    probe->wide = 0.1;
    probe->where = QPointF(0.25, -3.5);
    probe->name = QString::fromUtf8("Kantelo Design Template \xc3\xa9");
    probe->bytes = QByteArray("\x00\x01\xff", 3);
    probe->color = Color::rgb(0.5, 0.25, 1.0, 0.75);
    auto shared = std::make_shared<ArchiveProbe>();
    shared->name = "shared";
    probe->child = shared;
    probe->children = {shared, std::make_shared<ArchiveProbe>()};

    const QByteArray data =
        KeyedArchiver::archivedDataWithRootObject(std::static_pointer_cast<const Coding>(probe), "template");
    ASSERT_TRUE(data.startsWith("bplist00"));
    const auto result = KeyedUnarchiver::unarchiveTopLevelObjectWithData(data, "template");
    ASSERT_TRUE(result.ok()) << result.error().description.toStdString();
    auto back = std::dynamic_pointer_cast<ArchiveProbe>(result.value().value<std::shared_ptr<Coding>>());
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->flag);
    EXPECT_EQ(back->count, -42);
    EXPECT_EQ(back->big, qint64(1) << 40);
    EXPECT_EQ(back->narrow, 0.2f);
    EXPECT_EQ(back->wide, 0.1);
    EXPECT_EQ(back->where, QPointF(0.25, -3.5));
    EXPECT_EQ(back->name, probe->name);
    EXPECT_EQ(back->bytes, probe->bytes);
    EXPECT_EQ(back->color, probe->color);
    ASSERT_TRUE(back->child);
    EXPECT_EQ(back->child->name, "shared");
    ASSERT_EQ(back->children.size(), 2);
    // One object referenced twice decodes once.
    EXPECT_EQ(back->children[0].get(), back->child.get());
    EXPECT_NE(back->children[1].get(), back->child.get());
}

TEST(KeyedArchiveRoundTrip, CollectionsStringsAndNumbersAsObjects)
{
    QVariantMap map{{"a", QVariant(qint64(1))}, {"b", QString("two")}, {"c", QVariantList{true, 2.5, QByteArray("x")}}};
    const QByteArray data = KeyedArchiver::archivedDataWithRootObject(map);
    const auto result = KeyedUnarchiver::unarchiveTopLevelObjectWithData(data);
    ASSERT_TRUE(result.ok()) << result.error().description.toStdString();
    const QVariantMap back = result.value().toMap();
    EXPECT_EQ(back.value("a").toLongLong(), 1);
    EXPECT_EQ(back.value("b").toString(), "two");
    const QVariantList list = back.value("c").toList();
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].toBool(), true);
    EXPECT_EQ(list[1].toDouble(), 2.5);
    EXPECT_EQ(list[2].toByteArray(), QByteArray("x"));
}

TEST(KeyedArchiveRoundTrip, MissingKeysGiveEmptyValuesWithoutError)
{
    KeyedArchiver a;
    a.encodeInt(7, "present");
    a.finishEncoding();
    KeyedUnarchiver u(a.encodedData());
    EXPECT_TRUE(u.containsValueForKey("present"));
    EXPECT_FALSE(u.containsValueForKey("absent"));
    EXPECT_EQ(u.decodeIntForKey("absent"), 0);
    EXPECT_FALSE(u.decodeObjectForKey("absent").isValid());
    EXPECT_TRUE(u.decodeStringForKey("absent").isNull());
    EXPECT_EQ(u.decodeIntForKey("present"), 7);
    EXPECT_FALSE(u.hasError());
}

TEST(KeyedArchiveInterop, PlistlibReadsOurArchiveAsAKeyedArchive)
{
    registerProbe();
    auto probe = std::make_shared<ArchiveProbe>();
    probe->name = "outer";
    probe->narrow = 0.5f;
    probe->child = std::make_shared<ArchiveProbe>();
    probe->children = {probe->child};
    const QByteArray data = KeyedArchiver::archivedDataWithRootObject(std::static_pointer_cast<const Coding>(probe));

    const QString script = R"PY(
import plistlib, sys, json
raw = open(sys.argv[1], 'rb').read()
p = plistlib.loads(raw)
objs = p['$objects']
root = p['$top']['root']
assert type(root) is plistlib.UID, type(root)
o = objs[root.data]
cls = objs[o['$class'].data]
kids = objs[o['children'].data]
kcls = objs[kids['$class'].data]
print(json.dumps({
  'archiver': p['$archiver'], 'version': p['$version'], 'null': objs[0],
  'classname': cls['$classname'], 'classes': cls['$classes'],
  'name': objs[o['name'].data], 'narrow': o['narrow'],
  'childIsUID': type(o['child']) is plistlib.UID,
  'sharedChild': kids['NS.objects'][0].data == o['child'].data,
  'arrayClasses': kcls['$classes'],
  'float32': b'\x22\x3f\x00\x00\x00' in raw,
}))
)PY";
    const QJsonObject r = runPython(script, data);
    EXPECT_EQ(r.value("archiver").toString(), "NSKeyedArchiver");
    EXPECT_EQ(r.value("version").toInt(), 100000);
    EXPECT_EQ(r.value("null").toString(), "$null");
    EXPECT_EQ(r.value("classname").toString(), "ArchiveProbe");
    EXPECT_EQ(r.value("classes").toArray(), (QJsonArray{"ArchiveProbe", "ProbeBase", "NSObject"}));
    EXPECT_EQ(r.value("name").toString(), "outer");
    EXPECT_EQ(r.value("narrow").toDouble(), 0.5);
    EXPECT_TRUE(r.value("childIsUID").toBool());
    EXPECT_TRUE(r.value("sharedChild").toBool());
    EXPECT_EQ(r.value("arrayClasses").toArray(), (QJsonArray{"NSMutableArray", "NSArray", "NSObject"}));
    EXPECT_TRUE(r.value("float32").toBool()) << "encodeFloat must write a 4-byte real";
}

TEST(KeyedArchiveInterop, PlistlibWrittenArchiveReadsHere)
{
    // Python writes a binary keyed archive with plistlib.UID; we read it.
    const QString script = R"PY(
import plistlib, sys, json
UID = plistlib.UID
objs = ['$null',
  {'$class': UID(2), 'name': UID(3), 'flag': True, 'count': -5, 'where': '{1.5, 2}', 'color': UID(4)},
  {'$classname': 'ArchiveProbe', '$classes': ['ArchiveProbe', 'NSObject']},
  'from python',
  {'$class': UID(5), 'NSColorSpace': 3, 'NSWhite': b'0.5 0.25\x00'},
  {'$classname': 'NSColor', '$classes': ['NSColor', 'NSObject']}]
d = {'$archiver': 'NSKeyedArchiver', '$version': 100000, '$top': {'root': UID(1)}, '$objects': objs}
open(sys.argv[1], 'wb').write(plistlib.dumps(d, fmt=plistlib.FMT_BINARY))
print('{}')
)PY";
    runPython(script, QByteArray());
    registerProbe();
    QFile f(testsupport::scratchDir() + "/archive.bin");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const auto result = KeyedUnarchiver::unarchiveTopLevelObjectWithData(f.readAll());
    ASSERT_TRUE(result.ok()) << result.error().description.toStdString();
    auto probe = std::dynamic_pointer_cast<ArchiveProbe>(result.value().value<std::shared_ptr<Coding>>());
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->name, "from python");
    EXPECT_TRUE(probe->flag);
    EXPECT_EQ(probe->count, -5);
    EXPECT_EQ(probe->where, QPointF(1.5, 2));
    EXPECT_EQ(probe->color, Color::white(0.5, 0.25));
    EXPECT_EQ(probe->color.toQColor(), QColor::fromRgbF(0.5, 0.5, 0.5, 0.25));
}

TEST(KeyedArchiveXml, HandMadeXmlArchiveWithCFUIDDictionaries)
{
    registerProbe();
    const QByteArray xml = xmlArchive(
        R"(<dict><key>$class</key><dict><key>CF$UID</key><integer>2</integer></dict>
             <key>name</key><dict><key>CF$UID</key><integer>3</integer></dict>
             <key>narrow</key><real>0.25</real>
             <key>child</key><dict><key>CF$UID</key><integer>0</integer></dict></dict>
           <dict><key>$classname</key><string>ArchiveProbe</string>
             <key>$classes</key><array><string>ArchiveProbe</string><string>NSObject</string></array></dict>
           <dict><key>$class</key><dict><key>CF$UID</key><integer>4</integer></dict><key>NS.string</key><string>mutable name</string></dict>
           <dict><key>$classname</key><string>NSMutableString</string>
             <key>$classes</key><array><string>NSMutableString</string><string>NSString</string><string>NSObject</string></array></dict>)",
        R"(<key>root</key><dict><key>CF$UID</key><integer>1</integer></dict>)");
    const auto result = KeyedUnarchiver::unarchiveTopLevelObjectWithData(xml);
    ASSERT_TRUE(result.ok()) << result.error().description.toStdString();
    auto probe = std::dynamic_pointer_cast<ArchiveProbe>(result.value().value<std::shared_ptr<Coding>>());
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->name, "mutable name");
    EXPECT_EQ(probe->narrow, 0.25f);
    EXPECT_FALSE(probe->child);
}

TEST(KeyedArchiveXml, UnknownClassFallsBackThroughItsChainAndLegacyNamesMap)
{
    registerProbe();
    auto objects = [](const QString &className, const QString &chain) {
        return QStringLiteral(R"(<dict><key>$class</key><dict><key>CF$UID</key><integer>2</integer></dict>
              <key>count</key><integer>9</integer></dict>
            <dict><key>$classname</key><string>%1</string><key>$classes</key><array>%2</array></dict>)")
            .arg(className, chain);
    };
    const QString top = R"(<key>root</key><dict><key>CF$UID</key><integer>1</integer></dict>)";

    // A subclass this program doesn't know decodes as its known base class.
    auto viaChain = KeyedUnarchiver::unarchiveTopLevelObjectWithData(xmlArchive(
        objects("NewerProbe", "<string>NewerProbe</string><string>ArchiveProbe</string><string>NSObject</string>"),
        top));
    ASSERT_TRUE(viaChain.ok()) << viaChain.error().description.toStdString();
    auto a = std::dynamic_pointer_cast<ArchiveProbe>(viaChain.value().value<std::shared_ptr<Coding>>());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->count, 9);

    // An old class name maps to today's class.
    const QByteArray legacy =
        xmlArchive(objects("OldProbe", "<string>OldProbe</string><string>NSObject</string>"), top);
    EXPECT_FALSE(KeyedUnarchiver::unarchiveTopLevelObjectWithData(legacy).ok());
    auto mapped = KeyedUnarchiver::unarchiveTopLevelObjectWithData(legacy, "root", {{"OldProbe", "ArchiveProbe"}});
    ASSERT_TRUE(mapped.ok()) << mapped.error().description.toStdString();
    EXPECT_TRUE(std::dynamic_pointer_cast<ArchiveProbe>(mapped.value().value<std::shared_ptr<Coding>>()));
}

TEST(KeyedArchiveDamage, DamagedArchivesGiveErrors)
{
    registerProbe();
    auto probe = std::make_shared<ArchiveProbe>();
    probe->name = "x";
    const QByteArray good = KeyedArchiver::archivedDataWithRootObject(std::static_pointer_cast<const Coding>(probe));
    ASSERT_TRUE(KeyedUnarchiver::unarchiveTopLevelObjectWithData(good).ok());

    // Truncated at every length: never a crash, always an error.
    for (qsizetype n = 0; n < good.size(); ++n) {
        const auto r = KeyedUnarchiver::unarchiveTopLevelObjectWithData(good.left(n));
        EXPECT_FALSE(r.ok()) << "truncated to " << n;
        EXPECT_FALSE(r.error().description.isEmpty());
    }

    const QString top = R"(<key>root</key><dict><key>CF$UID</key><integer>1</integer></dict>)";
    const QString cls =
        R"(<dict><key>$classname</key><string>ArchiveProbe</string><key>$classes</key><array><string>ArchiveProbe</string></array></dict>)";
    // A UID beyond the object table.
    auto wrongUid = KeyedUnarchiver::unarchiveTopLevelObjectWithData(xmlArchive(
        R"(<dict><key>$class</key><dict><key>CF$UID</key><integer>2</integer></dict><key>name</key><dict><key>CF$UID</key><integer>99</integer></dict></dict>)"
            + cls,
        top));
    EXPECT_FALSE(wrongUid.ok());
    EXPECT_TRUE(wrongUid.error().description.contains("out of range")) << wrongUid.error().description.toStdString();
    // An object that contains itself.
    auto selfRef = KeyedUnarchiver::unarchiveTopLevelObjectWithData(xmlArchive(
        R"(<dict><key>$class</key><dict><key>CF$UID</key><integer>2</integer></dict><key>child</key><dict><key>CF$UID</key><integer>1</integer></dict></dict>)"
            + cls,
        top));
    EXPECT_FALSE(selfRef.ok());
    EXPECT_TRUE(selfRef.error().description.contains("itself")) << selfRef.error().description.toStdString();
    // A class record that is not one.
    auto badClass = KeyedUnarchiver::unarchiveTopLevelObjectWithData(xmlArchive(
        R"(<dict><key>$class</key><dict><key>CF$UID</key><integer>2</integer></dict></dict><string>not a class</string>)",
        top));
    EXPECT_FALSE(badClass.ok());
    // A number where a string object belongs.
    auto wrongType = KeyedUnarchiver::unarchiveTopLevelObjectWithData(xmlArchive(
        R"(<dict><key>$class</key><dict><key>CF$UID</key><integer>2</integer></dict><key>name</key><integer>3</integer></dict>)"
            + cls,
        top));
    EXPECT_FALSE(wrongType.ok());
    // Not an archive at all.
    EXPECT_FALSE(KeyedUnarchiver::unarchiveTopLevelObjectWithData("hello").ok());
    EXPECT_FALSE(KeyedUnarchiver::unarchiveTopLevelObjectWithData(QByteArray()).ok());
}

TEST(KeyedArchiveDamage, DeepNestingIsRefused)
{
    // A chain of 100 arrays, each holding the next.
    QString objects;
    const int depth = 100;
    for (int i = 1; i <= depth; ++i) {
        objects += QStringLiteral("<dict><key>$class</key><dict><key>CF$UID</key><integer>%1</integer></dict>"
                                  "<key>NS.objects</key><array>%2</array></dict>")
                       .arg(depth + 1)
                       .arg(i < depth ? QStringLiteral("<dict><key>CF$UID</key><integer>%1</integer></dict>").arg(i + 1)
                                      : QString());
    }
    objects +=
        R"(<dict><key>$classname</key><string>NSArray</string><key>$classes</key><array><string>NSArray</string></array></dict>)";
    const auto r = KeyedUnarchiver::unarchiveTopLevelObjectWithData(
        xmlArchive(objects, R"(<key>root</key><dict><key>CF$UID</key><integer>1</integer></dict>)"));
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.error().description.contains("deeply")) << r.error().description.toStdString();
}

TEST(PlistReaderDamage, DeepBinaryNestingIsAnErrorNotACrash)
{
    // 300000 nested one-element arrays in a binary list.
    const int n = 300000;
    QByteArray data("bplist00");
    QList<quint32> offsets;
    for (int i = 0; i < n; ++i) {
        offsets.append(quint32(data.size()));
        if (i < n - 1) {
            data.append(char(0xA1));
            const quint32 ref = quint32(i + 1);
            data.append(char(ref >> 24)).append(char(ref >> 16)).append(char(ref >> 8)).append(char(ref));
        } else {
            data.append(char(0xA0));
        }
    }
    const quint64 table = quint64(data.size());
    for (quint32 o : offsets)
        data.append(char(o >> 24)).append(char(o >> 16)).append(char(o >> 8)).append(char(o));
    QByteArray trailer(6, '\0');
    trailer.append(char(4)).append(char(4));
    auto be64 = [&](quint64 v) {
        for (int s = 56; s >= 0; s -= 8)
            trailer.append(char(v >> s));
    };
    be64(quint64(n));
    be64(0);
    be64(table);
    data.append(trailer);
    // The QVariant reader takes the same bounds-checked path.
    platform::Error variantError;
    EXPECT_FALSE(platform::PropertyList::read(data, &variantError).isValid());
    EXPECT_FALSE(variantError.description.isEmpty());
    PlistValue v;
    platform::Error error;
    EXPECT_FALSE(PlistReader::read(data, &v, &error));
    EXPECT_TRUE(error.description.contains("deeply")) << error.description.toStdString();
}

TEST(PlistReaderDamage, BinaryReferenceCycleIsRefused)
{
    // Object 0: an array holding object 0.
    QByteArray data("bplist00");
    data.append(char(0xA1)).append(char(0));
    data.append(char(8));
    QByteArray trailer(6, '\0');
    trailer.append(char(1)).append(char(1));
    for (quint64 v : {quint64(1), quint64(0), quint64(10)})
        for (int s = 56; s >= 0; s -= 8)
            trailer.append(char(v >> s));
    data.append(trailer);
    PlistValue v;
    platform::Error error;
    EXPECT_FALSE(PlistReader::read(data, &v, &error));
    EXPECT_TRUE(error.description.contains("itself")) << error.description.toStdString();
}

TEST(KeyedArchiveDamage, OutOfRangeNumbersAndDatesAreSafe)
{
    // A date a hundred billion years away, and a double far beyond float range
    // read as a float.
    const QByteArray xml =
        xmlArchive(R"(<date>2001-01-01T00:00:00Z</date>)",
                   R"(<key>root</key><dict><key>CF$UID</key><integer>1</integer></dict><key>huge</key><real>1e300</real>
           <key>int</key><integer>9223372036854775807</integer>)");
    KeyedUnarchiver u(xml);
    EXPECT_TRUE(std::isinf(u.decodeFloatForKey("huge")));
    EXPECT_EQ(u.decodeInt64ForKey("int"), std::numeric_limits<qint64>::max());
    EXPECT_EQ(u.decodeIntForKey("int"), 0);
    EXPECT_TRUE(u.hasError()); // out of range for 32 bits

    // A binary archive whose root object is a date 1e130 seconds away.
    QList<QByteArray> objects{QByteArray::fromHex("D3010203040506"),
                              QByteArray("\x59$archiver"),
                              QByteArray("\x54$top"),
                              QByteArray("\x58$objects"),
                              QByteArray("\x5F\x10\x0FNSKeyedArchiver"),
                              QByteArray::fromHex("D10708"),
                              QByteArray::fromHex("A2090A"),
                              QByteArray("\x54root"),
                              QByteArray::fromHex("8001"),
                              QByteArray("\x55$null"),
                              QByteArray::fromHex("33") + QByteArray::fromHex("5AFD67F7C0E0F6A7")};
    QByteArray farDate("bplist00");
    QByteArray offsets;
    for (const QByteArray &o : objects) {
        offsets.append(char(farDate.size()));
        farDate.append(o);
    }
    const int table = int(farDate.size());
    farDate.append(offsets);
    farDate.append(QByteArray(6, '\0')).append(char(1)).append(char(1));
    farDate
        .append(QByteArray::fromHex("000000000000000B"
                                    "0000000000000000"))
        .append(QByteArray(7, '\0'))
        .append(char(table));
    const auto r = KeyedUnarchiver::unarchiveTopLevelObjectWithData(farDate);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.error().description.contains("date")) << r.error().description.toStdString();
}
