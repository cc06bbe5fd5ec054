#include "platform/archive/TypedStreamReader.h"

#include <cstring>

namespace platform {

namespace {

constexpr qint8 kTagInteger2 = -127;
constexpr qint8 kTagInteger4 = -126;
constexpr qint8 kTagFloat = -125;
constexpr qint8 kTagNew = -124;
constexpr qint8 kTagNil = -123;
constexpr qint8 kTagEndOfObject = -122;
constexpr qint8 kFirstTag = -128;
constexpr qint8 kLastTag = -111;
constexpr qint64 kFirstReference = kLastTag + 1;

bool isTag(qint8 b)
{
    return b >= kFirstTag && b <= kLastTag;
}

// Splits a type encoding into its single types ("ffff" -> f f f f,
// "[5c]{_NSPoint=ff}" -> two). False when malformed.
bool splitEncodings(const QByteArray &enc, qsizetype *pos, QList<QByteArray> *out, int depth, bool untilBrace);

bool oneEncoding(const QByteArray &enc, qsizetype *pos, QByteArray *out, int depth)
{
    if (depth > TypedStreamReader::kMaxDepth || *pos >= enc.size())
        return false;
    const qsizetype start = *pos;
    const char c = enc[*pos];
    if (c == '[') {
        ++*pos;
        qsizetype digits = 0;
        while (*pos < enc.size() && enc[*pos] >= '0' && enc[*pos] <= '9')
            ++*pos, ++digits;
        if (digits == 0 || digits > 9)
            return false;
        QByteArray element;
        if (!oneEncoding(enc, pos, &element, depth + 1) || *pos >= enc.size() || enc[*pos] != ']')
            return false;
        ++*pos;
    } else if (c == '{') {
        ++*pos;
        while (*pos < enc.size() && enc[*pos] != '=' && enc[*pos] != '}')
            ++*pos;
        if (*pos >= enc.size())
            return false;
        if (enc[*pos] == '=') {
            ++*pos;
            QList<QByteArray> fields;
            if (!splitEncodings(enc, pos, &fields, depth + 1, true))
                return false;
        }
        if (*pos >= enc.size() || enc[*pos] != '}')
            return false;
        ++*pos;
    } else if (std::strchr("cCsSiIlLqQfdB*%:+#@!", c) && c != '\0') {
        ++*pos;
    } else {
        return false;
    }
    *out = enc.mid(start, *pos - start);
    return true;
}

bool splitEncodings(const QByteArray &enc, qsizetype *pos, QList<QByteArray> *out, int depth, bool untilBrace)
{
    while (*pos < enc.size()) {
        if (untilBrace && enc[*pos] == '}')
            return true;
        QByteArray one;
        if (!oneEncoding(enc, pos, &one, depth))
            return false;
        out->append(one);
    }
    return !untilBrace;
}

} // namespace

bool TypedStreamReader::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = message;
    return false;
}

bool TypedStreamReader::spend()
{
    if (--m_budget < 0)
        return fail(QStringLiteral("archive too complex"));
    return true;
}

bool TypedStreamReader::byte(qint8 *out)
{
    if (m_pos >= m_size)
        return fail(QStringLiteral("archive is truncated"));
    *out = qint8(m_data[m_pos++]);
    return true;
}

bool TypedStreamReader::rawBytes(qsizetype n, QByteArray *out)
{
    if (n < 0 || n > m_size - m_pos)
        return fail(QStringLiteral("archive is truncated"));
    *out = QByteArray(reinterpret_cast<const char *>(m_data + m_pos), n);
    m_pos += n;
    return true;
}

bool TypedStreamReader::integerWithHead(qint8 head, qint64 *out)
{
    if (!isTag(head)) {
        *out = head;
        return true;
    }
    if (head == kTagInteger2) {
        if (m_size - m_pos < 2)
            return fail(QStringLiteral("archive is truncated"));
        *out = qint16(quint16(m_data[m_pos] | (m_data[m_pos + 1] << 8)));
        m_pos += 2;
        return true;
    }
    if (head == kTagInteger4) {
        if (m_size - m_pos < 4)
            return fail(QStringLiteral("archive is truncated"));
        quint32 v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | m_data[m_pos + i];
        *out = qint32(v);
        m_pos += 4;
        return true;
    }
    return fail(QStringLiteral("unexpected tag %1 where a number belongs").arg(int(quint8(head)), 2, 16, QLatin1Char('0')));
}

