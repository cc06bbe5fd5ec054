#include "platform/archive/PlistReader.h"

#include <QDateTime>
#include <QXmlStreamReader>

#include <cmath>
#include <cstring>
#include <vector>

namespace platform {

namespace {

class BinaryParser
{
public:
    BinaryParser(const QByteArray &data) : m_data(reinterpret_cast<const uchar *>(data.constData())), m_size(quint64(data.size())) {}

    bool parse(PlistValue *result, QString *error)
    {
        if (m_size < 8 + 32 || std::memcmp(m_data, "bplist0", 7) != 0)
            return fail(error, QStringLiteral("not a binary property list"));
        const uchar *trailer = m_data + m_size - 32;
        m_offsetSize = trailer[6];
        m_refSize = trailer[7];
        const quint64 count = be(trailer + 8, 8);
        const quint64 top = be(trailer + 16, 8);
        const quint64 tableOffset = be(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8)
            return fail(error, QStringLiteral("damaged binary property list trailer"));
        const quint64 objectsEnd = m_size - 32;
        if (count == 0 || top >= count || tableOffset < 8 || tableOffset > objectsEnd
            || count > (objectsEnd - tableOffset) / m_offsetSize)
            return fail(error, QStringLiteral("damaged binary property list offset table"));
        m_tableOffset = tableOffset;
        m_count = count;
        m_objectsEnd = tableOffset;
        m_cache.assign(count, PlistValue());
        m_state.assign(count, 0);
        if (!object(top, 0, result))
            return fail(error, m_error);
        return true;
    }

private:
    static quint64 be(const uchar *p, int n)
    {
        quint64 v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 8) | p[i];
        return v;
    }

    bool fail(QString *error, const QString &message)
    {
        if (error)
            *error = message;
        return false;
    }

    bool bad(const QString &message)
    {
        if (m_error.isEmpty())
            m_error = message;
        return false;
    }

    bool offsetOf(quint64 index, quint64 *offset)
    {
        if (index >= m_count)
            return bad(QStringLiteral("object reference %1 out of range").arg(index));
        *offset = be(m_data + m_tableOffset + index * m_offsetSize, m_offsetSize);
        if (*offset < 8 || *offset >= m_objectsEnd)
            return bad(QStringLiteral("object offset out of range"));
        return true;
    }

    // Reads the length that follows a marker whose low nibble is 0xF.
    bool length(quint64 *pos, uchar low, quint64 *len)
    {
        if (low != 0x0F) {
            *len = low;
            return true;
        }
        if (*pos >= m_objectsEnd)
            return bad(QStringLiteral("truncated length"));
        const uchar marker = m_data[*pos];
        if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3)
            return bad(QStringLiteral("damaged length"));
        const int n = 1 << (marker & 0x0F);
        if (*pos + 1 + n > m_objectsEnd)
            return bad(QStringLiteral("truncated length"));
        *len = be(m_data + *pos + 1, n);
        *pos += 1 + n;
        return true;
    }

    bool need(quint64 pos, quint64 bytes)
    {
        if (pos > m_objectsEnd || bytes > m_objectsEnd - pos)
            return bad(QStringLiteral("object runs past the end of the data"));
        return true;
    }

