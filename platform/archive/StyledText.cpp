#include "platform/archive/StyledText.h"

#include "platform/archive/FontNames.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

#include <QHash>
#include <QPair>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <QVariantMap>

namespace platform {

namespace {

const QString kFontKey = QStringLiteral("NSFont");
const QString kColorKey = QStringLiteral("NSColor");
const QString kParagraphKey = QStringLiteral("NSParagraphStyle");
const QString kUnderlineKey = QStringLiteral("NSUnderline");
const QString kStrikethroughKey = QStringLiteral("NSStrikethrough");
const QString kShadowKey = QStringLiteral("NSShadow");
const QString kKernKey = QStringLiteral("NSKern");

// Format properties that carry the archived details through a QTextDocument.
enum : int {
    kFontNameProperty = QTextFormat::UserProperty + 1,
    kFontFlagsProperty,
    kShadowProperty,
    kUnderlineProperty,
    kStrikethroughProperty,
    kColorProperty,
    kKernProperty,
    kFontSizeProperty,
    kAlignmentProperty = QTextFormat::UserProperty + 20,
};

QVariantMap toMap(const StyledText::Attributes &a)
{
    QVariantMap map;
    if (a.font)
        map.insert(kFontKey, QVariant::fromValue(*a.font));
    if (a.color)
        map.insert(kColorKey, QVariant::fromValue(*a.color));
    if (a.paragraphStyle)
        map.insert(kParagraphKey, QVariant::fromValue(*a.paragraphStyle));
    if (a.underline)
        map.insert(kUnderlineKey, QVariant(*a.underline));
    if (a.strikethrough)
        map.insert(kStrikethroughKey, QVariant(*a.strikethrough));
    if (a.shadow)
        map.insert(kShadowKey, QVariant::fromValue(*a.shadow));
    if (a.kern)
        map.insert(kKernKey, QVariant(*a.kern));
    return map;
}

bool isNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

StyledText::Attributes fromMap(const QVariantMap &map)
{
    StyledText::Attributes a;
    const QVariant font = map.value(kFontKey);
    if (font.canConvert<StyledText::Font>() && font.typeId() == qMetaTypeId<StyledText::Font>())
        a.font = font.value<StyledText::Font>();
    const QVariant color = map.value(kColorKey);
    if (color.typeId() == qMetaTypeId<Color>())
        a.color = color.value<Color>();
    const QVariant paragraph = map.value(kParagraphKey);
    if (paragraph.typeId() == qMetaTypeId<StyledText::ParagraphStyle>())
        a.paragraphStyle = paragraph.value<StyledText::ParagraphStyle>();
    if (isNumber(map.value(kUnderlineKey)))
        a.underline = map.value(kUnderlineKey).toLongLong();
    if (isNumber(map.value(kStrikethroughKey)))
        a.strikethrough = map.value(kStrikethroughKey).toLongLong();
    const QVariant shadow = map.value(kShadowKey);
    if (shadow.typeId() == qMetaTypeId<StyledText::Shadow>())
        a.shadow = shadow.value<StyledText::Shadow>();
    if (isNumber(map.value(kKernKey)))
        a.kern = map.value(kKernKey).toDouble();
    return a;
}

void appendVarint(QByteArray *data, quint64 value)
{
    while (value > 127) {
        data->append(char(128 + value % 128));
        value /= 128;
    }
    data->append(char(value));
}

bool readVarint(const QByteArray &data, qsizetype *pos, quint64 *value)
{
    quint64 v = 0;
    int shift = 0;
    while (*pos < data.size()) {
        const uchar b = uchar(data[*pos]);
        ++*pos;
        if (shift > 56)
            return false;
        v |= quint64(b & 0x7F) << shift;
        if (b < 128) {
            *value = v;
            return true;
        }
        shift += 7;
    }
    return false;
}

Qt::Alignment qtAlignment(int code)
{
    switch (code) {
    case StyledText::Right: return Qt::AlignRight;
    case StyledText::Center: return Qt::AlignHCenter;
    case StyledText::Justified: return Qt::AlignJustify;
    default: return Qt::AlignLeft;
    }
}

int alignmentCode(Qt::Alignment alignment)
{
    if (alignment & Qt::AlignRight)
        return StyledText::Right;
    if (alignment & Qt::AlignHCenter)
        return StyledText::Center;
    if (alignment & Qt::AlignJustify)
        return StyledText::Justified;
    return StyledText::Left;
}

QTextCharFormat charFormat(const StyledText::Attributes &a)
{
    QTextCharFormat f;
    if (a.font) {
        const QFont font = FontNames::fontForName(a.font->name, a.font->size);
        f.setFontFamilies({font.family()});
        f.setFontWeight(font.weight());
        f.setFontItalic(font.italic());
        if (a.font->size > 0)
            f.setFontPointSize(a.font->size);
        f.setProperty(kFontNameProperty, a.font->name);
        f.setProperty(kFontSizeProperty, a.font->size);
        if (a.font->flags)
            f.setProperty(kFontFlagsProperty, *a.font->flags);
    }
    if (a.color) {
        f.setForeground(a.color->toQColor());
        f.setProperty(kColorProperty, QVariant::fromValue(*a.color));
    }
    if (a.underline) {
        f.setFontUnderline(*a.underline != 0);
        f.setProperty(kUnderlineProperty, *a.underline);
    }
    if (a.strikethrough) {
        f.setFontStrikeOut(*a.strikethrough != 0);
        f.setProperty(kStrikethroughProperty, *a.strikethrough);
    }
    if (a.kern) {
        f.setFontLetterSpacingType(QFont::AbsoluteSpacing);
        f.setFontLetterSpacing(*a.kern);
        f.setProperty(kKernProperty, *a.kern);
    }
    if (a.shadow)
        f.setProperty(kShadowProperty, QVariant::fromValue(*a.shadow));
    return f;
}

StyledText::Attributes attributesFromFormat(const QTextCharFormat &f, const QTextBlockFormat &block)
{
    StyledText::Attributes a;
    if (f.hasProperty(QTextFormat::FontFamilies) || f.hasProperty(QTextFormat::FontPointSize)
        || f.hasProperty(kFontNameProperty)) {
        StyledText::Font font;
        const QFont qfont = f.font();
        const QString stored = f.stringProperty(kFontNameProperty);
        const QFont storedFont = FontNames::fontForName(stored, qfont.pointSizeF());
        const bool unchanged = !stored.isEmpty() && storedFont.family() == qfont.family()
                               && (storedFont.weight() >= QFont::DemiBold) == (qfont.weight() >= QFont::DemiBold)
                               && storedFont.italic() == qfont.italic();
        font.name = unchanged ? stored : FontNames::nameForFont(qfont);
        const double storedSize = f.doubleProperty(kFontSizeProperty);
        font.size = f.fontPointSize() > 0 ? f.fontPointSize() : (storedSize > 0 ? storedSize : 12.0);
        if (unchanged && f.hasProperty(kFontFlagsProperty))
            font.flags = f.property(kFontFlagsProperty).toLongLong();
        a.font = font;
    }
    if (f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().style() != Qt::NoBrush) {
        const QColor shown = f.foreground().color();
        const Color stored = f.property(kColorProperty).value<Color>();
        a.color = f.hasProperty(kColorProperty) && stored.toQColor() == shown ? stored : Color::fromQColor(shown);
    }
    if (f.fontUnderline())
        a.underline = f.hasProperty(kUnderlineProperty) && f.intProperty(kUnderlineProperty) != 0
                          ? f.property(kUnderlineProperty).toLongLong() : 1;
    else if (f.hasProperty(kUnderlineProperty) && f.property(kUnderlineProperty).toLongLong() == 0)
        a.underline = 0;
    if (f.fontStrikeOut())
        a.strikethrough = f.hasProperty(kStrikethroughProperty) && f.intProperty(kStrikethroughProperty) != 0
                              ? f.property(kStrikethroughProperty).toLongLong() : 1;
    else if (f.hasProperty(kStrikethroughProperty) && f.property(kStrikethroughProperty).toLongLong() == 0)
        a.strikethrough = 0;
    if (f.fontLetterSpacingType() == QFont::AbsoluteSpacing && f.hasProperty(QTextFormat::FontLetterSpacing))
        a.kern = f.fontLetterSpacing();
    if (f.hasProperty(kShadowProperty))
        a.shadow = f.property(kShadowProperty).value<StyledText::Shadow>();
    if (block.hasProperty(kAlignmentProperty) || block.hasProperty(QTextFormat::BlockAlignment)) {
        StyledText::ParagraphStyle style;
        const int stored = block.intProperty(kAlignmentProperty);
        style.alignment = block.hasProperty(kAlignmentProperty) && qtAlignment(stored) == (block.alignment() & Qt::AlignHorizontal_Mask)
                              ? stored : alignmentCode(block.alignment());
        a.paragraphStyle = style;
    }
    return a;
}

} // namespace

StyledText::StyledText(const QString &text, const Attributes &attributes)
{
    append(text, attributes);
}

void StyledText::append(const QString &text, const Attributes &attributes)
{
    if (text.isEmpty())
        return;
    m_text += text;
    if (!m_runs.isEmpty() && m_runs.last().attributes == attributes)
        m_runs.last().length += int(text.size());
    else
        m_runs.append(Run{int(text.size()), attributes});
}

StyledText::Attributes StyledText::attributesAt(int position) const
{
    int start = 0;
    for (const Run &r : m_runs) {
        if (position < start + r.length)
            return r.attributes;
        start += r.length;
    }
    return m_runs.isEmpty() ? Attributes() : m_runs.last().attributes;
}

void StyledText::setParagraphStyle(const ParagraphStyle &style)
{
    for (Run &r : m_runs)
        r.attributes.paragraphStyle = style;
    normalize();
}

StyledText StyledText::scaledFonts(double factor) const
{
    StyledText copy = *this;
    for (Run &r : copy.m_runs) {
        if (r.attributes.font)
            r.attributes.font->size *= factor;
    }
    return copy;
}

void StyledText::normalize()
{
    QList<Run> merged;
    for (const Run &r : std::as_const(m_runs)) {
        if (r.length <= 0)
            continue;
        if (!merged.isEmpty() && merged.last().attributes == r.attributes)
            merged.last().length += r.length;
        else
            merged.append(r);
    }
    m_runs = merged;
}

QStringList StyledText::archiveClassNames()
{
    return {QStringLiteral("NSAttributedString"), QStringLiteral("NSObject")};
}

void StyledText::encode(KeyedArchiver &coder) const
{
    coder.encodeString(m_text.isNull() ? QStringLiteral("") : m_text, QStringLiteral("NSString"));
    if (m_text.isEmpty() || m_runs.isEmpty())
        return;
    if (m_runs.size() == 1) {
        coder.encodeObject(toMap(m_runs.first().attributes), QStringLiteral("NSAttributes"));
        return;
    }
    // Several runs: each distinct attribute dictionary once, and a table of
    // (length, index) pairs.
    QList<Attributes> table;
    QVariantList dictionaries;
    QByteArray info;
    for (const Run &r : m_runs) {
        qsizetype index = table.indexOf(r.attributes);
        if (index < 0) {
            index = table.size();
            table.append(r.attributes);
            dictionaries.append(toMap(r.attributes));
        }
        appendVarint(&info, quint64(r.length));
        appendVarint(&info, quint64(index));
    }
    coder.encodeArray(dictionaries, QStringLiteral("NSAttributes"));
    coder.encodeData(info, QStringLiteral("NSAttributeInfo"));
}

StyledText StyledText::decode(KeyedUnarchiver &coder)
{
    StyledText result;
    const QString text = coder.decodeStringForKey(QStringLiteral("NSString"));
    const QVariant attributes = coder.decodeObjectForKey(QStringLiteral("NSAttributes"));
    if (coder.hasError())
        return {};
    result.m_text = text;
    if (text.isEmpty())
        return result;
    if (!coder.containsValueForKey(QStringLiteral("NSAttributeInfo"))) {
        Attributes a;
        if (attributes.typeId() == QMetaType::QVariantMap)
            a = fromMap(attributes.toMap());
        else if (attributes.isValid()) {
            coder.failWithError(QStringLiteral("damaged text attributes"));
            return {};
        }
        result.m_runs.append(Run{int(text.size()), a});
        return result;
    }
    const QByteArray info = coder.decodeDataForKey(QStringLiteral("NSAttributeInfo"));
    if (coder.hasError() || attributes.typeId() != QMetaType::QVariantList) {
        coder.failWithError(QStringLiteral("damaged text attributes"));
        return {};
    }
    QList<Attributes> table;
    for (const QVariant &dictionary : attributes.toList()) {
        if (dictionary.typeId() != QMetaType::QVariantMap) {
            coder.failWithError(QStringLiteral("damaged text attributes"));
            return {};
        }
        table.append(fromMap(dictionary.toMap()));
    }
    qsizetype pos = 0;
    qint64 covered = 0;
    while (pos < info.size()) {
        quint64 length = 0, index = 0;
        if (!readVarint(info, &pos, &length) || !readVarint(info, &pos, &index) || index >= quint64(table.size())
            || length > quint64(text.size()) - quint64(covered)) {
            coder.failWithError(QStringLiteral("damaged text run table"));
            return {};
        }
        covered += qint64(length);
        result.m_runs.append(Run{int(length), table[qsizetype(index)]});
    }
    if (covered != text.size()) {
        coder.failWithError(QStringLiteral("text run table does not cover the text"));
        return {};
    }
    result.normalize();
    return result;
}

void StyledText::Font::encode(KeyedArchiver &coder) const
{
    coder.encodeString(name, QStringLiteral("NSName"));
    coder.encodeDouble(size, QStringLiteral("NSSize"));
    if (flags)
        coder.encodeInt64(*flags, QStringLiteral("NSfFlags"));
}

StyledText::Font StyledText::Font::decode(KeyedUnarchiver &coder)
{
    Font f;
    f.name = coder.decodeStringForKey(QStringLiteral("NSName"));
    f.size = coder.decodeDoubleForKey(QStringLiteral("NSSize"));
    if (coder.containsValueForKey(QStringLiteral("NSfFlags")))
        f.flags = coder.decodeInt64ForKey(QStringLiteral("NSfFlags"));
    return f;
}

void StyledText::ParagraphStyle::encode(KeyedArchiver &coder) const
{
    if (alignment != Natural)
        coder.encodeInt(alignment, QStringLiteral("NSAlignment"));
}

StyledText::ParagraphStyle StyledText::ParagraphStyle::decode(KeyedUnarchiver &coder)
{
    ParagraphStyle p;
    if (coder.containsValueForKey(QStringLiteral("NSAlignment"))) {
        const int a = coder.decodeIntForKey(QStringLiteral("NSAlignment"));
        p.alignment = a >= Left && a <= Natural ? a : Natural;
    }
    return p;
}

void StyledText::Shadow::encode(KeyedArchiver &coder) const
{
    coder.encodeDouble(offset.x(), QStringLiteral("NSShadowHoriz"));
    coder.encodeDouble(offset.y(), QStringLiteral("NSShadowVert"));
    coder.encodeDouble(blurRadius, QStringLiteral("NSShadowBlurRadius"));
    if (color)
        coder.encodeObject(QVariant::fromValue(*color), QStringLiteral("NSShadowColor"));
}

StyledText::Shadow StyledText::Shadow::decode(KeyedUnarchiver &coder)
{
    Shadow s;
    s.offset = QPointF(coder.decodeDoubleForKey(QStringLiteral("NSShadowHoriz")),
                       coder.decodeDoubleForKey(QStringLiteral("NSShadowVert")));
    s.blurRadius = coder.decodeDoubleForKey(QStringLiteral("NSShadowBlurRadius"));
    const QVariant color = coder.decodeObjectForKey(QStringLiteral("NSShadowColor"));
    if (color.typeId() == qMetaTypeId<Color>())
        s.color = color.value<Color>();
    return s;
}

void StyledText::toTextDocument(QTextDocument *document) const
{
    document->clear();
    QTextCursor cursor(document);
    // One edit: a document that is laid out as it changes would lay out
    // every paragraph again for each one added.
    cursor.beginEditBlock();
    bool paragraphStart = true;
    int position = 0;
    auto applyBlock = [&](const Attributes &a) {
        QTextBlockFormat block;
        if (a.paragraphStyle) {
            block.setAlignment(qtAlignment(a.paragraphStyle->alignment));
            block.setProperty(kAlignmentProperty, a.paragraphStyle->alignment);
        }
        cursor.setBlockFormat(block);
    };
    for (const Run &run : m_runs) {
        const QTextCharFormat format = charFormat(run.attributes);
        const QString chunk = m_text.mid(position, run.length);
        position += run.length;
        qsizetype start = 0;
        while (start <= chunk.size()) {
            qsizetype end = start;
            while (end < chunk.size() && chunk[end] != QLatin1Char('\n') && chunk[end] != QChar::ParagraphSeparator)
                ++end;
            if (paragraphStart && (end > start || end < chunk.size())) {
                applyBlock(run.attributes);
                paragraphStart = false;
            }
            if (end > start)
                cursor.insertText(chunk.mid(start, end - start), format);
            if (end >= chunk.size())
                break;
            cursor.insertBlock(QTextBlockFormat(), format);
            paragraphStart = true;
            start = end + 1;
        }
    }
    if (paragraphStart && !m_runs.isEmpty())
        applyBlock(m_runs.last().attributes);
    else if (m_runs.isEmpty())
        cursor.setBlockFormat(QTextBlockFormat());
    cursor.endEditBlock();
}

StyledText StyledText::fromTextDocument(const QTextDocument &document)
{
    StyledText result;
    // A document keeps each format once: its attributes (finding a font's
    // family asks the font database) are worked out once per pair in use.
    QHash<QPair<int, int>, Attributes> known;
    const auto attributes = [&](int charIndex, const QTextBlock &block) -> const Attributes & {
        const QPair<int, int> key(charIndex, block.blockFormatIndex());
        auto it = known.find(key);
        if (it == known.end())
            it = known.insert(
                key, attributesFromFormat(document.allFormats().value(charIndex).toCharFormat(), block.blockFormat()));
        return *it;
    };
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid())
                result.append(fragment.text(), attributes(fragment.charFormatIndex(), block));
        }
        if (block.next().isValid()) {
            // The paragraph break carries the format it was typed with.
            result.append(QStringLiteral("\n"), attributes(block.next().charFormatIndex(), block));
        }
    }
    result.normalize();
    return result;
}

} // namespace platform