bool TypedStreamReader::integer(qint64 *out)
{
    qint8 head;
    return byte(&head) && integerWithHead(head, out);
}

bool TypedStreamReader::sharedString(QByteArray *out, bool *isNil, qint8 head)
{
    *isNil = false;
    if (head == kTagNil) {
        *isNil = true;
        return true;
    }
    if (head == kTagNew) {
        qint8 h;
        qint64 length;
        if (!byte(&h))
            return false;
        if (h == kTagNil)
            return fail(QStringLiteral("damaged shared string"));
        if (!integerWithHead(h, &length) || length < 0 || !rawBytes(qsizetype(length), out))
            return fail(QStringLiteral("damaged shared string"));
        m_strings.append(*out);
        return true;
    }
    qint64 ref;
    if (!integerWithHead(head, &ref))
        return false;
    const qint64 index = ref - kFirstReference;
    if (index < 0 || index >= m_strings.size())
        return fail(QStringLiteral("shared string reference %1 out of range").arg(index));
    *out = m_strings[qsizetype(index)];
    return true;
}

bool TypedStreamReader::classValue(int *classIndex, qint8 head)
{
    QList<int> chain;
    while (head == kTagNew) {
        if (!spend())
            return false;
        QByteArray name;
        bool nil;
        qint8 h;
        qint64 version;
        if (!byte(&h) || !sharedString(&name, &nil, h))
            return false;
        if (nil)
            return fail(QStringLiteral("class without a name"));
        if (!integer(&version))
            return false;
        m_classes.push_back(Class{name, version, -1});
        const int index = int(m_classes.size() - 1);
        m_table.push_back({Slot::Class, index});
        chain.append(index);
        if (chain.size() > kMaxDepth)
            return fail(QStringLiteral("class chain too long"));
        if (!byte(&head))
            return false;
    }
    int last = -1;
    if (head != kTagNil) {
        qint64 ref;
        if (!integerWithHead(head, &ref))
            return false;
        const qint64 index = ref - kFirstReference;
        if (index < 0 || index >= qint64(m_table.size()) || m_table[size_t(index)].first != Slot::Class)
            return fail(QStringLiteral("class reference %1 out of range").arg(index));
        last = m_table[size_t(index)].second;
    }
    for (qsizetype i = chain.size() - 1; i >= 0; --i) {
        m_classes[size_t(chain[i])].superclass = last;
        last = chain[i];
    }
    *classIndex = last;
    return true;
}

bool TypedStreamReader::object(Value *out, int depth, qint8 head)
{
    if (head == kTagNil) {
        out->kind = Value::Kind::Nil;
        return true;
    }
    if (head != kTagNew) {
        qint64 ref;
        if (!integerWithHead(head, &ref))
            return false;
        const qint64 index = ref - kFirstReference;
        if (index < 0 || index >= qint64(m_table.size()) || m_table[size_t(index)].first != Slot::Object)
            return fail(QStringLiteral("object reference %1 out of range").arg(index));
        out->kind = Value::Kind::Object;
        out->index = m_table[size_t(index)].second;
        return true;
    }
    if (depth > kMaxDepth)
        return fail(QStringLiteral("objects nested too deeply"));
    // The object's number comes before its class.
    m_objects.push_back(Object());
    const int index = int(m_objects.size() - 1);
    m_table.push_back({Slot::Object, index});
    int classIndex = -1;
    qint8 h;
    if (!byte(&h) || !classValue(&classIndex, h))
        return false;
    if (classIndex < 0)
        return fail(QStringLiteral("object without a class"));
    m_objects[size_t(index)].classIndex = classIndex;
    for (;;) {
        if (!byte(&h))
            return false;
        if (h == kTagEndOfObject)
            break;
        Group g;
        if (!group(&g, h, depth + 1))
            return false;
        m_objects[size_t(index)].groups.append(g);
    }
    out->kind = Value::Kind::Object;
    out->index = index;
    return true;
}

