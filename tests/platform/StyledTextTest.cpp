// Styled text of the text overlay: its keyed archive form and
// its conversion to and from QTextDocument.
#include "platform/archive/FontNames.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "platform/archive/PlistReader.h"
#include "platform/archive/StyledText.h"

#include <QFontDatabase>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace platform;

namespace {

StyledText::Attributes attrs(const QString &font, double size, int alignment)
{
    StyledText::Attributes a;
    a.font = StyledText::Font{font, size, {}};
    a.paragraphStyle = StyledText::ParagraphStyle{alignment};
    return a;
}

StyledText sample()
{
    StyledText t;
    StyledText::Attributes title = attrs("Helvetica-Bold", 24, StyledText::Center);
    title.color = Color::rgb(1, 0, 0);
    title.font->flags = 16;
    t.append("Wedding\n", title);
    StyledText::Attributes body = attrs(".AppleSystemUIFont", 12, StyledText::Center);
    body.underline = 1;
    body.kern = 1.5;
    body.shadow = StyledText::Shadow{QPointF(2, -2), 3, Color::white(0, 0.5)};
    t.append(QString::fromUtf8("{Date} \xe2\x98\xba"), body);
    StyledText::Attributes plain = attrs("Helvetica", 12, StyledText::Center);
    plain.strikethrough = 1;
    t.append(" end", plain);
    return t;
}

StyledText roundTrip(const StyledText &t)
{
    const QByteArray data = KeyedArchiver::archivedDataWithRootObject(QVariant::fromValue(t));
    const auto r = KeyedUnarchiver::unarchiveTopLevelObjectWithData(data);
    EXPECT_TRUE(r.ok()) << r.error().description.toStdString();
    return r.valueOr({}).value<StyledText>();
}

} // namespace

TEST(StyledTextArchive, RunsFontsColoursAndExtrasRoundTrip)
{
    const StyledText t = sample();
    ASSERT_EQ(t.runs().size(), 3);
    EXPECT_EQ(roundTrip(t), t);

    // One run: a single attribute dictionary and no run table.
    const StyledText single("Overlay", attrs(".AppleSystemUIFont", 12, StyledText::Center));
    EXPECT_EQ(roundTrip(single), single);
    KeyedArchiver a;
    a.encodeObject(QVariant::fromValue(single), "root");
    a.finishEncoding();
    bool sawInfo = false;
    const PlistValue objects = a.archiveTree().value("$objects");
    for (const PlistValue &o : objects.items())
        sawInfo = sawInfo || o.contains("NSAttributeInfo");
    EXPECT_FALSE(sawInfo);

    // The empty text keeps no attributes in the keyed archive form.
    EXPECT_EQ(roundTrip(StyledText("", attrs("Helvetica", 12, StyledText::Left))).runs().size(), 0);
}

