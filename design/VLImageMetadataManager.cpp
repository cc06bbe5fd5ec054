#include "design/VLImageMetadataManager.h"

#include "platform/imaging/ImageProperties.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <vector>

namespace {

struct TagEntry {
    long tag;
    const char *displayName;
};

const TagEntry kTags[] = {
    {0, "File name"},       {1, "File short date"}, {2, "File long date"},
    {3, "File size"},       {100, "EXIF short date"}, {101, "EXIF long date"},
    {200, "IPTC headline"}, {201, "IPTC caption"},  {202, "IPTC location"},
};

const char *kPlaceholderFormat = "{{%1}}";
const char *kExifDateFormat = "yyyy:MM:dd HH:mm:ss";

QString formatDate(const QDateTime &date, QLocale::FormatType style)
{
    if (!date.isValid())
        return {};
    return QLocale().toString(date.toLocalTime().date(), style);
}

using Values = QMap<QString, QString>;

// The leftmost placeholder at or after `from`, the first in key order where
// two begin at one place; -1 when there is none. Every placeholder begins
// with "{{", so the text is scanned once for those, each tried against the
// few placeholders: a whole text costs one pass, however many it holds.
qsizetype nextPlaceholder(QStringView text, qsizetype from, const Values &values, Values::const_iterator *found)
{
    for (qsizetype at = text.indexOf(u"{{", from); at >= 0; at = text.indexOf(u"{{", at + 1)) {
        const QStringView rest = text.mid(at);
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            if (rest.startsWith(it.key())) {
                *found = it;
                return at;
            }
        }
    }
    return -1;
}

} // namespace

VLImageMetadataManager::VLImageMetadataManager()
{
    for (const TagEntry &t : kTags)
        m_templateTextForTags.insert(keyForTag(t.tag), QString::fromLatin1(t.displayName));
}

QString VLImageMetadataManager::keyForTag(long tag)
{
    return QString::asprintf("%04ld", tag);
}

QString VLImageMetadataManager::templateStringForTag(long tag) const
{
    const QString name = m_templateTextForTags.value(keyForTag(tag));
    if (name.isEmpty())
        return {};
    return QString::fromLatin1(kPlaceholderFormat).arg(name);
}

QString VLImageMetadataManager::metadataValueForTag(long tag) const
{
    namespace P = platform::ImageProperty;
    const platform::ImageMetadata &m = m_metadata;
    switch (tag) {
    case 0: {
        const QVariant name = m.value(QLatin1String(P::kFileName));
        return name.isValid() ? QFileInfo(name.toString()).fileName() : QString();
    }
    case 1:
    case 2:
        return formatDate(m.value(QLatin1String(P::kFileDate)).toDateTime(),
                          tag == 1 ? QLocale::ShortFormat : QLocale::LongFormat);
    case 3:
        return m.value(QLatin1String(P::kFileSize)).toString();
    default:
        break;
    }
    if (tag >= 100 && tag <= 199) {
        if (!m.value(QLatin1String(P::kExifDictionary)).isValid())
            return {};
        const QString text = m.value(QLatin1String(P::kExifDateTimeOriginal)).toString();
        if (text.isEmpty())
            return {};
        const QDateTime date = QDateTime::fromString(text, QLatin1String(kExifDateFormat));
        if (!date.isValid())
            return {};
        if (tag == 100)
            return formatDate(date, QLocale::ShortFormat);
        if (tag == 101)
            return formatDate(date, QLocale::LongFormat);
        return {};
    }
    if (tag >= 200 && tag <= 299) {
        if (!m.value(QLatin1String(P::kIPTCDictionary)).isValid())
            return {};
        const char *key = tag == 200 ? P::kIPTCHeadline
                          : tag == 201 ? P::kIPTCCaptionAbstract
                          : tag == 202 ? P::kIPTCSubLocation
                                       : nullptr;
        if (!key)
            return {};
        const QVariant v = m.value(QLatin1String(key));
        return v.isValid() ? v.toString() : QString();
    }
    return {};
}

void VLImageMetadataManager::setMetadata(const platform::ImageMetadata &metadata)
{
    if (metadata.isSameObject(m_metadata))
        return;
    m_metadata = metadata;
    m_valueForTemplate.clear();
    for (auto it = m_templateTextForTags.cbegin(); it != m_templateTextForTags.cend(); ++it) {
        const long tag = it.key().toLong();
        QString value = metadataValueForTag(tag);
        if (value.isNull())
            value = QLatin1String("");
        m_valueForTemplate.insert(QString::fromLatin1(kPlaceholderFormat).arg(it.value()), value);
    }
}