bool TypedStreamReader::group(Group *out, qint8 head, int depth)
{
    if (depth > kMaxDepth)
        return fail(QStringLiteral("values nested too deeply"));
    QByteArray encoding;
    bool nil;
    if (!sharedString(&encoding, &nil, head))
        return false;
    qsizetype pos = 0;
    if (nil || encoding.isEmpty() || !splitEncodings(encoding, &pos, &out->encodings, 0, false))
        return fail(QStringLiteral("damaged type encoding"));
    for (const QByteArray &e : std::as_const(out->encodings)) {
        Value v;
        if (!value(e, &v, depth, 0, false))
            return false;
        out->values.append(v);
    }
    return true;
}

bool TypedStreamReader::value(const QByteArray &encoding, Value *out, int depth, qint8 head, bool haveHead)
{
    if (!spend())
        return false;
    if (depth > kMaxDepth)
        return fail(QStringLiteral("values nested too deeply"));
    const char c = encoding.at(0);
    // Chars and bools are single raw bytes; arrays of chars raw bytes.
    if (c == 'c' || c == 'C' || c == 'B') {
        qint8 b;
        if (!byte(&b))
            return false;
        out->kind = Value::Kind::Integer;
        out->integer = c == 'c' ? qint64(b) : qint64(quint8(b));
        return true;
    }
    if (c == '!') {
        out->kind = Value::Kind::Ignored;
        return true;
    }
    if (c == '[') {
        qsizetype pos = 1;
        qint64 count = 0;
        while (encoding[pos] >= '0' && encoding[pos] <= '9')
            count = count * 10 + (encoding[pos++] - '0');
        const QByteArray element = encoding.mid(pos, encoding.size() - pos - 1);
        if (element == "c" || element == "C") {
            out->kind = Value::Kind::Bytes;
            return rawBytes(qsizetype(count), &out->bytes);
        }
        if (element == "!" || count > m_size - m_pos + 1)
            return fail(QStringLiteral("damaged array"));
        out->kind = Value::Kind::Array;
        for (qint64 i = 0; i < count; ++i) {
            Value v;
            if (!value(element, &v, depth + 1, 0, false))
                return false;
            out->elements.append(v);
        }
        return true;
    }
    if (c == '{') {
        const qsizetype eq = encoding.indexOf('=');
        QList<QByteArray> fields;
        qsizetype pos = eq + 1;
        if (eq > 0 && !splitEncodings(encoding.left(encoding.size() - 1), &pos, &fields, 0, false))
            return fail(QStringLiteral("damaged type encoding"));
        out->kind = Value::Kind::Struct;
        for (const QByteArray &f : std::as_const(fields)) {
            Value v;
            if (!value(f, &v, depth + 1, 0, false))
                return false;
            out->elements.append(v);
        }
        return true;
    }
    if (!haveHead && !byte(&head))
        return false;
    switch (c) {
    case 's': case 'S': case 'i': case 'I': case 'l': case 'L': case 'q': case 'Q':
        out->kind = Value::Kind::Integer;
        if (!integerWithHead(head, &out->integer))
            return false;
        if (c != 'q' && c != 'Q' && c != 's' && c != 'i' && c != 'l' && out->integer < 0)
            out->integer &= (c == 'S') ? 0xFFFF : 0xFFFFFFFF;
        return true;
    case 'f':
    case 'd':
        out->kind = Value::Kind::Real;
        if (head == kTagFloat) {
            if (c == 'f') {
                QByteArray b;
                if (!rawBytes(4, &b))
                    return false;
                quint32 bits = 0;
                for (int i = 3; i >= 0; --i)
                    bits = (bits << 8) | quint8(b[i]);
                float f;
                std::memcpy(&f, &bits, 4);
                out->real = f;
            } else {
                QByteArray b;
                if (!rawBytes(8, &b))
                    return false;
                quint64 bits = 0;
                for (int i = 7; i >= 0; --i)
                    bits = (bits << 8) | quint8(b[i]);
                std::memcpy(&out->real, &bits, 8);
            }
            return true;
        } else {
            qint64 n;
            if (!integerWithHead(head, &n))
                return false;
            out->real = double(n);
            return true;
        }
    case '+':
        if (head == kTagNil) {
            out->kind = Value::Kind::Nil;
            return true;
        } else {
            qint64 length;
            if (!integerWithHead(head, &length))
                return false;
            if (length < 0)
                length &= 0xFFFFFFFF;
            out->kind = Value::Kind::Bytes;
            return rawBytes(qsizetype(length), &out->bytes);
        }
    case '%':
    case ':': {
        bool nil;
        if (!sharedString(&out->bytes, &nil, head))
            return false;
        out->kind = nil ? Value::Kind::Nil : Value::Kind::Bytes;
        return true;
    }
    case '*': {
        if (head == kTagNil) {
            out->kind = Value::Kind::Nil;
            return true;
        }
        if (head == kTagNew) {
            bool nil;
            qint8 h;
            if (!byte(&h) || !sharedString(&out->bytes, &nil, h))
                return false;
            if (nil)
                return fail(QStringLiteral("damaged C string"));
            m_cstrings.append(out->bytes);
            m_table.push_back({Slot::CString, int(m_cstrings.size() - 1)});
            out->kind = Value::Kind::CString;
            return true;
        }
        qint64 ref;
        if (!integerWithHead(head, &ref))
            return false;
        const qint64 index = ref - kFirstReference;
        if (index < 0 || index >= qint64(m_table.size()) || m_table[size_t(index)].first != Slot::CString)
            return fail(QStringLiteral("C string reference out of range"));
        out->kind = Value::Kind::CString;
        out->bytes = m_cstrings[m_table[size_t(index)].second];
        return true;
    }
    case '#':
        out->kind = Value::Kind::Class;
        return classValue(&out->index, head);
    case '@':
        return object(out, depth + 1, head);
    default:
        return fail(QStringLiteral("unknown type encoding"));
    }
}