TEST(StyledTextArchive, MacStyleArchiveWithRunTableReads)
{
    // Two runs sharing one attribute dictionary around a second one:
    // NSAttributeInfo = (3, 0) (2, 1) (200, 0) with a two-byte length.
    const QString text = QString("abc") + "de" + QString(200, 'x');
    const QByteArray info = QByteArray::fromHex("03000201C80100");
    QString objects = QStringLiteral(R"(
      <dict><key>$class</key><dict><key>CF$UID</key><integer>2</integer></dict>
        <key>NSString</key><dict><key>CF$UID</key><integer>3</integer></dict>
        <key>NSAttributes</key><dict><key>CF$UID</key><integer>4</integer></dict>
        <key>NSAttributeInfo</key><dict><key>CF$UID</key><integer>12</integer></dict></dict>
      <dict><key>$classname</key><string>NSMutableAttributedString</string><key>$classes</key>
        <array><string>NSMutableAttributedString</string><string>NSAttributedString</string><string>NSObject</string></array></dict>
      <string>%1</string>
      <dict><key>$class</key><dict><key>CF$UID</key><integer>5</integer></dict>
        <key>NS.objects</key><array><dict><key>CF$UID</key><integer>6</integer></dict><dict><key>CF$UID</key><integer>11</integer></dict></array></dict>
      <dict><key>$classname</key><string>NSArray</string><key>$classes</key><array><string>NSArray</string><string>NSObject</string></array></dict>
      <dict><key>$class</key><dict><key>CF$UID</key><integer>7</integer></dict>
        <key>NS.keys</key><array><dict><key>CF$UID</key><integer>8</integer></dict></array>
        <key>NS.objects</key><array><dict><key>CF$UID</key><integer>9</integer></dict></array></dict>
      <dict><key>$classname</key><string>NSDictionary</string><key>$classes</key><array><string>NSDictionary</string><string>NSObject</string></array></dict>
      <string>NSFont</string>
      <dict><key>$class</key><dict><key>CF$UID</key><integer>10</integer></dict>
        <key>NSName</key><dict><key>CF$UID</key><integer>13</integer></dict><key>NSSize</key><real>18</real><key>NSfFlags</key><integer>16</integer></dict>
      <dict><key>$classname</key><string>NSFont</string><key>$classes</key><array><string>NSFont</string><string>NSObject</string></array></dict>
      <dict><key>$class</key><dict><key>CF$UID</key><integer>7</integer></dict>
        <key>NS.keys</key><array><dict><key>CF$UID</key><integer>14</integer></dict></array>
        <key>NS.objects</key><array><dict><key>CF$UID</key><integer>15</integer></dict></array></dict>
      <data>%2</data>
      <string>Georgia-Italic</string>
      <string>NSUnderline</string>
      <integer>1</integer>)")
                          .arg(text, QString::fromLatin1(info.toBase64()));
    const QByteArray xml = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>
      <key>$archiver</key><string>NSKeyedArchiver</string><key>$version</key><integer>100000</integer>
      <key>$top</key><dict><key>root</key><dict><key>CF$UID</key><integer>1</integer></dict></dict>
      <key>$objects</key><array><string>$null</string>%1</array></dict></plist>)")
                               .arg(objects)
                               .toUtf8();

    const auto r = KeyedUnarchiver::unarchiveTopLevelObjectWithData(xml);
    ASSERT_TRUE(r.ok()) << r.error().description.toStdString();
    const StyledText t = r.value().value<StyledText>();
    EXPECT_EQ(t.string(), text);
    ASSERT_EQ(t.runs().size(), 3);
    EXPECT_EQ(t.runs()[0].length, 3);
    EXPECT_EQ(t.runs()[1].length, 2);
    EXPECT_EQ(t.runs()[2].length, 200);
    ASSERT_TRUE(t.runs()[0].attributes.font);
    EXPECT_EQ(t.runs()[0].attributes.font->name, "Georgia-Italic");
    EXPECT_EQ(t.runs()[0].attributes.font->size, 18);
    EXPECT_EQ(t.runs()[0].attributes.font->flags, 16);
    EXPECT_EQ(t.runs()[1].attributes.underline, 1);
    EXPECT_FALSE(t.runs()[1].attributes.font);

    // A run table that runs past the text is damage.
    QByteArray bad = xml;
    bad.replace(info.toBase64(), QByteArray::fromHex("030002010901").toBase64());
    EXPECT_FALSE(KeyedUnarchiver::unarchiveTopLevelObjectWithData(bad).ok());
    // So is one that names a dictionary that isn't there.
    bad = xml;
    bad.replace(info.toBase64(), QByteArray::fromHex("0300020248"
                                                     "0100")
                                     .toBase64());
    EXPECT_FALSE(KeyedUnarchiver::unarchiveTopLevelObjectWithData(bad).ok());
}