    bool object(quint64 index, int depth, PlistValue *out)
    {
        if (depth > PlistReader::kMaxDepth)
            return bad(QStringLiteral("property list nested too deeply"));
        if (index >= m_count)
            return bad(QStringLiteral("object reference %1 out of range").arg(index));
        if (m_state[index] == 2) {
            *out = m_cache[index];
            return true;
        }
        if (m_state[index] == 1)
            return bad(QStringLiteral("property list refers to itself"));
        m_state[index] = 1;
        quint64 pos;
        if (!offsetOf(index, &pos))
            return false;
        const uchar marker = m_data[pos++];
        const uchar high = marker >> 4, low = marker & 0x0F;
        PlistValue v;
        switch (high) {
        case 0x0:
            if (marker == 0x08 || marker == 0x09)
                v = PlistValue::boolean(marker == 0x09);
            else if (marker != 0x00 && marker != 0x0F)
                return bad(QStringLiteral("unknown object kind"));
            break;
        case 0x1: {
            if (low > 4)
                return bad(QStringLiteral("unknown integer size"));
            const quint64 n = quint64(1) << low;
            if (!need(pos, n))
                return false;
            if (n == 16) {
                // 128-bit: take it only when it fits 64 signed bits.
                const quint64 hi = be(m_data + pos, 8), lo = be(m_data + pos + 8, 8);
                const bool negative = qint64(lo) < 0;
                if (!((hi == 0 && !negative) || (hi == ~quint64(0) && negative)))
                    return bad(QStringLiteral("integer out of range"));
                v = PlistValue::integer(qint64(lo));
            } else {
                const quint64 raw = be(m_data + pos, int(n));
                v = PlistValue::integer(qint64(raw)); // 8 bytes are signed, shorter ones unsigned
            }
            break;
        }
        case 0x2:
            if (low == 2) {
                if (!need(pos, 4))
                    return false;
                const quint32 bits = quint32(be(m_data + pos, 4));
                float f;
                std::memcpy(&f, &bits, 4);
                v = PlistValue::real32(f);
            } else if (low == 3) {
                if (!need(pos, 8))
                    return false;
                const quint64 bits = be(m_data + pos, 8);
                double d;
                std::memcpy(&d, &bits, 8);
                v = PlistValue::real(d);
            } else {
                return bad(QStringLiteral("unknown real size"));
            }
            break;
        case 0x3: {
            if (marker != 0x33 || !need(pos, 8))
                return bad(QStringLiteral("damaged date"));
            const quint64 bits = be(m_data + pos, 8);
            double d;
            std::memcpy(&d, &bits, 8);
            v = PlistValue::date(d);
            break;
        }
        case 0x4: {
            quint64 len;
            if (!length(&pos, low, &len) || !need(pos, len))
                return false;
            v = PlistValue::data(QByteArray(reinterpret_cast<const char *>(m_data + pos), qsizetype(len)));
            break;
        }
        case 0x5:
        case 0x7: {
            quint64 len;
            if (!length(&pos, low, &len) || !need(pos, len))
                return false;
            const char *p = reinterpret_cast<const char *>(m_data + pos);
            v = PlistValue::string(high == 0x5 ? QString::fromLatin1(p, qsizetype(len))
                                               : QString::fromUtf8(p, qsizetype(len)));
            break;
        }
        case 0x6: {
            quint64 len;
            if (!length(&pos, low, &len) || len > m_objectsEnd || !need(pos, len * 2))
                return false;
            QString s(qsizetype(len), Qt::Uninitialized);
            for (quint64 i = 0; i < len; ++i)
                s[qsizetype(i)] = QChar(ushort(be(m_data + pos + 2 * i, 2)));
            v = PlistValue::string(s);
            break;
        }
        case 0x8: {
            const quint64 n = quint64(low) + 1;
            if (n > 8 || !need(pos, n))
                return bad(QStringLiteral("damaged UID"));
            v = PlistValue::uid(be(m_data + pos, int(n)));
            break;
        }
        case 0xA:
        case 0xB:
        case 0xC: {
            quint64 len;
            if (!length(&pos, low, &len))
                return false;
            if (len > m_objectsEnd || !need(pos, len * m_refSize))
                return false;
            QList<PlistValue> items;
            items.reserve(qsizetype(len));
            for (quint64 i = 0; i < len; ++i) {
                PlistValue item;
                if (!object(be(m_data + pos + i * m_refSize, m_refSize), depth + 1, &item))
                    return false;
                items.append(item);
            }
            v = PlistValue::array(items);
            break;
        }
        case 0xD: {
            quint64 len;
            if (!length(&pos, low, &len))
                return false;
            if (len > m_objectsEnd || !need(pos, 2 * len * m_refSize))
                return false;
            QList<PlistValue::Entry> entries;
            entries.reserve(qsizetype(len));
            for (quint64 i = 0; i < len; ++i) {
                PlistValue key, value;
                if (!object(be(m_data + pos + i * m_refSize, m_refSize), depth + 1, &key))
                    return false;
                if (key.type() != PlistValue::Type::String)
                    return bad(QStringLiteral("dictionary key is not a string"));
                if (!object(be(m_data + pos + (len + i) * m_refSize, m_refSize), depth + 1, &value))
                    return false;
                entries.append({key.stringValue(), value});
            }
            v = PlistValue::dictionary(entries);
            break;
        }
        default:
            return bad(QStringLiteral("unknown object kind"));
        }
        m_cache[index] = v;
        m_state[index] = 2;
        *out = v;
        return true;
    }

