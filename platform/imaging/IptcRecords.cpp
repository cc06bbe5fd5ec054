#include "platform/imaging/IptcRecords.h"

#include "platform/imaging/ExifDirectories.h"
#include "platform/imaging/Exiv2Support.h"

#include <QHash>
#include <QList>
#include <QtEndian>

namespace platform {

namespace {

constexpr quint16 kIptcTag = 0x83bb;

// The Photoshop resources of a JPEG's APP13 segments, one after the other.
QByteArray photoshopResources(const QByteArray &file)
{
    static const QByteArray signature("Photoshop 3.0\0", 14);
    const auto *bytes = reinterpret_cast<const uchar *>(file.constData());
    QByteArray resources;
    qsizetype at = 2;
    while (at + 4 <= file.size() && bytes[at] == 0xff) {
        const uchar marker = bytes[at + 1];
        if (marker == 0xff) {
            ++at;
            continue;
        }
        if (marker == 0xda || marker == 0xd9)
            break;
        const qsizetype length = qFromBigEndian<quint16>(bytes + at + 2);
        if (length < 2 || at + 2 + length > file.size())
            break;
        if (marker == 0xed && length >= 2 + signature.size() && file.mid(at + 4, signature.size()) == signature)
            resources += file.mid(at + 4 + signature.size(), length - 2 - signature.size());
        at += 2 + length;
    }
    return resources;
}

} // namespace

QByteArray IptcRecords::inPicture(const QByteArray &file)
{
    if (file.startsWith("II*\0") || file.startsWith(QByteArray("MM\0*", 4))) {
        const ExifDirectories tiff(file);
        QList<ExifDirectories::Entry> entries;
        quint32 next = 0;
        if (!tiff.directory(tiff.firstDirectory(), &entries, &next))
            return {};
        for (const ExifDirectories::Entry &e : entries) {
            if (e.tag == kIptcTag)
                return e.size > 4 ? file.mid(e.value, qsizetype(e.size)) : file.mid(e.at + 8, qsizetype(e.size));
        }
        return {};
    }
    if (!file.startsWith("\xff\xd8"))
        return {};
    const QByteArray resources = photoshopResources(file);
    QByteArray records;
    const auto *data = reinterpret_cast<const Exiv2::byte *>(resources.constData());
    long left = long(resources.size());
    const Exiv2::byte *record = nullptr;
    uint32_t header = 0;
    uint32_t size = 0;
    try {
        while (left > 0 && Exiv2::Photoshop::locateIptcIrb(data, left, &record, &header, &size) == 0) {
            const long used = long(record - data) + long(header) + long(size);
            if (used > left)
                break;
            records += QByteArray(reinterpret_cast<const char *>(record + header), qsizetype(size));
            left -= used + (size & 1);
            data += used + (size & 1);
        }
    } catch (const std::exception &) {
    }
    return records;
}

void IptcRecords::keepDatesAsWritten(Exiv2::IptcData &iptc, const QByteArray &records)
{
    const auto *bytes = reinterpret_cast<const uchar *>(records.constData());
    QHash<quint32, int> seen;
    qsizetype at = 0;
    while (at + 5 <= records.size() && bytes[at] == 0x1c) {
        const quint16 record = bytes[at + 1];
        const quint16 dataSet = bytes[at + 2];
        const quint16 length = qFromBigEndian<quint16>(bytes + at + 3);
        if (length & 0x8000)
            return; // a length of several bytes: no date is that long
        const QByteArray written = records.mid(at + 5, length);
        at += 5 + length;
        const int nth = seen[quint32(record) << 16 | dataSet]++;
        const Exiv2::TypeId type = Exiv2::IptcDataSets::dataSetType(dataSet, record);
        if (type != Exiv2::date && type != Exiv2::time)
            continue;
        int found = 0;
        for (Exiv2::Iptcdatum &datum : iptc) {
            if (datum.record() != record || datum.tag() != dataSet || found++ != nth)
                continue;
            QByteArray encoded(qsizetype(datum.size()), '\0');
            datum.copy(reinterpret_cast<Exiv2::byte *>(encoded.data()), Exiv2::bigEndian);
            if (encoded != written) {
                Exiv2::StringValue text;
                text.read(written.toStdString());
                datum.setValue(&text);
            }
            break;
        }
    }
}

} // namespace platform
