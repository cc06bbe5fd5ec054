#include "platform/archive/TypedStreamWriter.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace platform {

namespace {

constexpr char kTagInteger2 = char(0x81);
constexpr char kTagInteger4 = char(0x82);
constexpr char kTagFloat = char(0x83);
constexpr char kTagNew = char(0x84);
constexpr char kTagNil = char(0x85);
constexpr char kTagEndOfObject = char(0x86);
constexpr int kFirstReference = -110;

void appendLittleEndian(QByteArray *data, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        data->append(char((value >> (8 * i)) & 0xFF));
}

} // namespace

TypedStreamWriter::TypedStreamWriter()
{
    m_data.append(char(4));
    m_data.append(char(11));
    m_data.append("streamtyped");
    writeInteger(1000);
}

void TypedStreamWriter::writeInteger(qint64 value)
{
    // One byte unless the value would read as a tag.
    if (value >= -110 && value <= 127) {
        m_data.append(char(qint8(value)));
    } else if (value >= std::numeric_limits<qint16>::min() && value <= std::numeric_limits<qint16>::max()) {
        m_data.append(kTagInteger2);
        appendLittleEndian(&m_data, quint64(value), 2);
    } else {
        m_data.append(kTagInteger4);
        appendLittleEndian(&m_data, quint64(value), 4);
    }
}

void TypedStreamWriter::writeChar(quint8 value)
{
    m_data.append(char(value));
}

void TypedStreamWriter::writeFloat(float value)
{
    // Whole numbers are written as integers.
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 2147483647.0f
        && !(value == 0 && std::signbit(value))) {
        writeInteger(qint64(value));
        return;
    }
    m_data.append(kTagFloat);
    quint32 bits;
    std::memcpy(&bits, &value, 4);
    appendLittleEndian(&m_data, bits, 4);
}

void TypedStreamWriter::writeDouble(double value)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 2147483647.0
        && !(value == 0 && std::signbit(value))) {
        writeInteger(qint64(value));
        return;
    }
    m_data.append(kTagFloat);
    quint64 bits;
    std::memcpy(&bits, &value, 8);
    appendLittleEndian(&m_data, bits, 8);
}

void TypedStreamWriter::writeUnsharedBytes(const QByteArray &bytes)
{
    writeInteger(bytes.size());
    m_data.append(bytes);
}

void TypedStreamWriter::writeNil()
{
    m_data.append(kTagNil);
}

void TypedStreamWriter::writeReference(int number)
{
    writeInteger(qint64(number) + kFirstReference);
}

void TypedStreamWriter::writeSharedString(const QByteArray &s)
{
    auto it = m_strings.constFind(s);
    if (it != m_strings.constEnd()) {
        writeReference(*it);
        return;
    }
    m_data.append(kTagNew);
    writeUnsharedBytes(s);
    m_strings.insert(s, m_nextString++);
}

void TypedStreamWriter::beginGroup(const QByteArray &encodings)
{
    writeSharedString(encodings);
}

void TypedStreamWriter::beginObject(const ClassChain &chain)
{
    m_data.append(kTagNew);
    ++m_nextObject; // the object's own number
    bool ended = false;
    for (const auto &cls : chain) {
        auto it = m_classes.constFind(cls.first);
        if (it != m_classes.constEnd()) {
            writeReference(*it);
            ended = true;
            break;
        }
        m_data.append(kTagNew);
        writeSharedString(cls.first);
        writeInteger(cls.second);
        m_classes.insert(cls.first, m_nextObject++);
    }
    if (!ended)
        writeNil();
}

void TypedStreamWriter::endObject()
{
    m_data.append(kTagEndOfObject);
}

} // namespace platform