    const uchar *m_data;
    quint64 m_size;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_count = 0;
    quint64 m_tableOffset = 0;
    quint64 m_objectsEnd = 0;
    std::vector<PlistValue> m_cache;
    std::vector<uchar> m_state; // 0 unread, 1 being read, 2 read
    QString m_error;
};

class XmlParser
{
public:
    explicit XmlParser(const QByteArray &data) : m_xml(data) {}

    bool parse(PlistValue *result, QString *error)
    {
        bool sawPlist = false;
        bool haveValue = false;
        while (!m_xml.atEnd()) {
            const auto token = m_xml.readNext();
            if (token == QXmlStreamReader::StartElement) {
                if (!sawPlist && m_xml.name() == QLatin1String("plist")) {
                    sawPlist = true;
                    continue;
                }
                if (haveValue) {
                    m_error = QStringLiteral("more than one top-level value");
                    break;
                }
                if (!value(0, result))
                    break;
                haveValue = true;
            }
        }
        if (m_error.isEmpty() && m_xml.hasError())
            m_error = QStringLiteral("damaged XML: %1").arg(m_xml.errorString());
        if (m_error.isEmpty() && !haveValue)
            m_error = QStringLiteral("no property list value");
        if (!m_error.isEmpty()) {
            if (error)
                *error = m_error;
            return false;
        }
        return true;
    }

private:
    bool bad(const QString &message)
    {
        if (m_error.isEmpty())
            m_error = message;
        return false;
    }

