// The photo's XMP and IPTC through the export as they were written: a packet
// that repeats a property keeps the rest, its namespaces stay as declared,
// and a time keeps the zone it had, or none.
#include "platform/Log.h"
#include "platform/TypeTable.h"
#include "platform/codec/ExportMetadata.h"
#include "platform/codec/ImageEncoder.h"
#include "platform/imaging/Exiv2Support.h"
#include "platform/imaging/ImageMetadata.h"
#include "platform/imaging/IptcRecords.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QtEndian>

using namespace platform;

namespace {

QByteArray segment(uchar marker, const QByteArray &payload)
{
    QByteArray length(2, '\0');
    qToBigEndian(quint16(payload.size() + 2), length.data());
    return QByteArray(1, '\xff') + char(marker) + length + payload;
}

QByteArray record(char dataSet, const QByteArray &value)
{
    return QByteArray("\x1c\x02", 2) + dataSet + char(value.size() >> 8) + char(value.size() & 0xff) + value;
}

} // namespace

TEST(ExportXmpIptc, RepeatedPropertiesBareNamespacesAndZonelessTimesComeBackAsTheyWere)
{
    const QByteArray xmp = R"(<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
<rdf:Description xmlns:dc="http://purl.org/dc/elements/1.1/">
<dc:creator><rdf:Seq><rdf:li>Ann Artist</rdf:li></rdf:Seq></dc:creator>
<dc:rights><rdf:Alt><rdf:li xml:lang="x-default">(c) Ann Artist</rdf:li></rdf:Alt></dc:rights></rdf:Description>
<rdf:Description xmlns:dc="http://purl.org/dc/elements/1.1/"
 xmlns:MicrosoftPhoto="http://ns.microsoft.com/photo/1.0" MicrosoftPhoto:Rating="50">
<dc:creator><rdf:Seq><rdf:li>Someone Else</rdf:li></rdf:Seq></dc:creator></rdf:Description>
</rdf:RDF></x:xmpmeta><?xpacket end="w"?>)";
    const QByteArray iim = record(80, "Ann Artist") + record(60, "143947") + record(35, "101500+0200");
    QByteArray resource = QByteArray("8BIM\x04\x04\0\0", 8) + QByteArray(4, '\0') + iim;
    qToBigEndian(quint32(iim.size()), resource.data() + 8);
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG");
    jpeg = jpeg.left(2) + segment(0xe1, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + xmp)
           + segment(0xed, QByteArray("Photoshop 3.0\0", 14) + resource) + jpeg.mid(2);

    QStringList lines;
    setLogSink([&](const QString &line) { lines << line; });
    const ExportMetadata m = ExportMetadata::prepare(ImageMetadata::fromData(jpeg), 300.0, QSize(60, 50), "3.0.0");
    setLogSink(nullptr);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("Warning: ") && lines[0].contains("dc:creator")) << lines[0].toStdString();

    QImage framed(60, 50, QImage::Format_RGB32);
    framed.fill(Qt::white);
    const QByteArray out =
        ImageEncoder::encodeToData(framed, QString::fromLatin1(TypeTable::kJPEG), m, 0.9, nullptr).value_or("");
    const ImageMetadata back = ImageMetadata::fromData(out);
    EXPECT_EQ(back.value("Xmp.dc.creator").toString(), "Ann Artist");
    EXPECT_TRUE(back.value("Xmp.dc.rights").toString().contains("(c) Ann Artist"));
    EXPECT_EQ(back.value("Xmp.MicrosoftPhoto.Rating").toString(), "50");
    EXPECT_TRUE(out.contains("=\"http://ns.microsoft.com/photo/1.0\""));
    const QByteArray records = IptcRecords::inPicture(out);
    EXPECT_TRUE(records.contains(record(60, "143947"))) << records.toHex().toStdString();
    EXPECT_TRUE(records.contains(record(35, "101500+0200")));
    EXPECT_TRUE(records.contains(record(80, "Ann Artist")));
}