bool TypedStreamReader::read(const QByteArray &data, Error *error)
{
    m_data = reinterpret_cast<const uchar *>(data.constData());
    m_size = data.size();
    m_pos = 0;
    m_budget = qint64(m_size) * 4 + 1024;
    m_error.clear();
    m_strings.clear();
    m_table.clear();
    m_objects.clear();
    m_classes.clear();
    m_cstrings.clear();
    m_roots.clear();
    auto done = [&](bool ok) {
        if (!ok)
            setError(error, m_error.isEmpty() ? QStringLiteral("damaged archive") : m_error);
        return ok;
    };
    if (m_size > kMaxInputSize)
        return done(fail(QStringLiteral("archive too large")));
    if (m_size < 16 || m_data[0] != 4 || m_data[1] != 11 || std::memcmp(m_data + 2, "streamtyped", 11) != 0)
        return done(fail(QStringLiteral("not an old-style archive")));
    m_pos = 13;
    qint64 systemVersion;
    if (!integer(&systemVersion))
        return done(false);
    while (m_pos < m_size) {
        qint8 head;
        if (!byte(&head))
            return done(false);
        Group g;
        if (!group(&g, head, 0))
            return done(false);
        m_roots.append(g);
    }
    if (m_roots.isEmpty())
        return done(fail(QStringLiteral("archive holds no value")));
    return done(true);
}

QList<const TypedStreamReader::Class *> TypedStreamReader::classChain(int classIndex) const
{
    QList<const Class *> chain;
    for (int i = classIndex; i >= 0 && i < int(m_classes.size()) && chain.size() <= kMaxDepth; i = m_classes[size_t(i)].superclass)
        chain.append(&m_classes[size_t(i)]);
    return chain;
}

} // namespace platform