    // At a start element: reads the value and its end element.
    bool value(int depth, PlistValue *out)
    {
        if (depth > PlistReader::kMaxDepth)
            return bad(QStringLiteral("property list nested too deeply"));
        const QString name = m_xml.name().toString();
        if (name == QLatin1String("dict"))
            return dict(depth, out);
        if (name == QLatin1String("array")) {
            QList<PlistValue> items;
            while (nextChild()) {
                PlistValue item;
                if (!value(depth + 1, &item))
                    return false;
                items.append(item);
            }
            if (!m_error.isEmpty())
                return false;
            *out = PlistValue::array(items);
            return true;
        }
        if (name == QLatin1String("true") || name == QLatin1String("false")) {
            *out = PlistValue::boolean(name == QLatin1String("true"));
            return text(nullptr);
        }
        QString t;
        if (!text(&t))
            return false;
        if (name == QLatin1String("string")) {
            *out = PlistValue::string(t);
        } else if (name == QLatin1String("integer")) {
            bool ok = false;
            const QString trimmed = t.trimmed();
            qint64 n = trimmed.toLongLong(&ok, 10);
            if (!ok) {
                const quint64 u = trimmed.toULongLong(&ok, 10);
                n = qint64(u);
            }
            if (!ok && trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
                n = trimmed.mid(2).toLongLong(&ok, 16);
            if (!ok)
                return bad(QStringLiteral("damaged integer \"%1\"").arg(trimmed.left(40)));
            *out = PlistValue::integer(n);
        } else if (name == QLatin1String("real")) {
            bool ok = false;
            const QString trimmed = t.trimmed();
            double d = trimmed.toDouble(&ok);
            if (!ok) {
                if (trimmed.compare(QLatin1String("nan"), Qt::CaseInsensitive) == 0)
                    d = std::nan(""), ok = true;
                else if (trimmed.compare(QLatin1String("+infinity"), Qt::CaseInsensitive) == 0
                         || trimmed.compare(QLatin1String("inf"), Qt::CaseInsensitive) == 0)
                    d = HUGE_VAL, ok = true;
                else if (trimmed.compare(QLatin1String("-infinity"), Qt::CaseInsensitive) == 0
                         || trimmed.compare(QLatin1String("-inf"), Qt::CaseInsensitive) == 0)
                    d = -HUGE_VAL, ok = true;
            }
            if (!ok)
                return bad(QStringLiteral("damaged real \"%1\"").arg(trimmed.left(40)));
            *out = PlistValue::real(d);
        } else if (name == QLatin1String("data")) {
            QByteArray b64 = t.toLatin1();
            b64.replace(' ', "").replace('\n', "").replace('\t', "").replace('\r', "");
            const auto decoded = QByteArray::fromBase64Encoding(b64);
            if (!decoded)
                return bad(QStringLiteral("damaged data"));
            *out = PlistValue::data(*decoded);
        } else if (name == QLatin1String("date")) {
            QDateTime when = QDateTime::fromString(t.trimmed(), Qt::ISODate);
            // A date without a zone is UTC, as property lists write them.
            if (when.isValid() && when.timeSpec() == Qt::LocalTime)
                when.setTimeSpec(Qt::UTC);
            if (!when.isValid())
                return bad(QStringLiteral("damaged date"));
            const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
            *out = PlistValue::date(double(reference.msecsTo(when)) / 1000.0);
        } else {
            return bad(QStringLiteral("unknown element <%1>").arg(name.left(40)));
        }
        return true;
    }

    bool dict(int depth, PlistValue *out)
    {
        QList<PlistValue::Entry> entries;
        while (nextChild()) {
            if (m_xml.name() != QLatin1String("key"))
                return bad(QStringLiteral("dictionary entry without a key"));
            QString key;
            if (!text(&key))
                return false;
            if (!nextChild())
                return m_error.isEmpty() ? bad(QStringLiteral("dictionary key without a value")) : false;
            PlistValue v;
            if (!value(depth + 1, &v))
                return false;
            entries.append({key, v});
        }
        if (!m_error.isEmpty())
            return false;
        if (entries.size() == 1 && entries.first().first == QLatin1String("CF$UID")
            && entries.first().second.type() == PlistValue::Type::Integer && entries.first().second.toInteger() >= 0) {
            *out = PlistValue::uid(quint64(entries.first().second.toInteger()));
            return true;
        }
        *out = PlistValue::dictionary(entries);
        return true;
    }

    // Advances to the next child start element; false at the parent's end.
    bool nextChild()
    {
        while (!m_xml.atEnd()) {
            const auto token = m_xml.readNext();
            if (token == QXmlStreamReader::StartElement)
                return true;
            if (token == QXmlStreamReader::EndElement)
                return false;
            if (token == QXmlStreamReader::Characters && !m_xml.isWhitespace()) {
                bad(QStringLiteral("unexpected text in a container"));
                return false;
            }
        }
        if (m_xml.hasError())
            bad(QStringLiteral("damaged XML: %1").arg(m_xml.errorString()));
        else
            bad(QStringLiteral("truncated XML"));
        return false;
    }

    bool text(QString *out)
    {
        const QString t = m_xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        if (m_xml.hasError())
            return bad(QStringLiteral("damaged XML: %1").arg(m_xml.errorString()));
        if (out)
            *out = t;
        return true;
    }

    QXmlStreamReader m_xml;
    QString m_error;
};

} // namespace

bool PlistReader::isBinary(const QByteArray &data)
{
    return data.startsWith("bplist0");
}

bool PlistReader::read(const QByteArray &data, PlistValue *result, Error *error)
{
    return isBinary(data) ? readBinary(data, result, error) : readXml(data, result, error);
}

bool PlistReader::readBinary(const QByteArray &data, PlistValue *result, Error *error)
{
    if (data.size() > kMaxInputSize) {
        setError(error, QStringLiteral("property list too large"));
        return false;
    }
    PlistValue v;
    BinaryParser parser(data);
    QString message;
    if (!parser.parse(&v, &message)) {
        setError(error, message);
        return false;
    }
    *result = v;
    return true;
}

bool PlistReader::readXml(const QByteArray &data, PlistValue *result, Error *error)
{
    if (data.size() > kMaxInputSize) {
        setError(error, QStringLiteral("property list too large"));
        return false;
    }
    PlistValue v;
    XmlParser parser(data);
    QString message;
    if (!parser.parse(&v, &message)) {
        setError(error, message);
        return false;
    }
    *result = v;
    return true;
}

} // namespace platform
