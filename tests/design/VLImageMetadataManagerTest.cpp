#include "design/VLImage.h"
#include "design/VLImageMetadataManager.h"
#include "platform/imaging/Exiv2Support.h"
#include "platform/imaging/ImageProperties.h"
#include "support/ImagingTools.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

using namespace testsupport;

namespace {

// A JPEG with the capture date and, when asked, IPTC fields written by Exiv2.
QString photo(const QString &stem, bool withIptc, const std::string &date = "2014:07:21 18:03:09")
{
    const QString path = scratchFile(QStringLiteral("jpg"), stem);
    EXPECT_TRUE(runTool(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("8x8"), QStringLiteral("xc:gray"), path}));
    platform::initializeExiv2();
    auto image = Exiv2::ImageFactory::open(path.toStdString());
    image->readMetadata();
    image->exifData()["Exif.Photo.DateTimeOriginal"] = date;
    if (withIptc) {
        image->iptcData()["Iptc.Application2.Headline"] = std::string("Harbour");
        image->iptcData()["Iptc.Application2.Caption"] = std::string("Boats at dusk");
        image->iptcData()["Iptc.Application2.SubLocation"] = std::string("Old Port");
    }
    image->writeMetadata();
    return path;
}

VLImageMetadataManager managerFor(const QString &path)
{
    auto image = VLImage::initWithContentsOfFile(path, true);
    EXPECT_TRUE(image);
    VLImageMetadataManager manager;
    manager.setMetadata(image->metadata());
    return manager;
}

} // namespace

TEST(VLImageMetadataManagerTags, KeysPlaceholdersAndMenu)
{
    VLImageMetadataManager manager;
    EXPECT_EQ(VLImageMetadataManager::keyForTag(100), QStringLiteral("0100"));
    EXPECT_EQ(VLImageMetadataManager::keyForTag(3), QStringLiteral("0003"));
    EXPECT_EQ(manager.templateStringForTag(201), QStringLiteral("{{IPTC caption}}"));
    EXPECT_EQ(manager.templateStringForTag(0), QStringLiteral("{{File name}}"));

    QStringList titles;
    QList<long> tags;
    for (const auto &item : manager.menuItemsForMetadataSelection()) {
        titles << item.title;
        tags << item.tag;
    }
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Select"), QStringLiteral("File name"), QStringLiteral("File short date"),
                                   QStringLiteral("File long date"), QStringLiteral("File size"),
                                   QStringLiteral("EXIF short date"), QStringLiteral("EXIF long date"),
                                   QStringLiteral("IPTC headline"), QStringLiteral("IPTC caption"),
                                   QStringLiteral("IPTC location")}));
    EXPECT_EQ(tags, (QList<long>{-1, 0, 1, 2, 3, 100, 101, 200, 201, 202}));

    // Before any metadata, texts come back as they are.
    EXPECT_EQ(manager.processTemplateString(QStringLiteral("{{File name}}")), QStringLiteral("{{File name}}"));
}

TEST(VLImageMetadataManagerTags, PlaceholdersFilledFromAPhoto)
{
    const QString path = photo(QStringLiteral("harbour"), true);
    const VLImageMetadataManager manager = managerFor(path);
    const QDate day(2014, 7, 21);
    const QString text = QStringLiteral("{{File name}} / {{EXIF short date}} / {{EXIF long date}} / {{IPTC headline}} / "
                                        "{{IPTC caption}} / {{IPTC location}} / {{File size}} bytes / {{Unknown tag}}");
    const QString expected = QFileInfo(path).fileName() + QStringLiteral(" / ") + QLocale().toString(day, QLocale::ShortFormat)
                             + QStringLiteral(" / ") + QLocale().toString(day, QLocale::LongFormat)
                             + QStringLiteral(" / Harbour / Boats at dusk / Old Port / ")
                             + QString::number(QFileInfo(path).size()) + QStringLiteral(" bytes / {{Unknown tag}}");
    EXPECT_EQ(manager.processTemplateString(text), expected);

    const QDate fileDay = QFileInfo(path).lastModified().date();
    EXPECT_EQ(manager.processTemplateString(QStringLiteral("{{File short date}}|{{File long date}}")),
              QLocale().toString(fileDay, QLocale::ShortFormat) + QLatin1Char('|')
                  + QLocale().toString(fileDay, QLocale::LongFormat));
    // Twice in one text: filled at both places.
    EXPECT_EQ(manager.processTemplateString(QStringLiteral("{{IPTC headline}}-{{IPTC headline}}")),
              QStringLiteral("Harbour-Harbour"));
}