QString VLImageMetadataManager::processTemplateString(const QString &text) const
{
    // One pass from left to right: an inserted value is never searched
    // again, so a value holding a placeholder (its own or another's) stays
    // literal.
    QString out;
    qsizetype from = 0;
    Values::const_iterator found;
    for (qsizetype at; (at = nextPlaceholder(text, from, m_valueForTemplate, &found)) >= 0;) {
        out += QStringView(text).mid(from, at - from);
        out += found.value();
        from = at + found.key().size();
    }
    out += QStringView(text).mid(from);
    return out;
}

std::unique_ptr<QTextDocument> VLImageMetadataManager::processTemplateString(const QTextDocument *text) const
{
    if (!text)
        return nullptr;
    std::unique_ptr<QTextDocument> out(text->clone());
    out->setUndoRedoEnabled(false);
    fillTemplateDocument(*out);
    return out;
}

bool VLImageMetadataManager::isLineBreak(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator
           || c == QChar::ParagraphSeparator;
}

qsizetype VLImageMetadataManager::filledLength(const QString &text, qsizetype limit, qsizetype *lineBreaks) const
{
    const auto breaksIn = [](QStringView chars) {
        return qsizetype(std::count_if(chars.begin(), chars.end(), &VLImageMetadataManager::isLineBreak));
    };
    QHash<QString, qsizetype> valueBreaks;
    qsizetype length = 0;
    qsizetype breaks = 0;
    qsizetype from = 0;
    Values::const_iterator found;
    for (qsizetype at; length <= limit && (at = nextPlaceholder(text, from, m_valueForTemplate, &found)) >= 0;) {
        length += at - from + found.value().size();
        breaks += breaksIn(QStringView(text).mid(from, at - from));
        auto known = valueBreaks.find(found.key());
        if (known == valueBreaks.end())
            known = valueBreaks.insert(found.key(), breaksIn(found.value()));
        breaks += *known;
        from = at + found.key().size();
    }
    if (length <= limit) {
        length += text.size() - from;
        breaks += breaksIn(QStringView(text).mid(from));
    }
    if (lineBreaks)
        *lineBreaks = breaks;
    return length;
}

void VLImageMetadataManager::fillTemplateDocument(QTextDocument &document) const
{
    QTextDocument *out = &document;
    // Found first, block by block (a placeholder never spans two), then
    // replaced from the last back, so the places found stay true.
    struct Match {
        int position;
        Values::const_iterator placeholder;
    };
    std::vector<Match> matches;
    for (QTextBlock block = out->begin(); block.isValid(); block = block.next()) {
        const QString chars = block.text();
        Values::const_iterator found;
        for (qsizetype at = 0; (at = nextPlaceholder(chars, at, m_valueForTemplate, &found)) >= 0;
             at += found.key().size())
            matches.push_back({block.position() + int(at), found});
    }
    QTextCursor cursor(out);
    cursor.beginEditBlock();
    for (auto match = matches.crbegin(); match != matches.crend(); ++match) {
        // The inserted characters take the format of the placeholder's first character.
        cursor.setPosition(match->position + 1);
        const QTextCharFormat format = cursor.charFormat();
        cursor.setPosition(match->position);
        cursor.setPosition(match->position + int(match->placeholder.key().size()), QTextCursor::KeepAnchor);
        cursor.insertText(match->placeholder.value(), format);
    }
    cursor.endEditBlock();
}

qsizetype VLImageMetadataManager::countOfPlaceholders(const QString &text)
{
    static const Values placeholders = [] {
        Values all;
        for (const TagEntry &t : kTags)
            all.insert(QString::fromLatin1(kPlaceholderFormat).arg(QLatin1String(t.displayName)), QString());
        return all;
    }();
    qsizetype count = 0;
    Values::const_iterator found;
    for (qsizetype at = 0; (at = nextPlaceholder(text, at, placeholders, &found)) >= 0; at += found.key().size())
        ++count;
    return count;
}

QList<VLImageMetadataManager::MenuItem> VLImageMetadataManager::menuItemsForMetadataSelection() const
{
    QList<MenuItem> items;
    items.append({QCoreApplication::translate("VLImageMetadataManager", "Select"), -1});
    QStringList keys = m_templateTextForTags.keys();
    std::sort(keys.begin(), keys.end(),
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString &key : keys)
        items.append({m_templateTextForTags.value(key), key.toLong()});
    return items;
}
