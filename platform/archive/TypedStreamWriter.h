#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>

namespace platform {

// Writes the typedstream form, the older non-keyed archive (little-endian):
// the header, groups of typed values, objects with their class chain, and
// the shared string and object numbering that later references use.
class TypedStreamWriter
{
public:
    using ClassChain = QList<QPair<QByteArray, int>>; // name and version, the class first

    TypedStreamWriter();

    // Starts a group of values of the given types ("@", "i", "ffff").
    void beginGroup(const QByteArray &encodings);
    void writeInteger(qint64 value);     // s i l q and their unsigned kinds
    void writeChar(quint8 value);        // c C B: one raw byte
    void writeFloat(float value);        // f
    void writeDouble(double value);      // d
    void writeUnsharedBytes(const QByteArray &bytes); // +
    void writeNil();
    // An object ('@'): its class chain (classes already written become
    // references), then its groups, then endObject().
    void beginObject(const ClassChain &chain);
    void endObject();

    QByteArray data() const { return m_data; }

private:
    void writeSharedString(const QByteArray &s);
    void writeReference(int number);

    QByteArray m_data;
    QHash<QByteArray, int> m_strings;
    QHash<QByteArray, int> m_classes;
    int m_nextString = 0;
    int m_nextObject = 0;
};

} // namespace platform