TEST(StyledTextDocument, ConvertsToRichTextAndBackUnchanged)
{
    const StyledText t = sample();
    QTextDocument doc;
    t.toTextDocument(&doc);
    EXPECT_EQ(doc.toPlainText(), t.string());
    ASSERT_EQ(doc.blockCount(), 2);
    EXPECT_EQ(doc.firstBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    const QTextCharFormat title = doc.firstBlock().begin().fragment().charFormat();
    EXPECT_EQ(title.fontWeight(), QFont::Bold);
    EXPECT_EQ(title.fontPointSize(), 24);
    EXPECT_EQ(title.foreground().color(), QColor(Qt::red));
    const QTextCharFormat body = doc.lastBlock().begin().fragment().charFormat();
    EXPECT_TRUE(body.fontUnderline());
    EXPECT_EQ(body.fontLetterSpacing(), 1.5);
    EXPECT_EQ(body.fontFamilies().toStringList().value(0),
              QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());

    EXPECT_EQ(StyledText::fromTextDocument(doc), t);
}

TEST(StyledTextDocument, EditsInTheDocumentComeBackAsAttributes)
{
    QTextDocument doc;
    StyledText("left text", attrs("Helvetica", 12, StyledText::Left)).toTextDocument(&doc);
    QTextCursor c(&doc);
    c.setPosition(0);
    c.setPosition(4, QTextCursor::KeepAnchor);
    QTextCharFormat f;
    f.setFontWeight(QFont::Bold);
    f.setFontFamilies({"DejaVu Serif"});
    f.setForeground(QColor(0, 0, 255));
    c.mergeCharFormat(f);
    QTextBlockFormat b;
    b.setAlignment(Qt::AlignRight);
    c.setBlockFormat(b);

    const StyledText back = StyledText::fromTextDocument(doc);
    ASSERT_EQ(back.runs().size(), 2);
    EXPECT_EQ(back.runs()[0].length, 4);
    EXPECT_EQ(back.runs()[0].attributes.font->name, "DejaVuSerif-Bold");
    EXPECT_EQ(back.runs()[0].attributes.color, Color::rgb(0, 0, 1));
    EXPECT_EQ(back.runs()[0].attributes.paragraphStyle->alignment, StyledText::Right);
    EXPECT_EQ(back.runs()[1].attributes.font->name, "Helvetica");
    EXPECT_EQ(back.runs()[1].attributes.paragraphStyle->alignment, StyledText::Right);
}

TEST(StyledTextFonts, PostScriptNamesAndSystemFonts)
{
    const QString system = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    for (const char *name :
         {".AppleSystemUIFont", ".SFNS-Regular", ".HelveticaNeueDeskInterface-Regular", "LucidaGrande"}) {
        EXPECT_TRUE(FontNames::isSystemFontName(name)) << name;
        EXPECT_EQ(FontNames::familyForName(name), system) << name;
    }
    EXPECT_EQ(FontNames::familyForName("DejaVuSans-Bold"), "DejaVu Sans");
    EXPECT_EQ(FontNames::familyForName("DejaVuSerif"), "DejaVu Serif");
    EXPECT_EQ(FontNames::familyForName("TimesNewRomanPSMT"),
              QFontDatabase::hasFamily("Times New Roman") ? "Times New Roman" : "Times New Roman");
    EXPECT_EQ(FontNames::familyForName("HelveticaNeue-Light"), "Helvetica Neue");
    const QFont boldItalic = FontNames::fontForName("Georgia-BoldItalic", 14);
    EXPECT_EQ(boldItalic.weight(), QFont::Bold);
    EXPECT_TRUE(boldItalic.italic());
    EXPECT_EQ(boldItalic.pointSizeF(), 14);
    EXPECT_EQ(FontNames::nameForFont(QFont("DejaVu Sans Mono")), "DejaVuSansMono");
    QFont systemBold(system);
    systemBold.setBold(true);
    EXPECT_EQ(FontNames::nameForFont(systemBold), ".AppleSystemUIFontBold");
}