TEST(VLImageMetadataManagerTags, MissingValuesLeaveNothing)
{
    const VLImageMetadataManager manager = managerFor(photo(QStringLiteral("plain"), false, "21.07.2014 18:03"));
    EXPECT_EQ(manager.processTemplateString(QStringLiteral("[{{IPTC headline}}][{{EXIF short date}}][{{EXIF long date}}]")),
              QStringLiteral("[][][]"));
    EXPECT_TRUE(manager.metadataValueForTag(200).isNull());
    EXPECT_TRUE(manager.metadataValueForTag(150).isNull());
    EXPECT_TRUE(manager.metadataValueForTag(7).isNull());
}

TEST(VLImageMetadataManagerTags, ValueHoldingItsOwnPlaceholderIsInsertedOnce)
{
    const QString path = photo(QStringLiteral("{{File name}}"), false);
    const VLImageMetadataManager manager = managerFor(path);
    EXPECT_EQ(manager.processTemplateString(QStringLiteral("<{{File name}}>")),
              QStringLiteral("<") + QFileInfo(path).fileName() + QStringLiteral(">"));
}

TEST(VLImageMetadataManagerTags, SameMetadataObjectIsNotRebuilt)
{
    const QString path = photo(QStringLiteral("same"), true);
    auto image = VLImage::initWithContentsOfFile(path, true);
    VLImageMetadataManager manager;
    platform::ImageMetadata metadata = image->metadata();
    manager.setMetadata(metadata);
    const auto values = manager.valueForTemplate();
    EXPECT_EQ(values.value(QStringLiteral("{{IPTC headline}}")), QStringLiteral("Harbour"));

    // The same object: nothing is rebuilt, even though its contents would now differ.
    platform::ImageMetadata changed = metadata;
    changed.setValue(platform::ImageProperty::kIPTCHeadline, QStringLiteral("Changed"));
    manager.setMetadata(metadata);
    EXPECT_EQ(manager.valueForTemplate().value(QStringLiteral("{{IPTC headline}}")), QStringLiteral("Harbour"));
    // An equal but different object rebuilds.
    manager.setMetadata(changed);
    EXPECT_EQ(manager.valueForTemplate().value(QStringLiteral("{{IPTC headline}}")), QStringLiteral("Changed"));
}

TEST(VLImageMetadataManagerTags, StyledTextKeepsThePlaceholderFormat)
{
    const VLImageMetadataManager manager = managerFor(photo(QStringLiteral("styled"), true));
    QTextDocument doc;
    QTextCursor cursor(&doc);
    QTextCharFormat plain;
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    cursor.insertText(QStringLiteral("Title: "), plain);
    cursor.insertText(QStringLiteral("{{IPTC headline}}"), bold);
    cursor.insertText(QStringLiteral("!"), plain);
    const auto out = manager.processTemplateString(&doc);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->toPlainText(), QStringLiteral("Title: Harbour!"));
    QTextCursor probe(out.get());
    probe.setPosition(9); // inside "Harbour"
    EXPECT_EQ(probe.charFormat().fontWeight(), QFont::Bold);
    probe.setPosition(15); // after "!"
    EXPECT_NE(probe.charFormat().fontWeight(), QFont::Bold);
    EXPECT_FALSE(manager.processTemplateString(static_cast<const QTextDocument *>(nullptr)));
}

TEST(VLImageMetadataManagerTags, EveryPlaceholderOfALongTextIsReplaced)
{
    const VLImageMetadataManager manager = managerFor(photo(QStringLiteral("long"), true));
    // A brace that begins none, two placeholders side by side, braces around no name; two paragraphs.
    const QString text = QStringLiteral("{{{IPTC headline}}{{IPTC location}}{x}} ").repeated(2000);
    const QString expected = QStringLiteral("{HarbourOld Port{x}} ").repeated(2000);
    EXPECT_EQ(VLImageMetadataManager::countOfPlaceholders(text), 4000);
    EXPECT_EQ(manager.processTemplateString(text), expected);
    QTextDocument doc(text + QLatin1Char('\n') + text);
    EXPECT_EQ(manager.processTemplateString(&doc)->toPlainText(), expected + QLatin1Char('\n') + expected);
}
