#include "platform/imaging/ExifDirectories.h"

#include <QtEndian>

namespace platform {

namespace {

// Bytes of one value of each TIFF type; 0 for a type we don't know.
quint64 typeSize(quint16 type)
{
    switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
        return 1;
    case 3:
    case 8:
        return 2;
    case 4:
    case 9:
    case 11:
    case 13:
        return 4;
    case 5:
    case 10:
    case 12:
    case 16:
    case 17:
    case 18:
        return 8;
    default:
        return 0;
    }
}

// Some JPEG marker after a start of image: how a picture begins.
bool holdsJpeg(const QByteArray &bytes)
{
    const QByteArray start("\xff\xd8\xff", 3);
    for (qsizetype at = bytes.indexOf(start); at >= 0 && at + 3 < bytes.size(); at = bytes.indexOf(start, at + 1)) {
        const uchar marker = uchar(bytes.at(at + 3));
        if (marker >= 0xc0 && marker != 0xff)
            return true;
    }
    return false;
}

} // namespace

ExifDirectories::ExifDirectories(const QByteArray &block)
    : m_block(block)
{
    if (block.size() < 8)
        return;
    if (block.startsWith("II*\0"))
        m_big = false;
    else if (block.startsWith(QByteArray("MM\0*", 4)))
        m_big = true;
    else
        return;
    m_valid = true;
}

QByteArray ExifDirectories::inPicture(const QByteArray &file)
{
    if (file.startsWith("II*\0") || file.startsWith(QByteArray("MM\0*", 4)))
        return file;
    if (!file.startsWith("\xff\xd8"))
        return {};
    const auto *bytes = reinterpret_cast<const uchar *>(file.constData());
    qsizetype at = 2;
    // Segments up to the picture's data; fill bytes before a marker are allowed.
    while (at + 4 <= file.size()) {
        if (bytes[at] != 0xff)
            return {};
        const uchar marker = bytes[at + 1];
        if (marker == 0xff) {
            ++at;
            continue;
        }
        if (marker == 0xda || marker == 0xd9)
            return {};
        const qsizetype length = qFromBigEndian<quint16>(bytes + at + 2);
        if (length < 2 || at + 2 + length > file.size())
            return {};
        if (marker == 0xe1 && length >= 8 && file.mid(at + 4, 6) == QByteArray("Exif\0\0", 6))
            return file.mid(at + 10, length - 8);
        at += 2 + length;
    }
    return {};
}

quint16 ExifDirectories::u16(quint32 at) const
{
    if (quint64(at) + 2 > quint64(m_block.size()))
        return 0;
    const auto *p = reinterpret_cast<const uchar *>(m_block.constData()) + at;
    return m_big ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
}

quint32 ExifDirectories::u32(quint32 at) const
{
    if (quint64(at) + 4 > quint64(m_block.size()))
        return 0;
    const auto *p = reinterpret_cast<const uchar *>(m_block.constData()) + at;
    return m_big ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
}

void ExifDirectories::putU32(QByteArray &into, quint32 at, quint32 value) const
{
    if (quint64(at) + 4 > quint64(into.size()))
        return;
    auto *p = reinterpret_cast<uchar *>(into.data()) + at;
    if (m_big)
        qToBigEndian(value, p);
    else
        qToLittleEndian(value, p);
}

quint32 ExifDirectories::firstDirectory() const
{
    return m_valid ? u32(4) : 0;
}

bool ExifDirectories::directory(quint32 offset, QList<Entry> *entries, quint32 *nextAt) const
{
    entries->clear();
    if (!m_valid || offset < 8 || quint64(offset) + 2 > quint64(m_block.size()))
        return false;
    const quint16 count = u16(offset);
    const quint64 end = quint64(offset) + 2 + quint64(count) * 12 + 4;
    if (end > quint64(m_block.size()))
        return false;
    for (quint16 i = 0; i < count; ++i) {
        Entry e;
        e.at = offset + 2 + quint32(i) * 12;
        e.tag = u16(e.at);
        e.type = u16(e.at + 2);
        e.count = u32(e.at + 4);
        e.value = u32(e.at + 8);
        const quint64 one = typeSize(e.type);
        if (one == 0)
            return false;
        e.size = one * e.count;
        if (e.size > 4 && quint64(e.value) + e.size > quint64(m_block.size()))
            return false;
        entries->append(e);
    }
    *nextAt = quint32(end - 4);
    return true;
}

bool ExifDirectories::makerNote(quint32 *offset, quint32 *size) const
{
    QList<Entry> entries;
    quint32 next = 0;
    if (!directory(firstDirectory(), &entries, &next))
        return false;
    for (const Entry &e : entries) {
        if (e.tag != kExifTag)
            continue;
        QList<Entry> exif;
        if (!directory(e.value, &exif, &next))
            return false;
        for (const Entry &note : exif) {
            if (note.tag == kMakerNoteTag && note.size > 4) {
                *offset = note.value;
                *size = quint32(note.size);
                return true;
            }
        }
    }
    return false;
}

bool ExifDirectories::isSelfContainedNote(const QByteArray &note, quint32 offset, bool bigEndian)
{
    if (holdsJpeg(note))
        return false;
    const quint64 size = quint64(note.size());
    // A note with a TIFF header of its own counts its offsets from there.
    for (qsizetype at = 0; at <= 16 && at + 8 <= note.size(); ++at) {
        const QByteArray own = note.mid(at);
        const ExifDirectories inner(own);
        if (!inner.isValid())
            continue;
        QList<Entry> entries;
        quint32 next = 0;
        return inner.directory(inner.firstDirectory(), &entries, &next);
    }
    // Else a directory near its start, after a maker's name, in either byte
    // order; its values count from the TIFF header or from the note.
    QByteArray block(8, '\0');
    for (const bool big : {bigEndian, !bigEndian}) {
        block.replace(0, 4, big ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4));
        const ExifDirectories view(block + note);
        for (quint32 at = 0; at <= 16 && at + 2 <= size; at += 2) {
            const quint16 count = view.u16(8 + at);
            if (count == 0 || count > 512 || at + 2 + quint64(count) * 12 > size)
                continue;
            bool fromHeader = true;
            bool fromNote = true;
            bool plausible = true;
            for (quint16 i = 0; i < count && plausible; ++i) {
                const quint32 entry = 8 + at + 2 + quint32(i) * 12;
                const quint64 bytes = typeSize(view.u16(entry + 2)) * view.u32(entry + 4);
                plausible = typeSize(view.u16(entry + 2)) != 0;
                if (!plausible || bytes <= 4)
                    continue;
                const quint64 value = view.u32(entry + 8);
                fromHeader = fromHeader && value >= offset && value + bytes <= quint64(offset) + size;
                fromNote = fromNote && value + bytes <= size;
            }
            if (plausible)
                return fromHeader || fromNote;
        }
    }
    return true;
}

} // namespace platform
