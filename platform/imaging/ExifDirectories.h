#pragma once

#include <QByteArray>
#include <QList>

namespace platform {

// The directories of an EXIF block (a TIFF structure: byte-order mark, 42,
// the first directory's offset), read with every offset checked against the
// block. Only what the maker note's carriage needs: where entries and their
// values lie, so they can be found and moved.
class ExifDirectories
{
public:
    struct Entry {
        quint16 tag = 0;
        quint16 type = 0;
        quint32 count = 0;
        quint32 at = 0;    // where the entry's 12 bytes begin
        quint64 size = 0;  // bytes of its value; more than 4 lie at `value`
        quint32 value = 0; // the value field read as one number
    };
    static constexpr quint16 kExifTag = 0x8769;
    static constexpr quint16 kGpsTag = 0x8825;
    static constexpr quint16 kInteroperabilityTag = 0xa005;
    static constexpr quint16 kMakerNoteTag = 0x927c;

    explicit ExifDirectories(const QByteArray &block);
    // The EXIF block of a picture's file: a JPEG's first "Exif" APP1, or the
    // file itself when it is a TIFF. Empty when none is found.
    static QByteArray inPicture(const QByteArray &file);

    bool isValid() const { return m_valid; }
    bool isBigEndian() const { return m_big; }
    quint32 firstDirectory() const;

    // The entries of the directory at `offset` and where its link to the next
    // one lies; false when it does not fit in the block or a type is unknown.
    bool directory(quint32 offset, QList<Entry> *entries, quint32 *nextAt) const;
    // Where the maker note's bytes lie, from the Exif directory; false when
    // the block has none.
    bool makerNote(quint32 *offset, quint32 *size) const;

    // Whether a maker note (its bytes, which lay `offset` bytes from the TIFF
    // header of a block in the given byte order) reads the same wherever it
    // goes with its bytes at that offset: false when a JPEG lies in it (a
    // preview of the unframed photo) or a value its directory names lies
    // outside it, whichever base (the TIFF header, the note, a TIFF header of
    // its own) its offsets count from. A note with no directory to be found
    // names no value.
    static bool isSelfContainedNote(const QByteArray &note, quint32 offset, bool bigEndian);

    quint32 u32(quint32 at) const;
    // Writes `value` at `at` of `into` (a copy of the block, grown or not) in
    // the block's byte order.
    void putU32(QByteArray &into, quint32 at, quint32 value) const;

private:
    quint16 u16(quint32 at) const;
    QByteArray m_block;
    bool m_valid = false;
    bool m_big = false;
};

} // namespace platform
